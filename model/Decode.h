// The decode of a good parameter read into the texts of the device page.
// The window applies the result field by field, in the order declared, and
// leaves a value alone where a field is empty (std::nullopt). Setting a
// value from here is never a user change: it must not queue a write.
#pragma once

#include "model/MeterReading.h"
#include "model/ParameterBlock.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

// The user has the focus in one of the editable fields; the decode keeps off it.
struct EditingFlags {
    bool CutoffEditing = false;
    bool Alarm1Editing = false;
    bool Alarm2Editing = false;
};

struct DeviceView {
    // Set together, only when the meter reports another DN than the page
    // shows: the new diameter text and the new list of measuring ranges (14
    // items, or none for an unknown DN); no range is selected by it.
    std::optional<std::string> Diameter;
    std::optional<std::vector<std::string>> RangeItems;

    std::string PulseWeight;
    std::string ForwardTotaliserUnit;
    std::string ReverseTotaliserUnit;
    int PulseWeightUnitIndex = 0; // the totaliser unit beside the pulse weight
    std::string FlowUnit;         // empty for the undefined code 3
    int Alarm1UnitIndex = 0;      // the flow unit of each alarm threshold
    int Alarm2UnitIndex = 0;

    std::vector<std::string> Alarms; // replaces every line

    std::optional<std::string> Cutoff; // nullopt while CutoffEditing
    std::string TimeConstant;          // empty past the table
    std::string Range;                 // measuring range, every read

    std::optional<std::string> Alarm1; // threshold; nullopt while Alarm1Editing
    std::optional<std::string> Alarm2; // threshold; nullopt while Alarm2Editing
    std::string Flow;                  // instantaneous flow

    std::string KorK;
    std::string KorC;
    std::string ForwardTotaliser; // L+
    std::string ReverseTotaliser; // L-
    std::string ArchivePeriod;    // empty past the table
    std::string Version;          // UTF-8

    CachedIndexes Indexes; // the cached indexes after this read
};

// The reading in the device page's texts. shownDiameter: the diameter text the
// page shows now; cached: the indexes of the previous read; decimalSeparator:
// the locale's.
DeviceView DevicePageTexts(const MeterReading& reading, std::string_view shownDiameter,
                           const EditingFlags& editing, const CachedIndexes& cached,
                           std::string_view decimalSeparator);

// ReadMeter, then DevicePageTexts.
DeviceView DecodeParameterBlock(const ParameterBlock& block, std::string_view shownDiameter,
                                const EditingFlags& editing, const CachedIndexes& cached,
                                std::string_view decimalSeparator);

} // namespace model
