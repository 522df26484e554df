#include "core/ChartScale.h"

#include <cmath>
#include <initializer_list>
#include <utility>

namespace core {

namespace {
constexpr int64_t kMinuteMs = 60 * 1000;
// A quotient one rounding error off a whole number is that number.
constexpr double kSlack = 1e-9;
// Rounding up leaves room for the whole range; to the nearest keeps the
// number of ticks near the one asked for.
double NiceNumber(double x, bool up) {
    const double power = std::pow(10.0, std::floor(std::log10(x)));
    const double q = x / power - kSlack;
    if (up) return (q <= 1.0 ? 1.0 : q <= 2.0 ? 2.0 : q <= 5.0 ? 5.0 : 10.0) * power;
    return (q < 1.5 ? 1.0 : q < 3.0 ? 2.0 : q < 7.0 ? 5.0 : 10.0) * power;
}
} // namespace

int AxisScale::Ticks() const {
    if (!(Step > 0)) return 1;
    return static_cast<int>(std::llround((High - Low) / Step)) + 1;
}

double AxisScale::Tick(int i) const {
    return (std::round(Low / Step) + i) * Step;
}

AxisScale NiceScale(double low, double high, int ticks) {
    if (!std::isfinite(low) || !std::isfinite(high)) return {};
    if (high < low) std::swap(low, high);
    if (high - low < 1e-9) high = low + 1.0;
    const double range = NiceNumber(high - low, true);
    const double step = NiceNumber(range / (ticks > 1 ? ticks - 1 : 1), false);
    AxisScale scale;
    scale.Step = step;
    scale.Low = std::floor(low / step + kSlack) * step;
    scale.High = std::ceil(high / step - kSlack) * step;
    return scale;
}

AxisScale TimeScale(int64_t nowMs, int64_t spanMs) {
    const int64_t oldest = nowMs - spanMs;
    // Floor, not truncation: the same minute before the epoch as after.
    int64_t first = oldest / kMinuteMs * kMinuteMs;
    if (first > oldest) first -= kMinuteMs;
    AxisScale scale;
    scale.Low = static_cast<double>(first);
    scale.High = static_cast<double>(first + spanMs + kMinuteMs);
    scale.Step = static_cast<double>(kMinuteMs);
    return scale;
}

int LabelEvery(double pixelsPerTick, double labelWidth) {
    if (!(labelWidth > 0) || !(pixelsPerTick > 0)) return 1;
    for (int every = 1;; every *= 10)
        for (int factor : {1, 2, 5})
            if (every * factor * pixelsPerTick >= labelWidth || every > 1000000) return every * factor;
}

} // namespace core
