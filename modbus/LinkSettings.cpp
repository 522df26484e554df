#include "modbus/LinkSettings.h"

#include <algorithm>
#include <charconv>

namespace modbus {

namespace {
template <class Table, class Match> std::optional<size_t> Find(const Table& table, Match match) {
    const auto at = std::find_if(table.begin(), table.end(), match);
    if (at == table.end()) return std::nullopt;
    return static_cast<size_t>(at - table.begin());
}

platform::OrReason<LinkSettings> Refuse(std::string_view setting, std::string_view reason) {
    std::string why(setting);
    why.append(": ").append(reason);
    return platform::OrReason<LinkSettings>::Fail(std::move(why));
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

platform::OrReason<uint8_t> ReadAddress(std::string_view text) {
    const std::string_view quoted = text;
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool digits =
        !text.empty() && ((text.front() >= '0' && text.front() <= '9') || text.front() == '-');
    if (!digits || error != std::errc() || end != text.data() + text.size()) {
        // Appended piece by piece: GCC 12 warns falsely about a chain of + here.
        std::string why(1, '\'');
        why.append(quoted).append("' nie jest poprawną liczbą całkowitą.");
        return platform::OrReason<uint8_t>::Fail(std::move(why));
    }
    if (!IsDeviceAddress(value)) return platform::OrReason<uint8_t>::Fail("Adres urządzenia poza zakresem.");
    return {static_cast<uint8_t>(value), {}};
}

platform::OrReason<LinkSettings> CheckLink(const LinkChoice& c) {
    LinkSettings link;
    if (c.Port.empty()) return Refuse("Numer portu", "nie wybrano portu.");
    link.PortName = c.Port;
    if (!c.Speed || *c.Speed >= kSpeeds.size())
        return Refuse("Prędkość transmisji", "nie wybrano prędkości.");
    link.BaudRate = kSpeeds[*c.Speed];
    if (!c.Parity || *c.Parity >= kParities.size())
        return Refuse("Kontola parzystości", "nie wybrano parzystości.");
    link.Parity = kParities[*c.Parity].Code;
    if (!c.StopBits || *c.StopBits >= kStopBits.size())
        return Refuse("Bity stopu", "nie wybrano liczby bitów stopu.");
    link.StopBits = kStopBits[*c.StopBits].Code;
    const platform::OrReason<uint8_t> address = ReadAddress(c.Address);
    if (!address) return Refuse("Adres przepływomierza", address.error);
    link.DeviceAddress = *address;
    link.TimeoutMs = c.TimeoutMs;
    return {std::move(link), {}};
}

} // namespace modbus
