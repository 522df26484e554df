#include "core/Consumption.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace core {

namespace {

constexpr WallSeconds kSetBackWithin = 86400;

struct Ordered {
    std::vector<ArchiveSample> Taken;   // in time order, one per moment
    std::vector<WallSeconds> Reordered; // moments of the records that came twice or out of order, sorted
    int LeftOut = 0, TakenBack = 0;
};

Ordered Order(const std::vector<ArchiveSample>& samples) {
    Ordered o;
    WallSeconds newest = std::numeric_limits<WallSeconds>::min();
    for (const ArchiveSample& s : samples) {
        if (s.Moment <= newest && newest - s.Moment <= kSetBackWithin) {
            ++o.LeftOut;
            o.Reordered.push_back(s.Moment);
            continue;
        }
        if (s.Moment < newest) {
            ++o.TakenBack;
            o.Reordered.push_back(s.Moment);
        }
        newest = std::max(newest, s.Moment);
        o.Taken.push_back(s);
    }
    // Of one moment (only among those taken back) the one written first:
    // the lower totalisers.
    std::stable_sort(o.Taken.begin(), o.Taken.end(), [](const ArchiveSample& a, const ArchiveSample& b) {
        return a.Moment < b.Moment || (a.Moment == b.Moment && a.Forward + a.Reverse < b.Forward + b.Reverse);
    });
    const auto twice = std::unique(o.Taken.begin(), o.Taken.end(),
                                   [](const auto& a, const auto& b) { return a.Moment == b.Moment; });
    o.LeftOut += static_cast<int>(o.Taken.end() - twice);
    o.Taken.erase(twice, o.Taken.end());
    std::sort(o.Reordered.begin(), o.Reordered.end());
    return o;
}

// The most common step between records; of equally common ones, the shortest.
WallSeconds CommonStep(const std::vector<ArchiveSample>& taken) {
    std::vector<WallSeconds> steps;
    for (size_t i = 1; i < taken.size(); ++i) steps.push_back(taken[i].Moment - taken[i - 1].Moment);
    std::sort(steps.begin(), steps.end());
    WallSeconds best = 0;
    size_t bestCount = 0;
    for (size_t i = 0; i < steps.size();) {
        size_t j = i;
        while (j < steps.size() && steps[j] == steps[i]) ++j;
        if (j - i > bestCount) best = steps[i], bestCount = j - i;
        i = j;
    }
    return best;
}

// What each totaliser measured from the first record on, runs joined: a
// step down counts nothing. A fall within the readings' last digits is
// rounding (a change of unit), not a step.
struct Runs {
    std::vector<WallSeconds> Moments;
    std::vector<double> Forward, Reverse;
    std::vector<std::pair<WallSeconds, WallSeconds>> Steps; // the records on both sides
};

Runs Measure(const std::vector<ArchiveSample>& taken) {
    Runs r;
    r.Moments.reserve(taken.size());
    r.Forward.assign(taken.size(), 0);
    r.Reverse.assign(taken.size(), 0);
    for (size_t i = 0; i < taken.size(); ++i) {
        r.Moments.push_back(taken[i].Moment);
        if (i == 0) continue;
        const ArchiveSample &a = taken[i - 1], &b = taken[i];
        const double tolerance = 2 * (a.Step + b.Step);
        const double forward = b.Forward - a.Forward, reverse = b.Reverse - a.Reverse;
        if (forward < -tolerance || reverse < -tolerance) r.Steps.emplace_back(a.Moment, b.Moment);
        r.Forward[i] = r.Forward[i - 1] + (forward < -tolerance ? 0 : forward);
        r.Reverse[i] = r.Reverse[i - 1] + (reverse < -tolerance ? 0 : reverse);
    }
    return r;
}

struct Bound {
    bool Covered = false, Interpolated = false;
    double Forward = 0, Reverse = 0;
};

Bound At(const Runs& r, WallSeconds moment, WallSeconds period) {
    const auto it = std::lower_bound(r.Moments.begin(), r.Moments.end(), moment);
    const auto j = static_cast<size_t>(it - r.Moments.begin());
    if (it != r.Moments.end() && *it == moment) return {true, false, r.Forward[j], r.Reverse[j]};
    if (it == r.Moments.begin() || it == r.Moments.end()) return {};
    const size_t i = j - 1;
    if (moment - r.Moments[i] >= 2 * period || r.Moments[j] - moment >= 2 * period) return {};
    const double share = double(moment - r.Moments[i]) / double(r.Moments[j] - r.Moments[i]);
    return {true, true, r.Forward[i] + (r.Forward[j] - r.Forward[i]) * share,
            r.Reverse[i] + (r.Reverse[j] - r.Reverse[i]) * share};
}

PeriodConsumption Row(const Ordered& o, const Runs& r, WallSeconds period, WallSeconds start,
                      WallSeconds end) {
    PeriodConsumption p;
    p.Start = start;
    p.End = end;
    const auto first = std::lower_bound(r.Moments.begin(), r.Moments.end(), start);
    const auto last = std::lower_bound(first, r.Moments.end(), end);
    p.Records = static_cast<int>(last - first);
    double sum = 0;
    int flows = 0;
    for (auto it = first; it != last; ++it) {
        const ArchiveSample& s = o.Taken[size_t(it - r.Moments.begin())];
        if (!std::isnan(s.Flow)) {
            if (!p.Flow) p.Flow = FlowStats{s.Flow, 0, s.Flow};
            p.Flow->Min = std::min(p.Flow->Min, s.Flow);
            p.Flow->Max = std::max(p.Flow->Max, s.Flow);
            sum += s.Flow;
            ++flows;
        }
        for (int k = 0; k < kEventKinds; ++k) {
            if (!(s.Events & (1u << k))) continue;
            EventTally& e = p.Events[size_t(k)];
            if (e.Count++ == 0) e.First = s.Moment;
            e.Last = s.Moment;
        }
    }
    if (p.Flow) p.Flow->Mean = sum / flows;
    p.Reordered = static_cast<int>(std::lower_bound(o.Reordered.begin(), o.Reordered.end(), end) -
                                   std::lower_bound(o.Reordered.begin(), o.Reordered.end(), start));
    for (const auto& [before, after] : r.Steps) p.Resets += before < end && after > start;
    const Bound from = At(r, start, period), to = At(r, end, period);
    p.Gap = !from.Covered || !to.Covered;
    if (!p.Gap) {
        p.Interpolated = from.Interpolated || to.Interpolated;
        p.Forward = std::max(0.0, to.Forward - from.Forward);
        p.Reverse = std::max(0.0, to.Reverse - from.Reverse);
        p.Net = *p.Forward - *p.Reverse;
    }
    return p;
}

} // namespace

