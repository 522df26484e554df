// The archive's back-fill of a program that publishes a line's readings: the
// records newer than the last one published, read between the rounds, one
// archive request after a round, so that a back-fill holds up the readings by
// one reply at most.
//
// How much is read. The meter writes its records in slot order, file 1
// record 0 up to file 4 record 35464 and round again over its oldest. The
// first back-fill of a meter reads the archive as the window does, up to the
// end record (at most 4 x 3225 requests), and keeps what each slot held. A
// later one asks for the slot written last then (still the same: the archive
// is the one known; else it is read whole again), then goes on from the slot
// the meter writes next up to the first one that still holds what it held,
// or the end record: the records written since, plus two requests. Slots are
// told apart by their bytes, not their dates, so that a clock set back or an
// erased record does not end the reading before the newer records.
#pragma once

#include "core/LineCycle.h"
#include "core/RecordLine.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

// The date and time of the last record published ("2024-05-01", "12:15:00");
// empty when none was: every record is new.
struct ArchiveMark {
    std::string Date;
    std::string Time;
};

// What one meter's back-fill found.
struct BackFillResult {
    uint8_t Address = 0;
    ArchiveMark Mark;
    bool GaveUp = false; // too many failed requests in a row: nothing is handed on
    // Newer than the mark, in time order: Windows-1250 lines
    // "date;time;flow;L+ unit;L- unit;events", with a decimal point.
    std::vector<std::string> Records;
    int BeforeMark = 0; // written after the mark's record, yet dated at or before it
    int Impossible = 0; // read with a moment that cannot be (erased, damaged), left out
    int Requests = 0;   // archive requests, failed ones too
    bool Whole = false; // the archive was read from its start
};

class BackFillView {
public:
    virtual ~BackFillView() = default;
    // The meter's mark; nothing when it cannot be told now (the meter waits
    // for the next back-fill).
    virtual std::optional<ArchiveMark> Mark(uint8_t address) = 0;
    // A meter's back-fill has ended. False when its records could not all be
    // handed on: its next back-fill reads the archive whole.
    virtual bool Ended(const BackFillResult& result) = 0;
};

// What a meter's archive held at its last back-fill.
struct ArchiveImage {
    std::vector<ArchiveRecord> Slots; // in reading order; one never read as zeros, the end record
    int WritePoint = -1;              // the slot the meter writes next; -1: nothing known
};

// One meter's back-fill, one slot at a time.
class ArchiveFill {
public:
    static constexpr int kGiveUpAfter = 20; // failed requests in a row

    ArchiveFill(uint8_t address, ArchiveMark mark, const ArchiveImage& known);
    // The slot to ask for next (file slot / 3225 + 1, record slot % 3225 x 11);
    // nothing once done.
    std::optional<int> NextSlot() const;
    void Read(const ArchiveRecord& record); // the good reply for NextSlot
    void Failed();                          // no good reply: the same slot again
    bool Done() const { return Step == Phase::Done; }
    // Once done: what was found (its records moved out).
    BackFillResult Take();
    // What the archive holds now becomes the known image.
    void Commit(ArchiveImage& image) const;

private:
    enum class Phase { Check, Follow, Whole, Done };
    void StartWhole();
    void EndWhole(int end);
    void Classify(const std::string& line, bool written);
    bool Newer(std::string_view date, std::string_view time) const;

    const ArchiveImage& Known;
    Phase Step = Phase::Check;
    int Slot = 0;
    int FollowFrom = 0;
    int WritePoint = -1;
    int FailedInRow = 0;
    std::vector<ArchiveRecord> WholeImage;              // a whole read: every slot
    std::vector<std::string> WholeLines;                // and its lines, in reading order
    std::vector<std::pair<int, ArchiveRecord>> Written; // a follow: the slots written since
    BackFillResult Result;
};

// The back-fill of every meter of the line, one after another, every so
// often; LineCycle asks it for its one request after each round.
class BackFill final : public BetweenRounds {
public:
    // everyMs: from the end of one back-fill of the meters to the start of
    // the next; the first starts after the first round.
    BackFill(BackFillView& view, const std::vector<uint8_t>& addresses, int64_t everyMs);

    std::optional<modbus::TransactionRequest> NextRequest(int64_t nowMs) override;
    void Finished(const modbus::Ending* ending) override;
    bool Running() const { return Passing; }

private:
    struct Meter {
        uint8_t Address = 0;
        ArchiveImage Known;
    };
    BackFillView& View;
    std::vector<Meter> Meters;
    int64_t EveryMs;
    int64_t NextMs = 0; // when the next back-fill of the meters starts
    bool Passing = false;
    size_t At = 0; // the meter being back-filled
    std::unique_ptr<ArchiveFill> Fill;
};

} // namespace core
