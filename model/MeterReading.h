// One good parameter read as numbers and codes, before anything is formatted:
// what the window's device page, the tool's tables and documents and the
// published readings are all made from.
#pragma once

#include "model/ParameterBlock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

struct MeterReading {
    uint8_t DnIndex = 0;
    std::optional<int> Diameter; // DN in mm; none for an index past the table
    int32_t RangeLitresPerHour = 0;
    float FlowCubicMetresPerHour = 0;
    int32_t ForwardTenths = 0; // of the totaliser unit
    int32_t ReverseTenths = 0;
    uint8_t FlowUnitCode = 0; // 3: none
    uint8_t TotaliserUnitCode = 0;
    uint8_t PulseWeightCode = 0;
    uint8_t AlarmBits = 0;
    int32_t Alarm1LitresPerHour = 0;
    int32_t Alarm2LitresPerHour = 0;
    uint8_t CutoffTenthsOfPercent = 0;
    uint8_t TimeConstantCode = 0;
    float KorK = 0;
    float KorC = 0;
    uint8_t ArchivePeriodCode = 0;
    std::string Version; // UTF-8
};

MeterReading ReadMeter(const ParameterBlock& block);

// The reading in the units the meter shows, for a program that wants numbers:
// the flow and the thresholds in the flow unit (the last known one when the
// meter reports none), the totalisers in theirs.
struct ReadingInUnits {
    double Flow = 0;
    uint8_t FlowUnitCode = 1;
    std::string FlowUnit; // "l/h", "m3/h" or "l/min"
    double Forward = 0;
    double Reverse = 0;
    std::string TotaliserUnit; // "m3" or "l"
    // The same numbers as decimal texts with the meter's resolution, as a
    // table or a document shows them: flow and thresholds with the decimals
    // of the flow unit, totalisers in tenths.
    std::string FlowText(std::string_view sep) const;
    std::string ForwardText(std::string_view sep) const;
    std::string ReverseText(std::string_view sep) const;
    double RangeCubicMetresPerHour = 0;
    double Alarm1 = 0; // in FlowUnit
    double Alarm2 = 0;
    double CutoffPercent = 0;
    std::vector<std::string> Alarms; // the active alarms' names
};

// flowUnitCode: the flow unit to use, as the decode keeps it (the reading's
// own, or the last known one for the code without a unit).
ReadingInUnits InUnits(const MeterReading& reading, uint8_t flowUnitCode);

} // namespace model
