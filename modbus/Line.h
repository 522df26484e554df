// The way a transaction's frames travel: a serial port, RTU frames through a
// transparent serial server, or MODBUS TCP through a gateway. The worker
// speaks RTU frames to every line; a line that frames otherwise on the wire
// turns them over and reports the wire bytes for the trace. Each kind lives
// in a file of its own (SerialLine.cpp, RtuOverTcpLine.cpp, ModbusTcpLine.cpp).
#pragma once

#include "modbus/Frames.h"
#include "modbus/LinkSettings.h"
#include "modbus/PortName.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class Wake;
}

namespace modbus {

// What happened to a line that was kept open between transactions.
enum class LineEvent {
    Reopened, // the peer had closed it; a new connection was made at once
};

class Line {
public:
    virtual ~Line() = default;

    // Opens the line when it is not open (a kept line that the peer has
    // closed in the meantime is opened anew); false when it cannot be, with
    // Trouble() saying why. The wake ends a slow connect early.
    virtual bool Open(platform::Wake& wake) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
    // Why the line could not be used, in Polish; empty while it could.
    virtual std::string Trouble() const = 0;
    // Set by Open() when a kept line had been closed by its peer and was
    // reopened; taken (cleared) by the call.
    virtual bool TakeReopened() { return false; }
    // Whether the line should stay open after the transaction when the
    // caller keeps lines: a gateway's connection always may.
    virtual bool IsNetwork() const { return false; }

    // The character format of one exchange; only a serial port has one.
    virtual void Configure(const LinkSettings&, Kind, uint8_t /*stopBits*/) {}
    // Before a request: drops what came unasked (a reply to a request given
    // up on) and, with `quiet`, waits until the line has been silent that
    // long since its last byte. Ends early when timedOut is set.
    virtual void Quiet(platform::Wake& wake, std::chrono::microseconds quiet,
                       const std::atomic<int32_t>& timedOut) = 0;
    // Sends one RTU request (address … CRC); `wire` gets the bytes as sent.
    virtual void Send(const uint8_t* frame, size_t n, std::vector<uint8_t>& wire) = 0;
    // Takes what has arrived of this request's reply, without blocking: up to
    // `room` bytes of it as an RTU frame into `frame`, and the bytes as
    // received appended to `wire`. `hinted`: the last wait said input waits.
    virtual size_t Read(uint8_t* frame, size_t room, bool hinted, std::vector<uint8_t>& wire) = 0;

    struct WaitResult {
        bool woken = false;    // the wake was set (and is taken)
        bool readable = false; // input waits
        bool gone = false;     // nothing more will come on this line
    };
    // Blocks, without spinning, until input waits, the wake is set or
    // timeoutMs have passed (-1: no limit).
    virtual WaitResult WaitForInput(platform::Wake& wake, int timeoutMs) = 0;
};

// The line a port's name leads to (see PortName.h); nullptr for a malformed
// gateway address.
std::unique_ptr<Line> MakeLine(const std::string& portName);
std::unique_ptr<Line> MakeSerialLine(const std::string& portName);
std::unique_ptr<Line> MakeRtuOverTcpLine(const PortAddress& address);
std::unique_ptr<Line> MakeModbusTcpLine(const PortAddress& address);

// How long a gateway may take to accept a connection.
inline constexpr int kConnectTimeoutMs = 3000;

} // namespace modbus
