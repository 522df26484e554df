// Several meters on one line: the round time of LineCycle with real workers
// against the wire-timed simulator, for 3 and 20 meters at 115200 and 9600
// bit/s, against the wire limit of the same round (each read's request and
// reply at 11 bits a character, plus a 3.5-character silence before each
// frame), with all meters answering and with one silent; and the CPU the
// process uses per meter and hour while it reads.
#include "core/LineCycle.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "modbus/Worker.h"
#include "sim/Simulator.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Wakes the loop when a transaction is done; the cycle names the rest.
struct Waker {
    std::mutex m;
    std::condition_variable cv;
    bool woken = false;
    void Notify() {
        std::lock_guard l(m);
        woken = true;
        cv.notify_all();
    }
    void WaitUntil(std::optional<int64_t> due) {
        std::unique_lock l(m);
        if (!due) return;
        cv.wait_for(l, std::chrono::milliseconds(std::max<int64_t>(0, *due - NowMs())),
                    [&] { return woken; });
        woken = false;
    }
};

struct View final : core::LineView {
    Waker& wake;
    int64_t reads = 0, failed = 0;
    explicit View(Waker& w) : wake(w) {}
    int64_t NowMs() override { return ::NowMs(); }
    std::function<void()> CompletionNotifier() override {
        return [this] { wake.Notify(); };
    }
    void ShowReading(uint8_t, const model::MeterReading&, const model::ReadingInUnits&) override { ++reads; }
    void ReadFailed(uint8_t, const std::string&) override { ++failed; }
};

void Measure(const std::string& folder, uint32_t baud, int meters, bool oneSilent, int rounds) {
    vqtsim::Options o;
    o.linkDir = folder;
    o.baudRate = baud;
    for (int a = 1; a <= meters; ++a) o.addresses.push_back(static_cast<uint8_t>(a));
    vqtsim::Simulator sim(o);
    if (!sim.Start()) {
        std::fprintf(stderr, "simulator: %s\n", sim.Error().c_str());
        std::exit(1);
    }
    if (oneSilent) sim.SetSilent(static_cast<uint8_t>(meters), true);
    modbus::LinkSettings link;
    link.PortName = folder + "/COM1";
    link.BaudRate = baud;
    link.TimeoutMs = 200;
    Waker wake;
    View view(wake);
    // As the tool runs it: the port kept open for the whole run.
    modbus::Link::Options kept;
    kept.KeepSerialOpen = true;
    modbus::Link wire(kept);
    core::LineCycle line(wire.Factory(), view, link, o.addresses, 0); // rounds back to back
    line.Start();
    // Counted from the end of the first round: it opens with a time-out's
    // silence (a reply to an earlier run may still come), once per start.
    const auto runRounds = [&](int upTo) {
        while (line.Rounds() < upTo) {
            wake.WaitUntil(line.NextWakeMs());
            line.Wake();
        }
    };
    runRounds(1);
    const double cpu0 = CpuSeconds();
    const int64_t start = NowMs();
    runRounds(rounds + 1);
    const double seconds = double(NowMs() - start) / 1000.0;
    const double cpu = CpuSeconds() - cpu0;
    line.Stop();
    wire.WaitForWorkers();
    // The wire: request 8 and reply 59 characters of 11 bits, a 3.5-character silence before each.
    const double readWire = (8 + 59 + 2 * 3.5) * 11.0 / baud;
    const int answering = oneSilent ? meters - 1 : meters;
    const double round = seconds / rounds;
    const double limit = answering * readWire;
    std::printf("%6u bit/s %3d meters%s: round %7.1f ms, wire limit %7.1f ms, ratio %.2f; "
                "CPU %.1f s per meter and hour\n",
                baud, meters, oneSilent ? " (one silent, 200 ms time-out)" : "               ", round * 1000,
                limit * 1000, round / limit, cpu / seconds * 3600 / meters);
}

} // namespace

int main() {
    const std::string folder = std::filesystem::temp_directory_path() / "vqt540-bench-line";
    std::filesystem::create_directories(folder);
    for (const uint32_t baud : {115200u, 9600u})
        for (const int meters : {3, 20})
            for (const bool silent : {false, true})
                Measure(folder, baud, meters, silent, baud == 9600 ? 10 : 40);
    std::filesystem::remove_all(folder);
}
