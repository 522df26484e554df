// TcpSocket on Winsock 2: a non-blocking socket whose network events signal
// an event object, waited on together with the Wake's own event.
#include "platform/Socket.h"
#include "platform/Wake.h"
#include "platform/Win32Text.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace platform {

namespace {
constexpr std::intptr_t kClosed = -1; // INVALID_SOCKET as the header's integer
using Clock = std::chrono::steady_clock;

SOCKET Sock(std::intptr_t native) {
    return static_cast<SOCKET>(native);
}

HANDLE WakeEvent(const Wake& wake) {
    return reinterpret_cast<HANDLE>(wake.Handle());
}

// Winsock wants WSAStartup before its first call. Made once, by whichever
// connection comes first, and never undone: the process's end undoes it.
bool WinsockStarted() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// What is left of a wait that began with limitMs at start; -1 for no limit.
int RemainingMs(Clock::time_point start, int limitMs) {
    if (limitMs < 0) return -1;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return static_cast<int>(std::max<long long>(0, limitMs - spent));
}

enum class Signal { Socket, Woken, TimedOut, Failed };

// The socket's event object, or the wake (none when null). A wait ended by
// the wake has taken its set.
Signal WaitFor(WSAEVENT event, HANDLE wake, int limitMs) {
    const HANDLE handles[2] = {event, wake};
    const DWORD count = wake != nullptr ? 2 : 1;
    const DWORD rc =
        ::WaitForMultipleObjects(count, handles, FALSE, limitMs < 0 ? INFINITE : static_cast<DWORD>(limitMs));
    if (rc == WAIT_OBJECT_0) return Signal::Socket;
    if (rc == WAIT_OBJECT_0 + 1) return Signal::Woken;
    return rc == WAIT_TIMEOUT ? Signal::TimedOut : Signal::Failed;
}

// Bytes or the end of the stream wait (FD_READ), or there is room (FD_WRITE), now.
bool ReadyNow(SOCKET s, long events) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval zero{};
    const bool reading = (events & FD_READ) != 0;
    return ::select(0, reading ? &set : nullptr, reading ? nullptr : &set, nullptr, &zero) > 0;
}

// Waits for the events asked of a connected socket, or the wake. The event
// records only what happens after its selection; the zero-time look after
// it sees what came before.
Signal WaitOn(SOCKET s, long events, HANDLE wake, int limitMs) {
    const WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT) return Signal::Failed;
    Signal signal = Signal::Failed;
    if (::WSAEventSelect(s, event, events) == 0) {
        signal = ReadyNow(s, events) ? Signal::Socket : WaitFor(event, wake, limitMs);
        ::WSAEventSelect(s, nullptr, 0); // the socket stays non-blocking
    }
    ::WSACloseEvent(event);
    return signal;
}

void SetOption(SOCKET s, int level, int name) {
    const BOOL on = TRUE;
    // Without them the connection still works, only slower to notice trouble.
    ::setsockopt(s, level, name, reinterpret_cast<const char*>(&on), sizeof on);
}

std::string FailureText(int error) {
    if (error == WSAECONNREFUSED) return "połączenie odrzucone";
    return "nie można połączyć (" + SystemErrorText(static_cast<unsigned long>(error)) + ")";
}

enum class Attempt { Connected, Failed, TimedOut, Woken };

// The connect under way on s, its end signalled on event.
Attempt AwaitConnect(SOCKET s, WSAEVENT event, int& error, int limitMs, Wake& wake) {
    switch (WaitFor(event, WakeEvent(wake), limitMs)) {
    case Signal::Woken:
        wake.Set(); // the wait took the set; it stays for the caller's next wait
        return Attempt::Woken;
    case Signal::TimedOut:
        return Attempt::TimedOut;
    case Signal::Failed:
        error = static_cast<int>(::GetLastError());
        return Attempt::Failed;
    case Signal::Socket:
        break;
    }
    WSANETWORKEVENTS seen{};
    if (::WSAEnumNetworkEvents(s, event, &seen) != 0) {
        error = ::WSAGetLastError();
        return Attempt::Failed;
    }
    error = seen.iErrorCode[FD_CONNECT_BIT];
    return error == 0 ? Attempt::Connected : Attempt::Failed;
}

