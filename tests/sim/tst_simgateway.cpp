// The simulator as an Ethernet gateway on the loopback, talked to through a
// plain client socket: RTU frames over TCP and MODBUS TCP, faults, wire time,
// one client at a time and connections dropped after N requests.
#include "sim/Simulator.h"

#include <QTest>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vqtsim;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace QTest {
template <> char* toString(const Bytes& b) {
    return toString(QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())).toHex(' '));
}
} // namespace QTest

namespace {

constexpr std::time_t kNow = 1765000000;               // a fixed archive, so that a row can hold a record
const Bytes kReadOne = {0x03, 0x00, 0x00, 0x00, 0x01}; // a PDU: register 1
const Bytes kOne = {0x03, 0x02, 0x00, 0x0D};           // its answer's

Bytes Rtu(Bytes f) {
    const uint16_t crc = SimCrc(f.data(), f.size());
    f.insert(f.end(), {uint8_t(crc & 0xFF), uint8_t(crc >> 8)});
    return f;
}

Bytes Mbap(uint16_t tid, uint8_t unit, const Bytes& pdu, const Bytes& after = {}) {
    Bytes adu = {uint8_t(tid >> 8), uint8_t(tid), 0, 0, 0, uint8_t(pdu.size() + 1), unit};
    adu.insert(adu.end(), pdu.begin(), pdu.end());
    adu.insert(adu.end(), after.begin(), after.end());
    return adu;
}

Options Gateway(bool modbusTcp, bool wireTiming = false) {
    Options o;
    o.wireTiming = wireTiming;
    o.archiveNow = kNow;
    (modbusTcp ? o.modbusTcpPort : o.rtuTcpPort) = -1;
    return o;
}

int Connect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
}

