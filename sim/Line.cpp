// The line side of the simulator: the serving thread, framing, wire timing
// and fault injection. The pty or device is the Port's, what the meter
// answers the Meter's.
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
#include <thread>
#include <unistd.h>

namespace vqtsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxFrame = 256;
constexpr int kReopenMs = 1000;        // pause before reopening a lost serial device
constexpr int kPtyHangupPauseMs = 100; // a hung-up pty must not make the thread spin

std::string SysError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

int MsUntil(Clock::time_point t) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000000));
}

bool CrcOk(const std::vector<uint8_t>& buf, size_t n) {
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

} // namespace

struct Simulator::Impl {
    explicit Impl(Options o)
        : options(std::move(o)),
          addresses(options.addresses.empty() ? std::vector<uint8_t>{options.address} : options.addresses),
          dropRng(options.seed), wireTiming(options.wireTiming) {
        for (size_t i = 0; i < addresses.size(); ++i)
            slaves.push_back(std::make_unique<Slave>(options, addresses[i], i == 0));
    }

    const Options options;
    const std::vector<uint8_t> addresses;
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
    int wake = -1; // eventfd written by Stop()
    bool ioPaused = false;
    bool hungUp = false; // logged once until data flows again
    Clock::time_point resumeAt;
    std::string error;
    std::vector<uint8_t> pending;   // bytes received, not yet framed
    std::vector<uint8_t> discarded; // bytes dropped as noise, not yet logged
    bool discardedBadCrc = false;
    Clock::time_point lastByte;

