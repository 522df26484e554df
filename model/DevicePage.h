// The row names of the device page "Parametry VQT540", top to bottom, as the
// window shows them and the tool prints them.
#pragma once

#include <string_view>

namespace model::label {

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

} // namespace model::label
