// The Windows tool under Wine against the Linux tool: the whole archive
// (4 x 3225 records) from the wire-timed simulator at 115200 bit/s with
// pacing off, each against the wire limit (request 12 + reply 29 characters
// of 11 bits per record); then the CPU share of each while it waits for a
// silent meter (read --timeout 10000). For Wine the CPU time counts the
// tool's process and every other process of its prefix (the wineserver and
// Wine's services), over the wall time.
// Usage: bench_cli_wine [RECORDS]   (needs wine and the mingw preset's vqt540.exe)
#include "bench/WineRun.h"
#include "bench/WireSim.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kBaud = 115200;

size_t Lines(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t lines = 0;
    for (size_t at = content.find("\r\n"); at != std::string::npos; at = content.find("\r\n", at + 2))
        ++lines;
    return lines > 0 ? lines - 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : vqtsim::kArchiveSlots;
    if (winetest::FindWine().empty() || !std::filesystem::exists(VQT_WINDOWS_TOOL)) {
        std::fprintf(stderr, "needs wine and %s (cmake --build --preset mingw)\n", VQT_WINDOWS_TOOL);
        return 1;
    }
    const std::string dir = BenchFolder("bench_cli_wine");
    winetest::WinePrefix prefix(dir + "/prefix", dir + "/COM1");
    if (const std::string error = prefix.Start(); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::vector<std::string> hostEnv = HostEnvironment();

    const auto sim = StartWireSim(dir, kBaud, records);

    const std::vector<std::string> download{"archive", "--baud", "115200", "--period", "0", "--new"};
    struct Tool {
        const char* name;
        std::vector<std::string> program;
        std::vector<std::string> env;
        std::string file;
    };
    const Tool tools[] = {
        {"Linux tool", {VQT_CLI_PROGRAM}, hostEnv, "linux.csv"},
        {"Windows tool under Wine", {"wine", VQT_WINDOWS_TOOL}, prefix.Environment(), "wine.csv"}};
    bool ok = true;
    std::printf("whole archive at %u bit/s, pacing off:\n", kBaud);
    for (const Tool& tool : tools) {
        std::vector<std::string> args = tool.program;
        args.insert(args.end(), download.begin(), download.end());
        args.push_back(tool.file);
        const uint64_t before = sim->RequestsSeen();
        const double prefixBefore = prefix.CpuSeconds();
        const WineRun run = StartAndWait(args, tool.env, dir);
        const double others = prefix.CpuSeconds() - prefixBefore;
        const auto requests = static_cast<double>(sim->RequestsSeen() - before);
        const double limit = requests * (12 + 29) * 11 / kBaud;
        std::printf("  %-24s exit %d, %zu records, %.0f requests in %.1f s, wire limit %.1f s, ratio %.2f; "
                    "CPU %.1f s\n",
                    tool.name, run.code, Lines(dir + "/" + tool.file), requests, run.seconds, limit,
                    run.seconds / limit, run.cpu + others);
        ok = ok && run.code == 0;
    }

    sim->SetFault(vqtsim::Fault::Silence);
    std::printf("waiting for a silent meter (read --timeout 10000; net: less a read --timeout 20, the "
                "start and the end):\n");
    for (const Tool& tool : tools) {
        WineRun runs[2];
        double cpu[2] = {};
        const char* timeouts[2] = {"20", "10000"};
        for (int i = 0; i < 2; ++i) {
            std::vector<std::string> args = tool.program;
            for (const char* a : {"read", "--baud", "115200", "--timeout", timeouts[i]}) args.push_back(a);
            const double prefixBefore = prefix.CpuSeconds();
            runs[i] = StartAndWait(args, tool.env, dir);
            cpu[i] = runs[i].cpu + prefix.CpuSeconds() - prefixBefore;
            ok = ok && runs[i].code == 3;
        }
        std::printf("  %-24s %.1f s, CPU %.3f s: %.2f %% of one core; net %.2f %%\n", tool.name,
                    runs[1].seconds, cpu[1], 100 * cpu[1] / runs[1].seconds,
                    100 * (cpu[1] - cpu[0]) / (runs[1].seconds - runs[0].seconds));
    }
    sim->Stop();
    prefix.Stop();
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
