// The termios side of SerialPort, for its tests.
#pragma once

#include <cstdint>
#include <termios.h>

namespace modbus {

// The line settings applied by SerialPort::Configure, starting from the
// port's current ones. False for a speed the port list does not offer.
bool MakeLineSettings(termios& t, uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits);

} // namespace modbus
