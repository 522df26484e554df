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

void PollCycle::FieldUntyped(Field field) {
    Typed[static_cast<size_t>(field)] = false;
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

void PollCycle::QueueSettingsWrite(uint8_t firstRegister, bool twoRegisters, int32_t value) {
    if (twoRegisters) {
        Slots.LongWriteValue = value;
        Slots.LongWriteRegister = firstRegister;
        Slots.LongWritePending = true;
        return Queued(LongTarget);
    }
    Slots.ShortWriteHigh = 0;
    Slots.ShortWriteLow = static_cast<uint8_t>(value);
    Slots.ShortWriteRegister = firstRegister;
    Slots.ShortWritePending = true;
    Queued(ShortTarget);
}

void PollCycle::Queued(std::optional<Target>& target) {
    const platform::OrReason<modbus::LinkSettings> link = View.ReadLink();
    target = link ? std::optional<Target>(Target{link->PortName, link->DeviceAddress}) : std::nullopt;
    PendingChanged();
}

void PollCycle::CheckWriteTargets() {
    const platform::OrReason<modbus::LinkSettings> link = View.ReadLink();
    if (!link) return;
    DropWritesNotFor(*link);
    ForgetValuesNotFor(*link);
}

void PollCycle::DropWritesNotFor(const modbus::LinkSettings& link) {
    const Target now{link.PortName, link.DeviceAddress};
    std::string dropped;
    std::vector<uint8_t> registers;
    const auto check = [&](bool& pending, uint8_t reg, std::optional<Target>& target) {
        if (!pending) return;
        if (!target) target = now; // made while the page named no meter: for this one
        if (*target == now) return;
        pending = false;
        target.reset();
        registers.push_back(reg);
        dropped += (dropped.empty() ? "" : ", ") + std::string(WriteName(reg));
    };
    check(Slots.LongWritePending, Slots.LongWriteRegister, LongTarget);
    check(Slots.ShortWritePending, Slots.ShortWriteRegister, ShortTarget);
    if (dropped.empty()) return;
    // Beside the result line, which keeps its counters.
    Dropped = "Nie zapisano (" + dropped + "): zmiana była dla innego portu lub adresu przepływomierza.";
    View.ShowDroppedWrites(Dropped);
    PendingChanged();
    GiveBack(registers);
}

void PollCycle::GiveBack(const std::vector<uint8_t>& registers) {
    if (!LastReading) return; // nothing read yet: no meter's value to show
    // The dropped values are not the meter's: its own go back into their
    // controls, also into a field the focus came back to.
    for (const uint8_t reg : registers) {
        std::optional<Field> field;
        if (reg == reg::Cutoff) field = Field::Cutoff;
        if (reg == reg::Alarm1) field = Field::Alarm1;
        if (reg == reg::Alarm2) field = Field::Alarm2;
        if (!field) continue;
        EditingFlag(Editing, *field) = false;
        Typed[static_cast<size_t>(*field)] = false;
    }
    View.GiveBack(model::DevicePageTexts(*LastReading, ShownDn, Editing, Cached, View.DecimalSeparator()),
                  registers);
}

void PollCycle::PendingChanged() {
    View.ShowPendingWrites(PendingWritesText(Slots));
}

} // namespace core
