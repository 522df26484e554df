// A TCP client connection, for the meters behind an Ethernet gateway. One
// interface; the build picks the system's side (SocketPosix.cpp or
// SocketWin32.cpp). Waits block on the socket together with a Wake, never spin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class Wake;

class TcpSocket {
public:
    TcpSocket();
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves host (a name, an IPv4 or a bracket-less IPv6 literal) and
    // connects within timeoutMs; a set wake ends the attempt early (and
    // stays set, for the caller's next wait to see). Empty on success, else
    // why not, in Polish ("połączenie odrzucone", "nieznany host …", "brak
    // odpowiedzi w 3000 ms" …). Closes a connection it had.
    std::string Connect(const std::string& host, uint16_t port, int timeoutMs, Wake& wake);
    bool IsOpen() const;

    // Sends every byte, waiting for room at most timeoutMs in all; false
    // when the connection is gone or no room came in time (it is then
    // closed: half a request would spoil the stream).
    bool Send(const uint8_t* data, size_t n, int timeoutMs);
    // Takes up to n bytes that have already arrived; never blocks. 0 when
    // none wait; when the peer has closed or the connection failed, 0 and
    // the socket is closed (IsOpen() false).
    size_t Receive(uint8_t* data, size_t n);

    struct WaitResult {
        bool woken = false;    // the wake was set (and is taken)
        bool readable = false; // bytes wait, or the peer closed (Receive tells)
    };
    // Blocks until bytes arrive, the peer closes, the wake is set or
    // timeoutMs have passed (-1: no limit).
    WaitResult WaitForInput(Wake& wake, int timeoutMs);

    void Close();

private:
    std::intptr_t Native;
};

} // namespace platform
