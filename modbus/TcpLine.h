// What the two gateway lines share: one TCP connection, kept between
// transactions, found closed and made anew before a request rather than
// after one is lost.
#pragma once

#include "modbus/Line.h"
#include "platform/Socket.h"

#include <vector>

namespace modbus {

class TcpLine : public Line {
public:
    explicit TcpLine(PortAddress address) : Address(std::move(address)) {}

    bool Open(platform::Wake& wake) override;
    bool IsOpen() const override { return Socket.IsOpen(); }
    void Close() override;
    std::string Trouble() const override { return Problem; }
    bool TakeReopened() override;
    bool IsNetwork() const override { return true; }
    WaitResult WaitForInput(platform::Wake& wake, int timeoutMs) override;

protected:
    // Bytes that arrived while no request was out; the line decides what
    // they are worth. Called by Open() on a kept connection.
    virtual void Stale(const uint8_t* bytes, size_t n) = 0;
    // A new connection: nothing of the old stream carries over.
    virtual void Fresh() {}
    // Sends, making the connection anew once when it turns out to be gone.
    void SendAll(const uint8_t* bytes, size_t n);
    // Takes what has arrived. When the peer closed before a byte of the
    // reply came, the request is sent once more on a new connection (a
    // gateway that drops idle clients may do so just as the request goes
    // out); otherwise the line is gone for this transaction.
    size_t Receive(uint8_t* bytes, size_t n);
    bool Gone() const { return Lost; }

    PortAddress Address;
    platform::TcpSocket Socket;

private:
    bool Connect(platform::Wake& wake);

    std::string Problem;
    bool Dropped = false;  // the peer closed the last connection
    bool Reopened = false; // Open() found the kept one closed and made a new one
    bool Lost = false;     // the peer closed during this transaction
    bool Heard = false;    // a byte came after the request
    bool Resent = false;   // this transaction's request went out again
    std::vector<uint8_t> LastSent;
    platform::Wake* LastWake = nullptr;
};

} // namespace modbus
