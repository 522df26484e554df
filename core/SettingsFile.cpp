#include "core/SettingsFile.h"

#include "model/DevicePage.h"
#include "model/NumberFormat.h"
#include "model/Tables.h"
#include "model/Units.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace core {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormatName = "vqt540-settings";
constexpr int kPrecision = 10;

struct Limits {
    int64_t low;
    int64_t high;
};

constexpr int64_t kInt32Low = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32High = std::numeric_limits<int32_t>::max();

template <size_t N> constexpr Limits CodesOf(const std::array<std::string_view, N>&) {
    return {0, static_cast<int64_t>(N) - 1};
}
constexpr Limits kAnyInt32{kInt32Low, kInt32High};

// Each setting's key in the file, its row on the device page (without the
// colon some rows have) and the codes the meter has for it; in Setting's order.
struct SettingEntry {
    Setting Which;
    std::string_view Key, Label;
    Limits Codes;
};
constexpr std::array<SettingEntry, kSettingCount> kEntries = {{
    {Setting::Range, "range", model::label::Range, kAnyInt32},
    {Setting::FlowUnit, "flowUnit", "Jednostka przepływu", CodesOf(model::FlowUnitTexts)},
    {Setting::PulseWeight, "pulseWeight", "Waga impulsu licznika", CodesOf(model::PulseWeightTexts)},
    {Setting::TotaliserUnit, "totaliserUnit", "Jednostka liczników", CodesOf(model::TotaliserUnitTexts)},
    {Setting::Cutoff, "cutoff", model::label::Cutoff, {0, 255}},
    {Setting::TimeConstant, "timeConstant", model::label::TimeConstant, CodesOf(model::TimeConstantTexts)},
    {Setting::ArchivePeriod, "archivePeriod", model::label::ArchivePeriod,
     CodesOf(model::ArchivePeriodTexts)},
    {Setting::Alarm1, "alarm1", model::label::Alarm1, kAnyInt32},
    {Setting::Alarm2, "alarm2", model::label::Alarm2, kAnyInt32},
}};
static_assert(std::all_of(kEntries.begin(), kEntries.end(), [](const SettingEntry& r) {
    return kEntries[static_cast<size_t>(r.Which)].Which == r.Which;
}));

const SettingEntry& EntryOf(Setting s) {
    return kEntries[static_cast<size_t>(s)];
}

template <size_t N> std::string Entry(const std::array<std::string_view, N>& table, int32_t code) {
    if (code < 0) return {};
    return std::string(model::TableAt(table, static_cast<size_t>(code)).value_or(std::string_view{}));
}

// "240,00" as 240000 thousandths: the list's texts, whose decimals differ.
std::optional<int32_t> Thousandths(std::string_view text) {
    if (text.empty()) return std::nullopt;
    int64_t whole = 0, fraction = 0;
    int decimals = 0;
    bool afterPoint = false;
    for (const char c : text) {
        if (c == ',') {
            afterPoint = true;
        } else if (c >= '0' && c <= '9') {
            if (afterPoint) {
                if (++decimals > 3) return std::nullopt;
                fraction = fraction * 10 + (c - '0');
            } else {
                whole = whole * 10 + (c - '0');
            }
        } else {
            return std::nullopt;
        }
    }
    while (decimals++ < 3) fraction *= 10;
    return static_cast<int32_t>(whole * 1000 + fraction);
}

size_t Characters(std::string_view utf8) {
    size_t shown = 0;
    for (const char c : utf8) shown += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
    return shown;
}

std::string Padded(std::string_view label, size_t width) {
    const size_t shown = Characters(label);
    return std::string(label) + std::string(width > shown ? width - shown : 0, ' ');
}

std::string TotaliserText(int32_t tenths, uint8_t unit, std::string_view sep) {
    return model::FormatRatio(tenths, 10, 1, kPrecision, sep) + " " + Entry(model::TotaliserUnitTexts, unit);
}

} // namespace

std::string_view SettingKey(Setting s) {
    return EntryOf(s).Key;
}

std::string_view SettingLabel(Setting s) {
    return EntryOf(s).Label;
}

