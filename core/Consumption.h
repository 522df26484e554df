// What flowed in each hour, day or month of the meter's own clock, from the
// totalisers of its archive records.
//
// The records are taken in time order. A record dated at or before one
// taken before it in the file, by less than a day (a record twice, the
// meter's clock set back a little, the hour that repeats when daylight
// saving ends), belongs to a stretch already counted: it is left out, and
// its period says how many were. One dated back by more (a clock that lost
// its setting) is taken at its place in time; of records of one moment the
// first in the file is taken.
//
// A period's volume is the rise of each totaliser between the period's
// bounds; a bound between two records is interpolated linearly. A bound
// without a record closer than twice the archive period on each side makes
// the period a gap: no volume at all, never zero. A totaliser that goes down
// (reset, or wrapped) starts a new run: the step between the two records
// counts nothing, and the period holding it is marked. The archive period is
// the most common step between records unless the caller knows it.
#pragma once

#include "core/ExportReader.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

enum class PeriodKind { Hour, Day, Month };
// "hour", "day", "month"
std::string_view PeriodKindName(PeriodKind kind);
std::optional<PeriodKind> PeriodKindNamed(std::string_view name);

// The period holding `moment`, and the one after it.
WallSeconds PeriodStart(WallSeconds moment, PeriodKind kind);
WallSeconds NextPeriod(WallSeconds start, PeriodKind kind);
// "2024-05-01 13:00", "2024-05-01", "2024-05"
std::string PeriodLabel(WallSeconds start, PeriodKind kind);

struct EventTally {
    int Count = 0; // records of the period carrying the event
    WallSeconds First = 0, Last = 0;
};

struct FlowStats {
    double Min = 0, Mean = 0, Max = 0; // m3/h over the records of the period
};

struct PeriodConsumption {
    WallSeconds Start = 0, End = 0; // [Start, End); End is the next period's start
    // m3; all three empty for a gap.
    std::optional<double> Forward, Reverse, Net;
    bool Gap = false;
    bool Interpolated = false; // a bound lies between two records
    int Resets = 0;            // totaliser steps down (reset, wrap) within
    // Records dated here that came twice or out of order: left out when
    // within a day after a newer one, else taken at their place.
    int Reordered = 0;
    int Records = 0;               // records dated within [Start, End)
    std::optional<FlowStats> Flow; // none without a record with a flow
    std::array<EventTally, kEventKinds> Events{};
};

struct ConsumptionReport {
    PeriodKind By = PeriodKind::Hour;
    WallSeconds ArchivePeriod = 0; // seconds; 0 with fewer than two records
    std::vector<PeriodConsumption>
        Periods;        // in time order, every period from the first record's to the last's
    int Records = 0;    // taken
    int Repeated = 0;   // left out: twice or out of order
    int OutOfOrder = 0; // taken, but dated back by more than a day
    int Resets = 0;
    int Gaps = 0;
    int Interpolated = 0;
    // From the reading.
    int Malformed = 0, Impossible = 0;
    std::vector<std::string> Problems;
};

// A run of more than this many periods with no record in a gap is one row
// spanning it: a clock that jumped years must not make millions of rows.
inline constexpr int kMostEmptyPeriods = 1000;

// archivePeriod: the meter's archive period in seconds when known, else 0.
ConsumptionReport MakeConsumptionReport(const ExportRead& read, PeriodKind by, WallSeconds archivePeriod = 0);

// The consumption of each hour as a publisher's records come, each hour
// once: those finished by the records so far (a record at or after the
// hour's end came). Keeps the few records the next hours need.
class HourTally {
public:
    // After a restart: what Carry() gave before. Nothing else is taken back.
    void Restore(std::string_view carry);
    // Record lines newer than those before, in time order (Windows-1250,
    // "date;time;flow;L+ unit;L- unit;events"): the hours they finish.
    std::vector<PeriodConsumption> Add(const std::vector<std::string>& lines);
    // What the next hours need, as one text to keep across a restart: the
    // end of the hours handed on, then the records kept, a line each.
    std::string Carry() const;

private:
    std::vector<std::string> Kept;
    std::optional<WallSeconds> HandedUpTo;
};

} // namespace core
