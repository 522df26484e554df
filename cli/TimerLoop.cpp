#include "cli/TimerLoop.h"

namespace cli {

void LoopWake::Notify() {
    std::lock_guard lock(Mutex);
    Woken = true;
    Changed.notify_all();
}

void LoopWake::RequestStop() {
    std::lock_guard lock(Mutex);
    Stop = true;
    Changed.notify_all();
}

TimerLoop::TimerLoop() : Shared(std::make_shared<LoopWake>()) {}

void TimerLoop::Start(TimerId id, int intervalMs) {
    Timer& t = Timers[static_cast<size_t>(id)];
    if (intervalMs >= 0) t.IntervalMs = intervalMs;
    t.Active = true;
    t.Due = Clock::now() + std::chrono::milliseconds(t.IntervalMs);
}

void TimerLoop::Stop(TimerId id) {
    Timers[static_cast<size_t>(id)].Active = false;
}

void TimerLoop::SetInterval(TimerId id, int intervalMs) {
    Timers[static_cast<size_t>(id)].IntervalMs = intervalMs;
}

TimerLoop::Event TimerLoop::Next() {
    std::unique_lock lock(Shared->Mutex);
    for (;;) {
        if (Shared->Stop) return Event::Stop;
        if (Shared->Woken) {
            Shared->Woken = false;
            return Event::Woken;
        }
        size_t next = Timers.size();
        for (size_t i = 0; i < Timers.size(); ++i)
            if (Timers[i].Active && (next == Timers.size() || Timers[i].Due < Timers[next].Due)) next = i;
        if (next == Timers.size()) {
            Shared->Changed.wait(lock);
            continue;
        }
        Timer& t = Timers[next];
        const Clock::time_point now = Clock::now();
        if (t.Due > now) {
            Shared->Changed.wait_until(lock, t.Due);
            continue;
        }
        // Late ticks are not made up in a burst, as with a QTimer.
        const auto interval = std::chrono::milliseconds(t.IntervalMs);
        t.Due += interval;
        if (t.Due < now) t.Due = now + interval;
        return static_cast<Event>(next);
    }
}

} // namespace cli
