// The simulator on a real pty, talked to through its link with plain POSIX
// calls, as the master program does: open, write, read, close.
#include "sim/Simulator.h"
#include "tests/common/SimulatorFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
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

Bytes WithCrc(Bytes f) {
    const uint16_t crc = SimCrc(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

const Bytes kRead = {0x01, 0x03, 0x00, 0x00, 0x00, 0x1B, 0x05, 0xC1};

Bytes ReadOne() {
    return WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
}

int OpenLine(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

void Send(int fd, const Bytes& b) {
    QCOMPARE(write(fd, b.data(), b.size()), ssize_t(b.size()));
}

// Reads until `want` bytes have come or `ms` have passed without them.
Bytes Receive(int fd, size_t want, int ms) {
    Bytes got;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
        uint8_t buf[512];
        const ssize_t n = read(fd, buf, std::min(sizeof buf, want - got.size()));
        if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
}

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Line {
    explicit Line(Options o = {}) {
        o.linkDir = dir.path().toStdString();
        sim = std::make_unique<Simulator>(o);
        sim->SetLive(false);
    }
    bool Start() { return sim->Start(); }
    QTemporaryDir dir;
    std::unique_ptr<Simulator> sim;
};

Options Fast() {
    return testsim::FastMeter();
}

Bytes DefaultReply() {
    Bytes r = {0x01, 0x03, 0x36};
    for (uint16_t v : DefaultRegisters()) {
        r.push_back(static_cast<uint8_t>(v >> 8));
        r.push_back(static_cast<uint8_t>(v & 0xFF));
    }
    return WithCrc(r);
}

} // namespace

class TestSimLine : public QObject {
    Q_OBJECT

private slots:
    void readTakesItsWireTime() {
        Line line; // 9600 bit/s: (8 + 59) characters of 11 bits = 76.8 ms
        QVERIFY2(line.Start(), line.sim->Error().c_str());
        char target[256] = {};
        QVERIFY(readlink(line.sim->LinkPath().c_str(), target, sizeof target - 1) > 0);
        QCOMPARE(std::string(target), line.sim->DevicePath());

        const int fd = OpenLine(line.sim->LinkPath());
        QVERIFY(fd >= 0);
        const auto sent = Clock::now();
        Send(fd, kRead);
        const Bytes first = Receive(fd, 1, 1000);
        const double firstMs = MsSince(sent);
        const Bytes rest = Receive(fd, 58, 1000);
        close(fd);
        Bytes all = first;
        all.insert(all.end(), rest.begin(), rest.end());
        QCOMPARE(all, DefaultReply());
        QVERIFY2(firstMs >= 76.0 && firstMs < 250.0, qPrintable(QString::number(firstMs)));
        QCOMPARE(line.sim->RequestsSeen(), uint64_t(1));
        QCOMPARE(line.sim->RepliesSent(), uint64_t(1));
    }

    void faults() {
        Line line(Fast());
        QVERIFY2(line.Start(), line.sim->Error().c_str());
        const int fd = OpenLine(line.sim->LinkPath());
        QVERIFY(fd >= 0);

        line.sim->SetFault(Fault::Silence);
        Send(fd, kRead);
        QVERIFY(Receive(fd, 1, 300).empty());
        QCOMPARE(line.sim->RequestsSeen(), uint64_t(1));
        QCOMPARE(line.sim->RepliesSent(), uint64_t(0));

        line.sim->SetFault(Fault::Late, 0, 250);
        auto t = Clock::now();
        Send(fd, kRead);
        QVERIFY(Receive(fd, 1, 200).empty());
        QCOMPARE(Receive(fd, 59, 1000).size(), size_t(59));
        QVERIFY(MsSince(t) >= 250.0);

        // The reply must stop after its fifth byte: the master reads what it finds at 5 bytes.
        line.sim->SetFault(Fault::Split, 0, 300);
        t = Clock::now();
        Send(fd, kRead);
        const Bytes head = Receive(fd, 59, 200);
        QCOMPARE(head.size(), size_t(5));
        const Bytes tail = Receive(fd, 54, 1000);
        QVERIFY(MsSince(t) >= 300.0);
        Bytes whole = head;
        whole.insert(whole.end(), tail.begin(), tail.end());
        QCOMPARE(whole, DefaultReply());

        line.sim->SetFault(Fault::BadCrc);
        Send(fd, kRead);
        Bytes bad = Receive(fd, 59, 1000);
        QCOMPARE(bad.size(), size_t(59));
        QVERIFY(bad != DefaultReply());
        bad.back() ^= 0xFF;
        QCOMPARE(bad, DefaultReply());

        line.sim->SetFault(Fault::Exception, 4);
        Send(fd, kRead);
        QCOMPARE(Receive(fd, 5, 1000), WithCrc({0x01, 0x83, 0x04}));

        line.sim->SetFault(Fault::TrailingNoise, 3);
        Send(fd, kRead);
        Bytes noisy = Receive(fd, 62, 1000);
        QCOMPARE(noisy.size(), size_t(62));
        QCOMPARE(Bytes(noisy.end() - 3, noisy.end()), Bytes({0x55, 0x55, 0x55}));

        line.sim->SetFault(Fault::None);
        line.sim->SetDropProbability(0.5);
        int answered = 0;
        for (int i = 0; i < 40; ++i) {
            Send(fd, kRead);
            answered += Receive(fd, 59, 60).size() == 59 ? 1 : 0;
        }
        QVERIFY2(answered > 5 && answered < 35, qPrintable(QString::number(answered)));
        close(fd);
    }

    // Answers that are well formed but not the meter's: each row's bytes,
    // CRC and all, as the master gets them off the pty.
    void hostileAnswers_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<Bytes>("answer");
        const Bytes readOne = ReadOne();
        const Bytes write = WithCrc({0x01, 0x10, 0x00, 0x04, 0x00, 0x01, 0x02, 0x00, 0x07});
        Bytes otherFunction = DefaultReply(), shortCount = DefaultReply();
        otherFunction[1] = 0x04;
        shortCount[2] = 52;
        otherFunction = WithCrc(Bytes(otherFunction.begin(), otherFunction.end() - 2));
        shortCount = WithCrc(Bytes(shortCount.begin(), shortCount.end() - 2));
        const auto row = [](const char* name, Fault f, int code, const Bytes& rq, const Bytes& answer) {
            QTest::newRow(name) << int(f) << code << rq << answer;
        };
        row("another device at 7", Fault::ForeignAddress, 7, readOne,
            WithCrc({0x07, 0x03, 0x02, 0x00, 0x0D}));
        row("address 0 in an answer", Fault::ForeignAddress, 0, write,
            WithCrc({0x00, 0x10, 0x00, 0x04, 0x00, 0x01}));
        row("function 04, 59 bytes", Fault::ForeignFunction, 4, kRead, otherFunction);
        row("exception bit, data length", Fault::ForeignFunction, 0x83, readOne,
            WithCrc({0x01, 0x83, 0x02, 0x00, 0x0D}));
        row("byte count 52 of 54", Fault::ByteCount, 52, kRead, shortCount);
        row("byte count leaves a write's echo", Fault::ByteCount, 0, write,
            WithCrc({0x01, 0x10, 0x00, 0x04, 0x00, 0x01}));
    }
    void hostileAnswers() {
        QFETCH(int, fault);
        QFETCH(int, code);
        QFETCH(Bytes, request);
        QFETCH(Bytes, answer);
        Line line(Fast());
        QVERIFY(line.Start());
        line.sim->SetFault(static_cast<Fault>(fault), code);
        const int fd = OpenLine(line.sim->LinkPath());
        Send(fd, request);
        QCOMPARE(Receive(fd, answer.size(), 1000), answer);
        QVERIFY(Receive(fd, 1, 100).empty());
        // Only the answer is foreign: a write the meter took is applied.
        QCOMPARE(line.sim->WritesApplied(), uint64_t(request[1] == 0x10 ? 1 : 0));
        QCOMPARE(line.sim->Registers()[4], uint16_t(request[1] == 0x10 ? 7 : 3));
        line.sim->SetFaultShare(0); // none of the requests: the proper answer again
        Send(fd, ReadOne());
        QCOMPARE(Receive(fd, 7, 300), WithCrc({0x01, 0x03, 0x02, 0x00, 0x0D}));
        close(fd);
    }

    void framing() {
        Line line(Fast());
        QVERIFY(line.Start());
        const int fd = OpenLine(line.sim->LinkPath());
        QVERIFY(fd >= 0);
        const Bytes readOne = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
        const Bytes replyOne = WithCrc({0x01, 0x03, 0x02, 0x00, 0x0D});

        Bytes noisy = {0xFF, 0x00, 0xFE};
        noisy.insert(noisy.end(), readOne.begin(), readOne.end());
        Send(fd, noisy);
        QCOMPARE(Receive(fd, 7, 1000), replyOne);

        Bytes corrupt = readOne;
        corrupt[5] ^= 0x01;
        Send(fd, corrupt);
        QVERIFY(Receive(fd, 1, 200).empty());

        // A frame cut short is thrown away after the silence, not joined to the next one.
        Send(fd, Bytes(kRead.begin(), kRead.begin() + 4));
        QThread::msleep(100);
        Send(fd, readOne);
        QCOMPARE(Receive(fd, 7, 1000), replyOne);
        QVERIFY(Receive(fd, 1, 100).empty());

        Bytes twice = readOne;
        twice.insert(twice.end(), readOne.begin(), readOne.end());
        Send(fd, twice);
        QCOMPARE(Receive(fd, 14, 1000).size(), size_t(14));

        Send(fd, WithCrc({0x02, 0x03, 0x00, 0x00, 0x00, 0x01}));
        QVERIFY(Receive(fd, 1, 200).empty());

        // An unknown function is framed by the silence after it.
        Send(fd, WithCrc({0x01, 0x2B, 0x0E, 0x01, 0x00}));
        QCOMPARE(Receive(fd, 5, 1000), WithCrc({0x01, 0xAB, 0x01}));

        // A write reaches the registers.
        Send(fd, WithCrc({0x01, 0x10, 0x00, 0x04, 0x00, 0x01, 0x02, 0x00, 0x07}));
        QCOMPARE(Receive(fd, 8, 1000), WithCrc({0x01, 0x10, 0x00, 0x04, 0x00, 0x01}));
        QCOMPARE(line.sim->Registers()[4], uint16_t(7));
        QCOMPARE(line.sim->WritesApplied(), uint64_t(1));
        close(fd);
    }

    // One pty, three meters: each answers at its own address with its own
    // values, archive and counters; the others' addresses get silence.
    void threeMetersOnOneLine() {
        Options o = Fast();
        o.addresses = {2, 1, 5};
        Line line(o);
        QVERIFY2(line.Start(), line.sim->Error().c_str());
        QCOMPARE(line.sim->Addresses(), std::vector<uint8_t>({2, 1, 5}));
        const int fd = OpenLine(line.sim->LinkPath());
        const struct {
            uint8_t address;
            bool answered;
        } rows[] = {{1, true}, {2, true}, {5, true}, {3, false}, {0, false}, {247, false}};
        std::set<Bytes> values;
        for (const auto& r : rows) {
            Send(fd, WithCrc({r.address, 0x03, 0x00, 0x00, 0x00, 0x1B}));
            const Bytes got = Receive(fd, 59, r.answered ? 1000 : 100);
            if (!r.answered) {
                QVERIFY2(got.empty(), qPrintable(QString::number(r.address)));
                continue;
            }
            Bytes expected = {r.address, 0x03, 0x36};
            for (uint16_t v : line.sim->Registers(r.address))
                expected.insert(expected.end(), {uint8_t(v >> 8), uint8_t(v)});
            QCOMPARE(got, WithCrc(expected));
            values.insert(Bytes(got.begin() + 3, got.end() - 2));
        }
        QCOMPARE(values.size(), size_t(3));
        QCOMPARE(line.sim->Registers(), line.sim->Registers(2)); // the first listed
        QCOMPARE(line.sim->Registers(3), (std::array<uint16_t, 27>{}));

        // A write, an unknown function and an archive read reach only their own meter.
        Send(fd, WithCrc({0x05, 0x10, 0x00, 0x04, 0x00, 0x01, 0x02, 0x00, 0x07}));
        QCOMPARE(Receive(fd, 8, 1000), WithCrc({0x05, 0x10, 0x00, 0x04, 0x00, 0x01}));
        Send(fd, WithCrc({0x05, 0x2B, 0x0E, 0x01, 0x00}));
        QCOMPARE(Receive(fd, 5, 1000), WithCrc({0x05, 0xAB, 0x01}));
        Send(fd, WithCrc({0x01, 0x14, 0x07, 0x06, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0B}));
        const Bytes record = Receive(fd, 29, 1000);
        QCOMPARE(record.size(), size_t(29));
        const Record first = line.sim->ArchiveRecord(1, 1, 0);
        QCOMPARE(Bytes(record.begin() + 5, record.end() - 2), Bytes(first.begin(), first.end()));
        QVERIFY(line.sim->ArchiveRecord(5, 1, 0) != first);
        close(fd);
        QCOMPARE(line.sim->Registers(5)[4], uint16_t(7));
        QCOMPARE(line.sim->Registers(1)[4], uint16_t(3));
        QCOMPARE(line.sim->Registers(2)[4], uint16_t(3));
        const uint64_t seen[] = {line.sim->RequestsSeen(1),  line.sim->RequestsSeen(2),
                                 line.sim->RequestsSeen(5),  line.sim->RequestsSeen(3),
                                 line.sim->WritesApplied(5), line.sim->RepliesSent(5)};
        QCOMPARE(std::vector<uint64_t>(std::begin(seen), std::end(seen)),
                 std::vector<uint64_t>({2, 1, 3, 0, 1, 3}));
        QCOMPARE(line.sim->RequestsSeen(), uint64_t(1));

        for (const std::vector<uint8_t>& bad : {std::vector<uint8_t>{1, 1}, {0, 2}, {2, 248}, {1, 2, 7}}) {
            Options wrong = Fast();
            wrong.addresses = bad;
            if (bad.size() == 3) wrong.silences = {{3, 0, 0}}; // nobody at 3 to fall silent
            Simulator sim(wrong);
            QVERIFY(!sim.Start());
            QVERIFY(sim.Error().find("address") != std::string::npos);
        }
    }

    // A meter switched silent takes requests and answers none, whatever the
    // fault, while its neighbour answers; switched back, it answers again.
    void silentAndBack() {
        Options o = Fast();
        o.addresses = {1, 2};
        Line line(o);
        QVERIFY(line.Start());
        const int fd = OpenLine(line.sim->LinkPath());
        const Bytes atTwo = WithCrc({0x02, 0x03, 0x00, 0x00, 0x00, 0x01});
        line.sim->SetSilent(2, true);
        line.sim->SetFault(Fault::TrailingNoise, 2);
        for (int i = 0; i < 3; ++i) {
            Send(fd, atTwo);
            QVERIFY(Receive(fd, 1, 100).empty());
            Send(fd, ReadOne());
            QCOMPARE(Receive(fd, 9, 1000).size(), size_t(9));
        }
        QCOMPARE(line.sim->RequestsSeen(2), uint64_t(3));
        QCOMPARE(line.sim->RepliesSent(2), uint64_t(0));
        line.sim->SetFault(Fault::None);
        line.sim->SetSilent(2, false);
        Send(fd, atTwo);
        QCOMPARE(Receive(fd, 7, 1000), WithCrc({0x02, 0x03, 0x02, 0x00, 0x0D}));
        close(fd);
    }

    void linkLifecycle() {
        QTemporaryDir dir;
        Options o = Fast();
        o.linkDir = dir.filePath("demo").toStdString(); // created when missing
        const std::string link = o.linkDir + "/COM1";
        {
            Simulator sim(o);
            QVERIFY2(sim.Start(), sim.Error().c_str());
            QCOMPARE(sim.LinkPath(), link);
            sim.Stop();
            struct stat st {};
            QCOMPARE(lstat(link.c_str(), &st), -1);
        }
        // A stale link from an earlier run is replaced.
        QCOMPARE(symlink("/dev/pts/9999", link.c_str()), 0);
        {
            Simulator sim(o);
            QVERIFY2(sim.Start(), sim.Error().c_str());
            char target[256] = {};
            QVERIFY(readlink(link.c_str(), target, sizeof target - 1) > 0);
            QCOMPARE(std::string(target), sim.DevicePath());
        } // the destructor stops and removes the link
        struct stat st {};
        QCOMPARE(lstat(link.c_str(), &st), -1);

        // Anything that is not a link is left alone.
        QFile file(QString::fromStdString(link));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        Simulator blocked(o);
        QVERIFY(!blocked.Start());
        QVERIFY(!blocked.Error().empty());
        QVERIFY(QFile::exists(QString::fromStdString(link)));

        Options device = Fast();
        device.device = dir.filePath("no-such-tty").toStdString();
        Simulator missing(device);
        QVERIFY(!missing.Start());
        QVERIFY(!missing.Error().empty());
    }

    // The master opens and closes the port for every transaction.
    void survivesReopening() {
        Line line(Fast());
        QVERIFY(line.Start());
        const std::string path = line.sim->LinkPath();
        const auto start = Clock::now();
        for (int i = 0; i < 200; ++i) {
            const int fd = OpenLine(path);
            QVERIFY(fd >= 0);
            Send(fd, kRead);
            const Bytes got = Receive(fd, 59, 1000);
            close(fd);
            QCOMPARE(got.size(), size_t(59));
        }
        QVERIFY2(MsSince(start) < 3000.0, qPrintable(QString::number(MsSince(start))));
        // With a pause between transactions, as the master's scan period makes
        // it: a hang-up meanwhile would delay the next answer.
        for (int i = 0; i < 10; ++i) {
            QThread::msleep(20);
            const int fd = OpenLine(path);
            const auto sent = Clock::now();
            Send(fd, kRead);
            const Bytes got = Receive(fd, 59, 1000);
            const double ms = MsSince(sent);
            close(fd);
            QCOMPARE(got.size(), size_t(59));
            QVERIFY2(ms < 50.0, qPrintable(QString::number(ms)));
        }
        for (int i = 0; i < 500; ++i) close(OpenLine(path));
        QCOMPARE(line.sim->RepliesSent(), uint64_t(210));

        // Idle between transactions the serving thread must sleep, not poll.
        QThread::msleep(50);
        const auto before = line.sim->ServingCpuTime();
        QVERIFY(before.count() > 0);
        QThread::msleep(500);
        const auto idle = line.sim->ServingCpuTime() - before;
        QVERIFY2(idle < 10ms, qPrintable(QString::number(idle.count() / 1000) + " us"));

        // Idle with half a frame pending too: the silence ends it, no spinning meanwhile.
        const int fd = OpenLine(path);
        Send(fd, Bytes(kRead.begin(), kRead.begin() + 3));
        const auto pendingBefore = line.sim->ServingCpuTime();
        QThread::msleep(300);
        QVERIFY(line.sim->ServingCpuTime() - pendingBefore < 10ms);
        close(fd);
    }

    // --device: any terminal device; a pty slave stands in for a serial port.
    // Losing the far end (POLLHUP) must not make the thread spin.
    void serialDevice() {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
        Options o = Fast();
        o.device = ptsname(master);
        o.parity = 2;
        Simulator sim(o);
        sim.SetLive(false);
        QVERIFY2(sim.Start(), sim.Error().c_str());
        QCOMPARE(sim.DevicePath(), o.device);
        QVERIFY(sim.LinkPath().empty());
        Send(master, kRead);
        QCOMPARE(Receive(master, 59, 1000), DefaultReply());

        close(master); // the "cable" is gone
        QThread::msleep(100);
        const auto before = sim.ServingCpuTime();
        QThread::msleep(500);
        QVERIFY(sim.ServingCpuTime() - before < 10ms);
        sim.Stop();
    }

    // A reply sent after the master closed the port is lost, as on a real
    // port, and does not wait for the next transaction.
    void lateReplyToClosedPortIsLost() {
        Line line(Fast());
        QVERIFY(line.Start());
        line.sim->SetFault(Fault::Late, 0, 200);
        int fd = OpenLine(line.sim->LinkPath());
        Send(fd, kRead);
        close(fd);
        QThread::msleep(350);
        QCOMPARE(line.sim->RepliesSent(), uint64_t(1));
        line.sim->SetFault(Fault::None);
        fd = OpenLine(line.sim->LinkPath());
        QVERIFY(Receive(fd, 1, 100).empty());
        Send(fd, kRead);
        QCOMPARE(Receive(fd, 100, 300), DefaultReply());
        close(fd);

        // Closed while the late answer is on its way, reopened before it comes: it arrives.
        line.sim->SetFault(Fault::Late, 0, 200);
        fd = OpenLine(line.sim->LinkPath());
        Send(fd, kRead);
        close(fd);
        fd = OpenLine(line.sim->LinkPath());
        QCOMPARE(Receive(fd, 59, 1000), DefaultReply());
        close(fd);
    }

    // Faults and registers change from another thread while requests are served.
    void changesWhileServing() {
        Line line(Fast());
        QVERIFY(line.Start());
        line.sim->SetLive(true);
        std::atomic<bool> done{false};
        std::thread changer([&] {
            int i = 0;
            while (!done) {
                line.sim->SetFault(i % 2 ? Fault::None : Fault::TrailingNoise, 1);
                line.sim->SetDropProbability(i % 3 ? 0.0 : 0.1);
                line.sim->SetWireTiming(false);
                line.sim->SetRegister(4, static_cast<uint16_t>(i % 200));
                (void)line.sim->Registers();
                (void)line.sim->RequestsSeen();
                ++i;
                std::this_thread::sleep_for(1ms);
            }
        });
        const int fd = OpenLine(line.sim->LinkPath());
        int answered = 0;
        for (int i = 0; i < 100; ++i) {
            Send(fd, kRead);
            const Bytes got = Receive(fd, 60, 100);
            if (got.size() >= 59) ++answered;
            tcflush(fd, TCIFLUSH);
        }
        done = true;
        changer.join();
        close(fd);
        QVERIFY2(answered > 50, qPrintable(QString::number(answered)));
    }
};

QTEST_GUILESS_MAIN(TestSimLine)
#include "tst_simline.moc"
