// The polling cycle of the main window: connect, one tick of Timer1, the end
// of the pause (Timer2), disconnect. It decides; the window carries out what
// the view is told, in that order.
//
// One worker at most exists at any time: a new transaction starts only after
// the previous one has been released, and a released one is dropped at once.
// After every completion, whatever its result, the cycle pauses with Timer1
// stopped, so that Timer1 never counts on through a pause.
#pragma once

#include "Link.h"

#include <Decode.h>
#include <ParameterBlock.h>

namespace monitor::core {

class PollView : public CycleView {
public:
    // Shows a good read on the device page; returns the cached indexes after it.
    virtual model::CachedIndexes Decode(const model::ParameterBlock& block) = 0;
    virtual void SetConnectCaption(const std::string& caption) = 0;
    // The six lists that show the meter's values: editable while connected,
    // pick-only otherwise.
    virtual void SetListsEditable(bool editable) = 0;
    virtual void RestoreSelections(const model::CachedIndexes& indexes) = 0;
    // A transaction timed out or ended with an error text: no good value for
    // this period.
    virtual void TransactionFailed() {}
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

    State state() const { return Current; }

    // Pending writes, the indexes of the last good read and the fields the
    // user is typing in; the editing fills the slots.
    model::WriteSlots Slots;
    model::CachedIndexes Cached;
    model::EditingFlags Editing;

private:
    void Connect();
    // False when the settings cannot make a transaction: the cycle has then
    // disconnected and shown why.
    bool StartTransaction(Slot preferred);
    modbus::TransactionRequest TakeSlot(Slot preferred, modbus::LinkSettings link);
    void Complete();
    void Fail(const std::string& error);

    LinkState& Link;
    modbus::TransactionFactory Factory;
    PollView& View;
    State Current = State::Offline;
};

} // namespace monitor::core
