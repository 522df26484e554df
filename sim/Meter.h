// The simulated meter itself: its 27 registers, the live measurement that
// moves the flow, the totalisers and the alarms, and its archive. The line
// (Simulator) asks it for the answer to each request.
#pragma once

#include "sim/Simulator.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vqtsim {

class Meter {
public:
    // The meter at `address`. All but the line's first start from values of
    // their own (flow, L+, the seed of their live values and archive), so that
    // a master can tell the meters on one line apart.
    Meter(const Options& options, uint8_t address, bool first);

    // The answer to one request frame (CRC already checked) with the live
    // values brought up to now; empty when the meter would stay silent.
    // `wrote` tells whether a write was applied.
    std::vector<uint8_t> Answer(const std::vector<uint8_t>& request, bool& wrote);

    std::array<uint16_t, 27> Registers();
    void SetRegister(int number, uint16_t value); // 1-based
    void SetLive(bool on);
    Record ArchiveRecord(int file, int index) const;

private:
    using Clock = std::chrono::steady_clock;

    // Callers hold Mutex.
    double RegisterFlow() const;
    double FlowAt(double t) const;
    void AddTenths(int index, double& rest);
    void UpdateLive(Clock::time_point now);

    const uint8_t Address;
    const std::vector<Record> Archive;

    mutable std::mutex Mutex; // the API and the serving thread
    std::array<uint16_t, 27> Regs;
    bool Live = true;
    Clock::time_point LiveSince; // time of the last live update
    double LivePhase = 0;        // seconds of live time since the flow wave started
    double LiveBase = 12.5;      // flow the wave swings around
    double WavePhase1 = 0, WavePhase2 = 0;
    double ForwardRest = 0, ReverseRest = 0; // fractions of a tenth not counted yet
};

} // namespace vqtsim
