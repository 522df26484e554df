// What wakes the worker from its waits: other threads set it (a time-out, a
// release) and the worker waits for it alone or together with the port
// (SerialPort::WaitForInput). A set is never lost, and one wait or Take()
// takes all the sets before it. The build picks WakePosix.cpp (an eventfd) or
// WakeWin32.cpp (an auto-reset event).
#pragma once

#include <cstdint>

namespace platform {

class Wake {
public:
    Wake();
    ~Wake();
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;

    // Any thread.
    void Set();
    // Blocks until set or timeoutMs have passed (-1: no limit); true when it
    // was set.
    bool Wait(int timeoutMs);
    // Takes a set without waiting; true when there was one.
    bool Take() { return Wait(0); }
    // The eventfd or the event's handle, for the port's wait.
    std::intptr_t Handle() const { return Native; }

private:
    std::intptr_t Native;
};

} // namespace platform
