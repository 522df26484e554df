#include "core/PollCycle.h"

#include "modbus/PortName.h"

#include <algorithm>
#include <utility>

namespace core {

using modbus::TransactionRequest;

namespace {
// Ticks from the start of a transaction to its reply time-out, and to the
// next transaction after a time-out.
constexpr int32_t kTicksToTimeout = 20;
constexpr int32_t kTicksToRestart = kTicksToTimeout + 2;
} // namespace

int TickInterval(int32_t timeoutMs) {
    constexpr int32_t ticks = kTicksToTimeout;
    if (timeoutMs <= ticks) return 1; // quotient not above 1
    const int32_t whole = timeoutMs / ticks;
    const int32_t rest = timeoutMs % ticks;
    if (rest * 2 > ticks || (rest * 2 == ticks && whole % 2 == 1)) return whole + 1;
    return whole;
}

PollCycle::PollCycle(LinkState& link, modbus::TransactionFactory factory, PollView& view)
    : Link(link), Factory(std::move(factory)), View(view) {}

void PollCycle::ConnectButton() {
    if (Connected())
        Disconnect(true);
    else
        Connect();
}

void PollCycle::Connect() {
    // Refused before anything changes: a setting that cannot make a
    // transaction would otherwise fail on every tick.
    const platform::OrReason<modbus::LinkSettings> link = View.ReadLink();
    const platform::OrReason<int32_t> period = View.ReadPeriod();
    if (!link.value || !period.value) {
        View.ShowError(!link.value ? link.error : period.error);
        return;
    }
    View.SetListsEditable(true);
    DropWritesNotFor(*link.value);
    Begin(TakeSlot(Slot::None, *link.value));
    View.SetConnectCaption(std::string(kDisconnectCaption));
    Current = State::Running;
}

void PollCycle::Disconnect(bool restoreSelections) {
    Link.EndTransaction();
    SayPort({});
    SayUnanswered(false);
    SetCurrent(false);
    if (Meter) {
        Meter.reset();
        View.ShowMeter(Meter);
    }
    View.SetConnectCaption(std::string(kConnectCaption));
    View.SetStatus(std::string(kOfflineText));
    Link.GoodReplies = 0;
    Link.BadReplies = 0;
    if (restoreSelections) View.RestoreSelections(Cached);
    View.SetListsEditable(false);
    Current = State::Offline;
}

void PollCycle::StopForArchive() {
    if (Connected()) Disconnect(false);
}

void PollCycle::Fail(const std::string& error) {
    Disconnect(true);
    View.ShowError(error);
}

TransactionRequest PollCycle::TakeSlot(Slot preferred, modbus::LinkSettings link) {
    TransactionRequest request;
    request.Link = std::move(link);
    if (preferred == Slot::None) return request;
    const auto takeA = [&] {
        Slots.LongWritePending = false;
        request.Staged = TransactionRequest::Write::Long;
        request.WriteRegister = Slots.LongWriteRegister;
        request.LongValue = Slots.LongWriteValue;
    };
    const auto takeB = [&] {
        Slots.ShortWritePending = false;
        request.Staged = TransactionRequest::Write::Short;
        request.WriteRegister = Slots.ShortWriteRegister;
        request.ShortHigh = Slots.ShortWriteHigh;
        request.ShortLow = Slots.ShortWriteLow;
    };
    const bool aFirst = preferred == Slot::A;
    if (aFirst ? Slots.LongWritePending : Slots.ShortWritePending) {
        aFirst ? takeA() : takeB();
    } else if (aFirst ? Slots.ShortWritePending : Slots.LongWritePending) {
        aFirst ? takeB() : takeA();
    }
    if (request.Staged != TransactionRequest::Write::None) PendingChanged();
    return request;
}

bool PollCycle::StartTransaction(Slot preferred) {
    // The settings are read before a slot is taken: a write is never lost
    // to a setting that cannot be used.
    platform::OrReason<modbus::LinkSettings> link = View.ReadLink();
    if (!link.value) {
        Fail(link.error);
        return false;
    }
    DropWritesNotFor(*link.value);
    Begin(TakeSlot(preferred, std::move(*link.value)));
    return true;
}

void PollCycle::Begin(modbus::TransactionRequest request) {
    request.OnDone = View.CompletionNotifier();
    ForgetValuesNotFor(request.Link);
    CheckPortPath(request.Link.PortName);
    if (Meter != request.Link) {
        Meter = request.Link;
        Answered = false;
        SayUnanswered(false);
        View.ShowMeter(Meter);
    }
    StartedAt = View.NowMs();
    TickMs = TickInterval(request.Link.TimeoutMs);
    Link.ActiveRead = Factory(request);
}

void PollCycle::Wake() {
    const int64_t now = View.NowMs();
    switch (Current) {
    case State::Running:
        // A reply first seen at the time-out is shown, but comes too late.
        if (Link.ActiveDone()) ShowResult();
        if (now >= StartedAt + int64_t{kTicksToTimeout} * TickMs)
            TimeOut();
        else if (Link.ActiveDone())
            Complete();
        return;
    case State::AfterTimeout:
        if (now >= StartedAt + int64_t{kTicksToRestart} * TickMs) Restart();
        return;
    case State::Pause:
        if (now >= PauseFrom + PauseMs) EndPause();
        return;
    case State::Offline:
        return;
    }
}

std::optional<int64_t> PollCycle::NextWakeMs() const {
    switch (Current) {
    case State::Running:
        return StartedAt + int64_t{kTicksToTimeout} * TickMs;
    case State::AfterTimeout:
        return StartedAt + int64_t{kTicksToRestart} * TickMs;
    case State::Pause:
        return PauseFrom + PauseMs;
    case State::Offline:
        break;
    }
    return std::nullopt;
}

void PollCycle::ShowResult() {
    View.SetStatus(ResultLine(Link.ActiveRead->Result().Text(), Link.GoodReplies, Link.BadReplies));
}

void PollCycle::TimeOut() {
    // Asked before the transaction is given up: only it knows. A port that
    // cannot be opened counts as a time-out; what its probe found is said
    // beside the result, once until it changes.
    const std::string trouble = Link.ActiveRead ? Link.ActiveRead->PortTrouble() : std::string();
    Link.TimeOutActiveRead(View);
    View.TransactionFailed(std::string(kReplyTimeoutText));
    SetCurrent(false);
    SayPort(trouble);
    if (!Answered) SayUnanswered(true);
    Current = State::AfterTimeout;
}

void PollCycle::SetCurrent(bool current) {
    if (current == Fresh) return;
    Fresh = current;
    View.ValuesCurrent(current);
}

void PollCycle::SayPort(const std::string& problem) {
    if (problem == PortProblem) return; // once, until it changes
    PortProblem = problem;
    View.ShowPortProblem(problem);
}

void PollCycle::SayUnanswered(bool unanswered) {
    if (unanswered == Unanswered) return;
    Unanswered = unanswered;
    View.ShowUnanswered(unanswered);
}

void PollCycle::CheckPortPath(const std::string& portName) {
    // POSIX: "COM1" is a link of that name in the working directory while
    // there is one, else the system's port; a gateway is no file at all.
    const std::string path = modbus::IsGatewayName(portName) ? std::string() : View.PortPath(portName);
    const bool linked = path.starts_with("./");
    const auto seen = std::find(LinkedNames.begin(), LinkedNames.end(), portName);
    if (linked && seen == LinkedNames.end()) LinkedNames.push_back(portName);
    std::string note;
    if (!linked && !path.empty() && path != portName && seen != LinkedNames.end())
        note = "łącze ./" + portName + " zniknęło z katalogu roboczego: " + portName + " to teraz " + path;
    if (note == PortNote) return;
    PortNote = note;
    View.ShowPortNote(note);
}

void PollCycle::ForgetValuesNotFor(const modbus::LinkSettings& link) {
    if (!ValuesFrom || *ValuesFrom == Target{link.PortName, link.DeviceAddress}) return;
    // Another meter's values would pass for this one's: the page goes back
    // to its first texts, and the indexes to the start-up zeros.
    ValuesFrom.reset();
    LastReading.reset();
    Cached = {};
    HasRead = false;
    ShownDn = InitialDn;
    SetCurrent(false);
    View.ShowInitialValues();
}

void PollCycle::Restart() {
    if (!StartTransaction(Slot::B)) return;
    Current = State::Running;
}

void PollCycle::Complete() {
    const modbus::Ending& done = Link.ActiveRead->Result();
    // Every completion pauses, also one with an error text: no time-out is
    // then due for a worker already released.
    ++Link.GoodReplies;
    Link.TraceFinished(View);
    SayPort({}); // something answered: the port opened
    Answered = true;
    SayUnanswered(false);
    if (!done.Succeeded()) {
        View.TransactionFailed(done.Text());
        SetCurrent(false);
    } else if (done.kind == modbus::Kind::ReadRegisters) {
        Decode(model::CopyParameterBlock(done.reply.data()));
    } else if (!Dropped.empty()) {
        // A write that went through: what was dropped before is old news.
        Dropped.clear();
        View.ShowDroppedWrites(Dropped);
    }
    Link.EndTransaction();
    Current = State::Pause;

    const platform::OrReason<int32_t> period = View.ReadPeriod();
    if (!period.value) {
        Fail(period.error);
        return;
    }
    PauseFrom = View.NowMs();
    PauseMs = *period.value;
}

void PollCycle::Decode(const model::ParameterBlock& block) {
    const model::MeterReading reading = model::ReadMeter(block);
    const model::DeviceView decoded =
        model::DevicePageTexts(reading, ShownDn, Editing, Cached, View.DecimalSeparator());
    if (decoded.Diameter) ShownDn = *decoded.Diameter;
    // A field the meter's value was written into holds nothing typed any more.
    if (decoded.Cutoff) Typed[static_cast<size_t>(Field::Cutoff)] = false;
    if (decoded.Alarm1) Typed[static_cast<size_t>(Field::Alarm1)] = false;
    if (decoded.Alarm2) Typed[static_cast<size_t>(Field::Alarm2)] = false;
    Cached = decoded.Indexes;
    HasRead = true;
    LastReading = reading;
    if (Meter) ValuesFrom = Target{Meter->PortName, Meter->DeviceAddress};
    View.ShowParameters(decoded, reading, block);
    SetCurrent(true);
}

void PollCycle::EndPause() {
    if (!StartTransaction(Slot::A)) return;
    Current = State::Running;
}

} // namespace core
