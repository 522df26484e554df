// Back-to-back reads against the wire-timed simulator: transactions per
// second, their ratio to the wire-time limit, and CPU use while waiting.
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "sim/Simulator.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>
#include <unistd.h>

using namespace modbus;

static double Cpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

static void WaitDone(const std::shared_ptr<ModbusRead>& w) {
    while (w->TransactionDoneFlag() == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

int main() {
    modbus::Link meters;
    const auto dir = std::filesystem::temp_directory_path() / ("vqt-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    for (uint32_t baud : {9600u, 115200u}) {
        vqtsim::Options o;
        o.linkDir = dir.string();
        o.baudRate = baud;
        vqtsim::Simulator sim(o);
        if (!sim.Start()) {
            std::fprintf(stderr, "simulator: %s\n", sim.Error().c_str());
            return 1;
        }
        const int count = baud == 9600 ? 40 : 200;
        int good = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            auto w = meters.CreateWorker();
            w->SetPortSettings("COM1", baud, 8, kOneStopBit, kNoParity);
            w->DeviceAddress = 1;
            w->Start();
            WaitDone(w);
            good += w->Judgement().status == Status::Success;
            w->Release();
        }
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double limit = double(baud) / (11.0 * (8 + 59)); // request + reply on the wire
        std::printf("%6u bit/s: %d/%d good, %.1f transactions/s, wire-time limit %.1f/s, ratio %.2f\n", baud,
                    good, count, count / secs, limit, count / secs / limit);
    }
    {
        vqtsim::Options o;
        o.linkDir = dir.string();
        vqtsim::Simulator sim(o);
        sim.Start();
        sim.SetFault(vqtsim::Fault::Silence);
        auto w = meters.CreateWorker();
        w->SetPortSettings("COM1", 9600, 8, kOneStopBit, kNoParity);
        w->DeviceAddress = 1;
        w->Start();
        const double before = Cpu();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double used = Cpu() - before;
        w->SignalTimeout(-1);
        WaitDone(w);
        w->Release();
        std::printf("silent meter: %.5f CPU seconds per second of waiting (whole process)\n", used / 2.0);
    }
    meters.WaitForWorkers();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);
}
