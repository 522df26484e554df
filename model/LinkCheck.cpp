#include "model/LinkCheck.h"

#include "model/NumberFormat.h"

#include <array>
#include <string>

namespace model {

namespace {

platform::OrReason<modbus::LinkSettings> Refuse(std::string_view setting, std::string_view reason) {
    std::string why(setting);
    why.append(": ").append(reason);
    return platform::OrReason<modbus::LinkSettings>::Fail(std::move(why));
}

} // namespace

platform::OrReason<std::optional<size_t>> CheckListIndex(LinkList list, int32_t index) {
    using Result = platform::OrReason<std::optional<size_t>>;
    const std::array<size_t, 5> lengths = {modbus::kPortCount, modbus::kSpeeds.size(),
                                           modbus::kParities.size(), modbus::kStopBits.size(), 1};
    if (index == -1) return {std::optional<size_t>(), {}};
    if (index < 0 || size_t(index) >= lengths[size_t(list)])
        return Result::Fail("pozycja " + std::to_string(index) + " nie istnieje na liście");
    return {size_t(index), {}};
}

platform::OrReason<uint8_t> ReadAddress(std::string_view text) {
    const platform::OrReason<int32_t> number = ReadWholeNumber(text);
    if (!number) return platform::OrReason<uint8_t>::Fail(number.error);
    if (!modbus::IsDeviceAddress(*number))
        return platform::OrReason<uint8_t>::Fail("Adres urządzenia poza zakresem.");
    return {static_cast<uint8_t>(*number), {}};
}

platform::OrReason<int32_t> ReadWholeWithin(std::string_view text, int32_t low, int32_t high) {
    platform::OrReason<int32_t> number = ReadWholeNumber(text);
    if (number && (*number < low || *number > high))
        return platform::OrReason<int32_t>::Fail("wartość " + std::to_string(*number) + " poza zakresem " +
                                                 std::to_string(low) + " … " + std::to_string(high) + ".");
    return number;
}

platform::OrReason<modbus::LinkSettings> CheckLink(const modbus::LinkChoice& c) {
    modbus::LinkSettings link;
    if (c.Port.empty()) return Refuse("Numer portu", "nie wybrano portu.");
    link.PortName = c.Port;
    if (!c.Speed || *c.Speed >= modbus::kSpeeds.size())
        return Refuse("Prędkość transmisji", "nie wybrano prędkości.");
    link.BaudRate = modbus::kSpeeds[*c.Speed];
    if (!c.Parity || *c.Parity >= modbus::kParities.size())
        return Refuse("Kontola parzystości", "nie wybrano parzystości.");
    link.Parity = modbus::kParities[*c.Parity].Code;
    if (!c.StopBits || *c.StopBits >= modbus::kStopBits.size())
        return Refuse("Bity stopu", "nie wybrano liczby bitów stopu.");
    link.StopBits = modbus::kStopBits[*c.StopBits].Code;
    const platform::OrReason<uint8_t> address = ReadAddress(c.Address);
    if (!address) return Refuse("Adres przepływomierza", address.error);
    link.DeviceAddress = *address;
    link.TimeoutMs = c.TimeoutMs;
    return {std::move(link), {}};
}

} // namespace model
