// Where the chart's axes start and end and where their ticks fall: plain
// numbers, so the widget only maps and draws them.
#pragma once

#include <cstdint>

namespace core {

// An axis from Low to High with a tick every Step, at both ends too.
struct AxisScale {
    double Low = 0.0;
    double High = 1.0;
    double Step = 1.0;

    int Ticks() const;
    // The i-th tick from Low, counted in steps so that none drifts.
    double Tick(int i) const;
};

// A value axis holding low … high, its ends and steps round: 1, 2 or 5 times
// a power of ten, about `ticks` ticks. An empty range gets a width of 1.
AxisScale NiceScale(double low, double high, int ticks);

// The time axis at nowMs: from the whole minute before the oldest point a
// span can keep to a minute past the span, a tick each minute, so that the
// labels stay put while the curve moves on.
AxisScale TimeScale(int64_t nowMs, int64_t spanMs);

// Every how many ticks a label of labelWidth fits beside the next one, at
// pixelsPerTick apart: 1, 2, 5, 10, 20, …
int LabelEvery(double pixelsPerTick, double labelWidth);

} // namespace core
