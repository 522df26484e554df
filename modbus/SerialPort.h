// A serial port on POSIX termios, opened for one exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>

namespace modbus {

// Parity codes: 0 none, 1 odd, 2 even. Stop-bit codes: 0 one, 2 two.
inline constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2;
inline constexpr uint8_t kOneStopBit = 0, kTwoStopBits = 2;

// "COM1" .. "COM12": a link of that name in the working directory when it
// exists, else /dev/ttyS0 .. /dev/ttyS11. Any other name gives "".
std::string ResolvePortName(const std::string& name);

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
