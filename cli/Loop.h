// The tool's loop: no timers of its own. It waits until the time its cycle
// names (the cycle's NextWakeMs), a finished transaction or a signal, on a
// condition variable, and then lets the cycle do what is due.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace cli {

// What other threads may do to the loop. Shared with them, so that a worker
// finishing after the loop has gone finds it still there.
class LoopWake {
public:
    // A transaction has finished: the loop should look now.
    void Notify();
    // SIGINT or SIGTERM: the loop ends.
    void RequestStop();

private:
    friend class Loop;
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Woken = false;
    bool Stop = false;
};

class Loop {
public:
    enum class Event { Due, Woken, Stop };

    Loop();

    // Milliseconds of the steady clock that the cycles' views give.
    static int64_t NowMs();

    std::shared_ptr<LoopWake> Wake() const { return Shared; }
    // A callback for a transaction's thread: wakes this loop.
    std::function<void()> Notifier() const;

    // Blocks until a stop, a wake or the time `dueMs` of NowMs (none: no
    // limit), in that order of precedence. A stop stays.
    Event WaitUntil(std::optional<int64_t> dueMs);

private:
    std::shared_ptr<LoopWake> Shared;
};

// While it lives, SIGINT and SIGTERM (Windows: Ctrl-C, Ctrl-Break, the
// console closing, logging off, shutting down) ask the loop to stop instead
// of ending the program; a second Ctrl-C ends it at once. Must be created
// before any other thread, so that every thread leaves the signals to it.
// Defined with the system's other parts (Platform*.cpp).
class SignalStop {
public:
    explicit SignalStop(std::shared_ptr<LoopWake> wake);
    ~SignalStop();
    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

private:
    struct Waiting;
    std::unique_ptr<Waiting> Impl;
};

} // namespace cli
