// The Windows window under Wine against the Linux window, both the whole
// window offscreen (window_run): the whole archive (4 x 3225 records) from
// the wire-timed simulator at 115200 bit/s with pacing off, each against the
// wire limit (request 12 + reply 29 characters of 11 bits per record), and
// the download's own time that the window prints; then the CPU share of
// each while connected at the defaults and while only shown. For Wine the
// CPU counts every process of its prefix (the wineserver among them).
// Usage: bench_monitor_wine [RECORDS]   (needs wine and the mingw-gui build)
#include "bench/WineRun.h"
#include "bench/WireSim.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kBaud = 115200;

struct Window {
    const char* name;
    std::vector<std::string> program;
    std::vector<std::string> env;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The run with the prefix's other processes counted in; its output in log.
WineRun Measure(const Window& w, const std::vector<std::string>& mode, const std::string& dir,
                const winetest::WinePrefix& prefix, const std::string& log) {
    std::vector<std::string> args = w.program;
    args.insert(args.end(), mode.begin(), mode.end());
    std::filesystem::remove(log);
    const double before = prefix.CpuSeconds();
    WineRun run = StartAndWait(args, w.env, dir, log);
    run.cpu += prefix.CpuSeconds() - before;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : vqtsim::kArchiveSlots;
    const std::string exe = std::string(VQT_WINDOWS_BIN) + "/window_run.exe";
    if (winetest::FindWine().empty() || !std::filesystem::exists(exe)) {
        std::fprintf(stderr, "needs wine and %s (cmake --build --preset mingw-gui)\n", exe.c_str());
        return 1;
    }
    const std::string dir = BenchFolder("bench_monitor_wine");
    winetest::WinePrefix prefix(dir + "/prefix", dir + "/COM1");
    if (const std::string error = prefix.Start(); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> hostEnv = HostEnvironment();
    hostEnv.push_back("QT_QPA_PLATFORM=offscreen");
    // Wine hands the program no QT_QPA_PLATFORM: the platform as an argument.
    const Window windows[] = {
        {"Linux window", {VQT_LINUX_WINDOW_RUN}, hostEnv},
        {"Windows window under Wine", {"wine", exe, "-platform", "offscreen"}, prefix.Environment()}};
    auto sim = StartWireSim(dir, kBaud, records);
    const std::string log = dir + "/run.log";
    bool ok = true;

    std::printf("whole archive at %u bit/s, pacing off:\n", kBaud);
    for (const Window& w : windows) {
        const uint64_t before = sim->RequestsSeen();
        const WineRun run = Measure(w, {"export", "bench.csv", std::to_string(kBaud)}, dir, prefix, log);
        const auto requests = static_cast<double>(sim->RequestsSeen() - before);
        const double limit = requests * (12 + 29) * 11 / kBaud;
        double download = 0;
        size_t lines = 0;
        // window_run's line "SECONDS LINES", among whatever Qt says besides.
        std::istringstream output(Slurp(log));
        for (std::string line; std::getline(output, line) && lines == 0;) {
            std::istringstream words(line);
            std::string rest;
            if (!(words >> download >> lines) || words >> rest) download = 0, lines = 0;
        }
        std::printf("  %-26s exit %d, %zu records, %.0f requests; download %.1f s (ratio %.2f to the wire "
                    "limit %.1f s), with start and end %.1f s; CPU %.1f s\n",
                    w.name, run.code, lines, requests, download, download / limit, limit, run.seconds,
                    run.cpu);
        std::filesystem::remove(dir + "/bench.csv");
        ok = ok && run.code == 0 && download > 0;
    }

    // window_run polls at the window's defaults: 9600 bit/s, 1000 ms.
    sim.reset();
    sim = StartWireSim(dir, 9600, 100);
    std::printf("CPU share (net: a 35 s run less a 5 s one, so without the start and the end):\n");
    for (const char* mode : {"poll", "idle"})
        for (const Window& w : windows) {
            WineRun runs[2];
            const char* seconds[2] = {"5", "35"};
            for (int i = 0; i < 2; ++i) {
                runs[i] = Measure(w, {mode, seconds[i]}, dir, prefix, log);
                ok = ok && runs[i].code == 0;
            }
            std::printf("  %-4s %-26s %.2f %% of one core\n", mode, w.name,
                        100 * (runs[1].cpu - runs[0].cpu) / (runs[1].seconds - runs[0].seconds));
        }
    sim->Stop();
    prefix.Stop();
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