std::string SettingText(Setting s, int32_t value, const SettingValues& context, std::string_view sep) {
    switch (s) {
    case Setting::Range:
        return model::FormatRatio(value, 1000, 3, kPrecision, sep);
    case Setting::FlowUnit:
        return Entry(model::FlowUnitTexts, value);
    case Setting::PulseWeight:
        return Entry(model::PulseWeightTexts, value);
    case Setting::TotaliserUnit:
        return Entry(model::TotaliserUnitTexts, value);
    case Setting::Cutoff:
        return model::FormatRatio(value, 10, 1, 4, sep);
    case Setting::TimeConstant:
        return Entry(model::TimeConstantTexts, value);
    case Setting::ArchivePeriod:
        return Entry(model::ArchivePeriodTexts, value);
    case Setting::Alarm1:
    case Setting::Alarm2:
        break;
    }
    const std::optional<int32_t> flow = At(context, Setting::FlowUnit);
    const size_t unit = flow && *flow >= 0 && *flow <= 2 ? static_cast<size_t>(*flow) : 1;
    return model::FormatRatio(value, model::kLitresPerHourIn[unit], model::kFlowDecimals[unit], kPrecision,
                              sep) +
           " " + std::string(model::FlowUnitTexts[unit]);
}

SettingValues ValuesOf(const model::MeterReading& r) {
    SettingValues v;
    const auto code = [&v](Setting s, int32_t value) {
        const Limits l = EntryOf(s).Codes;
        // A code the meter's tables lack is no setting to copy.
        if (value >= l.low && value <= l.high) At(v, s) = value;
    };
    code(Setting::Range, r.RangeLitresPerHour);
    code(Setting::FlowUnit, r.FlowUnitCode);
    code(Setting::PulseWeight, r.PulseWeightCode);
    code(Setting::TotaliserUnit, r.TotaliserUnitCode);
    code(Setting::Cutoff, r.CutoffTenthsOfPercent);
    code(Setting::TimeConstant, r.TimeConstantCode);
    code(Setting::ArchivePeriod, r.ArchivePeriodCode);
    code(Setting::Alarm1, r.Alarm1LitresPerHour);
    code(Setting::Alarm2, r.Alarm2LitresPerHour);
    return v;
}

std::optional<int32_t> RangeValueAt(size_t dnIndex, int position) {
    if (dnIndex >= model::kDnCount || position < 0 || position >= static_cast<int>(model::kRangeSlots))
        return std::nullopt;
    return Thousandths(model::RangeTables[dnIndex][static_cast<size_t>(position)]);
}

std::optional<int> RangePosition(size_t dnIndex, int32_t thousandths) {
    for (int p = 0; p < static_cast<int>(model::kRangeSlots); ++p)
        if (RangeValueAt(dnIndex, p) == thousandths) return p;
    return std::nullopt;
}

bool SameRangeList(size_t a, size_t b) {
    return a < model::kDnCount && b < model::kDnCount && model::RangeTables[a] == model::RangeTables[b];
}

SettingsFile FileFromReading(const model::MeterReading& r, int address, std::string port,
                             std::string readAt) {
    SettingsFile f;
    f.Settings = ValuesOf(r);
    f.RangePosition = RangePosition(r.DnIndex, r.RangeLitresPerHour);
    f.Address = address;
    f.Port = std::move(port);
    f.Version = r.Version;
    f.DnIndex = r.DnIndex;
    f.ForwardTenths = r.ForwardTenths;
    f.ReverseTenths = r.ReverseTenths;
    f.TotaliserUnitCode = r.TotaliserUnitCode;
    f.KorK = r.KorK;
    f.KorC = r.KorC;
    f.ReadAt = std::move(readAt);
    return f;
}

