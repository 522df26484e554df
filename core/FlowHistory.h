// The instantaneous flow of the good reads over the last minutes, as the
// chart page draws it: lines of consecutive good reads, broken where a read
// failed. Values are kept in m3/h as the meter sends them and converted into
// the shown unit only when asked, so that a change of unit redraws the whole
// curve in the new one. Times are the caller's (ms since the epoch).
#pragma once

#include <cstdint>
#include <deque>
#include <string_view>

namespace core {

// Decimals of the labels of an axis from low to high with `ticks` labels:
// enough to tell the steps apart, none beyond (0 … 4).
int AxisDecimals(double low, double high, int ticks);

class FlowHistory {
public:
    struct Point {
        int64_t TimeMs = 0;
        double CubicMetresPerHour = 0.0;
    };
    // Good reads with no failed one between them.
    using Segment = std::deque<Point>;

    static constexpr int64_t kDefaultSpanMs = 10 * 60 * 1000;

    explicit FlowHistory(int64_t spanMs = kDefaultSpanMs) : SpanMs(spanMs) {}

    // A good read. Points older than the span before it go. A value that is
    // no number (a damaged single) counts as a failed read.
    void Add(int64_t timeMs, double cubicMetresPerHour);
    // A failed read, or a new connection: the current line ends there.
    void Break();
    // Drops the points older than the span before nowMs.
    void Trim(int64_t nowMs);

    // The shown unit as an index of the flow unit list ([l/h], [m3/h],
    // [l/min]); an index outside it (the meter's code 3) keeps the last unit.
    void SetUnit(uint8_t unitIndex);
    uint8_t Unit() const { return UnitIndex; }
    std::string_view UnitText() const;
    // A value in m3/h in the shown unit.
    double Shown(double cubicMetresPerHour) const { return Convert(cubicMetresPerHour, UnitIndex); }
    static double Convert(double cubicMetresPerHour, uint8_t unitIndex);
    // The lowest and the highest shown value, zero among them: the value axis
    // reaches from zero, or the lowest reverse flow, to the highest flow.
    struct Range {
        double Low = 0.0;
        double High = 0.0;
    };
    Range ShownRange() const;

    const std::deque<Segment>& Segments() const { return Lines; }
    int64_t Span() const { return SpanMs; }
    // Changes whenever the shown curve changes: a drawing can be kept until then.
    uint64_t Revision() const { return Changes; }

private:
    int64_t SpanMs;
    std::deque<Segment> Lines;
    bool LastLineOpen = false;
    uint8_t UnitIndex = 0;
    uint64_t Changes = 0;
};

} // namespace core
