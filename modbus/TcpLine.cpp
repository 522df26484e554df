#include "modbus/TcpLine.h"
#include "platform/Wake.h"

namespace modbus {

namespace {
constexpr int kSendTimeoutMs = 1000;

std::string Where(const PortAddress& a) {
    const bool v6 = a.Host.find(':') != std::string::npos;
    return (v6 ? "[" + a.Host + "]" : a.Host) + ":" + std::to_string(a.Port);
}
} // namespace

bool TcpLine::Connect(platform::Wake& wake) {
    Fresh();
    const std::string why = Socket.Connect(Address.Host, Address.Port, kConnectTimeoutMs, wake);
    if (!why.empty()) {
        Problem = "Bramka " + Where(Address) + ": " + why + ".";
        return false;
    }
    Problem.clear();
    return true;
}

bool TcpLine::Open(platform::Wake& wake) {
    LastWake = &wake;
    Lost = Heard = Resent = false;
    LastSent.clear();
    if (Socket.IsOpen()) {
        // Whatever waits now came unasked; a connection the gateway dropped
        // while idle shows here as the end of its stream.
        uint8_t bytes[512];
        for (size_t n; (n = Receive(bytes, sizeof bytes)) > 0;) Stale(bytes, n);
        if (Socket.IsOpen()) return true;
    }
    if (!Connect(wake)) return false;
    // Made anew quietly, but said once, so that a site sees a gateway that
    // keeps dropping its clients.
    if (Dropped) Reopened = true;
    Dropped = false;
    return true;
}

void TcpLine::Close() {
    Socket.Close();
}

bool TcpLine::TakeReopened() {
    const bool was = Reopened;
    Reopened = false;
    return was;
}

void TcpLine::SendAll(const uint8_t* bytes, size_t n) {
    LastSent.assign(bytes, bytes + n);
    Heard = false;
    if (Socket.Send(bytes, n, kSendTimeoutMs)) return;
    // Gone between the check and the send: one more connection, one more try.
    if (LastWake == nullptr || !Connect(*LastWake)) return;
    Reopened = true;
    Socket.Send(bytes, n, kSendTimeoutMs);
}

size_t TcpLine::Receive(uint8_t* bytes, size_t n) {
    if (!Socket.IsOpen()) return 0;
    const size_t got = Socket.Receive(bytes, n);
    if (got > 0 && !LastSent.empty()) Heard = true;
    if (Socket.IsOpen()) return got;
    Dropped = true;
    if (!LastSent.empty() && !Heard && !Resent && LastWake != nullptr && Connect(*LastWake)) {
        Resent = Reopened = true;
        Dropped = false;
        if (Socket.Send(LastSent.data(), LastSent.size(), kSendTimeoutMs)) return got;
    }
    Lost = true;
    return got;
}

Line::WaitResult TcpLine::WaitForInput(platform::Wake& wake, int timeoutMs) {
    if (!Socket.IsOpen()) return {wake.Wait(timeoutMs), false, true};
    const platform::TcpSocket::WaitResult seen = Socket.WaitForInput(wake, timeoutMs);
    return {seen.woken, seen.readable, false};
}

} // namespace modbus
