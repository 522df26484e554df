// The simulator's serving state and thread: framing, wire timing and fault
// injection, on a pty, a device or a gateway's TCP connection. Its own
// header so that the program's face (Line.cpp) and its accessors
// (Accessors.cpp) stay files of a readable size; used by those two alone.
#pragma once

#include "sim/Gateway.h"
#include "sim/LineRules.h"
#include "sim/Meter.h"
#include "sim/Port.h"
#include "sim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vqtsim {
namespace serving {

using Clock = std::chrono::steady_clock;

constexpr int kMaxFrame = 256;
constexpr int kReopenMs = 1000;        // pause before reopening a lost serial device
constexpr int kPtyHangupPauseMs = 100; // a hung-up pty must not make the thread spin
constexpr int kGatewayTimeoutMs = 50; // a gateway's wait for a unit nobody has, after the request's wire time
constexpr uint8_t kTargetFailed = 0x0B; // exception: gateway target device failed to respond

inline std::string SysError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

inline int MsUntil(Clock::time_point t) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000000));
}

inline bool CrcOk(const std::vector<uint8_t>& buf, size_t n) {
    if (n < 4) return false;
    const uint16_t crc = SimCrc(buf.data(), n - 2);
    return buf[n - 2] == (crc & 0xFF) && buf[n - 1] == (crc >> 8);
}

// One meter on the line, with its own counters.
struct Slave {
    Slave(const Options& options, uint8_t at, bool first) : address(at), meter(options, at, first) {
        for (const SilentSpell& s : options.silences)
            if (s.address == at) spells.push_back(s);
    }

    bool Silent(Clock::time_point started, Clock::time_point now) const {
        if (silent) return true;
        const double t = std::chrono::duration<double>(now - started).count();
        return std::any_of(spells.begin(), spells.end(), [t](const SilentSpell& s) {
            return t >= s.after && (s.duration <= 0 || t < s.after + s.duration);
        });
    }

    const uint8_t address;
    Meter meter;
    std::vector<SilentSpell> spells;
    std::atomic<bool> silent{false};       // by SetSilent
    std::atomic<uint64_t> requestsSeen{0}; // complete frames addressed to it
    std::atomic<uint64_t> repliesSent{0};
    std::atomic<uint64_t> writesApplied{0};
};

// What the faults make of one request, drawn under the fault mutex.
struct Turn {
    Fault fault;
    int code;
    int delayMs;
    bool timing;
    bool drop;
};

enum class Mode { Line, RtuTcp, ModbusTcp };

inline Mode ModeOf(const Options& o) {
    return o.rtuTcpPort != 0 ? Mode::RtuTcp : o.modbusTcpPort != 0 ? Mode::ModbusTcp : Mode::Line;
}

} // namespace serving

using namespace serving;

struct Simulator::Impl {
    explicit Impl(Options o)
        : options(std::move(o)),
          addresses(options.addresses.empty() ? std::vector<uint8_t>{options.address} : options.addresses),
          mode(ModeOf(options)), dropRng(options.seed), wireTiming(options.wireTiming),
          dropAfter(std::max(0, options.dropAfter)) {
        for (size_t i = 0; i < addresses.size(); ++i)
            slaves.push_back(std::make_unique<Slave>(options, addresses[i], i == 0));
    }

    const Options options;
    const std::vector<uint8_t> addresses;
    const Mode mode;
    std::vector<std::unique_ptr<Slave>> slaves; // in the order of addresses
    std::function<void(const TrafficEvent&)> log;

    // Fault injection, changed from any thread.
    mutable std::mutex faultMutex;
    Fault fault = Fault::None;
    int faultCode = 0;
    int faultDelayMs = 0;
    double dropProbability = 0;
    double faultShare = 1; // of the requests that get the fault
    std::mt19937 dropRng;
    bool wireTiming;
    std::atomic<int> dropAfter;
    std::atomic<uint64_t> connectionsAccepted{0};

    Slave* Find(uint8_t address) const {
        for (const auto& s : slaves)
            if (s->address == address) return s.get();
        return nullptr;
    }

