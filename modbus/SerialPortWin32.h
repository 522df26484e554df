// The Win32 side of SerialPort, for its tests.
#pragma once

#include "modbus/SerialPort.h"

#include <cstdint>
#include <windows.h>

namespace modbus {

// The probe's verdict on the error with which CreateFileA refused a port.
// A port held by another program is refused with ERROR_ACCESS_DENIED.
PortProbe::State StateOfOpenError(unsigned long error);

// The device-control block Configure applies, from the port's current one:
// speed, character format, and of the flags binary mode alone (no parity
// check of received bytes, no flow control, DTR and RTS off). False for a
// speed the port list does not offer.
bool MakeCommState(DCB& dcb, uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits);

// The longest blocking read of the wait for input: how late the wait sees
// its wake (a time-out or a release), never how late it sees a reply.
inline constexpr int kLongestPassMs = 100;

// The time-outs of the wait's read: it returns at once with a byte that is
// waiting, else with the first byte to arrive, else after passMs (0: at once).
COMMTIMEOUTS WaitingReadTimeouts(uint32_t passMs, uint32_t writeTotalMs);

} // namespace modbus
