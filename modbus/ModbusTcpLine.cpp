// MODBUS TCP: each request goes out behind an MBAP header (transaction id,
// protocol 0, length, the meter's address as unit id) without its CRC. A
// reply belongs to the request whose transaction id it carries; one that
// answers an earlier request, given up on, is dropped whole. The worker gets
// the reply as an RTU frame (unit id, PDU, CRC made here) so that one verdict
// judges every line, and the trace gets the bytes as they came.
#include "modbus/TcpLine.h"

#include <algorithm>

namespace modbus {

namespace {
constexpr size_t kMbapLength = 7;     // transaction id, protocol id, length, unit id
constexpr size_t kMaxFollowing = 254; // unit id and the longest PDU

class ModbusTcpLine final : public TcpLine {
public:
    using TcpLine::TcpLine;

    void Quiet(platform::Wake&, std::chrono::microseconds, const std::atomic<int32_t>&) override {
        // The transaction id tells a late reply from this one: no silence needed.
    }

    void Send(const uint8_t* frame, size_t n, std::vector<uint8_t>& wire) override {
        ++Id;
        const size_t pdu = n >= 3 ? n - 3 : 0; // without address and CRC
        const size_t following = pdu + 1;
        wire = {static_cast<uint8_t>(Id >> 8),        static_cast<uint8_t>(Id),        0,       0,
                static_cast<uint8_t>(following >> 8), static_cast<uint8_t>(following), frame[0]};
        wire.insert(wire.end(), frame + 1, frame + 1 + pdu);
        Shown = 0;
        SendAll(wire.data(), wire.size());
    }

    size_t Read(uint8_t* frame, size_t room, bool, std::vector<uint8_t>& wire) override {
        uint8_t bytes[512];
        for (size_t n; (n = Receive(bytes, sizeof bytes)) > 0;) Stream.insert(Stream.end(), bytes, bytes + n);
        return Take(frame, room, wire);
    }

protected:
    void Stale(const uint8_t* bytes, size_t n) override { Stream.insert(Stream.end(), bytes, bytes + n); }
    void Fresh() override {
        Stream.clear();
        Shown = 0;
    }

private:
    uint16_t Following() const { return static_cast<uint16_t>(Stream[4] << 8 | Stream[5]); }
    uint16_t StreamId() const { return static_cast<uint16_t>(Stream[0] << 8 | Stream[1]); }

    // Drops whole frames of other transactions; shows the bytes of this
    // one's as they come and hands it over, as an RTU frame, once whole.
    size_t Take(uint8_t* frame, size_t room, std::vector<uint8_t>& wire) {
        while (Stream.size() >= kMbapLength) {
            const size_t following = Following();
            if (Stream[2] != 0 || Stream[3] != 0 || following < 2 || following > kMaxFollowing) {
                // Not MODBUS TCP: nothing after it can be framed, so show it
                // and start anew with the next connection.
                wire.insert(wire.end(), Stream.begin() + static_cast<std::ptrdiff_t>(Shown), Stream.end());
                Stream.clear();
                Shown = 0;
                Close();
                return 0;
            }
            const size_t whole = 6 + following;
            if (StreamId() != Id) {
                if (Stream.size() < whole) return 0;
                Stream.erase(Stream.begin(), Stream.begin() + static_cast<std::ptrdiff_t>(whole));
                continue;
            }
            const size_t upTo = std::min(whole, Stream.size());
            wire.insert(wire.end(), Stream.begin() + static_cast<std::ptrdiff_t>(Shown),
                        Stream.begin() + static_cast<std::ptrdiff_t>(upTo));
            Shown = upTo;
            if (Stream.size() < whole) return 0;
            // Unit id and PDU, then the CRC the verdict checks.
            const size_t length = std::min(following + 2, room);
            std::copy_n(Stream.begin() + 6, std::min(following, room), frame);
            if (following + 2 <= room) AppendCrc(frame, following);
            Stream.erase(Stream.begin(), Stream.begin() + static_cast<std::ptrdiff_t>(whole));
            Shown = 0;
            ++Id; // a second reply with the same id is not taken either
            return length;
        }
        return 0;
    }

    uint16_t Id = 0;
    std::vector<uint8_t> Stream; // received, not yet taken
    size_t Shown = 0;            // bytes of the frame at its front already traced
};
} // namespace

std::unique_ptr<Line> MakeModbusTcpLine(const PortAddress& address) {
    return std::make_unique<ModbusTcpLine>(address);
}

} // namespace modbus
