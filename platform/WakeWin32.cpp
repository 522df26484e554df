// Wake on an auto-reset event: a wait takes every set before it.
#include "platform/Wake.h"

#include <windows.h>

namespace platform {

namespace {
HANDLE Event(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}
} // namespace

Wake::Wake() : Native(reinterpret_cast<std::intptr_t>(::CreateEventW(nullptr, FALSE, FALSE, nullptr))) {}

Wake::~Wake() {
    if (Native != 0) ::CloseHandle(Event(Native));
}

void Wake::Set() {
    if (Native != 0) ::SetEvent(Event(Native));
}

bool Wake::Wait(int timeoutMs) {
    const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (Native == 0) { // without an event: sleep for the time, never spin
        ::Sleep(limit);
        return false;
    }
    return ::WaitForSingleObject(Event(Native), limit) == WAIT_OBJECT_0;
}

} // namespace platform
