// What a port's name says about the way to the meter: a serial port
// ("COM3", "/dev/ttyUSB0", "\\.\COM14"), RTU frames through a transparent
// serial server ("rtu+tcp://HOST:PORT") or MODBUS TCP to a gateway
// ("tcp://HOST[:PORT]", port 502 unless given). IPv6 hosts go in brackets.
#pragma once

#include "platform/OrReason.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace modbus {

enum class PortForm { Serial, RtuOverTcp, ModbusTcp };

inline constexpr uint16_t kModbusTcpPort = 502;
inline constexpr std::string_view kRtuOverTcpScheme = "rtu+tcp://";
inline constexpr std::string_view kModbusTcpScheme = "tcp://";

struct PortAddress {
    PortForm Form = PortForm::Serial;
    std::string Host;  // a gateway's host, without brackets
    uint16_t Port = 0; // a gateway's TCP port
    bool operator==(const PortAddress&) const = default;
};

// True when the name begins with one of the gateway schemes (whether or not
// the rest of it is right).
bool IsGatewayName(std::string_view name);
// A serial name as it stands (Form Serial, nothing checked), or a gateway's
// host and port; a malformed gateway address gives the reason.
platform::OrReason<PortAddress> ParsePortName(std::string_view name);

} // namespace modbus
