// A serial port on POSIX termios, opened for one exchange.
#pragma once

#include "Transaction.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>

namespace modbus {

// "COM1" .. "COM12": a link of that name in the working directory when it
// exists, else /dev/ttyS0 .. /dev/ttyS11. Any other name gives "".
std::string ResolvePortName(const std::string& name);

// A port name of the program ("COM1" .. "COM12") as above, or a device path
// ("/dev/ttyUSB0", "/dev/serial/by-id/..."; a path must begin with "/" or
// "./"). Anything else gives "".
std::string ResolveDevice(const std::string& nameOrPath);

// What a port name leads to and whether the port can be opened now, without
// changing anything on it (the program's own lock is taken only for a moment).
struct PortProbe {
    enum class State { Usable, Absent, Busy, NoPermission, NotATerminal, BadName, OtherError };
    std::string name;   // as given
    std::string path;   // what it maps to
    std::string device; // the device behind a link, or path
    State state = State::BadName;
    std::string reason; // the system's words for an other error
};
PortProbe ProbePort(const std::string& nameOrPath);
// A Polish sentence: where the name leads and what is wrong (naming the
// dialout group when permission is missing).
std::string DescribeProbe(const PortProbe& probe);

// The line settings applied by SerialPort::Configure, starting from the
// port's current ones. False for a speed the port list does not offer.
bool MakeLineSettings(termios& t, uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits);

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens read/write, non-blocking, without becoming the controlling
    // terminal, exclusively (flock and TIOCEXCL). False when absent or held,
    // also when another program holds it with TIOCEXCL and we are root.
    // The name is taken as ResolveDevice takes it.
    bool Open(const std::string& portName);
    bool IsOpen() const { return Fd >= 0; }
    int Handle() const { return Fd; }

    // Raw 8-bit characters, the given speed, parity and stop bits, no flow
    // control, receiver parity check off, DTR and RTS off; stale input dropped.
    // False when the port refuses; the port then keeps its old settings.
    bool Configure(uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits);

    // Queues the bytes and returns at once with the count accepted.
    size_t Write(const uint8_t* data, size_t n);
    // Bytes waiting in the input queue (0 when closed or on error).
    size_t InputCount() const;
    // Reads up to n bytes that are already waiting; never blocks.
    size_t Read(uint8_t* data, size_t n);
    void Close();

private:
    int Fd = -1;
    bool Exclusive = false;
};

} // namespace modbus
