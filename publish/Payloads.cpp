#include "publish/Payloads.h"

#include "model/ParameterBlock.h"
#include "model/Units.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace publish {

using Json = nlohmann::ordered_json;

namespace {

constexpr std::string_view kAlarmNames[] = {"Reverse flow",    "Over range", "Empty pipe",
                                            "Converter fault", "Alarm 1",    "Alarm 2"};
static_assert(std::size(kAlarmNames) == std::size(kAlarmKeys));

std::string Sanitised(std::string_view text, bool keepCase) {
    std::string out;
    for (const char c : text) {
        const char lower = keepCase ? c : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const bool ok = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') ||
                        (keepCase && lower >= 'A' && lower <= 'Z') || lower == '_' || lower == '-';
        out += ok ? lower : '_';
    }
    return out;
}

std::string_view BaseName(std::string_view port) {
    const size_t slash = port.find_last_of("/\\");
    return slash == std::string_view::npos ? port : port.substr(slash + 1);
}

// The meter's resolution, so that 1.2345f m3/h goes out as 1.235, not as the
// float's binary tail.
double Rounded(double value, int decimals) {
    if (!std::isfinite(value)) return value;
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

int FlowDecimals(uint8_t unitCode) {
    return unitCode < model::kFlowDecimals.size() ? model::kFlowDecimals[unitCode] : 3;
}

Json Quantity(double value, std::string_view unit) {
    return {{"value", value}, {"unit", unit}};
}

Json MeterFields(const MeterId& meter) {
    return {{"meter", MeterKey(meter)}, {"port", meter.Port}, {"address", meter.Address}};
}

// One flag per alarm, found by the model's name for it.
Json AlarmFlags(const std::vector<std::string>& active) {
    static const std::vector<std::string> all = model::AlarmLines(0xFC);
    Json flags = Json::object();
    for (size_t i = 0; i < std::size(kAlarmKeys); ++i) {
        const bool on = i < all.size() && std::find(active.begin(), active.end(), all[i]) != active.end();
        flags[std::string(kAlarmKeys[i])] = on;
    }
    return flags;
}

Json Availability(const Topics& topics) {
    Json list = Json::array();
    for (const std::string* topic : {&topics.Availability, &topics.ToolAvailability})
        list.push_back(
            {{"topic", *topic}, {"payload_available", "online"}, {"payload_not_available", "offline"}});
    return list;
}

Json Sensor(const Topics& topics, std::string_view id, std::string_view name) {
    return {{"p", "sensor"}, {"name", name}, {"unique_id", topics.DeviceId + "_" + std::string(id)}};
}

// The unit in Home Assistant's spelling, and the device class when Home
// Assistant lists that unit for it (of its units, those the meter has); with
// another unit it would refuse the class, so the sensor goes without one.
void SetClassAndUnit(Json& sensor, std::string_view deviceClass, std::string_view unit) {
    static constexpr struct {
        std::string_view Class;
        std::string_view Units[3]; // an empty one: none
    } kListed[] = {
        {"volume_flow_rate", {"m³/h", "L/h", "L/min"}}, {"water", {"m³", "L"}}, {"volume", {"m³", "L"}}};
    const std::string theirs = HomeAssistantUnit(unit);
    for (const auto& listed : kListed)
        if (listed.Class == deviceClass && !theirs.empty() &&
            std::find(std::begin(listed.Units), std::end(listed.Units), theirs) != std::end(listed.Units))
            sensor["device_class"] = deviceClass;
    sensor["unit_of_measurement"] = theirs;
}

Json Components(const Topics& topics, std::string_view flowUnit, uint8_t flowCode,
                std::string_view volumeUnit) {
    Json cmps = Json::object();
    Json flow = Sensor(topics, "flow", "Flow");
    SetClassAndUnit(flow, "volume_flow_rate", flowUnit);
    flow["state_class"] = "measurement";
    flow["suggested_display_precision"] = FlowDecimals(flowCode);
    flow["value_template"] = "{{ value_json.flow.value }}";
    cmps["flow"] = flow;
    // The forward totaliser is the water used: the Energy dashboard's water
    // section offers the water class only, so the reverse one, generic
    // volume, cannot be picked there as consumption by mistake. Both only
    // grow, and the meter may reset them to zero: total_increasing.
    const struct {
        const char* id;
        const char* name;
        const char* field;
        const char* deviceClass;
    } totalisers[] = {{"forward", "Forward totaliser", "forwardTotaliser", "water"},
                      {"reverse", "Reverse totaliser", "reverseTotaliser", "volume"}};
    for (const auto& t : totalisers) {
        Json sensor = Sensor(topics, t.id, t.name);
        SetClassAndUnit(sensor, t.deviceClass, volumeUnit);
        sensor["state_class"] = "total_increasing";
        sensor["suggested_display_precision"] = 1;
        sensor["value_template"] = "{{ value_json." + std::string(t.field) + ".value }}";
        cmps[t.id] = sensor;
    }
    for (size_t i = 0; i < std::size(kAlarmKeys); ++i) {
        const std::string key(kAlarmKeys[i]);
        Json alarm = Sensor(topics, key, kAlarmNames[i]);
        alarm["p"] = "binary_sensor";
        alarm["device_class"] = "problem";
        alarm["value_template"] = "{{ 'ON' if value_json.alarm." + key + " else 'OFF' }}";
        cmps[key] = alarm;
    }
    return cmps;
}

uint8_t FlowCodeOf(std::string_view unit) {
    if (unit == "l/h") return model::LitresPerHour;
    if (unit == "l/min") return model::LitresPerMinute;
    return model::CubicMetresPerHour;
}

// Line protocol escapes: measurement (commas, blanks), tag keys and values
// and field keys (also "="), string field values (quotes, backslashes). A
// line break cannot be escaped at all and becomes a blank.
std::string Escaped(std::string_view text, std::string_view special) {
    std::string out;
    for (const char c : text) {
        const char plain = c == '\n' || c == '\r' ? ' ' : c;
        if (special.find(plain) != std::string_view::npos) out += '\\';
        out += plain;
    }
    return out;
}

void AddTag(std::string& line, std::string_view key, std::string_view value) {
    if (value.empty()) return; // the protocol has no empty tag values
    line += ',';
    line += Escaped(key, ",= ");
    line += '=';
    line += Escaped(value, ",= ");
}

void AddField(std::string& fields, std::string_view key, std::string_view value) {
    if (!fields.empty()) fields += ',';
    fields += Escaped(key, ",= ");
    fields += '=';
    fields += value;
}

void AddFloat(std::string& fields, std::string_view key, double value) {
    if (!std::isfinite(value)) return;
    char text[32];
    const auto end = std::to_chars(std::begin(text), std::end(text), value).ptr;
    AddField(fields, key, std::string_view(text, size_t(end - text)));
}

std::string Joined(const std::vector<std::string>& names, std::string_view sep) {
    std::string out;
    for (const auto& name : names) out += (out.empty() ? "" : std::string(sep)) + name;
    return out;
}

} // namespace

std::string MeterKey(const MeterId& meter) {
    std::string_view base = BaseName(meter.Port);
    const std::string name = Sanitised(base.empty() ? "port" : base, false);
    return name + "-" + std::to_string(meter.Address);
}

std::string ToolAvailabilityTopic(std::string_view prefix) {
    return std::string(prefix) + "/status";
}

Topics TopicsFor(std::string_view prefix, const MeterId& meter) {
    const std::string key = MeterKey(meter);
    const std::string base = std::string(prefix) + "/" + key + "/";
    Topics t;
    t.Reading = base + "reading";
    t.Archive = base + "archive";
    t.Consumption = base + "consumption";
    t.Availability = base + "availability";
    t.ToolAvailability = ToolAvailabilityTopic(prefix);
    t.DeviceId = Sanitised(prefix, true) + "_" + key;
    t.Discovery = "homeassistant/device/" + t.DeviceId + "/config";
    return t;
}

std::string IsoUtc(int64_t unixMs) {
    using namespace std::chrono;
    const sys_time<milliseconds> time{milliseconds{unixMs}};
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  int(clock.subseconds().count()));
    return text;
}

