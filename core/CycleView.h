// What the polling cycle and the archive download ask of the program that
// runs them (the main window, or the command-line tool), in the order it
// must do it. Plain C++: the cycles are stepped by hand in tests.
#pragma once

#include "modbus/Transaction.h"
#include "platform/OrReason.h"

#include <cstdint>
#include <functional>
#include <string>

namespace core {

enum class TimerId { Timer1, Timer2, Timer3, Timer4 };

class CycleView {
public:
    virtual ~CycleView() = default;
    // A steady clock in milliseconds.
    virtual int64_t NowMs() = 0;
    // The settings as the communication page holds them now.
    virtual platform::OrReason<modbus::LinkSettings> ReadLink() = 0;
    virtual platform::OrReason<int32_t> ReadPeriod() = 0;
    // The user's decimal separator, for every number shown or written.
    virtual std::string DecimalSeparator() = 0;
    // The system's error box; a cycle shows one only after it has stopped.
    virtual void ShowError(const std::string& text) = 0;
    // Thread-safe: called on the transaction's thread once it has finished,
    // so that its cycle can look at once (empty: at the next tick or wake).
    virtual std::function<void()> CompletionNotifier() { return {}; }

    // The window's timers, which drive its cycles tick by tick; a program
    // without them wakes each cycle at the time the cycle names (its
    // NextWakeMs) or when a transaction finishes. intervalMs < 0 keeps the
    // timer's interval.
    virtual void StartTimer(TimerId, int = -1) {}
    virtual void StopTimer(TimerId) {}

    // What only a window shows.
    virtual void SetStatus(const std::string&) {}
    virtual bool DiagnosticsOn() const { return false; }
    virtual void AppendTrace(const std::string&) {}
};

} // namespace core
