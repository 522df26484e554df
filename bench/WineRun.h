// What the Wine benchmarks measure of a program they start: its exit code,
// wall time and CPU time (the process and its children), its output in a log.
#pragma once

#include "tests/cli/WinePrefix.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct WineRun {
    int code = -1;
    double seconds = 0;
    double cpu = 0;
};

// log: where its stdout and stderr go (empty: the caller's).
inline WineRun StartAndWait(const std::vector<std::string>& args, const std::vector<std::string>& env,
                            const std::string& dir, const std::string& log = {}) {
    WineRun run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = winetest::SpawnProcess(args, env, dir, log);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto cpu = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    run.cpu = cpu(usage.ru_utime) + cpu(usage.ru_stime);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The environment this program was started with, for the Linux runs.
inline std::vector<std::string> HostEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    return env;
}

// A fresh folder /tmp/NAME.XXXXXX for a benchmark's prefix, meter and files;
// the benchmark ends when there can be none.
inline std::string BenchFolder(const std::string& name) {
    std::string pattern = "/tmp/" + name + ".XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return pattern;
}
