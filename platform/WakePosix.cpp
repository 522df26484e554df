// Wake on an eventfd, so that poll can watch it beside the port.
#include "platform/Wake.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

Wake::Wake() : Native(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Wake::~Wake() {
    if (Native >= 0) ::close(static_cast<int>(Native));
}

void Wake::Set() {
    const uint64_t one = 1;
    // Cannot fail short of a closed descriptor; the flag it stands for is already set.
    if (Native >= 0 && ::write(static_cast<int>(Native), &one, sizeof one) < 0) return;
}

bool Wake::Wait(int timeoutMs) {
    // Without an eventfd poll still sleeps for the time, never spins.
    const int fd = static_cast<int>(Native);
    pollfd p{fd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0) return false;
    uint64_t value = 0; // reading the counter takes every set at once
    ssize_t got;
    do {
        got = ::read(fd, &value, sizeof value);
    } while (got < 0 && errno == EINTR);
    return got == sizeof value;
}

} // namespace platform
