// vqt540-sim: a VQT540 flowmeter on a pseudo-terminal or a serial device, for
// tests, demos and service work without a meter.
#include "sim/Simulator.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <sys/time.h>

namespace {

const char* const kUsage =
    "Usage: vqt540-sim [options]\n"
    "Simulates a VQT540 flowmeter (MODBUS RTU slave) until SIGINT or SIGTERM.\n"
    "\n"
    "Line:\n"
    "  --link-dir DIR     directory for the link to the pty (default \".\")\n"
    "  --link NAME        name of that link (default COM1)\n"
    "  --device PATH      serve on this serial device instead of a new pty (no link)\n"
    "  --parity P         none, even or odd (default none): the device's, or on a pty the\n"
    "                     meter's own, which --strict-line holds the master to\n"
    "  --strict-line      on a pty, answer as a real line would when the master's speed or\n"
    "                     parity differs: silence for another speed, garbled bytes for\n"
    "                     another parity (a Linux pty tells odd parity from none and\n"
    "                     even, but none from even not)\n"
    "  --address N        slave address 1..247 (default 1)\n"
    "  --baud N           line speed 300..230400 for wire timing and --device (default 9600)\n"
    "  --no-wire-time     answer at once instead of after the characters' time on the line\n"
    "\n"
    "Meter:\n"
    "  --records N        dated archive records before the end record, 0..12900 (default 100)\n"
    "  --wrapped          archive as a ring buffer that went round (newest records first)\n"
    "  --static           keep the default values; no live flow, totalisers or alarms\n"
    "\n"
    "Faults:\n"
    "  --fault F          one of: silence, late:MS, badcrc, exception:CODE, split:MS, noise:N,\n"
    "                     foreign-address:N, foreign-function:F, byte-count:N\n"
    "                     (late: answer MS ms later; split: pause MS ms after the 5th answer byte;\n"
    "                     exception: answer every request with exception CODE 0..255;\n"
    "                     noise: N bytes 0x55 after each answer;\n"
    "                     foreign-address: slave address N 0..255 in byte 0 of the answer;\n"
    "                     foreign-function: function code F 0..255 in byte 1, same length;\n"
    "                     byte-count: a register read's byte count (byte 2) says N 0..255;\n"
    "                     these three with a correct CRC)\n"
    "  --fault-share P    give the fault to this share 0..1 of the requests (default 1)\n"
    "  --drop P           leave this share 0..1 of the requests unanswered\n"
    "  --seed N           seed for --drop, the live values and the archive (default 1)\n"
    "\n"
    "Output:\n"
    "  --quiet            print only the device and link, not every request\n"
    "  --version          the program's version\n"
    "  --help             this text\n";

template <typename T> std::optional<T> Number(std::string_view text, T low, T high) {
    T v{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return std::nullopt;
    return v;
}

std::optional<double> Probability(const std::string& text) {
    try {
        size_t used = 0;
        const double p = std::stod(text, &used);
        if (used == text.size() && p >= 0.0 && p <= 1.0) return p;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

struct Config {
    vqtsim::Options options;
    vqtsim::Fault fault = vqtsim::Fault::None;
    int faultCode = 0;
    int faultDelayMs = 0;
    double drop = 0.0;
    double faultShare = 1.0;
    bool live = true;
    bool quiet = false;
};

bool ParseFault(const std::string& text, Config& c) {
    const auto colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : text.substr(colon + 1);
    const bool hasArg = colon != std::string::npos;
    using vqtsim::Fault;
    if (name == "silence" && !hasArg) return c.fault = Fault::Silence, true;
    if (name == "badcrc" && !hasArg) return c.fault = Fault::BadCrc, true;
    const bool byteArg = name == "exception" || name == "foreign-address" || name == "foreign-function" ||
                         name == "byte-count";
    const auto n = Number<int>(arg, 0, byteArg ? 255 : name == "noise" ? 256 : 600000);
    if (!hasArg || !n) return false;
    if (name == "late") return c.fault = Fault::Late, c.faultDelayMs = *n, true;
    if (name == "split") return c.fault = Fault::Split, c.faultDelayMs = *n, true;
    if (name == "exception") return c.fault = Fault::Exception, c.faultCode = *n, true;
    if (name == "noise") return c.fault = Fault::TrailingNoise, c.faultCode = *n, true;
    if (name == "foreign-address") return c.fault = Fault::ForeignAddress, c.faultCode = *n, true;
    if (name == "foreign-function") return c.fault = Fault::ForeignFunction, c.faultCode = *n, true;
    if (name == "byte-count") return c.fault = Fault::ByteCount, c.faultCode = *n, true;
    return false;
}

// Fills c from the arguments; an error text when they are not valid.
std::optional<std::string> Parse(int argc, char** argv, Config& c, bool& help, bool& version) {
    c.options.linkDir = ".";
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        auto bad = [&](const std::string& v) { return "bad value \"" + v + "\" for " + opt; };
        if (opt == "--help" || opt == "-h") {
            help = true;
        } else if (opt == "--version") {
            version = true;
        } else if (opt == "--no-wire-time") {
            c.options.wireTiming = false;
        } else if (opt == "--strict-line") {
            c.options.strictLine = true;
        } else if (opt == "--wrapped") {
            c.options.archiveWrapped = true;
        } else if (opt == "--static") {
            c.live = false;
        } else if (opt == "--quiet") {
            c.quiet = true;
        } else if (opt == "--link-dir" || opt == "--link" || opt == "--device" || opt == "--address" ||
                   opt == "--baud" || opt == "--records" || opt == "--fault" || opt == "--drop" ||
                   opt == "--fault-share" || opt == "--seed" || opt == "--parity") {
            const auto v = value();
            if (!v) return opt + " needs a value";
            if (opt == "--link-dir") {
                if (v->empty()) return bad(*v);
                c.options.linkDir = *v;
            } else if (opt == "--link") {
                if (v->empty() || v->find('/') != std::string::npos) return bad(*v);
                c.options.linkName = *v;
            } else if (opt == "--device") {
                if (v->empty()) return bad(*v);
                c.options.device = *v;
            } else if (opt == "--address") {
                const auto n = Number<int>(*v, 1, 247);
                if (!n) return bad(*v) + " (1..247)";
                c.options.address = static_cast<uint8_t>(*n);
            } else if (opt == "--baud") {
                const auto n = Number<uint32_t>(*v, 300, 230400);
                if (!n) return bad(*v) + " (300..230400)";
                c.options.baudRate = *n;
            } else if (opt == "--records") {
                const auto n = Number<int>(*v, 0, vqtsim::kArchiveSlots);
                if (!n) return bad(*v) + " (0.." + std::to_string(vqtsim::kArchiveSlots) + ")";
                c.options.archiveRecords = *n;
            } else if (opt == "--fault") {
                if (!ParseFault(*v, c)) return bad(*v);
            } else if (opt == "--drop" || opt == "--fault-share") {
                const auto p = Probability(*v);
                if (!p) return bad(*v) + " (0..1)";
                (opt == "--drop" ? c.drop : c.faultShare) = *p;
            } else if (opt == "--seed") {
                const auto n = Number<uint32_t>(*v, 0, UINT32_MAX);
                if (!n) return bad(*v);
                c.options.seed = *n;
            } else {
                if (*v == "none")
                    c.options.parity = 0;
                else if (*v == "odd")
                    c.options.parity = 1;
                else if (*v == "even")
                    c.options.parity = 2;
                else
                    return bad(*v) + " (none, even, odd)";
            }
        } else {
            return "unknown option " + opt;
        }
    }
    return std::nullopt;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        if (!s.empty()) s += ' ';
        s += digits[b >> 4];
        s += digits[b & 0xF];
    }
    return s;
}

std::string Timestamp() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::tm tm{};
    localtime_r(&tv.tv_sec, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return buf;
}

void PrintEvent(const vqtsim::TrafficEvent& e) {
    std::string line = Timestamp();
    if (e.note.rfind("discarded", 0) == 0) {
        line += "  " + e.note + ": " + Hex(e.request);
    } else {
        if (!e.request.empty())
            line += "  request: " + Hex(e.request) +
                    "  answer: " + (e.answer.empty() ? std::string("(silent)") : Hex(e.answer));
        if (!e.note.empty()) line += "  [" + e.note + "]";
    }
    line += '\n';
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    Config config;
    bool help = false, version = false;
    if (const auto err = Parse(argc, argv, config, help, version)) {
        std::fprintf(stderr, "vqt540-sim: %s\nTry vqt540-sim --help.\n", err->c_str());
        return 2;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (version) {
        std::puts("vqt540-sim " VQT_VERSION);
        return 0;
    }

    // Blocked before the serving thread starts, so that only sigwait() below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    vqtsim::Simulator sim(config.options);
    sim.SetLive(config.live);
    sim.SetFault(config.fault, config.faultCode, config.faultDelayMs);
    sim.SetFaultShare(config.faultShare);
    sim.SetDropProbability(config.drop);
    if (!config.quiet) sim.SetTrafficLog(PrintEvent);
    if (!sim.Start()) {
        std::fprintf(stderr, "vqt540-sim: %s\n", sim.Error().c_str());
        return 1;
    }
    std::printf("Device: %s\n", sim.DevicePath().c_str());
    if (!sim.LinkPath().empty())
        std::printf("Link: %s -> %s\n", sim.LinkPath().c_str(), sim.DevicePath().c_str());
    std::printf("Slave address %d, %u bit/s%s, %d archive records%s%s\n", config.options.address,
                config.options.baudRate, config.options.wireTiming ? "" : " (no wire time)",
                config.options.archiveRecords, config.options.archiveWrapped ? " (wrapped)" : "",
                config.live ? "" : ", static values");
    std::fflush(stdout);

    int sig = 0;
    while (sigwait(&stopSignals, &sig) != 0) {
    }
    sim.Stop();
    std::printf("Stopped (%s): %llu requests, %llu answers, %llu writes.\n",
                sig == SIGINT ? "SIGINT" : "SIGTERM", static_cast<unsigned long long>(sim.RequestsSeen()),
                static_cast<unsigned long long>(sim.RepliesSent()),
                static_cast<unsigned long long>(sim.WritesApplied()));
    return 0;
}
