// RTU frames, CRC and all, through a transparent serial server: the wire
// bytes are the frames, as on the serial line, so a late reply is told from
// this request's only by the silence before it.
#include "modbus/TcpLine.h"
#include "platform/Wake.h"

#include <chrono>

namespace modbus {

namespace {
class RtuOverTcpLine final : public TcpLine {
public:
    using TcpLine::TcpLine;

    // The serial server's own line keeps the gap between frames; what is
    // waited for here is a late reply after a failure.
    void Quiet(platform::Wake& wake, std::chrono::microseconds quiet,
               const std::atomic<int32_t>& timedOut) override {
        const auto quietMs = std::chrono::duration_cast<std::chrono::milliseconds>(quiet).count();
        if (quietMs == 0 || !IsOpen()) return;
        uint8_t dropped[256];
        for (;;) {
            if (timedOut.load(std::memory_order_acquire) != 0) return;
            const WaitResult seen = WaitForInput(wake, static_cast<int>(quietMs));
            if (seen.readable) {
                while (Receive(dropped, sizeof dropped) > 0) {
                }
                if (Gone()) return;
            } else if (!seen.woken) {
                return;
            }
        }
    }

    void Send(const uint8_t* frame, size_t n, std::vector<uint8_t>& wire) override {
        wire.assign(frame, frame + n);
        SendAll(frame, n);
    }

    size_t Read(uint8_t* frame, size_t room, bool, std::vector<uint8_t>& wire) override {
        const size_t got = Receive(frame, room);
        wire.insert(wire.end(), frame, frame + got);
        return got;
    }

protected:
    void Stale(const uint8_t*, size_t) override {} // a reply to a request given up on
};
} // namespace

std::unique_ptr<Line> MakeRtuOverTcpLine(const PortAddress& address) {
    return std::make_unique<RtuOverTcpLine>(address);
}

} // namespace modbus