    void CloseAll() {
        port.CloseAll();
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

    // Waits ms or until Stop(); true when stopping.
    bool WaitForStop(int ms) const {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            pollfd p{wake, POLLIN, 0};
            const int r = poll(&p, 1, MsUntil(until));
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
        if (t.fault == Fault::TrailingNoise)
            answer.insert(answer.end(), static_cast<size_t>(std::clamp(t.code, 0, kMaxFrame)), 0x55);
        return answer;
    }

    void Handle(const std::vector<uint8_t>& frame) {
        Slave* slave = Find(frame[0]);
        if (!slave) return Log(frame, {}, "other address");
        const LineMatch line = MasterLine();
        if (line == LineMatch::OtherSpeed)
            return Log(frame, {}, "another speed: the request is noise to the meter");
        ++slave->requestsSeen;
        if (slave->Silent(started, Clock::now())) return Log(frame, {}, "meter silent");

        const Turn t = NextTurn();
        if (t.drop) return Log(frame, {}, "dropped");
        if (t.fault == Fault::Silence) return Log(frame, {}, "silence");
        const std::vector<uint8_t> answer = Compose(frame, *slave, t, line);
        if (answer.empty()) return Log(frame, {}, "not a request");

        int wait = t.timing ? WireMs(frame.size() + answer.size(), options.baudRate) : 0;
        if (t.fault == Fault::Late) wait += t.delayMs;
        if (WaitForStop(wait)) return;

        port.TrackOpeners();
        ++slave->repliesSent; // before the bytes go out, so whoever reads them sees the count
        if (!port.Listening()) return Log(frame, answer, "port closed, answer lost");
        bool ok = true;
        if (t.fault == Fault::Split && answer.size() > 5) {
            ok = port.WriteAll(answer.data(), 5, wake);
            if (ok && WaitForStop(t.delayMs)) return;
            port.TrackOpeners();
            if (ok && port.Listening()) ok = port.WriteAll(answer.data() + 5, answer.size() - 5, wake);
        } else {
            ok = port.WriteAll(answer.data(), answer.size(), wake);
        }
        Log(frame, answer, ok ? "" : "answer not taken by the line");
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
        while (!pending.empty()) {
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
            Handle(frame);
        }
        FlushDiscarded();
    }

    // The line has been quiet for the inter-frame gap with bytes still pending.
    void EndOfSilence() {
        while (!pending.empty()) {
            if (UnknownFunctionStart() && CrcOk(pending, pending.size())) {
                const std::vector<uint8_t> frame = std::move(pending);
                pending.clear();
                FlushDiscarded();
                Handle(frame);
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

    void Serve() {
        const auto gap = std::chrono::microseconds(static_cast<int64_t>(3.5 * 11.0 * 1e6 / options.baudRate) +
                                                   10000); // 3.5 characters + 10 ms
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

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start() {
    Impl& d = *impl_;
    if (d.server.joinable()) return true;
    d.error.clear();
    for (size_t i = 0; i < d.addresses.size(); ++i) {
        const uint8_t a = d.addresses[i];
        if (a < 1 || a > 247) return d.error = "slave address must be 1..247", false;
        if (std::find(d.addresses.begin(), d.addresses.begin() + static_cast<ptrdiff_t>(i), a) !=
            d.addresses.begin() + static_cast<ptrdiff_t>(i))
            return d.error = "slave address " + std::to_string(a) + " twice on the line", false;
    }
    if (d.options.baudRate == 0) return d.error = "speed must be above 0", false;
    for (const SilentSpell& s : d.options.silences)
        if (!d.Find(s.address))
            return d.error = "no meter at address " + std::to_string(s.address) + " to fall silent", false;
    d.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wake < 0) return d.error = SysError("cannot create an eventfd"), false;
    const Options& o = d.options;
    const bool usePty = o.device.empty();
    if (!(usePty ? d.port.OpenPty(o.baudRate) : d.port.OpenDevice(o.device, o.baudRate, o.parity)) ||
        (usePty && !o.linkDir.empty() && !d.port.CreateLink(o.linkDir, o.linkName))) {
        d.error = d.port.Error();
        d.CloseAll();
        return false;
    }
    d.started = Clock::now();
    d.server = std::thread([&d] { d.Serve(); });
    return true;
}

void Simulator::Stop() {
    Impl& d = *impl_;
    if (!d.server.joinable()) return;
    const uint64_t one = 1;
    if (write(d.wake, &one, sizeof one) < 0) {
        // An eventfd write fails only when its counter would overflow; it is readable then anyway.
    }
    d.server.join();
    d.port.RemoveLink();
    d.CloseAll();
}

const std::string& Simulator::Error() const {
    return impl_->error;
}
const std::string& Simulator::DevicePath() const {
    return impl_->port.DevicePath();
}
const std::string& Simulator::LinkPath() const {
    return impl_->port.LinkPath();
}

void Simulator::SetFault(Fault fault, int code, int delayMs) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->fault = fault;
    impl_->faultCode = code;
    impl_->faultDelayMs = delayMs;
}

void Simulator::SetDropProbability(double p) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->dropProbability = std::isfinite(p) ? std::clamp(p, 0.0, 1.0) : 0.0;
}

void Simulator::SetFaultShare(double share) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->faultShare = std::isfinite(share) ? std::clamp(share, 0.0, 1.0) : 1.0;
}

void Simulator::SetSilent(uint8_t address, bool silent) {
    if (Slave* s = impl_->Find(address)) s->silent = silent;
}

void Simulator::SetWireTiming(bool on) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->wireTiming = on;
}

const std::vector<uint8_t>& Simulator::Addresses() const {
    return impl_->addresses;
}

std::array<uint16_t, 27> Simulator::Registers() const {
    return impl_->slaves.front()->meter.Registers();
}
std::array<uint16_t, 27> Simulator::Registers(uint8_t address) const {
    Slave* s = impl_->Find(address);
    return s ? s->meter.Registers() : std::array<uint16_t, 27>{};
}

void Simulator::SetRegister(int number, uint16_t value) {
    impl_->slaves.front()->meter.SetRegister(number, value);
}
void Simulator::SetRegister(uint8_t address, int number, uint16_t value) {
    if (Slave* s = impl_->Find(address)) s->meter.SetRegister(number, value);
}

void Simulator::SetLive(bool on) {
    for (const auto& s : impl_->slaves) s->meter.SetLive(on);
}

Record Simulator::ArchiveRecord(int file, int index) const {
    return impl_->slaves.front()->meter.ArchiveRecord(file, index);
}
Record Simulator::ArchiveRecord(uint8_t address, int file, int index) const {
    Slave* s = impl_->Find(address);
    return s ? s->meter.ArchiveRecord(file, index) : Record{};
}

uint64_t Simulator::RequestsSeen() const {
    return impl_->slaves.front()->requestsSeen;
}
uint64_t Simulator::RepliesSent() const {
    return impl_->slaves.front()->repliesSent;
}
uint64_t Simulator::WritesApplied() const {
    return impl_->slaves.front()->writesApplied;
}
uint64_t Simulator::RequestsSeen(uint8_t address) const {
    Slave* s = impl_->Find(address);
    return s ? s->requestsSeen.load() : 0;
}
uint64_t Simulator::RepliesSent(uint8_t address) const {
    Slave* s = impl_->Find(address);
    return s ? s->repliesSent.load() : 0;
}
uint64_t Simulator::WritesApplied(uint8_t address) const {
    Slave* s = impl_->Find(address);
    return s ? s->writesApplied.load() : 0;
}

void Simulator::SetTrafficLog(std::function<void(const TrafficEvent&)> log) {
    impl_->log = std::move(log);
}

std::chrono::nanoseconds Simulator::ServingCpuTime() const {
    if (!impl_->server.joinable()) return std::chrono::nanoseconds{0};
    clockid_t id{};
    timespec ts{};
    if (pthread_getcpuclockid(impl_->server.native_handle(), &id) != 0 || clock_gettime(id, &ts) != 0)
        return std::chrono::nanoseconds{0};
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

} // namespace vqtsim
