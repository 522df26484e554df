// vqt540 publish over a line of three simulated meters to a broker of the
// test's own: every reading once and in order per meter, through a broker
// away for a while and a tool killed and started again meanwhile; a silent
// meter's availability. Settings that no restart can mend, and settings
// files the tool cannot trust, end it at once with 2.
#include "CliRun.h"
#include "core/Consumption.h"
#include "core/RecordLine.h"
#include "core/ReportColumns.h"
#include "model/Cp1250.h"
#include "publish/Payloads.h"
#include "tests/publish/BrokerHarness.h"

#include <QTemporaryDir>

#include <csignal>
#include <sys/stat.h>

using brokertest::Broker;
using brokertest::json;
using brokertest::Watcher;

class TestCliPublish : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    std::unique_ptr<vqtsim::Simulator> StartLine() {
        vqtsim::Options o = testsim::FastMeter(dir.path());
        o.linkName = "LINE";
        o.addresses = {1, 2, 5};
        return testsim::StartSimulator(o); // frozen: each meter's own totaliser tells them apart
    }

private slots:
    void siteThroughABrokerAwayAndAKill() {
        if (!QFile::exists("/usr/sbin/mosquitto") || !QFile::exists("/usr/bin/mosquitto_sub"))
            QSKIP("needs the mosquitto and mosquitto-clients packages (tools/setup.sh)");
        Broker broker;
        QVERIFY(broker.Start());
        Watcher watcher(broker, {"-c", "-i", "watcher"});
        auto sim = StartLine();
        const std::vector<uint8_t> addresses{1, 2, 5};
        std::map<uint8_t, publish::Topics> topics;
        for (const uint8_t a : addresses) topics[a] = publish::TopicsFor("vqt540", {"./LINE", a});

        const QStringList args{"publish",
                               "--port",
                               "./LINE",
                               "--address",
                               "1,2,5",
                               "--interval",
                               "200",
                               "--timeout",
                               "150",
                               "--mqtt-port",
                               broker.Port,
                               "--outbox",
                               dir.filePath("outbox.db")};
        QProcess tool;
        QByteArray err;
        StartTool(tool, dir.path(), args);
        for (const uint8_t a : addresses) {
            QTRY_COMPARE_WITH_TIMEOUT(watcher.Last(topics[a].Availability), std::string("online"), kLong);
            QTRY_VERIFY_WITH_TIMEOUT(!watcher.On(topics[a].Discovery).empty(), kLong);
        }
        // Retained: one who subscribes later has the meters' discovery at once.
        Watcher late(broker);
        for (const uint8_t a : addresses)
            QTRY_COMPARE_WITH_TIMEOUT(late.On(topics[a].Discovery).size() > 0 &&
                                          late.On(topics[a].Discovery)[0][0] == '1',
                                      true, kLong);
        QTRY_VERIFY_WITH_TIMEOUT(watcher.On(topics[5].Reading).size() >= 3, kLong);
        QVERIFY(watcher.Drained(broker));
        QTRY_COMPARE_WITH_TIMEOUT(broker.Count("Received PUBACK from watcher"),
                                  broker.Count("Sending PUBLISH to watcher"), kLong);

        // Away for 20 s: the readings go to the outbox; the tool killed and
        // started again half-way.
        broker.Stop();
        QTest::qWait(10000);
        kill(pid_t(tool.processId()), SIGKILL);
        QVERIFY(tool.waitForFinished(kLong));
        err += tool.readAllStandardError();
        StartTool(tool, dir.path(), args);
        QTest::qWait(10000);
        QVERIFY(broker.Start());

        // A meter falls silent and comes back: told on its retained topic.
        sim->SetSilent(2, true);
        QTRY_COMPARE_WITH_TIMEOUT(watcher.Last(topics[2].Availability), std::string("offline"), kLong);
        sim->SetSilent(2, false);
        QTRY_COMPARE_WITH_TIMEOUT(watcher.Last(topics[2].Availability), std::string("online"), kLong);
        tool.terminate();
        QVERIFY(tool.waitForFinished(kLong));
        QCOMPARE(tool.exitCode(), 0);
        err += tool.readAllStandardError();
        QVERIFY2(err.contains("cannot be reached (Connection refused). Trying again in"), err.constData());
        QVERIFY(watcher.Drained(broker));

        // Each reply the meter sent is one reading on its topic, in order and
        // none twice; only the one in hand at the kill may be missing.
        for (const uint8_t a : addresses) {
            std::vector<int64_t> times;
            for (const std::string& m : watcher.On(topics[a].Reading)) {
                const json reading = json::parse(m.substr(1));
                QCOMPARE(reading["address"].get<int>(), int(a));
                QCOMPARE(reading["forwardTotaliser"]["value"].get<double>(), a == 1   ? 12345.6
                                                                             : a == 2 ? 14345.6
                                                                                      : 17345.6);
                QCOMPARE(reading["forwardTotaliser"]["unit"].get<std::string>(), std::string("m3"));
                times.push_back(reading["timeMs"].get<int64_t>());
            }
            QVERIFY2(std::adjacent_find(times.begin(), times.end(), std::greater_equal<>()) == times.end(),
                     "out of order or twice");
            const auto replies = int64_t(sim->RepliesSent(a)), got = int64_t(times.size());
            QVERIFY2(got <= replies && got >= replies - 1,
                     qPrintable(QString("meter %1: %2 readings of %3 replies").arg(a).arg(got).arg(replies)));
        }
    }

    // The archive's finished hours on the consumption topic, each once, as
    // the report of the same records gives them.
    void consumptionOfFinishedHours() {
        if (!QFile::exists("/usr/sbin/mosquitto") || !QFile::exists("/usr/bin/mosquitto_sub"))
            QSKIP("needs the mosquitto and mosquitto-clients packages (tools/setup.sh)");
        Broker broker;
        QVERIFY(broker.Start());
        Watcher watcher(broker);
        vqtsim::Options o;
        o.linkDir = dir.path().toStdString();
        o.linkName = "HOURS";
        o.wireTiming = false;
        o.archiveRecords = 30; // l and m3, events: 7 hours
        o.archiveNow = 1717243200;
        vqtsim::Simulator sim(o);
        QVERIFY(sim.Start());
        std::vector<std::string> lines;
        for (int i = 0; i < o.archiveRecords; ++i) {
            const auto record = sim.ArchiveRecord(1, i);
            lines.push_back(model::Utf8ToCp1250(core::BuildRecordLine(record, ".")));
        }
        const core::ConsumptionReport report =
            core::MakeConsumptionReport(core::ReadRecordLines(lines), core::PeriodKind::Hour);
        const std::string topic = publish::TopicsFor("vqt540", {"./HOURS", 1}).Consumption;
        QProcess tool;
        StartTool(tool, dir.path(),
                  {"publish", "--port", "./HOURS", "--interval", "20", "--archive-every", "1h", "--mqtt-port",
                   broker.Port, "--outbox", dir.filePath("hours.db")});
        const size_t finished = report.Periods.size() - 1; // the newest hour is not
        QTRY_COMPARE_WITH_TIMEOUT(watcher.On(topic).size(), finished, kLong);
        for (size_t i = 0; i < finished; ++i) {
            json hour = json::parse(watcher.On(topic)[i].substr(1));
            QCOMPARE(hour["address"].get<int>(), 1);
            for (const char* key : {"meter", "port", "address"}) hour.erase(key);
            QCOMPARE(hour.dump(), json::parse(core::ReportRowJson(report.Periods[i], report.By)).dump());
        }
        QCOMPARE(watcher.On(topic)[0][0], '0'); // not retained
        tool.terminate();
        QVERIFY(tool.waitForFinished(kLong));
    }

    void refusedAtStart_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("config"); // "fifo": a FIFO in its place
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        using L = QStringList;
        const QByteArray none;
        QTest::newRow("prefix under $SYS") << L{"--prefix", "$SYS/site"} << none << 0600 << 2
                                           << "begins with \"$\", which MQTT keeps for the broker";
        QTest::newRow("wildcard in the prefix")
            << L{"--prefix", "site/+"} << none << 0600 << 2 << "must not be empty nor hold \"+\" or \"#\"";
        QTest::newRow("client id not UTF-8")
            << L{} << QByteArray("client-id = \xff\xfe\n") << 0600 << 2 << "client id must be UTF-8";
        QTest::newRow("no CA file") << L{"--ca-file", "missing.crt"} << none << 0600 << 2
                                    << "The CA file missing.crt cannot be read";
        QTest::newRow("CA file without a certificate") << L{"--ca-file", "nocert.crt"} << none << 0600 << 2
                                                       << "The CA file nocert.crt holds no certificate";
        QTest::newRow("byte order mark")
            << L{} << QByteArray("\xEF\xBB\xBFprefix = $SYS\n") << 0600 << 2 << "begins with \"$\"";
        QTest::newRow("a key twice") << L{} << QByteArray("host = a\n\nhost = b\n") << 0600 << 2
                                     << "site.conf, line 3: \"host\" is given on line 1 already";
        QTest::newRow("NUL in a value") << L{} << QByteArray("password = ab\0cd\n", 17) << 0600 << 2
                                        << "site.conf, line 1: a NUL character";
        QTest::newRow("FIFO for a file") << L{} << QByteArray("fifo") << 0600 << 2 << "not a regular file";
        QTest::newRow("password any user can read")
            << L{} << QByteArray("password = x\nprefix = $SYS\n") << 0644 << 2
            << "holds the broker's password and every user of this machine can read it";
        QTest::newRow("period of a meter not on the line")
            << L{"--address", "1,2,5", "--period", "5:1min,9:60000"} << none << 0600 << 2
            << "--period \"9:60000\": meter 9 is not one of --address";
        QTest::newRow("period that is no time")
            << L{} << QByteArray("period = 5:often\n") << 0600 << 2 << "\"often\" is no time";
        QTest::newRow("help on --password")
            << L{"--help"} << none << 0600 << 0 << "in the --config file instead";
    }
    void refusedAtStart() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, config);
        QFETCH(int, mode);
        QFETCH(int, code);
        QFETCH(QString, says);
        QFile cert(dir.filePath("nocert.crt"));
        QVERIFY(cert.open(QIODevice::WriteOnly) && cert.write("no certificate here\n") > 0);
        cert.close();
        const QString site = dir.filePath("site.conf"), outbox = dir.filePath("refused.db");
        QFile::remove(site);
        QStringList all = QStringList{"publish", "--outbox", outbox} + args;
        if (config == "fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(site).constData(), 0600) == 0);
        } else if (!config.isEmpty()) {
            QFile file(site);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
            file.close();
            QVERIFY(::chmod(QFile::encodeName(site).constData(), mode_t(mode)) == 0);
        }
        if (!config.isEmpty()) all << "--config" << site;
        const ToolRun run = RunTool(dir.path(), all);
        QVERIFY2(run.err.contains(says.toUtf8()) || run.out.contains(says.toUtf8()), run.err.constData());
        QCOMPARE(run.code, code);
        QVERIFY(!QFile::exists(outbox)); // nothing was started
    }
};

QTEST_GUILESS_MAIN(TestCliPublish)
#include "tst_cli_publish.moc"