// One address: its socket in s (left open only when connected), or the
// Winsock error of the failure in error.
Attempt ConnectTo(const addrinfo& a, SOCKET& s, int& error, int limitMs, Wake& wake) {
    s = ::WSASocketW(a.ai_family, a.ai_socktype, a.ai_protocol, nullptr, 0,
                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return Attempt::Failed;
    }
    // A request is a dozen bytes: sent at once, not held back for more.
    SetOption(s, IPPROTO_TCP, TCP_NODELAY);
    // A gateway that vanished without a word is found out in the end.
    SetOption(s, SOL_SOCKET, SO_KEEPALIVE);
    Attempt outcome = Attempt::Failed;
    // Selected before the connect, so that its end cannot pass unseen; the
    // selection also makes the socket non-blocking, for good.
    const WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT || ::WSAEventSelect(s, event, FD_CONNECT) != 0)
        error = ::WSAGetLastError();
    else if (::connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) == 0)
        outcome = Attempt::Connected;
    else if ((error = ::WSAGetLastError()) == WSAEWOULDBLOCK)
        outcome = AwaitConnect(s, event, error, limitMs, wake);
    if (event != WSA_INVALID_EVENT) {
        ::WSAEventSelect(s, nullptr, 0);
        ::WSACloseEvent(event);
    }
    if (outcome != Attempt::Connected) {
        ::closesocket(s);
        s = INVALID_SOCKET;
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
    if (!WinsockStarted()) return FailureText(WSASYSNOTREADY);
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
        SOCKET s = INVALID_SOCKET;
        int error = 0;
        const Attempt outcome = ConnectTo(*a, s, error, RemainingMs(start, timeoutMs), wake);
        if (outcome == Attempt::Connected) {
            Native = static_cast<std::intptr_t>(s);
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
        const int chunk = static_cast<int>(std::min<size_t>(n - sent, INT_MAX));
        const int done = ::send(Sock(Native), reinterpret_cast<const char*>(data + sent), chunk, 0);
        if (done > 0) {
            sent += static_cast<size_t>(done);
            continue;
        }
        // Half a request on the wire spoils the stream for the next one:
        // out of time, the connection goes as if it had failed.
        if (done == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK ||
            WaitOn(Sock(Native), FD_WRITE | FD_CLOSE, nullptr, RemainingMs(start, timeoutMs)) !=
                Signal::Socket)
            Close();
    }
    return IsOpen();
}

size_t TcpSocket::Receive(uint8_t* data, size_t n) {
    if (!IsOpen() || n == 0) return 0;
    const int want = static_cast<int>(std::min<size_t>(n, INT_MAX));
    const int got = ::recv(Sock(Native), reinterpret_cast<char*>(data), want, 0);
    if (got > 0) return static_cast<size_t>(got);
    if (got < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    Close(); // the end of the stream, or a reset
    return 0;
}

TcpSocket::WaitResult TcpSocket::WaitForInput(Wake& wake, int timeoutMs) {
    WaitResult result;
    if (!IsOpen()) {
        result.woken = wake.Wait(timeoutMs);
        return result;
    }
    const Signal signal = WaitOn(Sock(Native), FD_READ | FD_CLOSE, WakeEvent(wake), timeoutMs);
    result.woken = signal == Signal::Woken;
    // A socket that cannot be waited on is for Receive to find broken, not
    // for the caller to wait on again at once.
    result.readable = signal == Signal::Socket || signal == Signal::Failed;
    return result;
}

void TcpSocket::Close() {
    if (!IsOpen()) return;
    ::closesocket(Sock(Native));
    Native = kClosed;
}

} // namespace platform
