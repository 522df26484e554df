#include "core/MeterPeriods.h"

namespace core {

MeterPeriods::MeterPeriods(std::map<uint8_t, int64_t> periodMs) {
    for (const auto& [address, ms] : periodMs)
        if (ms > 0) Meters[address].PeriodMs = ms;
}

bool MeterPeriods::Due(uint8_t address, int64_t roundStartMs) const {
    const auto it = Meters.find(address);
    return it == Meters.end() || !it->second.Asked || roundStartMs >= it->second.DueMs;
}

void MeterPeriods::Asked(uint8_t address, int64_t roundStartMs) {
    const auto it = Meters.find(address);
    if (it == Meters.end()) return;
    Entry& m = it->second;
    if (!m.Asked) {
        m.Asked = true;
        m.DueMs = roundStartMs;
    }
    // The first point of its grid after this round: whole periods missed
    // (a long silence, a round late) are skipped, not caught up.
    const int64_t late = roundStartMs - m.DueMs;
    m.DueMs += m.PeriodMs * (late < 0 ? 1 : late / m.PeriodMs + 1);
}

} // namespace core
