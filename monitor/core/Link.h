// What the polling cycle and the archive download share: the one current
// transaction, the tick counter, the reply counters, the status texts, and
// the window they drive. Plain C++: the cycles are stepped by hand in tests.
#pragma once

#include <Transaction.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace monitor::core {

enum class TimerId { Timer1, Timer2, Timer3, Timer4 };

// A setting read from its control: the value, or why it cannot be used
// (a Polish text naming the setting).
template <class T> struct Reading {
    std::optional<T> value;
    std::string error;
};

// What a cycle asks of the window, in the order the window must do it.
class CycleView {
public:
    virtual ~CycleView() = default;
    virtual void SetStatus(const std::string& text) = 0;
    virtual bool DiagnosticsOn() const = 0;
    virtual void AppendTrace(const std::string& line) = 0;
    // intervalMs < 0 keeps the timer's interval.
    virtual void StartTimer(TimerId timer, int intervalMs = -1) = 0;
    virtual void StopTimer(TimerId timer) = 0;
    // The system's error box; a cycle shows one only after it has stopped.
    virtual void ShowError(const std::string& text) = 0;
    // The settings as the communication page holds them now.
    virtual Reading<modbus::LinkSettings> ReadLink() = 0;
    virtual Reading<int32_t> ReadPeriod() = 0;
};

// The state both cycles work on; it lives as long as the window.
struct LinkState {
    LinkState() = default;
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;
    ~LinkState() { GiveUpActiveRead(); }

    // The current transaction; empty once it has been released, so a
    // released worker is never looked at again.
    std::unique_ptr<modbus::Transaction> ActiveRead;
    bool Connected = false;
    int32_t PollTicks = 0;
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

// The result text with the counters as they stood before this result.
std::string ResultLine(std::string_view result, int64_t good, int64_t bad);
std::string TimeoutLine(int64_t good, int64_t bad);

} // namespace monitor::core
