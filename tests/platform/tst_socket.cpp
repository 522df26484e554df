// The gateway's TCP connection against listeners of the test's own on the
// loopback: bytes both ways, the peer's close and reset, why a connect fails,
// and the wake ending the waits.
#include "platform/Socket.h"
#include "platform/Wake.h"

#include <QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::TcpSocket;

namespace {
// A socket on the loopback's free port, listening when backlog >= 0.
struct Bound {
    int fd = -1;
    uint16_t port = 0;
    Bound(int family, int backlog) : fd(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in v4{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        const bool is4 = family == AF_INET;
        sockaddr* a = is4 ? reinterpret_cast<sockaddr*>(&v4) : reinterpret_cast<sockaddr*>(&v6);
        socklen_t size = is4 ? sizeof v4 : sizeof v6;
        if (bind(fd, a, size) != 0 || (backlog >= 0 && listen(fd, backlog) != 0)) return;
        getsockname(fd, a, &size);
        port = ntohs(is4 ? v4.sin_port : v6.sin6_port);
    }
    ~Bound() { close(fd); }
};

// Waits and takes until n bytes came or a wait ends without any.
std::vector<uint8_t> ReceiveSome(TcpSocket& socket, platform::Wake& wake, size_t n) {
    std::vector<uint8_t> got(n);
    size_t have = 0;
    while (have < n && socket.WaitForInput(wake, 10000).readable)
        have += socket.Receive(&got[have], n - have);
    got.resize(have);
    return got;
}

// Sets the wake from another thread, most likely while the caller waits.
std::thread SetSoon(platform::Wake& wake) {
    return std::thread([&wake] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        wake.Set();
    });
}
} // namespace

class TestSocket : public QObject {
    Q_OBJECT
private slots:
    void exchange() {
        const struct {
            const char* host;
            int family;
            bool reset; // the peer ends with a reset rather than a close
        } rows[] = {{"127.0.0.1", AF_INET, false}, {"localhost", AF_INET, true}, {"::1", AF_INET6, false}};
        for (const auto& r : rows) {
            Bound listener(r.family, 4);
            if (listener.port == 0) {
                qWarning("no loopback for %s here", r.host);
                continue;
            }
            platform::Wake wake;
            TcpSocket socket;
            QCOMPARE(QString::fromStdString(socket.Connect(r.host, listener.port, 3000, wake)), QString());
            const int peer = accept(listener.fd, nullptr, nullptr);
            const std::vector<uint8_t> request{1, 3, 0, 0, 0, 2, 0xC4, 0x0B}, reply{1, 3, 4, 0, 7, 0, 9};
            QVERIFY(socket.Send(request.data(), request.size(), 1000));
            std::vector<uint8_t> arrived(request.size());
            QCOMPARE(recv(peer, arrived.data(), arrived.size(), MSG_WAITALL), ssize_t(request.size()));
            QCOMPARE(arrived, request);
            QCOMPARE(send(peer, reply.data(), reply.size(), 0), ssize_t(reply.size()));
            QCOMPARE(ReceiveSome(socket, wake, reply.size()), reply);

            const linger abort{1, 0};
            if (r.reset) setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            close(peer);
            const TcpSocket::WaitResult seen = socket.WaitForInput(wake, 10000);
            QVERIFY2(seen.readable && !seen.woken, r.host);
            QVERIFY(socket.IsOpen()); // until the end is taken
            if (r.reset)
                QVERIFY(!socket.Send(request.data(), request.size(), 1000));
            else
                QCOMPARE(socket.Receive(arrived.data(), arrived.size()), size_t(0));
            QVERIFY2(!socket.IsOpen(), r.host);
        }
    }

    void connectFailures() {
        const Bound closed(AF_INET, -1); // bound, not listening: a reset to every SYN
        const Bound full(AF_INET, 0);    // its queue full once one waits: SYNs go unanswered
        const int waiting = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{AF_INET, htons(full.port), {htonl(INADDR_LOOPBACK)}, {}};
        QCOMPARE(::connect(waiting, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        pollfd queued{full.fd, POLLIN, 0};
        QCOMPARE(poll(&queued, 1, 10000), 1);
        const struct {
            std::string host;
            uint16_t port;
            int timeoutMs;
            bool wakeMeanwhile;
            std::string reason;
        } rows[] = {{"127.0.0.1", closed.port, 3000, false, "połączenie odrzucone"},
                    {"nie-ma-takiego.invalid", 502, 3000, false, "nieznany host nie-ma-takiego.invalid"},
                    {"127.0.0.1", full.port, 200, false, "brak odpowiedzi w 200 ms"},
                    {"127.0.0.1", full.port, 60000, true, "przerwano"}};
        for (const auto& r : rows) {
            platform::Wake wake;
            TcpSocket socket;
            std::thread setter = r.wakeMeanwhile ? SetSoon(wake) : std::thread([] {});
            const std::string why = socket.Connect(r.host, r.port, r.timeoutMs, wake);
            setter.join();
            QCOMPARE(QString::fromStdString(why), QString::fromStdString(r.reason));
            QVERIFY(!socket.IsOpen());
            QCOMPARE(wake.Take(), r.wakeMeanwhile); // left for the caller's next wait
        }
        close(waiting);
    }

    void waitsOnSilentPeer() {
        const Bound listener(AF_INET, 4);
        platform::Wake wake;
        TcpSocket socket;
        QCOMPARE(QString::fromStdString(socket.Connect("127.0.0.1", listener.port, 3000, wake)), QString());
        std::thread setter = SetSoon(wake);
        const TcpSocket::WaitResult seen = socket.WaitForInput(wake, 60000);
        setter.join();
        QVERIFY(seen.woken && !seen.readable && !wake.Take());
        // A peer that never reads: more than every buffer holds, not sent in time.
        const std::vector<uint8_t> flood(16 << 20);
        QVERIFY(!socket.Send(flood.data(), flood.size(), 100));
        QVERIFY(!socket.IsOpen());
    }
};

QTEST_GUILESS_MAIN(TestSocket)
#include "tst_socket.moc"