std::string ReadingJson(const MeterId& meter, int64_t unixMs, const model::ReadingInUnits& u) {
    const int decimals = FlowDecimals(u.FlowUnitCode);
    Json j = MeterFields(meter);
    j["time"] = IsoUtc(unixMs);
    j["timeMs"] = unixMs;
    j["flow"] = Quantity(Rounded(u.Flow, decimals), u.FlowUnit);
    j["forwardTotaliser"] = Quantity(Rounded(u.Forward, 1), u.TotaliserUnit);
    j["reverseTotaliser"] = Quantity(Rounded(u.Reverse, 1), u.TotaliserUnit);
    j["range"] = Quantity(Rounded(u.RangeCubicMetresPerHour, 3), "m3/h");
    j["alarm1Threshold"] = Quantity(Rounded(u.Alarm1, decimals), u.FlowUnit);
    j["alarm2Threshold"] = Quantity(Rounded(u.Alarm2, decimals), u.FlowUnit);
    j["cutoff"] = Quantity(Rounded(u.CutoffPercent, 1), "%");
    j["alarms"] = u.Alarms;
    j["alarm"] = AlarmFlags(u.Alarms);
    return j.dump();
}

std::string ArchiveRecordJson(const MeterId& meter, const ArchiveFields& r) {
    Json j = MeterFields(meter);
    j["recordTime"] = r.DateTime;
    j["flow"] = Quantity(Rounded(r.Flow, FlowDecimals(FlowCodeOf(r.FlowUnit))), r.FlowUnit);
    j["forwardTotaliser"] = Quantity(Rounded(r.Forward, 1), r.TotaliserUnit);
    j["reverseTotaliser"] = Quantity(Rounded(r.Reverse, 1), r.TotaliserUnit);
    j["events"] = r.Events;
    return j.dump();
}

