// The simulator as an Ethernet gateway in front of its meters: a TCP
// listener on the loopback that serves one client at a time, and the MODBUS
// TCP framing (MBAP header + PDU) turned into RTU frames for the meters and
// back. Its own code, like the rest of sim/: nothing from modbus/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vqtsim {

// MODBUS TCP: transaction id (2), protocol id 0 (2), length (2: the bytes
// that follow, unit id included), unit id (1), then the PDU.
constexpr size_t kMbapHeader = 7;

// Length of the complete ADU at the start of buf, 0 if more bytes are
// needed, -1 for a header no MODBUS TCP client sends (protocol id not 0,
// length outside 2..254: a PDU of 1..253 bytes).
int AduLength(const uint8_t* buf, size_t n);
// The RTU frame the gateway puts on the line for a complete ADU: unit id as
// the address, the PDU, the CRC.
std::vector<uint8_t> AduToRtu(const std::vector<uint8_t>& adu);
// The answer to `request` (an ADU): its transaction id, protocol 0, `unit`, pdu.
std::vector<uint8_t> MbapAnswer(const std::vector<uint8_t>& request, uint8_t unit,
                                const std::vector<uint8_t>& pdu);

// A listening socket on 127.0.0.1 and the one client taken from it.
class Listener {
public:
    Listener() = default;
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // port 1..65535, or -1 for any free one; false with Error() set.
    bool Listen(int port);
    // Takes the next waiting connection; false when none could be taken.
    bool Accept(std::string& peer);
    // Ends the client's connection: what it sent and we did not read is
    // thrown away, what we sent still reaches it.
    void CloseClient();
    void CloseAll();

    int Fd() const { return listening; }
    int Client() const { return client; }
    uint16_t Port() const { return port; }
    const std::string& Error() const { return error; }

    // Sends every byte to the client; gives up when it takes nothing for a
    // while, the connection is gone or `wake` becomes readable.
    bool SendAll(const uint8_t* data, size_t n, int wake);

private:
    int listening = -1;
    int client = -1;
    uint16_t port = 0;
    std::string error;
};

} // namespace vqtsim
