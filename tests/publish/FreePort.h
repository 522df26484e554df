// A TCP port on 127.0.0.1 that nothing listens on just now, for a broker of
// a test's or a benchmark's own.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brokertest {

inline int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

} // namespace brokertest