void Send(int fd, const Bytes& b) {
    QCOMPARE(send(fd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
}

// Reads until `want` bytes have come, or for `ms` at most.
Bytes Receive(int fd, size_t want, int ms = 1000) {
    Bytes got(want);
    size_t n = 0;
    pollfd p{fd, POLLIN, 0};
    for (const auto until = Clock::now() + std::chrono::milliseconds(ms); n < want;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        const ssize_t r = left > 0 && poll(&p, 1, int(left)) > 0 ? recv(fd, got.data() + n, want - n, 0) : 0;
        if (r <= 0) break;
        n += size_t(r);
    }
    got.resize(n);
    return got;
}

// The gateway's end of the connection, within a second.
bool Closed(int fd) {
    pollfd p{fd, POLLIN, 0};
    uint8_t b = 0;
    return poll(&p, 1, 1000) == 1 && recv(fd, &b, 1, 0) <= 0;
}

} // namespace

class TestSimGateway : public QObject {
    Q_OBJECT

private slots:
    // One request and the bytes that come back; empty: nothing comes.
    void transactions_data() {
        QTest::addColumn<bool>("modbusTcp");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<Bytes>("answer");
        Bytes badCrc = Rtu({1, 3, 2, 0, 0x0D}), record = {0x14, 0x18, 0x17, 0x06};
        badCrc.back() ^= 0xFF;
        const Record first = MakeArchive(100, false, 1, kNow)[0];
        record.insert(record.end(), first.begin(), first.end());
        const Bytes readRecord = {0x14, 0x07, 0x06, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0B};
        const auto row = [](const char* name, bool tcp, Fault f, int code, const Bytes& rq,
                            const Bytes& answer) {
            QTest::newRow(name) << tcp << int(f) << code << rq << answer;
        };
        row("rtu+tcp read", false, Fault::None, 0, Rtu({1, 3, 0, 0, 0, 1}), Rtu({1, 3, 2, 0, 0x0D}));
        row("rtu+tcp bad CRC", false, Fault::BadCrc, 0, Rtu({1, 3, 0, 0, 0, 1}), badCrc);
        row("rtu+tcp, address nobody has", false, Fault::None, 0, Rtu({9, 3, 0, 0, 0, 1}), {});
        row("modbus-tcp read", true, Fault::None, 0, Mbap(0x1234, 1, kReadOne), Mbap(0x1234, 1, kOne));
        row("modbus-tcp archive", true, Fault::None, 0, Mbap(0xBEEF, 1, readRecord), Mbap(0xBEEF, 1, record));
        row("modbus-tcp, unit nobody has", true, Fault::None, 0, Mbap(7, 9, kReadOne),
            Mbap(7, 9, {0x83, 0x0B}));
        row("modbus-tcp exception", true, Fault::Exception, 4, Mbap(8, 1, kReadOne),
            Mbap(8, 1, {0x83, 0x04}));
        row("modbus-tcp bad CRC", true, Fault::BadCrc, 0, Mbap(9, 1, kReadOne), Mbap(9, 1, {0x83, 0x0B}));
        row("modbus-tcp foreign unit", true, Fault::ForeignAddress, 7, Mbap(1, 1, kReadOne),
            Mbap(1, 7, kOne));
        row("modbus-tcp noise", true, Fault::TrailingNoise, 2, Mbap(2, 1, kReadOne),
            Mbap(2, 1, kOne, {0x55, 0x55}));
        row("modbus-tcp silence", true, Fault::Silence, 0, Mbap(3, 1, kReadOne), {});
    }
    void transactions() {
        QFETCH(bool, modbusTcp);
        QFETCH(int, fault);
        QFETCH(int, code);
        QFETCH(Bytes, request);
        QFETCH(Bytes, answer);
        Simulator sim(Gateway(modbusTcp));
        QVERIFY2(sim.Start(), sim.Error().c_str());
        sim.SetFault(Fault(fault), code);
        const int fd = Connect(sim.TcpPort());
        Send(fd, request);
        QCOMPARE(Receive(fd, std::max<size_t>(answer.size(), 1), answer.empty() ? 150 : 1000), answer);
        close(fd);
    }

    // Late through MODBUS TCP: the answer the master gave up on comes with
    // its own transaction id, ahead of the next request's. Each after the
    // RTU frames' wire time too: (8 + 7) characters of 11 bits at 9600 bit/s.
    void lateAnswerKeepsItsTransaction() {
        Simulator sim(Gateway(true, true));
        QVERIFY(sim.Start());
        sim.SetFault(Fault::Late, 0, 200);
        const int fd = Connect(sim.TcpPort());
        const auto sent = Clock::now();
        Send(fd, Mbap(1, 1, kReadOne));
        QVERIFY(Receive(fd, 1, 100).empty());
        sim.SetFault(Fault::None);
        Send(fd, Mbap(2, 1, kReadOne));
        QCOMPARE(Receive(fd, 22), Mbap(1, 1, kOne, Mbap(2, 1, kOne)));
        QVERIFY(Clock::now() - sent >= 200ms + 2 * 17190us); // 165 bits at 9600 bit/s, twice
        close(fd);
    }

    // drop-after:2 ends the first connection after exactly two answers; the
    // second client, connected meanwhile and waiting in the backlog, is
    // served then, and counted anew.
    void dropAfterAndOneClientAtATime_data() {
        QTest::addColumn<bool>("modbusTcp");
        QTest::newRow("rtu+tcp") << false;
        QTest::newRow("modbus-tcp") << true;
    }
    void dropAfterAndOneClientAtATime() {
        QFETCH(bool, modbusTcp);
        Simulator sim(Gateway(modbusTcp));
        QVERIFY(sim.Start());
        sim.SetDropAfter(2);
        const Bytes rq = modbusTcp ? Mbap(5, 1, kReadOne) : Rtu({1, 3, 0, 0, 0, 1});
        const Bytes answer = modbusTcp ? Mbap(5, 1, kOne) : Rtu({1, 3, 2, 0, 0x0D});
        const int first = Connect(sim.TcpPort()), second = Connect(sim.TcpPort());
        QVERIFY(first >= 0 && second >= 0);
        Send(second, rq); // waits in the backlog
        for (int i = 0; i < 2; ++i) {
            Send(first, rq);
            QCOMPARE(Receive(first, answer.size()), answer);
            if (i == 0) QVERIFY(Receive(second, 1, 20).empty()); // the first is still served
        }
        QVERIFY(Closed(first));
        QCOMPARE(Receive(second, answer.size()), answer);
        Send(second, rq);
        QCOMPARE(Receive(second, answer.size()), answer);
        QVERIFY(Closed(second));
        QCOMPARE(sim.ConnectionsAccepted(), uint64_t(2));
        QCOMPARE(sim.RepliesSent(), uint64_t(4));
        close(first);
        close(second);
    }
};

QTEST_GUILESS_MAIN(TestSimGateway)
#include "tst_simgateway.moc"