    // The line. Set up by Start(), used only by the serving thread while it
    // runs, torn down by Stop() after the thread has ended.
    std::thread server;
    Clock::time_point started; // the silent spells count from here
    Port port;
    Listener listener;
    int connectionRequests = 0; // requests the client's connection has brought
    std::string closing;        // why the client's connection ends once its bytes are dealt with
    int wake = -1;              // eventfd written by Stop()
    bool ioPaused = false;
    bool hungUp = false; // logged once until data flows again
    Clock::time_point resumeAt;
    std::string error;
    std::vector<uint8_t> pending;   // bytes received, not yet framed (RTU frames or ADUs)
    std::vector<uint8_t> discarded; // bytes dropped as noise, not yet logged
    bool discardedBadCrc = false;
    Clock::time_point lastByte;

    void CloseAll() {
        port.CloseAll();
        listener.CloseAll();
        closing.clear();
        if (wake >= 0) close(wake);
        wake = -1;
        ioPaused = false;
        pending.clear();
        discarded.clear();
    }

    // --- serving ---

    void Log(std::vector<uint8_t> request, std::vector<uint8_t> answer, std::string note) {
        if (log) log(TrafficEvent{std::move(request), std::move(answer), std::move(note)});
    }

    // Waits that long or until Stop(); true when stopping. To the
    // microsecond, as the wire time it stands for.
    bool WaitForStop(std::chrono::microseconds wait) const {
        const auto until = Clock::now() + wait;
        for (;;) {
            const auto left = std::max(Clock::duration::zero(), until - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            const timespec t{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            pollfd p{wake, POLLIN, 0};
            const int r = ppoll(&p, 1, &t, nullptr);
            if (r > 0) return true;
            if (r == 0) return false;
            if (errno != EINTR) return true;
        }
    }

    // What the master set on its side of the pty, against the meter's own.
    LineMatch MasterLine() const {
        termios t{};
        if (!options.strictLine || !port.MasterSettings(t)) return LineMatch::Same;
        return CompareLine(t, options.baudRate, options.parity);
    }

    Turn NextTurn() {
        std::lock_guard lock(faultMutex);
        Turn t{fault, faultCode, std::max(0, faultDelayMs), wireTiming, false};
        t.drop = dropProbability > 0 && static_cast<double>(dropRng()) / 4294967296.0 < dropProbability;
        if (t.fault != Fault::None && faultShare < 1 &&
            static_cast<double>(dropRng()) / 4294967296.0 >= faultShare)
            t.fault = Fault::None;
        return t;
    }

    // The answer as the faults and the line make it; empty for none.
    std::vector<uint8_t> Compose(const std::vector<uint8_t>& frame, Slave& slave, const Turn& t,
                                 LineMatch line) {
        std::vector<uint8_t> answer;
        if (t.fault == Fault::Exception) {
            answer = {frame[0], static_cast<uint8_t>(frame[1] | 0x80), static_cast<uint8_t>(t.code)};
            const uint16_t crc = SimCrc(answer.data(), answer.size());
            answer.push_back(static_cast<uint8_t>(crc & 0xFF));
            answer.push_back(static_cast<uint8_t>(crc >> 8));
        } else {
            bool wrote = false;
            answer = slave.meter.Answer(frame, wrote);
            if (wrote) ++slave.writesApplied;
        }
        if (answer.empty()) return answer;
        if (t.fault == Fault::BadCrc) answer.back() ^= 0xFF;
        Misframe(answer, t.fault, t.code);
        if (line == LineMatch::OtherParity) GarbleAnswer(answer);
        return answer;
    }

    // Whether an answer can still reach the master.
    bool Listening() {
        if (mode != Mode::Line) return listener.Client() >= 0;
        port.TrackOpeners();
        return port.Listening();
    }

    bool Write(const uint8_t* data, size_t n) {
        if (mode == Mode::Line) return port.WriteAll(data, n, wake);
        if (listener.SendAll(data, n, wake)) return true;
        if (closing.empty()) closing = "connection closed: the answer was not taken";
        return false;
    }

    // Sends the answer, counted as the slave's (none: the gateway's own), in
    // two parts splitMs apart when splitMs >= 0.
    void Deliver(const std::vector<uint8_t>& request, const std::vector<uint8_t>& answer, Slave* slave,
                 int splitMs) {
        if (slave) ++slave->repliesSent; // before the bytes go out, so whoever reads them sees the count
        if (!Listening()) return Log(request, answer, "port closed, answer lost");
        bool ok = true;
        if (splitMs >= 0 && answer.size() > 5) {
            ok = Write(answer.data(), 5);
            if (ok && WaitForStop(std::chrono::milliseconds(splitMs))) return;
            if (ok && Listening()) ok = Write(answer.data() + 5, answer.size() - 5);
        } else {
            ok = Write(answer.data(), answer.size());
        }
        Log(request, answer, ok ? "" : "answer not taken by the line");
    }

    // MODBUS TCP to a unit id nobody has: exception 0x0B once a gateway
    // would have given up waiting.
    void NoTarget(const std::vector<uint8_t>& adu, size_t frameSize) {
        bool timing = false;
        {
            std::lock_guard lock(faultMutex);
            timing = wireTiming;
        }
        if (WaitForStop(timing ? WireTime(frameSize, options.baudRate) +
                                     std::chrono::milliseconds(kGatewayTimeoutMs)
                               : std::chrono::microseconds(0)))
            return;
        const uint8_t function = adu.size() > kMbapHeader ? adu[kMbapHeader] : 0;
        Deliver(adu, MbapAnswer(adu, adu[6], {static_cast<uint8_t>(function | 0x80), kTargetFailed}), nullptr,
                -1);
    }

    // One request as an RTU frame (CRC checked); through MODBUS TCP `adu` is
    // the request as it came, and the answer is made an ADU the same way.
    void Handle(const std::vector<uint8_t>& frame, const std::vector<uint8_t>* adu = nullptr) {
        const std::vector<uint8_t>& request = adu ? *adu : frame;
        Slave* slave = Find(frame[0]);
        if (!slave && adu && frame[0] != 0) return NoTarget(*adu, frame.size());
        if (!slave) return Log(request, {}, "other address");
        const LineMatch line = MasterLine();
        if (line == LineMatch::OtherSpeed)
            return Log(request, {}, "another speed: the request is noise to the meter");
        ++slave->requestsSeen;
        if (slave->Silent(started, Clock::now())) return Log(request, {}, "meter silent");

        const Turn t = NextTurn();
        if (t.drop) return Log(request, {}, "dropped");
        if (t.fault == Fault::Silence) return Log(request, {}, "silence");
        std::vector<uint8_t> answer = Compose(frame, *slave, t, line);
        if (answer.empty()) return Log(request, {}, "not a request");
        const size_t noise =
            t.fault == Fault::TrailingNoise ? static_cast<size_t>(std::clamp(t.code, 0, kMaxFrame)) : 0;

        std::chrono::microseconds wait{0};
        if (t.timing) wait = WireTime(frame.size() + answer.size() + noise, options.baudRate);
        if (t.fault == Fault::Late) wait += std::chrono::milliseconds(t.delayMs);
        // The gateway passes on the meter's PDU under the meter's address; a
        // damaged answer it does not pass on, but reports the meter failed.
        if (adu && t.fault == Fault::BadCrc)
            answer = MbapAnswer(*adu, frame[0], {static_cast<uint8_t>(frame[1] | 0x80), kTargetFailed});
        else if (adu)
            answer = MbapAnswer(*adu, answer[0], std::vector<uint8_t>(answer.begin() + 1, answer.end() - 2));
        answer.insert(answer.end(), noise, 0x55);
        if (WaitForStop(wait)) return;
        Deliver(request, answer, slave, t.fault == Fault::Split ? t.delayMs : -1);
    }

    // A request taken off the line or the connection; through TCP, the
    // connection ends after the dropAfter-th.
    void Take(const std::vector<uint8_t>& frame, const std::vector<uint8_t>* adu = nullptr) {
        Handle(frame, adu);
        if (listener.Client() < 0) return;
        const int limit = dropAfter;
        if (++connectionRequests >= limit && limit > 0 && closing.empty())
            closing = "connection dropped after " + std::to_string(connectionRequests) + " requests";
    }

    void DropFirst() {
        discarded.push_back(pending.front());
        pending.erase(pending.begin());
    }

    void FlushDiscarded() {
        if (discarded.empty()) return;
        Log(std::move(discarded), {}, discardedBadCrc ? "discarded (bad CRC)" : "discarded");
        discarded.clear();
        discardedBadCrc = false;
    }

    // A frame for one of our meters with a function we do not know: its length is unknown,
    // so only the silence after it can end it.
    bool UnknownFunctionStart() const {
        if (pending.size() < 2 || pending.size() > kMaxFrame || !Find(pending[0])) return false;
        const uint8_t fn = pending[1];
        return fn >= 1 && fn < 0x80 && fn != 0x03 && fn != 0x10 && fn != 0x14;
    }

    // Frames by length; bytes that cannot start one, and frames with a bad
    // CRC, are dropped one byte at a time so that a real frame behind them is
    // still found.
    void ProcessPending() {
        while (!pending.empty() && closing.empty()) {
            const int len = RequestLength(pending.data(), pending.size());
            if (len == 0) return;
            if (len < 0) {
                if (UnknownFunctionStart()) return;
                DropFirst();
                continue;
            }
            if (!CrcOk(pending, static_cast<size_t>(len))) {
                discardedBadCrc = true;
                DropFirst();
                continue;
            }
            std::vector<uint8_t> frame(pending.begin(), pending.begin() + len);
            pending.erase(pending.begin(), pending.begin() + len);
            FlushDiscarded();
            Take(frame);
        }
        FlushDiscarded();
    }

    // MODBUS TCP: ADUs by their length; a header no client sends ends the connection.
    void ProcessAdus() {
        while (closing.empty()) {
            const int len = AduLength(pending.data(), pending.size());
            if (len == 0) return;
            if (len < 0) {
                closing = "connection closed: not a MODBUS TCP header";
                return;
            }
            const std::vector<uint8_t> adu(pending.begin(), pending.begin() + len);
            pending.erase(pending.begin(), pending.begin() + len);
            Take(AduToRtu(adu), &adu);
        }
    }

    // The line has been quiet for the inter-frame gap with bytes still pending.
    void EndOfSilence() {
        while (!pending.empty() && closing.empty()) {
            if (UnknownFunctionStart() && CrcOk(pending, pending.size())) {
                const std::vector<uint8_t> frame = std::move(pending);
                pending.clear();
                FlushDiscarded();
                Take(frame);
                break;
            }
            DropFirst();
            ProcessPending();
        }
        FlushDiscarded();
    }

    void LineLost() {
        pending.clear();
        FlushDiscarded();
        ioPaused = true;
        if (!options.device.empty()) {
            port.CloseIo();
            Log({}, {}, "device lost, reopening");
            resumeAt = Clock::now() + std::chrono::milliseconds(kReopenMs);
        } else {
            if (!hungUp) Log({}, {}, "pty hung up");
            hungUp = true;
            resumeAt = Clock::now() + std::chrono::milliseconds(kPtyHangupPauseMs);
        }
    }

    void Resume() {
        if (!options.device.empty()) {
            if (!port.OpenDevice(options.device, options.baudRate, options.parity)) {
                resumeAt = Clock::now() + std::chrono::milliseconds(kReopenMs);
                return;
            }
            Log({}, {}, "device reopened");
        }
        ioPaused = false;
    }

    // The silence that ends an RTU frame: 3.5 characters + 10 ms.
    std::chrono::microseconds Gap() const {
        return std::chrono::microseconds(static_cast<int64_t>(3.5 * 11.0 * 1e6 / options.baudRate) + 10000);
    }

    void Accept() {
        std::string peer;
        if (!listener.Accept(peer)) {
            // Out of descriptors, say: the backlog stays readable, so pause rather than spin.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR)
                WaitForStop(std::chrono::milliseconds(kPtyHangupPauseMs));
            return;
        }
        ++connectionsAccepted;
        connectionRequests = 0;
        Log({}, {}, "connection from " + peer);
    }

    void EndConnection() {
        listener.CloseClient();
        FlushDiscarded();
        if (!pending.empty()) Log(std::move(pending), {}, "discarded (connection ended)");
        pending.clear();
        Log({}, {}, closing);
        closing.clear();
    }

    // The gateway: one client at a time; the next waits in the backlog.
    void ServeTcp() {
        const auto gap = Gap();
        uint8_t chunk[512];
        for (;;) {
            const int client = listener.Client();
            pollfd fds[2] = {{wake, POLLIN, 0}, {client >= 0 ? client : listener.Fd(), POLLIN, 0}};
            const bool framing = mode == Mode::RtuTcp && client >= 0 && !pending.empty();
            const int r = poll(fds, 2, framing ? MsUntil(lastByte + gap) : -1);
            if (r < 0) {
                if (errno == EINTR) continue;
                Log({}, {}, SysError("poll failed, serving stopped"));
                return;
            }
            if (fds[0].revents) return;
            if (client < 0) {
                if (fds[1].revents) Accept();
                continue;
            }
            if (fds[1].revents) {
                const ssize_t n = recv(client, chunk, sizeof chunk, 0);
                if (n > 0) {
                    pending.insert(pending.end(), chunk, chunk + n);
                    lastByte = Clock::now();
                    if (mode == Mode::RtuTcp)
                        ProcessPending();
                    else
                        ProcessAdus();
                } else if ((n == 0 || (errno != EAGAIN && errno != EINTR)) && closing.empty()) {
                    closing = "connection closed by the client";
                }
            } else if (r == 0 && framing) {
                EndOfSilence();
            }
            if (!closing.empty()) EndConnection();
        }
    }

    void Serve() {
        if (mode != Mode::Line) return ServeTcp();
        const auto gap = Gap();
        uint8_t chunk[512];
        for (;;) {
            pollfd fds[3];
            nfds_t count = 0;
            fds[count++] = {wake, POLLIN, 0};
            const int watchSlot = port.WatchFd() >= 0 ? static_cast<int>(count++) : -1;
            if (watchSlot >= 0) fds[watchSlot] = {port.WatchFd(), POLLIN, 0};
            const int ioSlot = ioPaused ? -1 : static_cast<int>(count++);
            if (ioSlot >= 0) fds[ioSlot] = {port.Fd(), POLLIN, 0};

            int timeout = -1;
            if (ioPaused)
                timeout = MsUntil(resumeAt);
            else if (!pending.empty())
                timeout = MsUntil(lastByte + gap);

            const int r = poll(fds, count, timeout);
            if (r < 0) {
                if (errno == EINTR) continue;
                Log({}, {}, SysError("poll failed, serving stopped"));
                return;
            }
            if (fds[0].revents) return;
            if (watchSlot >= 0 && fds[watchSlot].revents) port.TrackOpeners();

            if (ioPaused) {
                if (Clock::now() >= resumeAt) Resume();
                continue;
            }
            const short ev = fds[ioSlot].revents;
            if (ev & POLLIN) {
                const ssize_t n = read(port.Fd(), chunk, sizeof chunk);
                if (n > 0) {
                    hungUp = false;
                    pending.insert(pending.end(), chunk, chunk + n);
                    lastByte = Clock::now();
                    ProcessPending();
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    LineLost();
                }
            } else if (ev & (POLLHUP | POLLERR | POLLNVAL)) {
                LineLost();
            } else if (r == 0 && !pending.empty()) {
                EndOfSilence();
            }
        }
    }
};

} // namespace vqtsim
