#include "modbus/LinkSettings.h"

#include <algorithm>

namespace modbus {

namespace {
template <class Table, class Match> std::optional<size_t> Find(const Table& table, Match match) {
    const auto at = std::find_if(table.begin(), table.end(), match);
    if (at == table.end()) return std::nullopt;
    return static_cast<size_t>(at - table.begin());
}

} // namespace

std::optional<size_t> SpeedIndex(uint32_t baud) {
    return Find(kSpeeds, [baud](uint32_t s) { return s == baud; });
}
std::optional<size_t> ParityIndex(uint8_t code) {
    return Find(kParities, [code](const ParityEntry& p) { return p.Code == code; });
}
std::optional<size_t> ParityIndexOfName(std::string_view name) {
    return Find(kParities, [name](const ParityEntry& p) { return p.Name == name; });
}
std::optional<size_t> StopBitsIndex(uint8_t code) {
    return Find(kStopBits, [code](const StopBitsEntry& s) { return s.Code == code; });
}

} // namespace modbus
