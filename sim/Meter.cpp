#include "sim/Meter.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <numbers>
#include <random>

namespace vqtsim {
namespace {

uint32_t Get32(const std::array<uint16_t, 27>& regs, int index) {
    return (static_cast<uint32_t>(regs[index]) << 16) | regs[index + 1];
}

void Put32(std::array<uint16_t, 27>& regs, int index, uint32_t v) {
    regs[index] = static_cast<uint16_t>(v >> 16);
    regs[index + 1] = static_cast<uint16_t>(v & 0xFFFF);
}

// Register indexes (0-based) of the fields the live measurement moves.
constexpr int kAlarmReg = 2;
constexpr int kRangeReg = 5;
constexpr int kAlarm1Reg = 7;
constexpr int kAlarm2Reg = 9;
constexpr int kFlowReg = 15;
constexpr int kForwardReg = 17;
constexpr int kReverseReg = 19;

uint32_t MeterSeed(const Options& options, uint8_t address, bool first) {
    return first ? options.seed : options.seed + address;
}

} // namespace

Meter::Meter(const Options& options, uint8_t address, bool first)
    : Address(address),
      Archive(MakeArchive(options.archiveRecords, options.archiveWrapped, MeterSeed(options, address, first),
                          options.archiveNow ? options.archiveNow : std::time(nullptr),
                          options.archiveDamage)),
      Regs(DefaultRegisters()), LiveSince(Clock::now()) {
    if (!first) {
        // 13..22 m3/h, and 1000 m3 more on L+ for each step of the address.
        Put32(Regs, kFlowReg, std::bit_cast<uint32_t>(13.0f + static_cast<float>(address % 10)));
        Put32(Regs, kForwardReg, Get32(Regs, kForwardReg) + 10000u * address);
        LiveBase = RegisterFlow();
    }
    std::mt19937 rng(MeterSeed(options, address, first));
    WavePhase1 = static_cast<double>(rng()) / 4294967296.0 * 2.0 * std::numbers::pi;
    WavePhase2 = static_cast<double>(rng()) / 4294967296.0 * 2.0 * std::numbers::pi;
}

std::vector<uint8_t> Meter::Answer(const std::vector<uint8_t>& request, bool& wrote) {
    std::lock_guard lock(Mutex);
    UpdateLive(Clock::now());
    std::vector<uint8_t> answer = vqtsim::Answer(request, Address, Regs, Archive);
    wrote = answer.size() == 8 && answer[1] == 0x10;
    if (wrote) {
        // A totaliser written anew starts counting from a whole tenth.
        const int reg = ((request[2] << 8) | request[3]) + 1;
        if (reg == kForwardReg + 1) ForwardRest = 0;
        if (reg == kReverseReg + 1) ReverseRest = 0;
    }
    return answer;
}

std::array<uint16_t, 27> Meter::Registers() {
    std::lock_guard lock(Mutex);
    UpdateLive(Clock::now());
    return Regs;
}

void Meter::SetRegister(int number, uint16_t value) {
    if (number < 1 || number > 27) return;
    std::lock_guard lock(Mutex);
    UpdateLive(Clock::now());
    Regs[number - 1] = value;
    if (number == kFlowReg + 1 || number == kFlowReg + 2) {
        // The live flow swings around what was set from now on.
        LiveBase = RegisterFlow();
        LivePhase = 0;
    }
}

void Meter::SetLive(bool on) {
    std::lock_guard lock(Mutex);
    if (on && !Live) {
        LiveSince = Clock::now();
        LiveBase = RegisterFlow();
        LivePhase = 0;
    }
    // Freezing keeps the values of the last update, so a simulator frozen
    // before its first read reports exactly the defaults.
    Live = on;
}

Record Meter::ArchiveRecord(int file, int index) const {
    if (file < 1 || file > kArchiveFiles || index < 0 || index >= kRecordsPerFile) return Record{};
    return Archive[static_cast<size_t>(file - 1) * kRecordsPerFile + static_cast<size_t>(index)];
}

// --- the live measurement ---

double Meter::RegisterFlow() const {
    const float f = std::bit_cast<float>(Get32(Regs, kFlowReg));
    return std::isfinite(f) ? f : 0.0;
}

double Meter::FlowAt(double t) const {
    const double a1 = 0.2 * std::fabs(LiveBase) + 0.3;
    const double a2 = 0.08 * std::fabs(LiveBase) + 0.1;
    const double w = 2.0 * std::numbers::pi;
    return LiveBase + a1 * (std::sin(w * t / 97.0 + WavePhase1) - std::sin(WavePhase1)) +
           a2 * (std::sin(w * t / 23.0 + WavePhase2) - std::sin(WavePhase2));
}

void Meter::AddTenths(int index, double& rest) {
    const double whole = std::floor(rest);
    rest -= whole;
    int64_t v = static_cast<int32_t>(Get32(Regs, index)) + static_cast<int64_t>(whole);
    if (v > INT32_MAX) v %= int64_t{1} << 31; // the meter's counter rolls over
    Put32(Regs, index, static_cast<uint32_t>(v));
}

void Meter::UpdateLive(Clock::time_point now) {
    if (!Live) return;
    double dt = std::chrono::duration<double>(now - LiveSince).count();
    LiveSince = now;
    if (dt <= 0) return;
    const double tenthsPerM3 = (Regs[1] & 0x04) ? 10000.0 : 10.0;
    const double step = std::max(0.25, dt / 10000.0);
    double flow = FlowAt(LivePhase);
    while (dt > 0) {
        const double h = std::min(step, dt);
        dt -= h;
        LivePhase += h;
        flow = FlowAt(LivePhase);
        const double volume = std::fabs(flow) * h / 3600.0 * tenthsPerM3;
        (flow >= 0 ? ForwardRest : ReverseRest) += volume;
    }
    AddTenths(kForwardReg, ForwardRest);
    AddTenths(kReverseReg, ReverseRest);
    Put32(Regs, kFlowReg, std::bit_cast<uint32_t>(static_cast<float>(flow)));

    // Alarm bits that follow the flow; the others keep what was set.
    const double lph = std::fabs(flow) * 1000.0;
    const auto range = static_cast<int32_t>(Get32(Regs, kRangeReg));
    const auto alarm1 = static_cast<int32_t>(Get32(Regs, kAlarm1Reg));
    const auto alarm2 = static_cast<int32_t>(Get32(Regs, kAlarm2Reg));
    uint16_t alarms = Regs[kAlarmReg] & 0xFF33;
    if (flow < 0) alarms |= 0x80;
    if (range > 0 && lph > range) alarms |= 0x40;
    if (alarm1 > 0 && lph > alarm1) alarms |= 0x08;
    if (lph < alarm2) alarms |= 0x04;
    Regs[kAlarmReg] = alarms;
}

} // namespace vqtsim
