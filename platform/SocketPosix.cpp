// TcpSocket on BSD sockets: a non-blocking descriptor, and poll on it beside
// the Wake's eventfd for every wait.
#include "platform/Socket.h"
#include "platform/Wake.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr std::intptr_t kClosed = -1;
using Clock = std::chrono::steady_clock;

// What is left of a wait that began with limitMs at start; -1 for no limit.
int RemainingMs(Clock::time_point start, int limitMs) {
    if (limitMs < 0) return -1;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return static_cast<int>(std::max<long long>(0, limitMs - spent));
}

// poll, carried on after a signal for what is left of the time.
int PollFor(pollfd* fds, nfds_t count, int limitMs) {
    const Clock::time_point start = Clock::now();
    int rc;
    do {
        rc = ::poll(fds, count, RemainingMs(start, limitMs));
    } while (rc < 0 && errno == EINTR);
    return rc;
}

void SetOption(int fd, int level, int name) {
    const int on = 1;
    // Without them the connection still works, only slower to notice trouble.
    ::setsockopt(fd, level, name, &on, sizeof on);
}

std::string FailureText(int error) {
    if (error == ECONNREFUSED) return "połączenie odrzucone";
    return std::string("nie można połączyć (") + std::strerror(error) + ")";
}

enum class Attempt { Connected, Failed, TimedOut, Woken };

// One address: its socket in fd (left open only when connected), or the
// errno of the failure in error.
Attempt ConnectTo(const addrinfo& a, int& fd, int& error, int limitMs, Wake& wake) {
    fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
    if (fd < 0) {
        error = errno;
        return Attempt::Failed;
    }
    // A request is a dozen bytes: sent at once, not held back for more.
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY);
    // A gateway that vanished without a word is found out in the end.
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE);
    Attempt outcome = Attempt::Connected;
    if (::connect(fd, a.ai_addr, a.ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {static_cast<int>(wake.Handle()), POLLIN, 0}};
            const int rc = PollFor(fds, 2, limitMs);
            if (rc < 0) error = errno;
            socklen_t size = sizeof error;
            if (fds[1].revents != 0) // the set stays for the caller's next wait
                outcome = Attempt::Woken;
            else if (rc == 0)
                outcome = Attempt::TimedOut;
            else if (rc < 0)
                outcome = Attempt::Failed;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                outcome = Attempt::Failed;
        } else {
            outcome = Attempt::Failed;
        }
    }
    if (outcome != Attempt::Connected) {
        ::close(fd);
        fd = -1;
    }
    return outcome;
}
} // namespace

TcpSocket::TcpSocket() : Native(kClosed) {}

TcpSocket::~TcpSocket() {
    Close();
}

bool TcpSocket::IsOpen() const {
    return Native != kClosed;
}

std::string TcpSocket::Connect(const std::string& host, uint16_t port, int timeoutMs, Wake& wake) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    // The look-up itself cannot be woken; the time counts from its end.
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr)
        return "nieznany host " + host;
    const Clock::time_point start = Clock::now();
    std::string why;
    // Every address in turn ("localhost" may be ::1 first, the gateway's
    // server listening on 127.0.0.1 alone), all within the one time.
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        int fd = -1, error = 0;
        const Attempt outcome = ConnectTo(*a, fd, error, RemainingMs(start, timeoutMs), wake);
        if (outcome == Attempt::Connected) {
            Native = fd;
            why.clear();
            break;
        }
        if (outcome == Attempt::Woken) why = "przerwano";
        if (outcome == Attempt::TimedOut) why = "brak odpowiedzi w " + std::to_string(timeoutMs) + " ms";
        if (outcome != Attempt::Failed) break;
        why = FailureText(error);
    }
    ::freeaddrinfo(found);
    return why;
}

bool TcpSocket::Send(const uint8_t* data, size_t n, int timeoutMs) {
    const Clock::time_point start = Clock::now();
    size_t sent = 0;
    while (IsOpen() && sent < n) {
        const ssize_t done = ::send(static_cast<int>(Native), data + sent, n - sent, MSG_NOSIGNAL);
        if (done > 0) {
            sent += static_cast<size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        pollfd p{static_cast<int>(Native), POLLOUT, 0};
        // Half a request on the wire spoils the stream for the next one:
        // out of time, the connection goes as if it had failed.
        if (done == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ||
            PollFor(&p, 1, RemainingMs(start, timeoutMs)) <= 0)
            Close();
    }
    return IsOpen();
}

size_t TcpSocket::Receive(uint8_t* data, size_t n) {
    if (!IsOpen() || n == 0) return 0;
    ssize_t got;
    do {
        got = ::recv(static_cast<int>(Native), data, n, MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got > 0) return static_cast<size_t>(got);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    Close(); // the end of the stream, or a reset
    return 0;
}

TcpSocket::WaitResult TcpSocket::WaitForInput(Wake& wake, int timeoutMs) {
    WaitResult result;
    pollfd fds[2] = {{static_cast<int>(wake.Handle()), POLLIN, 0}, {static_cast<int>(Native), POLLIN, 0}};
    const nfds_t watched = IsOpen() ? 2 : 1;
    if (PollFor(fds, watched, timeoutMs) <= 0) return result;
    if (fds[0].revents != 0) result.woken = wake.Take();
    // A hang-up or an error is for Receive to find and close on.
    result.readable = watched == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    return result;
}

void TcpSocket::Close() {
    if (!IsOpen()) return;
    ::close(static_cast<int>(Native));
    Native = kClosed;
}

} // namespace platform
