// What the polling cycle and the archive download ask of the program that
// runs them (the main window, or the command-line tool), in the order it
// must do it. Plain C++: the cycles are stepped by hand in tests.
//
// Time is this view's clock. A cycle never waits: the program wakes it
// (Wake) at the time it names (NextWakeMs), or earlier, for instance when a
// transaction finishes; an early wake does nothing that is not due.
#pragma once

#include "modbus/Transaction.h"
#include "platform/OrReason.h"

#include <cstdint>
#include <functional>
#include <string>

namespace core {

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

    // What only a window shows.
    virtual void SetStatus(const std::string&) {}
    virtual bool DiagnosticsOn() const { return false; }
    virtual void AppendTrace(const std::string&) {}
};

} // namespace core
