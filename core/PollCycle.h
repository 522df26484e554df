// The polling cycle of the main window: connect, the watch over the running
// transaction (its completion, the reply time-out, the restart after it),
// the pause, disconnect. It decides; the program carries out what the view
// is told, in that order.
//
// One worker at most exists at any time: a new transaction starts only after
// the previous one has been released, and a released one is dropped at once.
// Every completion, whatever its result, ends the watch and starts the
// pause, so that nothing times out a worker already released.
//
// Time goes by the clock in lengths of the tick (TickInterval of the reply
// time-out): 20 of them make the time-out, and the next transaction starts
// two after it. A program woken on every tick and one woken at NextWakeMs
// see the same times.
#pragma once

#include "core/Editing.h"
#include "core/LinkState.h"

#include "model/Decode.h"
#include "model/ParameterBlock.h"

#include <array>
#include <optional>
#include <vector>

namespace core {

class PollView : public CycleView {
public:
    // A good read: in the device page's texts, in numbers, and the block it came from.
    virtual void ShowParameters(const model::DeviceView& decoded, const model::MeterReading& reading,
                                const model::ParameterBlock& block) = 0;
    // A transaction timed out or ended with an error text (the result, or
    // the time-out text): no good value for this period.
    virtual void TransactionFailed(const std::string&) {}

    // What only a window shows.
    virtual void SetConnectCaption(const std::string&) {}
    // The six lists that show the meter's values: editable while connected,
    // pick-only otherwise.
    virtual void SetListsEditable(bool) {}
    virtual void RestoreSelections(const model::CachedIndexes&) {}
    // What waits to be written (empty: nothing), whenever that changes.
    virtual void ShowPendingWrites(const std::string&) {}
    // Writes dropped for another meter; empty once the next write succeeded.
    virtual void ShowDroppedWrites(const std::string&) {}
    // The controls of dropped writes show the last good read again: `again`
    // holds its texts (none for a field being typed in), `registers` the
    // registers the dropped writes were for.
    virtual void GiveBack(const model::DeviceView&, const std::vector<uint8_t>&) {}

    // Whether the device page shows what the meter says now: true from a
    // good read until a transaction fails or the cycle goes off-line.
    virtual void ValuesCurrent(bool) {}
    // The meter polled: its settings while connected, none off-line.
    virtual void ShowMeter(const std::optional<modbus::LinkSettings>&) {}
    // Why the polling cannot open its port: once when that starts, again
    // when it changes, empty when it is over.
    virtual void ShowPortProblem(const std::string&) {}
    // Every transaction at the settings of ShowMeter has timed out, nothing
    // answered yet: true once when that starts, false when something answers,
    // the settings change or the cycle goes off-line.
    virtual void ShowUnanswered(bool) {}
    // Where a serial port's name leads on this system ("./COM1" for a link
    // in the working directory, "/dev/ttyS0"); empty when not known.
    virtual std::string PortPath(const std::string&) { return {}; }
    // A COM name whose link in the working directory was used and is gone
    // now leads to the system's port instead ("łącze ./COM1 zniknęło …"):
    // once when that starts, empty when it is over.
    virtual void ShowPortNote(const std::string&) {}
    // The device page back to the window's first texts: the values shown
    // were another meter's (another port or address is polled now).
    virtual void ShowInitialValues() {}
};

// Interval of the tick timer for a reply time-out of t ms: t / 20 rounded
// (halves to even) while that is above 1, else 1 ms.
int TickInterval(int32_t timeoutMs);

inline constexpr std::string_view kConnectCaption = "Połącz z przepływomierzem";
inline constexpr std::string_view kDisconnectCaption = "Zakończ połączenie z przepływomierzem";

class PollCycle {
public:
    enum class State { Offline, Running, Pause, AfterTimeout };
    enum class Slot { None, A, B };

    PollCycle(LinkState& link, modbus::TransactionFactory factory, PollView& view);

    // The connect button: connect when off-line, else disconnect.
    void ConnectButton();
    // Does what is due now: a finished transaction, the reply time-out, the
    // restart after it, the end of the pause.
    void Wake();
    // When Wake has something to do next, unless a transaction finishes
    // first; nothing while off-line.
    std::optional<int64_t> NextWakeMs() const;
    // Back to off-line; restoreSelections is false when the archive download
    // takes over the line.
    void Disconnect(bool restoreSelections);

    // The archive download takes over the line: off-line, when connected,
    // without restoring the lists' selections.
    void StopForArchive();

