// Several meters on one line, read in turn: one transaction at a time, a
// round every period. A meter that stops answering is asked less and less
// often (every 2nd, 4th … up to every 32nd round) and at once again every
// round when it answers; in a round at most one meter that is failing is
// asked, so that silent meters never cost the others more than one reply
// time-out per round. After a round, at most one transaction of the work
// between the rounds (the archive's back-fill). A meter with a period of its
// own (MeterPeriods) sits out the rounds before it is due. Plain C++:
// stepped by hand in tests, woken by the tool at the time it names.
#pragma once

#include "core/CycleView.h"
#include "core/MeterPeriods.h"

#include "modbus/Transaction.h"
#include "model/MeterReading.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace core {

class LineView {
public:
    virtual ~LineView() = default;
    virtual int64_t NowMs() = 0;
    // Thread-safe: a transaction has finished (empty: wait for the next wake).
    virtual std::function<void()> CompletionNotifier() { return {}; }
    // A good read of one meter, in numbers, in the unit the meter shows.
    virtual void ShowReading(uint8_t address, const model::MeterReading& reading,
                             const model::ReadingInUnits& inUnits) = 0;
    // A read of one meter failed, and why (a result text, the time-out text,
    // or what the port's probe found).
    virtual void ReadFailed(uint8_t address, const std::string& why) = 0;
    // A meter is counted as answering (at its first good read, and again
    // after it had stopped), or not any more.
    virtual void Availability(uint8_t, bool) {}
    // The port could not be used, or can be again (empty text).
    virtual void PortState(const std::string&) {}
    // Rounds take longer than the period (a round's own time in ms): told
    // when it begins and when it grows by a fifth.
    virtual void Overran(int64_t) {}
};

// One transaction between two rounds, for work that must not hold up the
// readings (the archive's back-fill): asked for after each round, one at most.
class BetweenRounds {
public:
    virtual ~BetweenRounds() = default;
    // What to ask now, of the meter at Link.DeviceAddress (the rest of the
    // link is the line's); nothing: the line waits for its next round.
    virtual std::optional<modbus::TransactionRequest> NextRequest(int64_t nowMs) = 0;
    // How it ended; nullptr when no reply came in time.
    virtual void Finished(const modbus::Ending* ending) = 0;
};

class LineCycle {
public:
    static constexpr int kLongestBackOffRounds = 32;
    // Failed reads in a row after which a meter counts as not answering.
    static constexpr int kOfflineAfter = 2;

    // link: the line's settings, its address unused; periodMs: a round's.
    LineCycle(modbus::TransactionFactory factory, LineView& view, modbus::LinkSettings link,
              std::vector<uint8_t> addresses, int32_t periodMs);
    ~LineCycle();

    void Start();
    void Stop();
    // Not owned; nullptr: nothing between the rounds.
    void SetBetweenRounds(BetweenRounds* job) { Job = job; }
    // Meters read less often than every round; before Start.
    void SetPeriods(MeterPeriods periods) { Periods = std::move(periods); }
    bool Running() const { return Active; }
    void Wake();
    std::optional<int64_t> NextWakeMs() const;

    struct Meter {
        uint8_t Address = 0;
        int Failures = 0;     // in a row
        int SkipRounds = 0;   // rounds left before it is asked again
        bool Online = false;  // as last told
        bool Told = false;    // whether anything was told yet
        uint8_t FlowUnit = 1; // the last known one, for the code without a unit
        int64_t Reads = 0, Failed = 0;
    };
    const std::vector<Meter>& Meters() const { return Line; }
    int64_t Rounds() const { return RoundsDone; }

private:
    void BeginRound();
    void NextMeter();
    void StartRead(uint8_t address, modbus::TransactionRequest request = {});
    bool StartBetween();
    void Finish(bool timedOut);
    void FinishBetween(bool timedOut);
    void Failed(Meter& meter, const std::string& why);

    modbus::TransactionFactory Factory;
    LineView& View;
    modbus::LinkSettings Link;
    std::vector<Meter> Line;
    int32_t PeriodMs;
    bool Active = false;
    std::unique_ptr<modbus::Transaction> Current;
    size_t At = 0; // the meter being read, or the next to look at
    int64_t RoundStart = 0;
    int64_t RequestStart = 0;
    int32_t RequestTimeoutMs = 0;
    bool FailingAskedThisRound = false;
    bool QuietNext = false;  // the last reply failed: the next request waits for a quiet line
    std::string PortTrouble; // as last told
    int64_t RoundsDone = 0;
    int64_t LastOverrunMs = 0; // the longest overrunning round since rounds fit
    bool Waiting = false;      // between rounds
    BetweenRounds* Job = nullptr;
    MeterPeriods Periods;
    bool Between = false; // the transaction in flight is the job's
};

} // namespace core
