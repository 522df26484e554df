// A meter's settings file: the writable settings of the parameter block in
// the meter's own codes, with the text the device page shows for each, and,
// for the record only, what identifies the meter it was read from. Nothing
// of the record is ever written to a meter: not its address, not its
// totalisers.
#pragma once

#include "model/MeterReading.h"
#include "platform/OrReason.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// The settings a file carries, in the order of the device page.
enum class Setting {
    Range,
    FlowUnit,
    PulseWeight,
    TotaliserUnit,
    Cutoff,
    TimeConstant,
    ArchivePeriod,
    Alarm1,
    Alarm2
};
inline constexpr size_t kSettingCount = 9;
inline constexpr std::array<Setting, kSettingCount> kSettings = {
    Setting::Range,         Setting::FlowUnit, Setting::PulseWeight,
    Setting::TotaliserUnit, Setting::Cutoff,   Setting::TimeConstant,
    Setting::ArchivePeriod, Setting::Alarm1,   Setting::Alarm2};

// The value of each setting in the meter's terms: the unit, weight, time
// constant and archive period codes, the cut-off in tenths of a percent,
// the range in thousandths of m3/h, the thresholds in l/h. Empty: not known.
using SettingValues = std::array<std::optional<int32_t>, kSettingCount>;

inline std::optional<int32_t>& At(SettingValues& values, Setting s) {
    return values[static_cast<size_t>(s)];
}
inline const std::optional<int32_t>& At(const SettingValues& values, Setting s) {
    return values[static_cast<size_t>(s)];
}

// The key of a setting in the file ("cutoff") and its row on the device page.
std::string_view SettingKey(Setting s);
std::string_view SettingLabel(Setting s);
// A value as the device page shows it, the thresholds in the flow unit of
// `context` (m3/h when it has none); empty for a code past its table.
std::string SettingText(Setting s, int32_t value, const SettingValues& context, std::string_view sep);

SettingValues ValuesOf(const model::MeterReading& reading);

// The position of a range value in the range list of a DN index; none when
// the list has no such value.
std::optional<int> RangePosition(size_t dnIndex, int32_t thousandths);
// The value the meter gives a range position of its DN; none past the list.
std::optional<int32_t> RangeValueAt(size_t dnIndex, int position);
// Both DN indexes have the same range list, so a position means the same range.
bool SameRangeList(size_t dnIndexA, size_t dnIndexB);

struct SettingsFile {
    static constexpr int kFormatVersion = 1;

    SettingValues Settings;
    std::optional<int> RangePosition; // in the list of the DN it was read from

    // For the record only.
    int Address = 0;
    std::string Port;
    std::string Version;
    uint8_t DnIndex = 0;
    int32_t ForwardTenths = 0;
    int32_t ReverseTenths = 0;
    uint8_t TotaliserUnitCode = 0;
    float KorK = 0;
    float KorC = 0;
    std::string ReadAt; // local time, ISO 8601
};

SettingsFile FileFromReading(const model::MeterReading& reading, int address, std::string port,
                             std::string readAt);

// The document, UTF-8, with the texts in the given decimal separator.
std::string SettingsJson(const SettingsFile& file, std::string_view sep);
// The file, or why it cannot be used (a document of another program, of a
// newer format, a value outside the meter's codes); Polish.
platform::OrReason<SettingsFile> ReadSettingsJson(std::string_view text);

// The commissioning record for the paperwork: the meter, every setting as
// shown, the totalisers and when it was read; lines ending in "\n".
std::string CommissioningRecord(const SettingsFile& file, std::string_view sep);

} // namespace core
