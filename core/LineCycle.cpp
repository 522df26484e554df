#include "core/LineCycle.h"

#include "core/LinkState.h"
#include "model/ParameterBlock.h"

#include <algorithm>

namespace core {

namespace {
// The silence that ends a frame on the line: 3.5 characters of 11 bits,
// to the microsecond (a millisecond's rounding is a sixth of a read at 115200).
uint32_t FrameGapUs(uint32_t baud) {
    if (baud == 0) return 1000;
    return static_cast<uint32_t>((int64_t{38500000} + baud - 1) / baud);
}
} // namespace

LineCycle::LineCycle(modbus::TransactionFactory factory, LineView& view, modbus::LinkSettings link,
                     std::vector<uint8_t> addresses, int32_t periodMs)
    : Factory(std::move(factory)), View(view), Link(std::move(link)), PeriodMs(periodMs) {
    for (const uint8_t a : addresses) Line.push_back(Meter{a});
}

LineCycle::~LineCycle() {
    Stop();
}

void LineCycle::Start() {
    if (Active) return;
    Active = true;
    // An answer to a request of an earlier run may still be on its way.
    QuietNext = true;
    BeginRound();
}

void LineCycle::Stop() {
    Active = false;
    Current.reset(); // a read in flight is given up and ends by itself
    Between = false;
}

void LineCycle::BeginRound() {
    RoundStart = View.NowMs();
    At = 0;
    FailingAskedThisRound = false;
    Waiting = false;
    NextMeter();
}

void LineCycle::NextMeter() {
    for (; At < Line.size(); ++At) {
        Meter& m = Line[At];
        // Not its round: neither asked nor counted in its back-off.
        if (!Periods.Due(m.Address, RoundStart)) continue;
        if (m.SkipRounds > 0) {
            --m.SkipRounds;
            continue;
        }
        // One failing meter a round: its time-out is all the others wait.
        if (m.Failures > 0) {
            if (FailingAskedThisRound) continue;
            FailingAskedThisRound = true;
        }
        Periods.Asked(m.Address, RoundStart);
        StartRead(m.Address);
        return;
    }
    ++RoundsDone;
    const int64_t took = View.NowMs() - RoundStart;
    // Told when rounds start to overrun and when they grow by a fifth, not every round.
    // The first round waits for a quiet line first: not an overrun.
    if (RoundsDone > 1 && took > PeriodMs && took > LastOverrunMs + LastOverrunMs / 5) View.Overran(took);
    LastOverrunMs = took > PeriodMs ? std::max(LastOverrunMs, took) : 0;
    if (Job && StartBetween()) return;
    Waiting = true;
}

bool LineCycle::StartBetween() {
    std::optional<modbus::TransactionRequest> request = Job->NextRequest(View.NowMs());
    if (!request) return false;
    Between = true;
    StartRead(request->Link.DeviceAddress, std::move(*request));
    return true;
}

void LineCycle::StartRead(uint8_t address, modbus::TransactionRequest request) {
    request.Link = Link;
    request.Link.DeviceAddress = address;
    // After a failed reply the rest of it, or a late one, may still come.
    request.QuietMs = QuietNext ? static_cast<uint32_t>(Link.TimeoutMs) : 0;
    request.QuietUs = FrameGapUs(Link.BaudRate);
    request.Link.TimeoutMs += static_cast<int32_t>(request.QuietMs + (request.QuietUs + 999) / 1000);
    request.OnDone = View.CompletionNotifier();
    RequestStart = View.NowMs();
    RequestTimeoutMs = request.Link.TimeoutMs;
    Current = Factory(request);
}

void LineCycle::Wake() {
    if (!Active) return;
    const int64_t now = View.NowMs();
    if (Waiting) {
        if (now >= RoundStart + PeriodMs) BeginRound();
        return;
    }
    if (!Current) return;
    if (Current->Done())
        Finish(false);
    else if (now >= RequestStart + RequestTimeoutMs)
        Finish(true);
}

std::optional<int64_t> LineCycle::NextWakeMs() const {
    if (!Active) return std::nullopt;
    if (Waiting) return RoundStart + PeriodMs;
    if (Current) return RequestStart + RequestTimeoutMs;
    return std::nullopt;
}

void LineCycle::Finish(bool timedOut) {
    const std::string trouble = Current->PortTrouble();
    if (trouble != PortTrouble) {
        PortTrouble = trouble;
        View.PortState(trouble);
    }
    if (Between) {
        FinishBetween(timedOut);
        return;
    }
    Meter& m = Line[At];
    if (timedOut) {
        Current.reset();
        QuietNext = true;
        Failed(m, trouble.empty() ? std::string(kReplyTimeoutText) : trouble);
    } else {
        const modbus::Ending& done = Current->Result();
        if (done.Succeeded() && done.kind == modbus::Kind::ReadRegisters) {
            const model::MeterReading reading =
                model::ReadMeter(model::CopyParameterBlock(done.reply.data()));
            Current.reset();
            QuietNext = false;
            if (reading.FlowUnitCode < 3) m.FlowUnit = reading.FlowUnitCode;
            m.Failures = 0;
            m.SkipRounds = 0;
            ++m.Reads;
            if (!m.Online || !m.Told) {
                m.Online = m.Told = true;
                View.Availability(m.Address, true);
            }
            View.ShowReading(m.Address, reading, model::InUnits(reading, m.FlowUnit));
        } else {
            const std::string why = done.Text();
            Current.reset();
            QuietNext = true;
            Failed(m, why);
        }
    }
    if (!Active) return;
    ++At;
    NextMeter();
}

void LineCycle::FinishBetween(bool timedOut) {
    Between = false;
    const std::unique_ptr<modbus::Transaction> done = std::move(Current);
    QuietNext = timedOut || !done->Result().Succeeded();
    Job->Finished(timedOut ? nullptr : &done->Result());
    Waiting = true; // the next round at its time, or at once when this took it
}

void LineCycle::Failed(Meter& m, const std::string& why) {
    ++m.Failures;
    ++m.Failed;
    m.SkipRounds = std::min(1 << std::min(m.Failures - 1, 5), kLongestBackOffRounds) - 1;
    View.ReadFailed(m.Address, why);
    if ((m.Online || !m.Told) && m.Failures >= kOfflineAfter) {
        m.Online = false;
        m.Told = true;
        View.Availability(m.Address, false);
    }
}

} // namespace core
