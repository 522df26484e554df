// A serial port as a line: the bytes on the wire are the RTU frames.
#include "modbus/Line.h"
#include "modbus/SerialPort.h"
#include "platform/Wake.h"

#include <algorithm>

namespace modbus {

namespace {
class SerialLine final : public Line {
public:
    explicit SerialLine(std::string name) : Name(std::move(name)) {}

    bool Open(platform::Wake&) override {
        if (Port.IsOpen() && !Port.Broken()) return true;
        Applied = false;
        if (Port.Open(Name)) {
            Problem.clear();
            return true;
        }
        Problem = DescribeProbe(ProbePort(Name));
        return false;
    }
    bool IsOpen() const override { return Port.IsOpen(); }
    void Close() override { Port.Close(); }
    std::string Trouble() const override { return Problem; }

    void Configure(const LinkSettings& link, Kind kind, uint8_t stopBits) override {
        Port.SetTimeouts(Params(kind).readTimeoutMs, Params(kind).writeTimeoutMs);
        // A kept port is set again only when the format changes: reads go out
        // with two stop bits, writes with the chosen ones.
        const Format wanted{link.BaudRate, link.Parity, stopBits};
        if (Applied && wanted == Last) {
            // Setting a USB adapter costs a round trip to it; dropping what
            // a late reply left does not.
            Port.DropInput();
            return;
        }
        Applied = Port.Configure(link.BaudRate, 8, link.Parity, stopBits);
        Last = wanted;
    }

    void Quiet(platform::Wake& wake, uint32_t quietMs, const std::atomic<int32_t>& timedOut) override {
        if (quietMs == 0 || !Port.IsOpen()) return;
        uint8_t dropped[256];
        for (;;) {
            if (timedOut.load(std::memory_order_acquire) != 0) return;
            const SerialPort::WaitResult seen = Port.WaitForInput(wake, static_cast<int>(quietMs));
            if (seen.readable) {
                while (Port.Read(dropped, sizeof dropped) > 0) {
                }
            } else if (!seen.woken) {
                return; // silent long enough, or a hung-up line that brings nothing more
            }
        }
    }

    void Send(const uint8_t* frame, size_t n, std::vector<uint8_t>& wire) override {
        wire.assign(frame, frame + n);
        Port.Write(frame, n);
    }

    size_t Read(uint8_t* frame, size_t room, bool hinted, std::vector<uint8_t>& wire) override {
        size_t got = 0;
        while (got < room) {
            const size_t waiting = Port.InputCount();
            // Some drivers report readiness before the count catches up: then try a read anyway.
            const size_t want = waiting > 0 ? std::min(waiting, room - got) : (hinted ? room - got : 0);
            if (want == 0) break;
            const size_t n = Port.Read(frame + got, want);
            if (n == 0) break;
            wire.insert(wire.end(), frame + got, frame + got + n);
            got += n;
            hinted = false;
        }
        return got;
    }

    WaitResult WaitForInput(platform::Wake& wake, int timeoutMs) override {
        const SerialPort::WaitResult seen = Port.WaitForInput(wake, timeoutMs);
        return {seen.woken, seen.readable && !Port.Broken(), seen.hungUp || Port.Broken()};
    }

private:
    struct Format {
        uint32_t baud = 0;
        uint8_t parity = 0, stopBits = 0;
        bool operator==(const Format&) const = default;
    };
    std::string Name;
    SerialPort Port;
    std::string Problem;
    bool Applied = false;
    Format Last;
};
} // namespace

std::unique_ptr<Line> MakeSerialLine(const std::string& portName) {
    return std::make_unique<SerialLine>(portName);
}

} // namespace modbus
