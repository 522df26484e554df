// The four timers of the window played without an event loop: the cycles
// start and stop them through their view, and the command's loop waits for
// the next one that is due, a finished transaction or a signal, on a
// condition variable.
#pragma once

#include "core/CycleView.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace cli {

using core::TimerId;

// What other threads may do to the loop. Shared with them, so that a worker
// finishing after the loop has gone finds it still there.
class LoopWake {
public:
    // A transaction has finished: the loop should look now.
    void Notify();
    // SIGINT or SIGTERM: the loop ends.
    void RequestStop();

private:
    friend class TimerLoop;
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Woken = false;
    bool Stop = false;
};

class TimerLoop {
public:
    using Clock = std::chrono::steady_clock;
    enum class Event { Timer1, Timer2, Timer3, Timer4, Woken, Stop };

    TimerLoop();

    // As a QTimer: (re)starts from now; intervalMs < 0 keeps the interval.
    void Start(TimerId id, int intervalMs);
    void Stop(TimerId id);
    // The interval of the timer's next start without an interval of its own.
    void SetInterval(TimerId id, int intervalMs);

    std::shared_ptr<LoopWake> Wake() const { return Shared; }

    // Blocks until a stop, a wake or the earliest due timer, in that order of
    // precedence. A timer that fires is due again one interval later.
    Event Next();

private:
    struct Timer {
        bool Active = false;
        int IntervalMs = 0;
        Clock::time_point Due;
    };
    std::array<Timer, 4> Timers;
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
