#include "core/FlowHistory.h"

#include "model/Tables.h"
#include "model/Units.h"

#include <algorithm>
#include <cmath>

namespace core {

void FlowHistory::Add(int64_t timeMs, double cubicMetresPerHour) {
    if (!std::isfinite(cubicMetresPerHour)) {
        Break();
        return;
    }
    // The clock was set back: the kept points would lie ahead of the new one.
    if (!Lines.empty() && timeMs < Lines.back().back().TimeMs) Lines.clear();
    Trim(timeMs);
    if (Lines.empty() || !LastLineOpen) Lines.emplace_back();
    Lines.back().push_back({timeMs, cubicMetresPerHour});
    LastLineOpen = true;
    ++Changes;
}

void FlowHistory::Break() {
    LastLineOpen = false;
}

void FlowHistory::Trim(int64_t nowMs) {
    const int64_t oldest = nowMs - SpanMs;
    bool trimmed = false;
    while (!Lines.empty() && Lines.front().front().TimeMs < oldest) {
        Segment& first = Lines.front();
        first.pop_front();
        if (first.empty()) Lines.pop_front();
        trimmed = true;
    }
    if (trimmed) ++Changes;
}

void FlowHistory::SetUnit(uint8_t unitIndex) {
    if (unitIndex >= model::FlowUnitTexts.size() || unitIndex == UnitIndex) return;
    UnitIndex = unitIndex;
    ++Changes;
}

std::string_view FlowHistory::UnitText() const {
    return model::FlowUnitTexts[UnitIndex];
}

FlowHistory::Range FlowHistory::ShownRange() const {
    Range range;
    for (const Segment& segment : Lines)
        for (const Point& p : segment) {
            const double value = Shown(p.CubicMetresPerHour);
            range.Low = std::min(range.Low, value);
            range.High = std::max(range.High, value);
        }
    return range;
}

int AxisDecimals(double low, double high, int ticks) {
    const double step = ticks > 1 ? (high - low) / (ticks - 1) : high - low;
    if (!(step > 0) || !std::isfinite(step)) return 1;
    // A step of 0,25 needs two decimals, 2500 none.
    int decimals = 0;
    // Whole at last: a non-zero whole number of the last decimal.
    const auto whole = [](double scaled) {
        return std::round(scaled) >= 1.0 && std::fabs(scaled - std::round(scaled)) <= 1e-6 * scaled;
    };
    for (double scaled = step; decimals < 4 && !whole(scaled); ++decimals) scaled *= 10.0;
    return decimals;
}

double FlowHistory::Convert(double cubicMetresPerHour, uint8_t unitIndex) {
    return model::FlowInUnit(cubicMetresPerHour, unitIndex);
}

} // namespace core
