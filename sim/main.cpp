// vqt540-sim: a VQT540 flowmeter on a pseudo-terminal or a serial device, for
// tests, demos and service work without a meter.
#include "sim/Args.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <string>
#include <sys/time.h>

namespace {

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
    vqtsim::Config config;
    if (const auto err = vqtsim::ParseArgs(std::vector<std::string>(argv + 1, argv + argc), config)) {
        std::fprintf(stderr, "vqt540-sim: %s\nTry vqt540-sim --help.\n", err->c_str());
        return 2;
    }
    if (config.help) {
        std::fputs(vqtsim::Usage(), stdout);
        return 0;
    }
    if (config.version) {
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
    const bool gateway = config.options.rtuTcpPort != 0 || config.options.modbusTcpPort != 0;
    if (gateway)
        std::printf("Listening: %s127.0.0.1:%u\n", config.options.rtuTcpPort != 0 ? "rtu+tcp://" : "tcp://",
                    unsigned(sim.TcpPort()));
    else
        std::printf("Device: %s\n", sim.DevicePath().c_str());
    if (!sim.LinkPath().empty())
        std::printf("Link: %s -> %s\n", sim.LinkPath().c_str(), sim.DevicePath().c_str());
    std::string addresses;
    for (uint8_t a : sim.Addresses()) addresses += (addresses.empty() ? "" : ", ") + std::to_string(a);
    std::printf("Slave address%s %s, %u bit/s%s, %d archive records%s%s\n",
                sim.Addresses().size() > 1 ? "es" : "", addresses.c_str(), config.options.baudRate,
                config.options.wireTiming ? "" : " (no wire time)", config.options.archiveRecords,
                config.options.archiveWrapped ? " (wrapped)" : "", config.live ? "" : ", static values");
    std::fflush(stdout);

    int sig = 0;
    while (sigwait(&stopSignals, &sig) != 0) {
    }
    sim.Stop();
    unsigned long long requests = 0, answers = 0, writes = 0;
    for (uint8_t a : sim.Addresses()) {
        requests += sim.RequestsSeen(a);
        answers += sim.RepliesSent(a);
        writes += sim.WritesApplied(a);
    }
    std::printf("Stopped (%s): %llu requests, %llu answers, %llu writes%s.\n",
                sig == SIGINT ? "SIGINT" : "SIGTERM", requests, answers, writes,
                gateway ? (", " + std::to_string(sim.ConnectionsAccepted()) + " connections").c_str() : "");
    return 0;
}