std::string SettingsJson(const SettingsFile& f, std::string_view sep) {
    Json j;
    j["format"] = kFormatName;
    j["formatVersion"] = SettingsFile::kFormatVersion;
    Json& settings = j["settings"] = Json::object();
    for (const Setting s : kSettings) {
        const std::optional<int32_t> v = At(f.Settings, s);
        if (!v) continue;
        Json entry{{"value", *v}};
        if (s == Setting::Range) entry["position"] = f.RangePosition ? Json(*f.RangePosition) : Json(nullptr);
        entry["text"] = SettingText(s, *v, f.Settings, sep);
        settings[std::string(SettingKey(s))] = entry;
    }
    const std::optional<int> dn = model::TableAt(model::DnTable, f.DnIndex);
    j["meter"] = {
        {"address", f.Address},
        {"port", f.Port},
        {"version", f.Version},
        {"dnIndex", f.DnIndex},
        {"dn", dn ? Json(*dn) : Json(nullptr)},
        {"forwardTotaliser",
         {{"tenths", f.ForwardTenths}, {"text", TotaliserText(f.ForwardTenths, f.TotaliserUnitCode, sep)}}},
        {"reverseTotaliser",
         {{"tenths", f.ReverseTenths}, {"text", TotaliserText(f.ReverseTenths, f.TotaliserUnitCode, sep)}}},
        {"korK", std::isfinite(f.KorK) ? Json(f.KorK) : Json(nullptr)},
        {"korC", std::isfinite(f.KorC) ? Json(f.KorC) : Json(nullptr)},
        {"readAt", f.ReadAt},
    };
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

platform::OrReason<SettingsFile> ReadSettingsJson(std::string_view text) {
    using Result = platform::OrReason<SettingsFile>;
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object() || j.value("format", "") != kFormatName)
        return Result::Fail("To nie jest plik nastaw przepływomierza VQT540.");
    const Json& version = j["formatVersion"];
    if (!version.is_number_integer() || version.get<int64_t>() < 1)
        return Result::Fail("Plik nastaw nie podaje wersji swojego formatu.");
    if (version.get<int64_t>() > SettingsFile::kFormatVersion)
        return Result::Fail("Plik nastaw ma format w wersji " + std::to_string(version.get<int64_t>()) +
                            ", a ten program zna tylko wersję " +
                            std::to_string(SettingsFile::kFormatVersion) + ": potrzebny nowszy program.");
    const Json& settings = j["settings"];
    const Json& meter = j["meter"];
    if (!settings.is_object() || !meter.is_object() || !meter["dnIndex"].is_number_unsigned() ||
        meter["dnIndex"].get<uint64_t>() > 255)
        return Result::Fail("Plik nastaw jest niepełny: brak nastaw lub średnicy DN przepływomierza.");
    SettingsFile f;
    f.DnIndex = static_cast<uint8_t>(meter["dnIndex"].get<uint64_t>());
    for (const auto& [key, entry] : settings.items()) {
        std::optional<Setting> setting;
        for (const Setting s : kSettings)
            if (SettingKey(s) == key) setting = s;
        if (!setting) return Result::Fail("Plik nastaw zawiera nieznaną nastawę \"" + key + "\".");
        if (entry.is_null()) continue;
        const Limits l = EntryOf(*setting).Codes;
        const Json value = entry.is_object() ? entry.value("value", Json()) : Json();
        if (!value.is_number_integer() || value.get<int64_t>() < l.low || value.get<int64_t>() > l.high)
            return Result::Fail("Plik nastaw: wartość nastawy \"" + key +
                                "\" jest poza zakresem przepływomierza.");
        At(f.Settings, *setting) = static_cast<int32_t>(value.get<int64_t>());
        if (*setting != Setting::Range) continue;
        const Json position = entry.value("position", Json());
        if (position.is_number_integer() && RangeValueAt(f.DnIndex, position.get<int>()))
            f.RangePosition = position.get<int>();
    }
    // The record: shown again, never written.
    f.Address = meter.value("address", 0);
    f.Port = meter.value("port", "");
    f.Version = meter.value("version", "");
    f.ReadAt = meter.value("readAt", "");
    return {f, {}};
}

std::string CommissioningRecord(const SettingsFile& f, std::string_view sep) {
    namespace label = model::label;
    const std::string_view address = "Adres przepływomierza";
    size_t width = Characters(model::label::ForwardTotaliser);
    for (const Setting s : kSettings) width = std::max(width, Characters(SettingLabel(s)));
    const auto line = [width](std::string_view name, const std::string& value) {
        return "  " + Padded(name, width) + "  " + value + "\n";
    };
    std::string out = "Protokół uruchomienia przepływomierza VQT540\n";
    out += "Odczyt z dnia: " + f.ReadAt + "\n\nPrzepływomierz\n";
    out += line(address, std::to_string(f.Address) + (f.Port.empty() ? "" : " (" + f.Port + ")"));
    out += line(label::Version, f.Version);
    out += line(label::Diameter, model::DnText(f.DnIndex));
    out += "\nNastawy\n";
    for (const Setting s : kSettings) {
        const std::optional<int32_t> v = At(f.Settings, s);
        out += line(SettingLabel(s), v ? SettingText(s, *v, f.Settings, sep) : "-");
    }
    out += "\nLiczniki i współczynniki\n";
    out += line(label::ForwardTotaliser, TotaliserText(f.ForwardTenths, f.TotaliserUnitCode, sep));
    out += line(label::ReverseTotaliser, TotaliserText(f.ReverseTenths, f.TotaliserUnitCode, sep));
    out += line(label::KorK, model::FormatNumber(f.KorK, 4, kPrecision, sep));
    out += line(label::KorC, model::FormatNumber(f.KorC, 4, kPrecision, sep));
    return out;
}

} // namespace core
