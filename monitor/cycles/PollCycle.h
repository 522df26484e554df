// The polling cycle of the main window: connect, one tick of Timer1, the end
// of the pause (Timer2), disconnect. It decides; the window carries out what
// the view is told, in that order.
//
// One worker at most exists at any time: a new transaction starts only after
// the previous one has been released, and a released one is dropped at once.
// After every completion, whatever its result, the cycle pauses with Timer1
// stopped, so that Timer1 never counts on through a pause.
#pragma once

#include "LinkState.h"

#include <Decode.h>
#include <ParameterBlock.h>

namespace monitor::cycles {

class PollView : public CycleView {
public:
    // A good read, decoded for the device page, and the block it came from.
    virtual void ShowParameters(const model::DeviceView& decoded, const model::ParameterBlock& block) = 0;
    // A transaction timed out or ended with an error text (the result, or
    // the time-out text): no good value for this period.
    virtual void TransactionFailed(const std::string&) {}

    // What only a window shows.
    virtual void SetConnectCaption(const std::string&) {}
    // The six lists that show the meter's values: editable while connected,
    // pick-only otherwise.
    virtual void SetListsEditable(bool) {}
    virtual void RestoreSelections(const model::CachedIndexes&) {}
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

    // Ticks of Timer1 that make the reply time-out.
    static constexpr int32_t kTimeoutTicks = 20;

    PollCycle(LinkState& link, modbus::TransactionFactory factory, PollView& view);

    // Button4: connect when off-line, else disconnect.
    void ConnectButton();
    void Tick();     // Timer1
    void PauseEnd(); // Timer2
    // Back to off-line; restoreSelections is false when the archive download
    // takes over the line.
    void Disconnect(bool restoreSelections);

    // The archive download takes over the line: off-line, when connected,
    // without restoring the lists' selections.
    void StopForArchive();

    State state() const { return Current; }
    bool Connected() const { return Current != State::Offline; }

    // Pending writes, the indexes of the last good read and the fields the
    // user is typing in; the editing fills the slots.
    model::WriteSlots Slots;
    model::CachedIndexes Cached;
    model::EditingFlags Editing;
    // Ticks of Timer1 since the transaction started.
    int32_t PollTicks = 0;
    // The diameter the device page shows (its initial text until the first
    // read): a read of another one brings a new range list.
    std::string ShownDn;

private:
    void Connect();
    // False when the settings cannot make a transaction: the cycle has then
    // disconnected and shown why.
    bool StartTransaction(Slot preferred);
    modbus::TransactionRequest TakeSlot(Slot preferred, modbus::LinkSettings link);
    void Complete();
    void Decode(const model::ParameterBlock& block);
    void Fail(const std::string& error);

    LinkState& Link;
    modbus::TransactionFactory Factory;
    PollView& View;
    State Current = State::Offline;
};

} // namespace monitor::cycles
