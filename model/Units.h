// The three flow units of the meter's lists, in their order: [l/h], [m3/h],
// [l/min]. The meter keeps the instantaneous flow in m3/h and the alarm
// thresholds in l/h; every display, chart and write converts here.
#pragma once

#include <array>
#include <cstdint>

namespace model {

enum FlowUnit : uint8_t { LitresPerHour = 0, CubicMetresPerHour = 1, LitresPerMinute = 2 };

// The decimals a flow in each unit is shown with: the meter's resolution there.
inline constexpr std::array<int, 3> kFlowDecimals = {1, 3, 1};

// Litres per hour in one of each unit.
inline constexpr std::array<int32_t, 3> kLitresPerHourIn = {1, 1000, 60};

// A flow in m3/h in the unit; a code past the list keeps m3/h.
inline double FlowInUnit(double cubicMetresPerHour, uint8_t unit) {
    switch (unit) {
    case LitresPerHour:
        return cubicMetresPerHour * 1000.0;
    case LitresPerMinute:
        return cubicMetresPerHour * 1000.0 / 60.0;
    default:
        return cubicMetresPerHour;
    }
}

} // namespace model