std::string ConsumptionJson(const MeterId& meter, std::string_view reportRow) {
    Json j = MeterFields(meter);
    j.update(Json::parse(reportRow));
    return j.dump();
}

std::string HomeAssistantUnit(std::string_view unit) {
    static constexpr std::pair<std::string_view, std::string_view> kUnits[] = {
        {"m3/h", "m³/h"}, {"l/h", "L/h"}, {"l/min", "L/min"}, {"m3", "m³"}, {"l", "L"}};
    for (const auto& [ours, theirs] : kUnits)
        if (unit == ours) return std::string(theirs);
    return std::string(unit);
}

std::string DiscoveryJson(const MeterId& meter, const Topics& topics, std::string_view flowUnit,
                          std::string_view totaliserUnit) {
    Json j;
    j["dev"] = {
        {"ids", Json::array({topics.DeviceId})},
        {"name", "VQT540 " + std::string(BaseName(meter.Port)) + " address " + std::to_string(meter.Address)},
        {"mdl", "VQT540"}};
    j["o"] = {{"name", "vqt540"}, {"sw", VQT_VERSION}};
    j["cmps"] = Components(topics, flowUnit, FlowCodeOf(flowUnit), totaliserUnit);
    j["state_topic"] = topics.Reading;
    j["qos"] = 1;
    j["availability"] = Availability(topics);
    j["availability_mode"] = "all";
    return j.dump();
}

std::string InfluxLine(const MeterId& meter, int64_t unixNs, const model::ReadingInUnits& u) {
    std::string line = "vqt540";
    AddTag(line, "address", std::to_string(meter.Address));
    AddTag(line, "flow_unit", u.FlowUnit);
    AddTag(line, "port", meter.Port);
    AddTag(line, "totaliser_unit", u.TotaliserUnit);
    std::string fields;
    AddFloat(fields, "flow", Rounded(u.Flow, FlowDecimals(u.FlowUnitCode)));
    AddFloat(fields, "forward", Rounded(u.Forward, 1));
    AddFloat(fields, "reverse", Rounded(u.Reverse, 1));
    AddField(fields, "alarms", std::to_string(u.Alarms.size()) + "i");
    // Appended, not added up: GCC 12 at -O3 warns falsely on a chain of +.
    std::string names = "\"";
    names.append(Escaped(Joined(u.Alarms, ", "), "\"\\")).append("\"");
    AddField(fields, "alarm_names", names);
    return line + " " + fields + " " + std::to_string(unixNs);
}

} // namespace publish
