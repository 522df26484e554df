#include "core/LinkState.h"

namespace core {

void LinkState::TimeOutActiveRead(CycleView& view) {
    if (ActiveRead) ActiveRead->SignalTimeout();
    view.SetStatus(TimeoutLine(GoodReplies, BadReplies));
    if (view.DiagnosticsOn() && ActiveRead) {
        const auto trace = ActiveRead->TraceLines();
        view.AppendTrace(trace.tx);
        view.AppendTrace(trace.rx);
    }
    EndTransaction();
    ++BadReplies;
}

void LinkState::TraceFinished(CycleView& view, bool replyFirst) const {
    if (!view.DiagnosticsOn() || !ActiveRead) return;
    const modbus::Trace& trace = ActiveRead->Result().trace;
    view.AppendTrace(replyFirst ? trace.rx : trace.tx);
    view.AppendTrace(replyFirst ? trace.tx : trace.rx);
}

namespace {
// The two lines differ only in the gap before "Błędy".
std::string CounterLine(std::string_view text, int64_t good, int64_t bad, std::string_view gap) {
    std::string line(text);
    line += "                     Poprawne odpowiedzi : ";
    line += std::to_string(good);
    line += gap;
    line += "Błędy : ";
    line += std::to_string(bad);
    return line;
}
} // namespace

std::string ResultLine(std::string_view result, int64_t good, int64_t bad) {
    return CounterLine(result, good, bad, "         ");
}

std::string TimeoutLine(int64_t good, int64_t bad) {
    return CounterLine(kReplyTimeoutText, good, bad, "        ");
}

} // namespace core
