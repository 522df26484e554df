#include "sim/Gateway.h"

#include <algorithm>

#include "sim/Simulator.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vqtsim {
namespace {

constexpr int kBacklog = 8;        // clients waiting while one is served
constexpr int kWriteStallMs = 200; // give up an answer nobody takes
constexpr size_t kMaxPdu = 253;    // as on the serial line: 256 - address - CRC

std::string SysError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

int AduLength(const uint8_t* buf, size_t n) {
    if (n < 6) return 0;
    const size_t length = static_cast<size_t>((buf[4] << 8) | buf[5]);
    if (buf[2] != 0 || buf[3] != 0 || length < 2 || length > kMaxPdu + 1) return -1;
    return n >= 6 + length ? static_cast<int>(6 + length) : 0;
}

std::vector<uint8_t> AduToRtu(const std::vector<uint8_t>& adu) {
    std::vector<uint8_t> frame(adu.begin() + 6, adu.end());
    const uint16_t crc = SimCrc(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

std::vector<uint8_t> MbapAnswer(const std::vector<uint8_t>& request, uint8_t unit,
                                const std::vector<uint8_t>& pdu) {
    const size_t length = pdu.size() + 1;
    // Sized once and filled: growing a 7-byte vector by insert trips GCC
    // 12's bounds check at -O2, a false alarm.
    std::vector<uint8_t> adu(7 + pdu.size());
    adu[0] = request[0];
    adu[1] = request[1];
    adu[4] = static_cast<uint8_t>(length >> 8);
    adu[5] = static_cast<uint8_t>(length & 0xFF);
    adu[6] = unit;
    std::copy(pdu.begin(), pdu.end(), adu.begin() + 7);
    return adu;
}

Listener::~Listener() {
    CloseAll();
}

bool Listener::Listen(int wanted) {
    listening = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listening < 0) return error = SysError("cannot create a socket"), false;
    const int one = 1;
    setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(wanted < 0 ? 0 : wanted));
    const std::string where = "127.0.0.1:" + std::to_string(wanted < 0 ? 0 : wanted);
    if (bind(listening, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return error = SysError("cannot listen on " + where), false;
    if (listen(listening, kBacklog) != 0) return error = SysError("cannot listen on " + where), false;
    socklen_t size = sizeof a;
    if (getsockname(listening, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return error = SysError("cannot tell the port listened on"), false;
    port = ntohs(a.sin_port);
    return true;
}

bool Listener::Accept(std::string& peer) {
    sockaddr_in a{};
    socklen_t size = sizeof a;
    const int fd = accept4(listening, reinterpret_cast<sockaddr*>(&a), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return false;
    // Each answer goes out as written: split answers stay split, no answer waits for an ACK.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    peer = std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
    client = fd;
    return true;
}

void Listener::CloseClient() {
    if (client < 0) return;
    // The FIN after what we sent; unread input dropped first, or close()
    // would reset the connection and could cost the client our last answer.
    shutdown(client, SHUT_WR);
    uint8_t sink[512];
    while (recv(client, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    close(client);
    client = -1;
}

void Listener::CloseAll() {
    CloseClient();
    if (listening >= 0) close(listening);
    listening = -1;
    port = 0;
}

bool Listener::SendAll(const uint8_t* data, size_t n, int wake) {
    while (n > 0) {
        if (client < 0) return false;
        const ssize_t w = send(client, data, n, MSG_NOSIGNAL);
        if (w > 0) {
            data += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd p[2] = {{client, POLLOUT, 0}, {wake, POLLIN, 0}};
        if (poll(p, 2, kWriteStallMs) <= 0 || p[1].revents || !(p[0].revents & POLLOUT)) return false;
    }
    return true;
}

} // namespace vqtsim