    State state() const { return Current; }
    bool Connected() const { return Current != State::Offline; }

    // --- the editing's entry points ---
    // Each queues a write for the meter that the communication page names
    // when it is queued; a write waiting for another port or address is
    // dropped before anything is sent (the user is told in the status line).
    enum class Field { Cutoff, Alarm1, Alarm2 };
    // The user typed in the field: its text is no longer what the meter sent.
    void FieldTyped(Field field);
    // The user took the typing back (Esc): the field holds what it did before.
    void FieldUntyped(Field field);
    // Leaving the field (or Enter): true when the user typed in it since the
    // last decode or write of it, and it is to be queued; otherwise the
    // polling may show the meter's value in it again, and nothing is queued.
    bool LeaveField(Field field);
    platform::Outcome QueueCutoff(double percent, std::string_view decimalSeparator);
    platform::Outcome QueueAlarm(int alarm, double value, int unitIndex);
    // False for an index that names no item the meter knows.
    bool QueueChoice(ListSetting setting, int index, int itemCount);
    void QueueTotaliserReset(uint8_t firstRegister);
    // A write of a settings file, into its slot like an edit: two registers
    // (slot A) or one whose low byte is `value` (slot B).
    void QueueSettingsWrite(uint8_t firstRegister, bool twoRegisters, int32_t value);
    // The port or address may have changed (the communication page was
    // left): drops what waits for another meter, and the values of another
    // meter leave the device page.
    void CheckWriteTargets();

    // Pending writes, the indexes of the last good read and the fields the
    // user is typing in; the editing fills the slots.
    model::WriteSlots Slots;
    model::CachedIndexes Cached;
    bool HasRead = false; // Cached comes from a good read, not the start-up zeros
    model::EditingFlags Editing;
    // The diameter the device page shows (its initial text until the first
    // read): a read of another one brings a new range list.
    std::string ShownDn;
    // The page's initial diameter, shown again when another meter's values go.
    std::string InitialDn;

private:
    void Connect();
    // False when the settings cannot make a transaction: the cycle has then
    // disconnected and shown why.
    bool StartTransaction(Slot preferred);
    void Begin(modbus::TransactionRequest request);
    modbus::TransactionRequest TakeSlot(Slot preferred, modbus::LinkSettings link);
    void ShowResult();
    void TimeOut();
    void Restart();
    void Complete();
    void EndPause();
    void Decode(const model::ParameterBlock& block);
    // The meter a write is for: port and address.
    struct Target {
        std::string Port;
        uint8_t Address = 0;
        bool operator==(const Target&) const = default;
    };
    void Queued(std::optional<Target>& target);
    void DropWritesNotFor(const modbus::LinkSettings& link);
    void GiveBack(const std::vector<uint8_t>& registers);
    void PendingChanged();
    void Fail(const std::string& error);
    void SetCurrent(bool current);
    void SayPort(const std::string& problem);
    void SayUnanswered(bool unanswered);
    // Where a COM name leads now, against where its link led before.
    void CheckPortPath(const std::string& portName);
    // The values on the device page are of another port or address.
    void ForgetValuesNotFor(const modbus::LinkSettings& link);

    LinkState& Link;
    modbus::TransactionFactory Factory;
    PollView& View;
    State Current = State::Offline;
    // When the transaction started, the tick length its time-out gives, and
    // the pause.
    int64_t StartedAt = 0;
    int32_t TickMs = 50;
    int64_t PauseFrom = 0;
    int32_t PauseMs = 0;
    // Whom each slot's write is for; empty when the page named no usable
    // meter as it was queued (then it is for the next one it names).
    std::optional<Target> LongTarget;
    std::optional<Target> ShortTarget;
    std::array<bool, 3> Typed{}; // per Field
    // The last good read, for the controls of a dropped write.
    std::optional<model::MeterReading> LastReading;
    std::string Dropped;                       // what was said of dropped writes, until a write succeeds
    bool Fresh = false;                        // as ValuesCurrent last said
    std::string PortProblem;                   // as ShowPortProblem last said
    std::optional<modbus::LinkSettings> Meter; // as ShowMeter last said
    bool Answered = false;                     // something answered at the settings of Meter
    bool Unanswered = false;                   // as ShowUnanswered last said
    std::optional<Target> ValuesFrom;          // whose values the device page shows
    std::vector<std::string> LinkedNames;      // COM names that led to a link in the working directory
    std::string PortNote;                      // as ShowPortNote last said
};

} // namespace core
