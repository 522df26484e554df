// A serial port as a line: the bytes on the wire are the RTU frames.
#include "modbus/Line.h"
#include "modbus/SerialPort.h"
#include "platform/Wake.h"

#include <algorithm>
#include <chrono>
#include <thread>

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
            LastHeard = Clock::now();
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
            DropWaiting();
            return;
        }
        Applied = Port.Configure(link.BaudRate, 8, link.Parity, stopBits);
        Last = wanted;
        LastHeard = Clock::now(); // what the setting dropped came unseen
    }

    // Silent this long means since the last byte the line brought, not from
    // now: at a high speed the time spent between a reply and the next
    // request is often the whole of the gap already.
    void Quiet(platform::Wake& wake, std::chrono::microseconds need,
               const std::atomic<int32_t>& timedOut) override {
        if (need.count() == 0 || !Port.IsOpen()) return;
        for (;;) {
            if (timedOut.load(std::memory_order_acquire) != 0) return;
            DropWaiting();
            const auto left = LastHeard + need - Clock::now();
            if (left <= Clock::duration::zero()) return;
            if (left < std::chrono::milliseconds(1)) {
                std::this_thread::sleep_for(left);
                continue;
            }
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left);
            if (Port.WaitForInput(wake, static_cast<int>(ms.count())).hungUp) return;
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
            LastHeard = Clock::now();
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
    using Clock = std::chrono::steady_clock;

    void DropWaiting() {
        uint8_t dropped[256];
        while (Port.InputCount() > 0 && Port.Read(dropped, sizeof dropped) > 0) LastHeard = Clock::now();
    }

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
    Clock::time_point LastHeard; // the last byte the line brought, or when one could have gone unseen
};
} // namespace

std::unique_ptr<Line> MakeSerialLine(const std::string& portName) {
    return std::make_unique<SerialLine>(portName);
}

} // namespace modbus
