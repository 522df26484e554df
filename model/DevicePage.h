// The rows of the device page "Parametry VQT540", top to bottom, as the window
// shows them and the tool prints them: each row's name, its value and the unit
// beside it, taken from a decoded read.
#pragma once

#include "model/Decode.h"

#include <array>
#include <string>
#include <string_view>

namespace model {

namespace label {

inline constexpr std::string_view Version = "Wersja VQT";
inline constexpr std::string_view Diameter = "Średnica DN";
inline constexpr std::string_view Range = "Zakres pomiarowy [m3/h]";
inline constexpr std::string_view Flow = "Przepływ chwilowy";
inline constexpr std::string_view PulseWeight = "Waga impulsu licznika :";
inline constexpr std::string_view ForwardTotaliser = "Licznik przepływu w przód L+";
inline constexpr std::string_view ReverseTotaliser = "Licznik przepływu w tył L-";
inline constexpr std::string_view Cutoff = "Próg odcięcia [%]";
inline constexpr std::string_view TimeConstant = "Stała czasowa [s]";
inline constexpr std::string_view KorK = "Wspólczynnik KorK";
inline constexpr std::string_view KorC = "Wspólczynnik KorC";
inline constexpr std::string_view ArchivePeriod = "Okres zapisu danych do archiwum";
inline constexpr std::string_view Alarm1 = "Wartość przepływu dla Alarmu1";
inline constexpr std::string_view Alarm2 = "Wartość przepływu dla Alarmu2";
inline constexpr std::string_view Alarms = "Lista aktualnych stanów alarmowych";

} // namespace label

// What a row of the device page shows.
enum class DeviceField {
    Version,
    Diameter,
    Range,
    Flow,
    PulseWeight,
    ForwardTotaliser,
    ReverseTotaliser,
    Cutoff,
    TimeConstant,
    KorK,
    KorC,
    ArchivePeriod,
    Alarm1,
    Alarm2,
};

struct DeviceRow {
    DeviceField Field;
    std::string_view Label;
    // The value's text in a decoded read; empty where the read left it alone.
    std::string (*Value)(const DeviceView&);
    // The unit shown beside the value; null for a row without one.
    std::string (*Unit)(const DeviceView&) = nullptr;
};

extern const std::array<DeviceRow, 14> kDeviceRows;

} // namespace model
