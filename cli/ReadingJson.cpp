#include "cli/ReadingJson.h"

#include <cstdio>

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

namespace {
// Tag values: commas, blanks and equals signs escaped.
std::string Tag(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == ',' || c == ' ' || c == '=' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}
// String field values: in quotes, with quotes and backslashes escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}
// A float field as the protocol takes it: the C locale's point, no exponent games.
std::string Number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}
} // namespace

std::string InfluxLine(const std::string& port, uint8_t address, int64_t unixNs,
                       const model::ReadingInUnits& u) {
    std::string alarms;
    for (const std::string& a : u.Alarms) alarms += (alarms.empty() ? "" : ", ") + a;
    return "vqt540,port=" + Tag(port) + ",address=" + std::to_string(address) + " flow=" + Number(u.Flow) +
           ",flow_unit=" + Quoted(u.FlowUnit) + ",forward=" + Number(u.Forward) +
           ",reverse=" + Number(u.Reverse) + ",totaliser_unit=" + Quoted(u.TotaliserUnit) +
           ",alarm_count=" + std::to_string(u.Alarms.size()) + "i,alarms=" + Quoted(alarms) + " " +
           std::to_string(unixNs);
}

} // namespace cli
