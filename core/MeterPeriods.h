// Meters of a line that need not be read every round (a totaliser that
// changes slowly beside a flow that is watched closely): each such meter has
// a period of its own and is asked in the first round that begins at or after
// its due time. Its due times keep to a grid of its period from its first
// read, so a round begun late does not push the later reads back, and a
// missed due time is not made up by reads in quick succession. A meter
// without a period is due every round. Plain C++, no clock of its own.
#pragma once

#include <cstdint>
#include <map>

namespace core {

class MeterPeriods {
public:
    MeterPeriods() = default;
    // address -> period in ms (> 0); a period shorter than a round's makes
    // the meter due every round.
    explicit MeterPeriods(std::map<uint8_t, int64_t> periodMs);

    // Whether the meter is to be asked in a round that begins at roundStartMs.
    bool Due(uint8_t address, int64_t roundStartMs) const;
    // The meter was asked in that round (whatever the answer): due again one
    // period after the due time it was asked for.
    void Asked(uint8_t address, int64_t roundStartMs);
    bool Empty() const { return Meters.empty(); }

private:
    struct Entry {
        int64_t PeriodMs = 0;
        int64_t DueMs = 0;
        bool Asked = false; // not yet: due at once
    };
    std::map<uint8_t, Entry> Meters;
};

} // namespace core
