// The tool's archive download of the whole archive (4 x 3225 records) from
// the wire-timed simulator at 115200 bit/s with pacing off, against the wire
// limit (request 12 + reply 29 characters of 11 bits per record), and the
// tool's peak memory and CPU time.
// Usage: bench_cli [RECORDS]
#include "bench/WireSim.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    constexpr uint32_t kBaud = 115200;
    const int records = argc > 1 ? std::atoi(argv[1]) : vqtsim::kArchiveSlots;
    char folder[] = "/tmp/bench_cli.XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const auto sim = StartWireSim(folder, kBaud, records);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder) != 0) _exit(127);
        execl(VQT_CLI_PROGRAM, "vqt540", "archive", "--new", "bench.csv", "--baud", "115200", "--period", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        std::perror("vqt540");
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const std::string file = std::string(folder) + "/bench.csv";
    std::ifstream in(file, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t lines = 0;
    for (size_t at = content.find("\r\n"); at != std::string::npos; at = content.find("\r\n", at + 2))
        ++lines;
    const auto requests = static_cast<double>(sim->RequestsSeen());
    const double limit = requests * (12 + 29) * 11 / kBaud;
    std::printf("vqt540 archive --new, whole archive at %u bit/s: exit %d, %zu records, %.0f requests in "
                "%.1f s, wire limit %.1f s, ratio %.2f\n",
                kBaud, WIFEXITED(status) ? WEXITSTATUS(status) : -1, lines > 0 ? lines - 1 : 0, requests,
                seconds, limit, seconds / limit);
    const auto cpu = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    std::printf("peak memory of the tool: %.1f MiB; its CPU time: %.1f s user, %.1f s system\n",
                double(usage.ru_maxrss) / 1024.0, cpu(usage.ru_utime), cpu(usage.ru_stime));
    sim->Stop();
    std::filesystem::remove_all(folder);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
