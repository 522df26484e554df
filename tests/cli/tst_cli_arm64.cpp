// vqt540 built for arm64, run under qemu-user against this machine's
// simulated meters on a pseudo-terminal and a broker on 127.0.0.1: a read, a
// bounded watch of two meters, and a site published. Skipped (not failed)
// without qemu-aarch64 or the arm64 build (tools/test.sh makes it first).
#include "CliRun.h"
#include "publish/Payloads.h"
#include "tests/publish/BrokerHarness.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

class TestCliArm64 : public QObject {
    Q_OBJECT
    QString qemu;
    QTemporaryDir dir;
    std::unique_ptr<vqtsim::Simulator> sim;

    QStringList Tool(const QStringList& args) const {
        return QStringList{QStringLiteral(VQT_ARM64_TOOL)} + args;
    }

private slots:
    void initTestCase() {
        qemu = QStandardPaths::findExecutable(QStringLiteral("qemu-aarch64"));
        if (qemu.isEmpty()) QSKIP("qemu-aarch64 is not installed (tools/setup.sh installs qemu-user)");
        if (!QFileInfo::exists(QStringLiteral(VQT_ARM64_TOOL)))
            QSKIP("no " VQT_ARM64_TOOL ": build the arm64 preset first (tools/test.sh does)");
        vqtsim::Options o;
        o.linkDir = dir.path().toStdString();
        o.linkName = "LINE";
        o.wireTiming = false;
        o.addresses = {1, 2};
        sim = std::make_unique<vqtsim::Simulator>(o);
        QVERIFY2(sim->Start(), sim->Error().c_str());
        sim->SetLive(false); // each meter's own totaliser tells them apart
    }

    // Runs that end by themselves: the exit code and what the output must hold.
    void runs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("read") << QStringList{"read", "--port", "./LINE", "--address", "2"}
                              << QStringLiteral("^Licznik przepływu w przód L\\+ +14345[.,]6 \\[m3\\]");
        QTest::newRow("watch two meters") << QStringList{"watch",   "--port", "./LINE",    "--address", "1,2",
                                                         "--count", "4",      "--timeout", "1000"}
                                          << QStringLiteral("^[^;]+;2;.*;OK$");
    }
    void runs() {
        QFETCH(QStringList, args);
        QFETCH(QString, pattern);
        const ToolRun run = RunProgram(qemu, dir.path(), Tool(args));
        QVERIFY2(run.code == 0, run.err.constData());
        const QRegularExpression expected(pattern, QRegularExpression::MultilineOption);
        QVERIFY2(expected.match(QString::fromUtf8(run.out)).hasMatch(), run.out.constData());
    }

    void publishes() {
        if (!QFile::exists("/usr/sbin/mosquitto") || !QFile::exists("/usr/bin/mosquitto_sub"))
            QSKIP("needs the mosquitto and mosquitto-clients packages (tools/setup.sh)");
        brokertest::Broker broker;
        QVERIFY(broker.Start());
        brokertest::Watcher watcher(broker);
        QProcess tool;
        StartProgram(
            tool, qemu, dir.path(),
            Tool({"publish", "--port", "./LINE", "--address", "1,2", "--interval", "300", "--timeout", "1000",
                  "--mqtt-port", broker.Port, "--outbox", dir.filePath("outbox.db")}));
        for (const uint8_t a : {uint8_t(1), uint8_t(2)}) {
            const publish::Topics topics = publish::TopicsFor("vqt540", {"./LINE", a});
            QTRY_VERIFY_WITH_TIMEOUT(watcher.On(topics.Reading).size() >= 2, brokertest::kLong);
            const auto reading = brokertest::json::parse(watcher.On(topics.Reading).back().substr(1));
            QCOMPARE(reading["address"].get<int>(), int(a));
        }
        tool.terminate();
        QVERIFY(tool.waitForFinished(brokertest::kLong));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    }
};

QTEST_GUILESS_MAIN(TestCliArm64)
#include "tst_cli_arm64.moc"
