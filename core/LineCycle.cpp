#include "core/LineCycle.h"

#include "core/LinkState.h"
#include "model/ParameterBlock.h"

#include <algorithm>

namespace core {

namespace {
// The silence that ends a frame on the line: 3.5 characters of 11 bits,
// rounded up, at least a millisecond.
uint32_t FrameGapMs(uint32_t baud) {
    if (baud == 0) return 1;
    return std::max<uint32_t>(1, static_cast<uint32_t>((int64_t{385} * 100 + baud - 1) / baud));
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
        if (m.SkipRounds > 0) {
            --m.SkipRounds;
            continue;
        }
        // One failing meter a round: its time-out is all the others wait.
        if (m.Failures > 0) {
            if (FailingAskedThisRound) continue;
            FailingAskedThisRound = true;
        }
        StartRead(m);
        return;
    }
    ++RoundsDone;
    const int64_t took = View.NowMs() - RoundStart;
    // Told when rounds start to overrun and when they grow by a fifth, not every round.
    // The first round waits for a quiet line first: not an overrun.
    if (RoundsDone > 1 && took > PeriodMs && took > LastOverrunMs + LastOverrunMs / 5) View.Overran(took);
    LastOverrunMs = took > PeriodMs ? std::max(LastOverrunMs, took) : 0;
    Waiting = true;
}

void LineCycle::StartRead(Meter& meter) {
    modbus::TransactionRequest request;
    request.Link = Link;
    request.Link.DeviceAddress = meter.Address;
    // After a failed reply the rest of it, or a late one, may still come.
    request.QuietMs = QuietNext ? static_cast<uint32_t>(Link.TimeoutMs) : FrameGapMs(Link.BaudRate);
    request.Link.TimeoutMs += static_cast<int32_t>(request.QuietMs);
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
    Meter& m = Line[At];
    const std::string trouble = Current->PortTrouble();
    if (trouble != PortTrouble) {
        PortTrouble = trouble;
        View.PortState(trouble);
    }
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
