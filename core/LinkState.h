// What the polling cycle and the archive download share: the one current
// transaction, the reply counters, and the status texts they show.
#pragma once

#include "core/CycleView.h"

#include "modbus/Transaction.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace core {

// The state both cycles work on; it lives as long as the window.
struct LinkState {
    LinkState() = default;
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;
    ~LinkState() { EndTransaction(); }

    // The current transaction; empty once it has been finished, so a
    // finished worker is never looked at again.
    std::unique_ptr<modbus::Transaction> ActiveRead;
    int64_t GoodReplies = 0;
    int64_t BadReplies = 0;

    // The one way a transaction ends for its cycle: released when done,
    // otherwise told to stop waiting and released; it then ends by itself.
    void EndTransaction() { ActiveRead.reset(); }
    bool ActiveDone() const { return ActiveRead && ActiveRead->Done(); }
    // The reply time-out, as both cycles declare it: the transaction told to
    // stop waiting, the time-out line with the counters before it, the
    // request and reply lines traced, the transaction finished, one more bad
    // reply.
    void TimeOutActiveRead(CycleView& view);
    // A finished transaction's two lines, when the trace is on.
    void TraceFinished(CycleView& view, bool replyFirst = false) const;
};

inline constexpr std::string_view kOfflineText = "Przepływomierz nie podłączony - praca w trybie off-line";
inline constexpr std::string_view kInitialStatusText =
    "Przepływomierz nie podłączony - praca w trybie offline";
// A meter that did not answer within the reply time-out.
inline constexpr std::string_view kReplyTimeoutText = "Timeout odpowiedzi z przepływomierza";

// The result text with the counters as they stood before this result.
std::string ResultLine(std::string_view result, int64_t good, int64_t bad);
std::string TimeoutLine(int64_t good, int64_t bad);

} // namespace core
