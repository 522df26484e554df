// The polling cycle: the editing's entry points and the meter each waiting
// write belongs to.
#include "core/PollCycle.h"

namespace core {

namespace {

bool& EditingFlag(model::EditingFlags& flags, PollCycle::Field field) {
    switch (field) {
    case PollCycle::Field::Alarm1:
        return flags.Alarm1Editing;
    case PollCycle::Field::Alarm2:
        return flags.Alarm2Editing;
    case PollCycle::Field::Cutoff:
        break;
    }
    return flags.CutoffEditing;
}

} // namespace

void PollCycle::FieldTyped(Field field) {
    Typed[static_cast<size_t>(field)] = true;
}

bool PollCycle::LeaveField(Field field) {
    if (Typed[static_cast<size_t>(field)]) return true;
    // An unchanged text is the meter's own value: writing it back could
    // undo a change made on the meter meanwhile.
    EditingFlag(Editing, field) = false;
    return false;
}

platform::Outcome PollCycle::QueueCutoff(double percent, std::string_view decimalSeparator) {
    platform::Outcome queued = core::QueueCutoff(Slots, Editing, percent, decimalSeparator);
    if (!queued) return queued;
    Typed[static_cast<size_t>(Field::Cutoff)] = false;
    Queued(ShortTarget);
    return queued;
}

platform::Outcome PollCycle::QueueAlarm(int alarm, double value, int unitIndex) {
    platform::Outcome queued = QueueAlarmThreshold(Slots, Editing, alarm, value, unitIndex);
    if (!queued) return queued;
    Typed[static_cast<size_t>(alarm == 1 ? Field::Alarm1 : Field::Alarm2)] = false;
    Queued(LongTarget);
    return queued;
}

bool PollCycle::QueueChoice(ListSetting setting, int index, int itemCount) {
    if (!QueueListChoice(Slots, Cached, setting, index, itemCount)) return false;
    // A range goes to slot A, every other list to slot B.
    Queued(setting == ListSetting::Range ? LongTarget : ShortTarget);
    return true;
}

void PollCycle::QueueTotaliserReset(uint8_t firstRegister) {
    core::QueueTotaliserReset(Slots, firstRegister);
    Queued(LongTarget);
}

void PollCycle::Queued(std::optional<Target>& target) {
    const platform::Reading<modbus::LinkSettings> link = View.ReadLink();
    target = link ? std::optional<Target>(Target{link->PortName, link->DeviceAddress}) : std::nullopt;
    PendingChanged();
}

void PollCycle::CheckWriteTargets() {
    if (const platform::Reading<modbus::LinkSettings> link = View.ReadLink()) DropWritesNotFor(*link);
}

void PollCycle::DropWritesNotFor(const modbus::LinkSettings& link) {
    const Target now{link.PortName, link.DeviceAddress};
    std::string dropped;
    const auto check = [&](bool& pending, uint8_t reg, std::optional<Target>& target) {
        if (!pending) return;
        if (!target) target = now; // made while the page named no meter: for this one
        if (*target == now) return;
        pending = false;
        target.reset();
        dropped += (dropped.empty() ? "" : ", ") + std::string(WriteName(reg));
    };
    check(Slots.LongWritePending, Slots.LongWriteRegister, LongTarget);
    check(Slots.ShortWritePending, Slots.ShortWriteRegister, ShortTarget);
    if (dropped.empty()) return;
    const std::string why = "Nie zapisano (" + dropped +
                            "): zmiana czekała na inny port lub adres przepływomierza niż teraz ustawiony.";
    View.SetStatus(why);
    // Kept beside what still waits until the next change, as the status line
    // is overwritten by the next result.
    PendingChanged(why);
}

void PollCycle::PendingChanged(const std::string& dropped) {
    const std::string waiting = PendingWritesText(Slots);
    View.ShowPendingWrites(dropped.empty() || waiting.empty() ? dropped + waiting : dropped + " " + waiting);
}

} // namespace core