std::string_view PeriodKindName(PeriodKind kind) {
    switch (kind) {
    case PeriodKind::Hour:
        return "hour";
    case PeriodKind::Day:
        return "day";
    case PeriodKind::Month:
        return "month";
    }
    return {};
}

std::optional<PeriodKind> PeriodKindNamed(std::string_view name) {
    for (const PeriodKind k : {PeriodKind::Hour, PeriodKind::Day, PeriodKind::Month})
        if (PeriodKindName(k) == name) return k;
    return std::nullopt;
}

WallSeconds PeriodStart(WallSeconds moment, PeriodKind kind) {
    const Civil c = CivilFromWall(moment);
    switch (kind) {
    case PeriodKind::Hour:
        return WallFromCivil(c.Year, c.Month, c.Day, c.Hour, 0, 0);
    case PeriodKind::Day:
        return WallFromCivil(c.Year, c.Month, c.Day, 0, 0, 0);
    case PeriodKind::Month:
        return WallFromCivil(c.Year, c.Month, 1, 0, 0, 0);
    }
    return moment;
}

WallSeconds NextPeriod(WallSeconds start, PeriodKind kind) {
    if (kind == PeriodKind::Hour) return start + 3600;
    if (kind == PeriodKind::Day) return start + 86400;
    const Civil c = CivilFromWall(start);
    return c.Month == 12 ? WallFromCivil(c.Year + 1, 1, 1, 0, 0, 0)
                         : WallFromCivil(c.Year, c.Month + 1, 1, 0, 0, 0);
}

std::string PeriodLabel(WallSeconds start, PeriodKind kind) {
    const std::string text = WallText(start); // "2024-05-01 13:00:00"
    return text.substr(0, kind == PeriodKind::Hour ? 16 : kind == PeriodKind::Day ? 10 : 7);
}

