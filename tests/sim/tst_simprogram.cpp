// The vqt540-sim program: its options, its output and its shutdown.
#include "sim/Simulator.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes f) {
    const uint16_t crc = vqtsim::SimCrc(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

// One request and what comes back within ms, up to want bytes.
Bytes Transact(int fd, const Bytes& request, size_t want, int ms) {
    if (write(fd, request.data(), request.size()) != ssize_t(request.size())) return {};
    Bytes got(want);
    size_t n = 0;
    pollfd pfd{fd, POLLIN, 0};
    while (n < want && poll(&pfd, 1, ms) > 0) {
        const ssize_t r = read(fd, got.data() + n, want - n);
        if (r <= 0) break;
        n += static_cast<size_t>(r);
    }
    got.resize(n);
    return got;
}

} // namespace

class TestSimProgram : public QObject {
    Q_OBJECT

    static QString Program() { return QStringLiteral(VQT_SIM_PROGRAM); }

private slots:
    void help() {
        QProcess p;
        p.start(Program(), {"--help"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString options =
            "--link-dir,--link ,--device,--address,--baud,--no-wire-time,--records,--wrapped,--static,"
            "--fault,--drop,--seed,--quiet,--help,--version,silence,late:,badcrc,exception:,split:,noise:,"
            "foreign-address:,foreign-function:,byte-count:,--fault-share,--erased,--bad-dates,--silent,"
            "--rtu-tcp,--modbus-tcp,drop-after:";
        for (const QString& opt : options.split(',')) QVERIFY2(out.contains(opt), qPrintable(opt));
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown") << QStringList{"--colour"} << "--colour";
        QTest::newRow("missing value") << QStringList{"--link"} << "--link";
        QTest::newRow("address 0") << QStringList{"--address", "0"} << "--address";
        QTest::newRow("address 248") << QStringList{"--address", "248"} << "--address";
        QTest::newRow("silent, no such meter") << QStringList{"--silent", "3:1"} << "address 3";
        QTest::newRow("silent, negative") << QStringList{"--silent", "1:-1"} << "--silent";
        QTest::newRow("silent, no time") << QStringList{"--silent", "1"} << "--silent";
        QTest::newRow("address twice") << QStringList{"--address", "1-3,2"} << "--address";
        QTest::newRow("range backwards") << QStringList{"--address", "5-3"} << "--address";
        QTest::newRow("open range") << QStringList{"--address", "5-"} << "--address";
        QTest::newRow("baud text") << QStringList{"--baud", "fast"} << "--baud";
        QTest::newRow("records") << QStringList{"--records", "12901"} << "--records";
        QTest::newRow("fault") << QStringList{"--fault", "late"} << "--fault";
        QTest::newRow("fault code") << QStringList{"--fault", "exception:300"} << "--fault";
        QTest::newRow("drop") << QStringList{"--drop", "1.5"} << "--drop";
        QTest::newRow("fault share") << QStringList{"--fault-share", "-0.1"} << "--fault-share";
        QTest::newRow("foreign address 256") << QStringList{"--fault", "foreign-address:256"} << "--fault";
        QTest::newRow("erased, not a dated record") << QStringList{"--erased", "100"} << "--erased";
        QTest::newRow("bad date kind") << QStringList{"--bad-dates", "3:hour"} << "--bad-dates";
        QTest::newRow("bad date after the dated")
            << QStringList{"--records", "5", "--bad-dates", "1:day,5:day"} << "slot 5";
        QTest::newRow("byte count, no value") << QStringList{"--fault", "byte-count"} << "--fault";
        QTest::newRow("link with slash") << QStringList{"--link", "a/b"} << "--link";
        QTest::newRow("drop after 0") << QStringList{"--fault", "drop-after:0"} << "--fault";
        QTest::newRow("tcp port") << QStringList{"--modbus-tcp", "65536"} << "--modbus-tcp";
        QTest::newRow("two gateways") << QStringList{"--rtu-tcp", "0", "--modbus-tcp", "0"} << "exclude";
        QTest::newRow("no device") << QStringList{"--device", "/nonexistent/ttyS9"} << "/nonexistent/ttyS9";
    }
    void badOptions() {
        QFETCH(QStringList, args);
        QFETCH(QString, mentions);
        QTemporaryDir dir;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(Program(), args);
        QVERIFY(p.waitForFinished(5000));
        QVERIFY(p.exitCode() != 0);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(mentions));
        QVERIFY(!QFileInfo::exists(dir.filePath("COM1")));
    }

    void servesUntilTerminated() {
        QTemporaryDir dir;
        const QString linkDir = dir.filePath("simcheck");
        QProcess p;
        p.start(Program(), {"--link-dir", linkDir, "--link", "COM3", "--no-wire-time", "--static"});
        QVERIFY(p.waitForStarted(5000));
        QString out;
        while (!out.contains("Link:") && p.waitForReadyRead(5000))
            out += QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(out.contains("Device: /dev/pts/"), qPrintable(out));
        const QString link = linkDir + "/COM3";
        QVERIFY2(out.contains("Link: " + link + " -> /dev/pts/"), qPrintable(out));

        const int fd = open(link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
        QCOMPARE(write(fd, request, sizeof request), ssize_t(sizeof request));
        uint8_t reply[16] = {};
        size_t got = 0;
        pollfd pfd{fd, POLLIN, 0};
        while (got < 7 && poll(&pfd, 1, 2000) > 0) {
            const ssize_t n = read(fd, reply + got, sizeof reply - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        close(fd);
        QCOMPARE(got, size_t(7));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(reply), 7).toHex(' '),
                 QByteArray("01 03 02 00 0d 79 81"));

        while (!out.contains("answer:") && p.waitForReadyRead(5000))
            out += QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(out.contains("request: 01 03 00 00 00 01 84 0A  answer: 01 03 02 00 0D 79 81"),
                 qPrintable(out));

        p.terminate(); // SIGTERM
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // A MODBUS TCP gateway on a free port, as the program prints it.
    void gateway() {
        QProcess p;
        p.start(Program(), {"--modbus-tcp", "0", "--fault", "drop-after:1", "--no-wire-time", "--static"});
        QString out;
        while (!out.contains("Slave address") && p.waitForReadyRead(5000))
            out += QString::fromUtf8(p.readAllStandardOutput());
        const auto port =
            QRegularExpression("Listening: tcp://127.0.0.1:(\\d+)\n").match(out).captured(1).toUShort();
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        QVERIFY2(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0, qPrintable(out));
        QCOMPARE(Transact(fd, {0, 7, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}, 11, 2000),
                 Bytes({0, 7, 0, 0, 0, 5, 1, 3, 2, 0, 0x0D}));
        close(fd);
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        out += QString::fromUtf8(p.readAllStandardOutput());
        for (const char* line :
             {"answer: 00 07 00 00 00 05 01 03 02 00 0D", "[connection dropped after 1 requests]",
              "Stopped (SIGTERM): 1 requests, 1 answers, 0 writes, 1 connections."})
            QVERIFY2(out.contains(line), qPrintable(out));
    }

    // Three meters from the command line: their own flows, a damaged archive,
    // and meter 2 silent from 3 s to 6 s after the start. What each answer
    // must be is judged from bounds on the program's own clock (it starts
    // after the launch and before it prints its link), never from a guess of
    // how fast this machine is.
    void hostileLine() {
        QTemporaryDir dir;
        QProcess p;
        QElapsedTimer launch; // runs at least as long as the program's clock
        launch.start();
        p.start(Program(),
                {"--link-dir", dir.path(), "--no-wire-time", "--static", "--quiet", "--address", "1-2,5",
                 "--silent", "2:3:3", "--records", "30", "--erased", "5", "--bad-dates", "2:month"});
        QVERIFY(p.waitForStarted(5000));
        QString out;
        while (!out.contains("Link:") && p.waitForReadyRead(5000))
            out += QString::fromUtf8(p.readAllStandardOutput());
        QElapsedTimer clock; // runs at most as long as the program's clock
        clock.start();
        QVERIFY2(out.contains("Slave addresses 1, 2, 5,"), qPrintable(out));
        const int fd = open(dir.filePath("COM1").toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        int asked = 0, answered = 0;
        const auto ask = [&](const Bytes& request, size_t want) {
            const Bytes r = Transact(fd, WithCrc(request), want, 1000);
            ++asked;
            answered += r.empty() ? 0 : 1;
            return r;
        };
        const auto flow = [&](uint8_t a) { return ask({a, 0x03, 0x00, 0x0F, 0x00, 0x02}, 9); };
        const auto record = [&](uint8_t a, int slot) {
            const auto n = static_cast<uint16_t>(slot * 11);
            return ask({a, 0x14, 0x07, 0x06, 0x00, 0x01, uint8_t(n >> 8), uint8_t(n), 0x00, 0x0B}, 29);
        };
        QCOMPARE(flow(1), WithCrc({0x01, 0x03, 0x04, 0x41, 0x48, 0x00, 0x00})); // 12.5 m3/h
        const Bytes five = flow(5);
        const Bytes badMonth = record(5, 2), erased = record(1, 24), newer = record(1, 25);
        QVERIFY(badMonth.size() == 29 && erased.size() == 29 && newer.size() == 29);
        QCOMPARE(badMonth[5 + 4], uint8_t(13));
        QCOMPARE(Bytes(erased.begin() + 5, erased.end() - 2), Bytes(22, 0xFF));
        QVERIFY(newer[5 + 4] >= 1 && newer[5 + 4] <= 12);

        // Meter 2 before, during and after its silence.
        Bytes two;
        bool silentSeen = false, back = false;
        while (!back && clock.elapsed() < 30000) {
            const qint64 from = clock.elapsed();
            const Bytes r = flow(2);
            const qint64 to = launch.elapsed();
            if (to < 3000) {
                QCOMPARE(r.size(), size_t(9));
                QVERIFY(r[0] == 2 &&
                        Bytes(r.begin() + 3, r.end() - 2) != Bytes(five.begin() + 3, five.end() - 2));
                two = r;
            } else if (from > 3000 && to < 6000) {
                QVERIFY(r.empty());
                silentSeen = true;
                QCOMPARE(flow(1).size(), size_t(9)); // the others answer meanwhile
            } else if (from > 6000) {
                QCOMPARE(r.size(), size_t(9));
                if (!two.empty()) QCOMPARE(r, two);
                back = true;
            }
            QTest::qWait(100);
        }
        QVERIFY(silentSeen && back);
        close(fd);

        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        out += QString::fromUtf8(p.readAllStandardOutput());
        const QString stopped =
            QStringLiteral("Stopped (SIGTERM): %1 requests, %2 answers, 0 writes.").arg(asked).arg(answered);
        QVERIFY2(out.contains(stopped), qPrintable(out + "\nexpected: " + stopped));
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
