// A serial port opened for one exchange. One interface; the build picks the
// system's side: termios (SerialPortPosix.cpp) or the Win32 communications
// calls (SerialPortWin32.cpp).
#pragma once

#include "modbus/Transaction.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
class Wake;
}

namespace modbus {

// 1 .. 12 for "COM1" .. "COM12", else 0.
int ComPortNumber(const std::string& name);
// 1 .. 256 for "COM1" .. "COM256", else 0: the names Windows gives its ports.
int ComDeviceNumber(const std::string& name);

// "COM1" .. "COM12" as a device of this system. POSIX: a link of that name in
// the working directory when it exists, else /dev/ttyS0 .. /dev/ttyS11.
// Windows: \\.\COM1 .. \\.\COM12, and so on up to COM256 (the adapters'
// ports). Any other name gives "".
std::string ResolvePortName(const std::string& name);

// A port name of the program ("COM1" .. "COM12") as above, or a device path:
// POSIX "/dev/ttyUSB0", "/dev/serial/by-id/..." (beginning with "/" or
// "./"); Windows "\\.\COM15". Anything else gives "".
std::string ResolveDevice(const std::string& nameOrPath);

// For help texts: the names a port may be given by here, and the same with
// where the COM names lead.
extern const char* const kPortNames;
extern const char* const kPortNamesHelp;

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

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens for reading and writing by this program alone; false when the
    // port is absent or held. POSIX: non-blocking, without becoming the
    // controlling terminal, under flock, which alone decides "held" among our
    // programs and ends with the process, however it ends; TIOCEXCL besides
    // on a real port, not on a pseudo-terminal, whose provider would keep a
    // killed program's flag. Also refused when another program holds TIOCEXCL
    // and we are root. The name is taken as ResolveDevice takes it.
    bool Open(const std::string& portName);
    bool IsOpen() const { return Native != kClosed; }
    // The open port's descriptor (POSIX) or handle (Windows).
    std::intptr_t Handle() const { return Native; }

    // Raw 8-bit characters, the given speed, parity and stop bits, no flow
    // control, receiver parity check off, DTR and RTS off; stale input dropped.
    // False when the port refuses; the port then keeps its old settings.
    bool Configure(uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits);
    // The longest one read and one write may take where the system limits
    // each call (Windows). Reads are only of bytes already waiting, so the
    // limits never hold up an exchange; a POSIX port needs none.
    void SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs);

    // Queues the bytes and returns at once with the count accepted.
    size_t Write(const uint8_t* data, size_t n);
    // Bytes waiting in the input queue (0 when closed or on error).
    size_t InputCount() const;
    // Reads up to n bytes that are already waiting; never blocks.
    size_t Read(uint8_t* data, size_t n);
    // A read or write failed for good (the adapter was pulled out, the
    // pseudo-terminal's other end closed): only opening it anew can help.
    bool Broken() const { return Failed; }

    struct WaitResult {
        bool woken = false;    // the wake was set (and is taken)
        bool readable = false; // input is waiting
        bool hungUp = false;   // the line is gone: nothing more will come
    };
    // Blocks, without spinning, until input waits, the wake is set or
    // timeoutMs have passed (-1: no limit).
    WaitResult WaitForInput(platform::Wake& wake, int timeoutMs);

    void Close();

private:
    static constexpr std::intptr_t kClosed = -1; // also INVALID_HANDLE_VALUE
    std::intptr_t Native = kClosed;
    bool Exclusive = false;      // POSIX: TIOCEXCL is ours to clear on close
    mutable bool Failed = false; // see Broken()
    bool HangUpSeen = false;     // POSIX: the last wait saw the line hung up
    // Windows: the byte with which a blocking read ended the wait for input,
    // handed out first by the next Read (-1: none).
    int Held = -1;
    uint32_t ReadLimitMs = 0, WriteLimitMs = 0; // Windows: the exchange's limits for one call
    uint32_t ReadPassMs = 0;                    // Windows: the read time-out set on the port now
};

} // namespace modbus
