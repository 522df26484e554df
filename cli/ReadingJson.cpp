#include "cli/ReadingJson.h"

namespace cli {

nlohmann::ordered_json InUnitsJson(const model::ReadingInUnits& u) {
    nlohmann::ordered_json j;
    j["flow"] = {{"value", u.Flow}, {"unit", u.FlowUnit}};
    j["forwardTotaliser"] = {{"value", u.Forward}, {"unit", u.TotaliserUnit}};
    j["reverseTotaliser"] = {{"value", u.Reverse}, {"unit", u.TotaliserUnit}};
    j["range"] = {{"value", u.RangeCubicMetresPerHour}, {"unit", "m3/h"}};
    j["alarm1Threshold"] = {{"value", u.Alarm1}, {"unit", u.FlowUnit}};
    j["alarm2Threshold"] = {{"value", u.Alarm2}, {"unit", u.FlowUnit}};
    j["cutoff"] = {{"value", u.CutoffPercent}, {"unit", "%"}};
    j["alarms"] = u.Alarms;
    return j;
}

} // namespace cli
