// From a reading to its arrival: vqt540 publish reads three wire-timed
// simulated meters at 115200 bit/s, a mosquitto broker on 127.0.0.1 hands
// the readings to a mosquitto_sub that stamps each arrival; the time from the
// reading's own time to that stamp, against the wire time of the read itself.
#include "sim/Simulator.h"
#include "tests/publish/FreePort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A register read at 115200 bit/s: 8 bytes out, 59 back, 11 bits each, and
// a 3.5-character silence before each frame.
constexpr double kReadWireMs = (8 + 59 + 7) * 11 * 1000.0 / 115200;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!QFile::exists("/usr/sbin/mosquitto") || !QFile::exists("/usr/bin/mosquitto_sub")) {
        std::puts("bench_publish: needs mosquitto and mosquitto-clients (tools/setup.sh)");
        return 0;
    }
    QTemporaryDir dir;
    const QString port = QString::number(brokertest::FreePort());
    QFile conf(dir.filePath("mosquitto.conf"));
    conf.open(QIODevice::WriteOnly);
    conf.write(QString("listener %1 127.0.0.1\nallow_anonymous true\nuser root\n").arg(port).toUtf8());
    conf.close();
    QProcess broker, watcher, tool;
    broker.start("/usr/sbin/mosquitto", {"-c", conf.fileName()});
    QThread::msleep(500);
    // %U: the arrival's Unix time with nanoseconds.
    watcher.start("/usr/bin/mosquitto_sub", {"-p", port, "-q", "1", "-F", "%U %p", "-t", "vqt540/+/reading"});

    vqtsim::Options o;
    o.linkDir = dir.path().toStdString();
    o.linkName = "LINE";
    o.baudRate = 115200;
    o.wireTiming = true;
    o.addresses = {1, 2, 5};
    vqtsim::Simulator sim(o);
    if (!sim.Start()) {
        std::printf("simulator: %s\n", sim.Error().c_str());
        return 1;
    }
    tool.setWorkingDirectory(dir.path());
    tool.start(VQT_CLI_PROGRAM, {"publish", "--port", "./LINE", "--baud", "115200", "--address", "1,2,5",
                                 "--interval", "200", "--mqtt-port", port, "--outbox", dir.filePath("o.db")});
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    // Drained as it comes: a full pipe would hold the subscriber up.
    QByteArray arrived;
    const auto drain = [&](int forMs) {
        for (QDeadlineTimer until(forMs); !until.hasExpired();) {
            watcher.waitForReadyRead(int(std::max<qint64>(1, until.remainingTime())));
            arrived += watcher.readAllStandardOutput();
            tool.readAllStandardError();
        }
    };
    drain(seconds * 1000);
    tool.terminate();
    tool.waitForFinished();
    drain(500);
    watcher.terminate();
    watcher.waitForFinished();
    broker.terminate();
    broker.waitForFinished();

    std::vector<double> ms;
    const QRegularExpression line(R"(^(\d+)\.(\d+) .*"timeMs":(\d+))");
    for (const QByteArray& l : arrived.split('\n'))
        if (const auto m = line.match(QString::fromUtf8(l)); m.hasMatch())
            ms.push_back(m.captured(1).toDouble() * 1000 + m.captured(2).left(3).toDouble() -
                         m.captured(3).toDouble());
    if (ms.empty()) {
        std::puts("bench_publish: no reading arrived");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[size_t(q * double(ms.size() - 1))]; };
    std::printf("reading -> subscriber through the broker, %zu readings of 3 meters at 115200 bit/s:\n",
                ms.size());
    std::printf(
        "  median %.1f ms, 95%% %.1f ms, max %.1f ms; the read's own wire time %.1f ms (median %.2f x)\n",
        at(0.5), at(0.95), ms.back(), kReadWireMs, at(0.5) / kReadWireMs);
    return 0;
}