ConsumptionReport MakeConsumptionReport(const ExportRead& read, PeriodKind by, WallSeconds archivePeriod) {
    ConsumptionReport report;
    report.By = by;
    report.Malformed = read.Malformed;
    report.Impossible = read.Impossible;
    report.Problems = read.Problems;
    const Ordered o = Order(read.Samples);
    report.Records = static_cast<int>(o.Taken.size());
    report.Repeated = o.LeftOut;
    report.OutOfOrder = o.TakenBack;
    if (o.Taken.empty()) return report;
    report.ArchivePeriod = archivePeriod > 0 ? archivePeriod : CommonStep(o.Taken);
    const Runs r = Measure(o.Taken);
    report.Resets = static_cast<int>(r.Steps.size());

    const WallSeconds last = PeriodStart(r.Moments.back(), by);
    for (WallSeconds start = PeriodStart(r.Moments.front(), by); start <= last;) {
        WallSeconds end = NextPeriod(start, by);
        // A long run of periods without a record is one row.
        const auto next = std::lower_bound(r.Moments.begin(), r.Moments.end(), start);
        if (*next >= end) {
            const WallSeconds upTo = PeriodStart(*next, by);
            int count = 0;
            for (WallSeconds s = start; s < upTo && count <= kMostEmptyPeriods; s = NextPeriod(s, by))
                ++count;
            if (count > kMostEmptyPeriods) end = upTo;
        }
        PeriodConsumption p = Row(o, r, report.ArchivePeriod, start, end);
        report.Gaps += p.Gap;
        report.Interpolated += p.Interpolated;
        report.Periods.push_back(std::move(p));
        start = end;
    }
    return report;
}

// --- hour by hour, as the records come ---

void HourTally::Restore(std::string_view carry) {
    std::vector<std::string> lines;
    for (size_t from = 0; from < carry.size();) {
        const size_t end = std::min(carry.find('\n', from), carry.size());
        lines.emplace_back(carry.substr(from, end - from));
        from = end + 1;
    }
    // The first line is the end of the hours handed on, as a record's date and time.
    if (lines.empty() || lines[0].size() != 19) return;
    const ExportRead first =
        ReadRecordLines({lines[0].substr(0, 10) + ";" + lines[0].substr(11) + ";0;0 [m3];0 [m3];"});
    if (first.Samples.empty()) return;
    HandedUpTo = first.Samples[0].Moment;
    Kept.assign(lines.begin() + 1, lines.end());
}

std::string HourTally::Carry() const {
    if (!HandedUpTo) return {};
    std::string carry = WallText(*HandedUpTo);
    for (const std::string& line : Kept) carry += "\n" + line;
    return carry;
}

std::vector<PeriodConsumption> HourTally::Add(const std::vector<std::string>& lines) {
    constexpr size_t kKeepAtLeast = 16; // for the archive period's guess
    Kept.insert(Kept.end(), lines.begin(), lines.end());
    const ExportRead read = ReadRecordLines(Kept);
    std::vector<PeriodConsumption> finished;
    if (read.Samples.empty()) return finished;
    WallSeconds newest = read.Samples.front().Moment;
    for (const ArchiveSample& s : read.Samples) newest = std::max(newest, s.Moment);
    ConsumptionReport report = MakeConsumptionReport(read, PeriodKind::Hour);
    for (PeriodConsumption& p : report.Periods) {
        if (p.End > newest || (HandedUpTo && p.Start < *HandedUpTo)) continue;
        HandedUpTo = p.End;
        finished.push_back(std::move(p));
    }
    if (!HandedUpTo) return finished;
    // From the newest record at or before the hours handed on: the next
    // hour's first bound.
    size_t from = 0;
    for (const ArchiveSample& s : read.Samples)
        if (s.Moment <= *HandedUpTo) from = std::max(from, size_t(s.Line - 1));
    from = std::min(from, Kept.size() > kKeepAtLeast ? Kept.size() - kKeepAtLeast : 0);
    Kept.erase(Kept.begin(), Kept.begin() + static_cast<std::ptrdiff_t>(from));
    return finished;
}

} // namespace core
