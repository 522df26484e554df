#include "modbus/PortName.h"

#include <charconv>

namespace modbus {

namespace {
bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

platform::OrReason<PortAddress> Gateway(PortForm form, std::string_view rest, bool portRequired) {
    using R = platform::OrReason<PortAddress>;
    PortAddress address{form, {}, kModbusTcpPort};
    std::string_view host = rest;
    std::string_view port;
    bool colon = false; // a port was announced, maybe left empty
    if (StartsWith(rest, "[")) {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) return R::Fail("brak nawiasu ] po adresie IPv6");
        host = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return R::Fail("po adresie IPv6 może stać tylko :PORT");
            port = after.substr(1);
            colon = true;
        }
    } else if (const size_t at = rest.rfind(':'); at != std::string_view::npos) {
        host = rest.substr(0, at);
        port = rest.substr(at + 1);
        colon = true;
        if (host.find(':') != std::string_view::npos) return R::Fail("adres IPv6 podaje się w nawiasach [ ]");
    }
    if (host.empty()) return R::Fail("brak nazwy lub adresu bramki");
    for (const char c : host)
        if (c == '/' || c == ' ' || c == '@' || static_cast<unsigned char>(c) < 0x21)
            return R::Fail("niedozwolony znak w nazwie bramki");
    address.Host = std::string(host);
    if (port.empty()) {
        if (portRequired || colon) return R::Fail("brak numeru portu TCP (HOST:PORT)");
        return {address, {}};
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc{} || end != port.data() + port.size() || value < 1 || value > 65535)
        return R::Fail("numer portu TCP musi być liczbą od 1 do 65535");
    address.Port = static_cast<uint16_t>(value);
    return {address, {}};
}
} // namespace

bool IsGatewayName(std::string_view name) {
    return StartsWith(name, kRtuOverTcpScheme) || StartsWith(name, kModbusTcpScheme);
}

platform::OrReason<PortAddress> ParsePortName(std::string_view name) {
    if (StartsWith(name, kRtuOverTcpScheme))
        return Gateway(PortForm::RtuOverTcp, name.substr(kRtuOverTcpScheme.size()), true);
    if (StartsWith(name, kModbusTcpScheme))
        return Gateway(PortForm::ModbusTcp, name.substr(kModbusTcpScheme.size()), false);
    return {PortAddress{}, {}};
}

} // namespace modbus
