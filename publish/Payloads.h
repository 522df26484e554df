// What goes onto the broker and into InfluxDB: the topics of a meter and the
// texts of its readings, archive records and Home Assistant discovery. Pure
// functions of their arguments.
#pragma once

#include "model/MeterReading.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace publish {

// A meter as the tool reaches it: the port as given and the slave address.
struct MeterId {
    std::string Port; // "/dev/ttyUSB0", "COM3"
    int Address = 1;
};

// "<port's base name>-<address>" in [a-z0-9_-] only (anything else becomes
// "_"), for topics and identifiers: "/dev/ttyUSB0" at 7 is "ttyusb0-7".
std::string MeterKey(const MeterId& meter);

inline constexpr std::string_view kDefaultPrefix = "vqt540";
inline constexpr std::string_view kHomeAssistantStatus = "homeassistant/status";

// The tool's own availability, with its last will: "<prefix>/status". Two
// tools on one broker with the same prefix share it, so give each its own.
std::string ToolAvailabilityTopic(std::string_view prefix);

struct Topics {
    std::string Reading;          // <prefix>/<key>/reading
    std::string Archive;          // <prefix>/<key>/archive
    std::string Consumption;      // <prefix>/<key>/consumption
    std::string Availability;     // <prefix>/<key>/availability, retained
    std::string ToolAvailability; // <prefix>/status, retained
    std::string Discovery;        // homeassistant/device/<device id>/config, retained
    std::string DeviceId;         // <prefix>_<key> in [a-zA-Z0-9_-]
};
Topics TopicsFor(std::string_view prefix, const MeterId& meter);

// Epoch milliseconds as ISO 8601 in UTC: "2024-05-01T12:00:00.123Z".
std::string IsoUtc(int64_t unixMs);

// One reading: the meter, its time (ISO and epoch ms), flow, totalisers,
// range, thresholds and cut-off each with its unit, the active alarms' names
// and one flag per alarm under "alarm". Numbers carry the meter's resolution.
std::string ReadingJson(const MeterId& meter, int64_t unixMs, const model::ReadingInUnits& reading);

// One archive record with the date and time the meter gave it (its own local
// time, no zone): plain values, as the tool decodes them.
struct ArchiveFields {
    std::string DateTime; // "YYYY-MM-DD HH:MM:SS"
    double Flow = 0;
    std::string FlowUnit; // "m3/h"
    double Forward = 0;
    double Reverse = 0;
    std::string TotaliserUnit; // "m3" or "l"
    std::string Events;        // "" when none
};
std::string ArchiveRecordJson(const MeterId& meter, const ArchiveFields& record);

// One finished hour's consumption: the meter, then the report's row (a JSON
// object of the report's columns, core::ReportRowJson), on the meter's clock.
std::string ConsumptionJson(const MeterId& meter, std::string_view reportRow);

// Home Assistant's device discovery for one meter: flow, both totalisers
// and one problem sensor per alarm, read from the reading topic, available
// while both the meter and the tool say "online". The units are the meter's
// at the time: a change of unit needs the discovery sent again.
std::string DiscoveryJson(const MeterId& meter, const Topics& topics, std::string_view flowUnit,
                          std::string_view totaliserUnit);

// The unit as Home Assistant spells it: "m3/h" is "m³/h", "l" is "L"; others
// as they are.
std::string HomeAssistantUnit(std::string_view unit);

// The flag names under "alarm", in the order of model::AlarmLines(0xFC).
inline constexpr std::string_view kAlarmKeys[] = {"reverseFlow", "overRange", "emptyPipe",
                                                  "converter",   "alarm1",    "alarm2"};

// InfluxDB line protocol: measurement vqt540, tags address, flow_unit, port
// and totaliser_unit, float fields flow, forward and reverse (a value that is
// not finite is left out), the alarm count as an integer and their names.
std::string InfluxLine(const MeterId& meter, int64_t unixNs, const model::ReadingInUnits& reading);

} // namespace publish
