// The three ways to a meter (a serial port, RTU frames through a serial
// server, MODBUS TCP through a gateway), measured in one run:
//  1. the tool's whole archive download at 115200 bit/s against the
//     wire-timed simulator, pacing off: the wire limit of the same requests
//     (request 12 + reply 29 characters of 11 bits, a 3.5-character silence
//     before each frame) over the time the tool took, from its start to its
//     exit;
//  2. back-to-back function-03 reads through a modbus::Link that keeps its
//     lines, as the tool does, against the simulator without wire time:
//     what one transaction costs the link itself.
// Usage: bench_gateway [RECORDS [READS]]
#include "modbus/Link.h"
#include "modbus/Transaction.h"
#include "sim/Simulator.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr uint32_t kBaud = 115200;

enum class Way { Serial, RtuOverTcp, ModbusTcp };
constexpr Way kWays[] = {Way::Serial, Way::RtuOverTcp, Way::ModbusTcp};

const char* WayName(Way way) {
    return way == Way::Serial ? "serial" : way == Way::RtuOverTcp ? "rtu+tcp" : "tcp";
}

struct Meter {
    std::unique_ptr<vqtsim::Simulator> sim;
    std::string port; // as the tool names it, run in the folder of the COM1 link
};

Meter StartMeter(Way way, const std::string& folder, bool wireTiming, int records) {
    vqtsim::Options o;
    o.baudRate = kBaud;
    o.wireTiming = wireTiming;
    o.archiveRecords = records;
    if (way == Way::Serial) o.linkDir = folder;
    if (way == Way::RtuOverTcp) o.rtuTcpPort = -1;
    if (way == Way::ModbusTcp) o.modbusTcpPort = -1;
    Meter m{std::make_unique<vqtsim::Simulator>(o), {}};
    if (!m.sim->Start()) {
        std::fprintf(stderr, "simulator (%s): %s\n", WayName(way), m.sim->Error().c_str());
        std::exit(1);
    }
    const std::string at = "127.0.0.1:" + std::to_string(m.sim->TcpPort());
    m.port = way == Way::Serial ? "COM1" : way == Way::RtuOverTcp ? "rtu+tcp://" + at : "tcp://" + at;
    return m;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t CountLines(const std::string& text) {
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
    return lines;
}

// Runs the tool in the folder, its output into files there; its exit code,
// or -1 when it could not start or did not exit by itself.
int RunTool(const std::string& folder, std::vector<std::string> args) {
    args.insert(args.begin(), "vqt540");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, (folder + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&files, 2, (folder + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&files, folder.c_str());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, VQT_CLI_PROGRAM, &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// 1: the tool's download through one way. False when it did not read every record.
bool Download(Way way, const std::string& folder, int records) {
    const Meter m = StartMeter(way, folder, true, records);
    const std::string file = folder + "/archive-" + WayName(way) + ".csv";
    std::filesystem::remove(file); // the tool makes a new export, never over an old one
    const auto start = std::chrono::steady_clock::now();
    const int code = RunTool(folder, {"archive", "--new", file, "--period", "0", "--port", m.port, "--baud",
                                      std::to_string(kBaud)});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t requests = m.sim->RequestsSeen();
    // The export's first line is its heading.
    const size_t lines = CountLines(ReadWhole(file));
    const size_t got = lines > 0 ? lines - 1 : 0;
    const double limit = double(requests) * ((12 + 29) * 11 + 2 * 3.5 * 11) / kBaud;
    std::printf("%-8s %8zu %9llu %9.2f %13.2f %6.3f\n", WayName(way), got,
                static_cast<unsigned long long>(requests), seconds, limit, limit / seconds);
    if (code == 0 && got == size_t(records)) return true;
    std::fprintf(stderr, "%s: exit %d, %zu of %d records\n%s", WayName(way), code, got, records,
                 ReadWhole(folder + "/err.txt").c_str());
    return false;
}

// Waits for each transaction's end on the worker's word, not by asking.
struct Done {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    void Notify() {
        std::lock_guard l(m);
        done = true;
        cv.notify_all();
    }
    bool Wait(std::chrono::milliseconds most) {
        std::unique_lock l(m);
        const bool ended = cv.wait_for(l, most, [this] { return done; });
        done = false;
        return ended;
    }
};

// One function-03 read; true when it succeeded.
bool ReadOnce(modbus::Link& link, const std::string& port, Done& done) {
    modbus::TransactionRequest request;
    request.Link.PortName = port;
    request.Link.BaudRate = kBaud;
    request.Link.DeviceAddress = 1;
    request.Link.TimeoutMs = 1000;
    request.OnDone = [&done] { done.Notify(); };
    const auto t = link.Start(request);
    // Past the worker's own deadline, so that it has ended by itself.
    if (!done.Wait(std::chrono::milliseconds(modbus::WorkerDeadlineMs(request.Link.TimeoutMs) + 1000)))
        return false;
    return t->Done() && t->Result().Succeeded();
}

// 2: reads one after the other through one way. False when any failed.
bool Reads(Way way, const std::string& folder, int count) {
    const Meter m = StartMeter(way, folder, false, 100);
    // The serial link by its whole path: this process stays where it is.
    const std::string port = way == Way::Serial ? m.sim->LinkPath() : m.port;
    modbus::Link::Options kept;
    kept.KeepSerialOpen = true;
    modbus::Link link(kept);
    Done done;
    // The first read opens the port or the connection; the rest are timed.
    const bool opened = ReadOnce(link, port, done);
    int good = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) good += ReadOnce(link, port, done) ? 1 : 0;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    link.WaitForWorkers();
    std::printf("%-8s %5d/%-5d %9.3f %10.0f %9.1f\n", WayName(way), good, count, seconds, count / seconds,
                seconds / count * 1e6);
    if (opened && good == count && m.sim->RepliesSent() == uint64_t(count + 1)) return true;
    std::fprintf(stderr, "%s: first read %s, %d of %d timed reads good, %llu replies sent\n", WayName(way),
                 opened ? "good" : "failed", good, count,
                 static_cast<unsigned long long>(m.sim->RepliesSent()));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : vqtsim::kArchiveSlots;
    const int reads = argc > 2 ? std::atoi(argv[2]) : 2000;
    if (records < 1 || records > vqtsim::kArchiveSlots || reads < 1) {
        std::fprintf(stderr, "usage: bench_gateway [RECORDS 1..%d [READS]]\n", vqtsim::kArchiveSlots);
        return 2;
    }
    char made[] = "/tmp/bench_gateway.XXXXXX";
    if (!mkdtemp(made)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = made;
    bool ok = true;
    std::printf("archive download by vqt540 at %u bit/s, wire-timed simulator, %d records%s\n", kBaud,
                records, records == vqtsim::kArchiveSlots ? " (the whole archive, no end record)" : "");
    std::printf("%-8s %8s %9s %9s %13s %6s\n", "way", "records", "requests", "time [s]", "wire limit [s]",
                "ratio");
    for (const Way way : kWays) ok = Download(way, folder, records) && ok;
    std::printf("\nfunction-03 reads through modbus::Link (lines kept), simulator without wire time\n");
    std::printf("%-8s %11s %9s %10s %9s\n", "way", "good", "time [s]", "reads/s", "us/read");
    for (const Way way : kWays) ok = Reads(way, folder, reads) && ok;
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
