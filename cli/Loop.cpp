#include "cli/Loop.h"

#include <chrono>

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

Loop::Loop() : Shared(std::make_shared<LoopWake>()) {}

int64_t Loop::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::function<void()> Loop::Notifier() const {
    return [wake = Shared] { wake->Notify(); };
}

Loop::Event Loop::WaitUntil(std::optional<int64_t> dueMs) {
    std::unique_lock lock(Shared->Mutex);
    for (;;) {
        if (Shared->Stop) return Event::Stop;
        if (Shared->Woken) {
            Shared->Woken = false;
            return Event::Woken;
        }
        if (!dueMs) {
            Shared->Changed.wait(lock);
            continue;
        }
        const int64_t left = *dueMs - NowMs();
        if (left <= 0) return Event::Due;
        Shared->Changed.wait_for(lock, std::chrono::milliseconds(left));
    }
}

} // namespace cli
