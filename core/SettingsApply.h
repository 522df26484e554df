// Making a meter look like a settings file: what differs, the writes that
// make it so, and the apply itself, which hands the writes one at a time
// to the polling cycle's write slots, as a user's edits go, and checks each
// in the read that follows it. The address and the totalisers are never
// written; a range is written only to a meter whose DN has the file's range
// list.
#pragma once

#include "core/PollCycle.h"
#include "core/SettingsFile.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// One setting: the meter's value before, the file's, what was read back
// after, and what became of it.
struct SettingRow {
    enum class Outcome {
        AlreadyRight, // the meter had the file's value
        ToWrite,      // differs: not written yet, or a dry run
        Written,      // written and read back equal
        Mapped,       // a range position the meter took as its DN's own value
        Changed,      // written, and the meter shows another value
        Refused,      // the write failed; Note holds the result
        NotWritten,   // the apply stopped before its write
        LeftAlone,    // not to be written; Note says why
    };
    Setting Which = Setting::Range;
    std::optional<int32_t> Meter;
    std::optional<int32_t> File;
    std::optional<int32_t> After;
    Outcome State = Outcome::AlreadyRight;
    std::string Note;
};

// A function-16 write as the window's editing queues it: two registers
// (slot A) or one whose low byte is Value (slot B).
struct SettingsWrite {
    uint8_t Register = 0;
    bool TwoRegisters = false;
    int32_t Value = 0;
    std::vector<Setting> Sets; // the settings it changes
};

struct SettingsPlan {
    std::vector<SettingRow> Rows;      // every setting, in the order of kSettings
    std::vector<SettingsWrite> Writes; // by register
    uint8_t MeterDnIndex = 0;
    // The flow unit the thresholds are shown in: the file's, else the meter's.
    SettingValues Context;
};

SettingsPlan PlanSettings(const SettingsFile& file, const model::MeterReading& meter);

// The apply over a polling cycle that runs (or is about to be connected).
// The owner passes on what the cycle's view is told: every good read, every
// failed transaction, and the end of the connection.
class SettingsApply {
public:
    // Failed transactions in a row after which the meter counts as gone.
    static constexpr int kFailuresInARow = 3;

    SettingsApply(PollCycle& poll, SettingsFile file, bool dryRun);

    void Read(const model::MeterReading& reading);
    void Failed(const std::string& result);
    // The connection ended or the writes were dropped: the apply stops.
    void Stop(const std::string& why);

    bool Finished() const { return Done; }
    // The comparison: empty until the first read.
    const SettingsPlan& Plan() const { return Current; }
    // Why the apply stopped early (a refusal, no answer); empty otherwise.
    const std::string& Stopped() const { return StopReason; }
    // The settings the meter did not take (refused, changed, not written).
    std::vector<Setting> NotTaken() const;
    // For the status bar: which write of how many.
    std::string ProgressText() const;

private:
    void QueueNext();
    void Verify(const model::MeterReading& reading);
    void Finish(const model::MeterReading& reading);
    SettingRow& Row(Setting s);
    bool Taken() const;

    PollCycle& Poll;
    SettingsFile File;
    bool DryRun;
    SettingsPlan Current;
    bool Planned = false;
    size_t Next = 0;         // the write queued or in flight
    bool Queued = false;     // Next is in a slot or on its way
    std::string FailedSince; // the first failure since the write was taken
    int FailuresInARow = 0;
    bool Done = false;
    std::string StopReason;
};

// The outcome of a row in the window's words ("zapisano", "przepływomierz
// odmówił: …"); and the comparison's lines for the question before writing.
std::string OutcomeText(const SettingsPlan& plan, const SettingRow& row, std::string_view sep);
std::string DifferenceLine(const SettingsPlan& plan, const SettingRow& row, std::string_view sep);

} // namespace core
