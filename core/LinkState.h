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
    ~LinkState() { GiveUpActiveRead(); }

    // The current transaction; empty once it has been released, so a
    // released worker is never looked at again.
    std::unique_ptr<modbus::Transaction> ActiveRead;
    int64_t GoodReplies = 0;
    int64_t BadReplies = 0;

    // Lets a transaction that has not been released go: it stops waiting
    // for its reply and ends by itself.
    void GiveUpActiveRead();
    // Hands a finished transaction back: TransactionDone cleared, released.
    void ReleaseFinished();
    // Releases a transaction that has already been told to stop waiting.
    void ReleaseSignalled();
    // The reply time-out, as both cycles declare it: the tick timer stopped,
    // the transaction told to stop waiting, the time-out line with the
    // counters before it, the request and reply lines traced, the transaction
    // released, the tick timer started again, one more bad reply.
    void TimeOutActiveRead(CycleView& view, TimerId tick);
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
