// The vqt540 tool run as a program against the simulated meter on a
// pseudo-terminal: what it reads, how it gives up, how it marks failed reads,
// and its errors and exit codes.
#include "CliRun.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <bit>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::time_t kNow = 1717243200; // 2024-06-01 12:00 UTC
constexpr int kLong = 60000;

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QProcessEnvironment withLocale(const char* locale) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LANG"));
    env.remove(QStringLiteral("LC_NUMERIC"));
    env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(locale));
    return env;
}

// Registers are numbered from 1; a pair is big-endian.
uint32_t bits(const std::array<uint16_t, 27>& regs, int first) {
    return uint32_t{regs[first - 1]} << 16 | regs[first];
}
} // namespace

class TestCli : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<vqtsim::Simulator> sim;

    void startSim(int records = 100) {
        sim.reset();
        vqtsim::Options o;
        o.linkDir = dir->path().toStdString();
        o.wireTiming = false;
        o.archiveRecords = records;
        o.archiveNow = kNow;
        sim = std::make_unique<vqtsim::Simulator>(o);
        QVERIFY2(sim->Start(), sim->Error().c_str());
        sim->SetLive(false);
    }
    QString path(const char* name) const { return dir->filePath(QLatin1String(name)); }
    ToolRun run(const QStringList& args) { return RunTool(dir->path(), args); }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        chmod(dir->path().toLocal8Bit().constData(), 0755); // user nobody must find the link
        startSim();
    }
    void cleanup() { sim.reset(); }

    void readJsonShowsTheRegisters() {
        sim->SetRegister(2, 0x0016);  // l/min, litres, pulse weight 100
        sim->SetRegister(3, 0x00FC);  // every alarm
        sim->SetRegister(14, 0xBF00); // KorC -0.5
        sim->SetRegister(23, 0x5AB3); // version "Zł" in Windows-1250
        sim->SetRegister(24, 0x0000);
        const ToolRun r = run({"read", "--json", "--decimal-separator", ","});
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonObject json = QJsonDocument::fromJson(r.out).object();
        const auto regs = sim->Registers();
        const QJsonArray registers = json["registers"].toArray();
        QCOMPARE(registers.size(), 27);
        for (int i = 0; i < 27; ++i) QCOMPARE(registers[i].toInt(), int{regs[i]});

        const auto low = [&](int reg, int shift = 0, int mask = 0xFF) {
            return double((regs[reg - 1] >> shift) & mask);
        };
        const auto pair = [&](int first) { return double(static_cast<int32_t>(bits(regs, first))); };
        const auto single = [&](int first) { return double(std::bit_cast<float>(bits(regs, first))); };
        const QJsonObject values = json["values"].toObject();
        const struct {
            const char* key;
            double expected;
        } fields[] = {{"dnIndex", low(1)},
                      {"flowUnitCode", low(2, 0, 3)},
                      {"totaliserUnitCode", low(2, 2, 1)},
                      {"pulseWeightCode", low(2, 3, 3)},
                      {"alarmBits", low(3)},
                      {"cutoffTenthsOfPercent", low(4)},
                      {"timeConstantCode", low(5)},
                      {"rangeLitresPerHour", pair(6)},
                      {"alarm1LitresPerHour", pair(8)},
                      {"alarm2LitresPerHour", pair(10)},
                      {"korK", single(12)},
                      {"korC", single(14)},
                      {"flowCubicMetresPerHour", single(16)},
                      {"forwardTotaliserTenths", pair(18)},
                      {"reverseTotaliserTenths", pair(20)},
                      {"archivePeriodCode", low(22)}};
        for (const auto& f : fields) QVERIFY2(values[f.key].toDouble() == f.expected, f.key);
        QCOMPARE(values["version"].toString(), QStringLiteral("Zł"));
        QCOMPARE(json["alarms"].toArray().size(), 6);
        // The flow as the window shows it: 12.5 m3/h in l/min, one decimal.
        const QJsonObject shownFlow = json["shown"].toArray()[3].toObject();
        QCOMPARE(shownFlow["label"].toString(), QStringLiteral("Przepływ chwilowy"));
        QCOMPARE(shownFlow["value"].toString(), QStringLiteral("208,3"));
        QCOMPARE(shownFlow["unit"].toString(), QStringLiteral("[l/min]"));
    }

    void decimalSeparator_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("shown");
        // pl_PL is taken from the C library when installed, else from its name.
        QTest::newRow("Polish locale") << "pl_PL.UTF-8" << QStringList{} << "12,500 [m3/h]";
        QTest::newRow("C locale") << "C" << QStringList{} << "12.500 [m3/h]";
        QTest::newRow("C locale, comma asked for")
            << "C" << QStringList{"--decimal-separator", ","} << "12,500 [m3/h]";
        QTest::newRow("German locale, point asked for")
            << "de_DE.UTF-8" << QStringList{"--decimal-separator", "."} << "12.500 [m3/h]";
    }
    void decimalSeparator() {
        QFETCH(QString, locale);
        QFETCH(QStringList, extra);
        QFETCH(QString, shown);
        const ToolRun r = RunTool(dir->path(), QStringList{"read"} + extra, withLocale(locale.toLatin1()));
        QVERIFY2(r.code == 0, r.err.constData());
        const QRegularExpression row(QStringLiteral("^Przepływ chwilowy +(.*)$"),
                                     QRegularExpression::MultilineOption);
        QCOMPARE(row.match(QString::fromUtf8(r.out)).captured(1), shown);
    }

    void retryLimit_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("silentFromStart");
        QTest::newRow("new file, silent meter: deleted") << "new" << true;
        QTest::newRow("new file kept: the records read so far") << "keep" << false;
        QTest::newRow("update: unchanged") << "update" << false;
    }
    void retryLimit() {
        QFETCH(QString, mode);
        QFETCH(bool, silentFromStart);
        startSim(3000);
        const QString file = path("export.csv");
        const QByteArray old("Nr logu\r\n7;2020-01-01;00:00:00;\r\n");
        if (mode == "update") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
        }
        if (silentFromStart) sim->SetFault(vqtsim::Fault::Silence);
        QStringList args{"archive", mode == "update" ? "--update" : "--new",
                         file,      "--period",
                         "0",       "--timeout",
                         "100",     "--retries",
                         "3",       "--decimal-separator",
                         ","};
        if (mode == "keep") args << "--keep-partial";
        QProcess tool;
        StartTool(tool, dir->path(), args);
        if (!silentFromStart) {
            QTRY_VERIFY_WITH_TIMEOUT(sim->RequestsSeen() >= 30, kLong);
            sim->SetFault(vqtsim::Fault::Silence);
        }
        QVERIFY(tool.waitForFinished(kLong));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 3);
        QVERIFY(tool.readAllStandardError().contains("giving up"));
        if (mode == "new") {
            QVERIFY(!QFile::exists(file));
            QCOMPARE(sim->RequestsSeen(), uint64_t{3}); // three attempts, then no more
        } else if (mode == "update") {
            QCOMPARE(readFile(file), old);
        } else {
            const QByteArray kept = readFile(file);
            const int records = static_cast<int>(kept.count("\r\n")) - 1;
            QVERIFY(records >= 29);
            QCOMPARE(kept, ExpectedExport(*sim, ",", records));
        }
    }

    void watchMarksFailedReads() {
        const QString csv = path("watch.csv");
        QProcess tool;
        StartTool(
            tool, dir->path(),
            {"watch", "--interval", "20", "--timeout", "100", "--csv", csv, "--decimal-separator", ","});
        const QByteArray timeout = "Timeout odpowiedzi z przepływomierza";
        const auto linesWith = [&](const QByteArray& status) {
            return readFile(csv).count(
                ";" + QByteArray::fromStdString(model::Utf8ToCp1250(status.toStdString())) + "\r\n");
        };
        QTRY_VERIFY_WITH_TIMEOUT(linesWith("OK") >= 2, kLong);
        sim->SetFault(vqtsim::Fault::Silence);
        QTRY_VERIFY_WITH_TIMEOUT(linesWith(timeout) >= 2, kLong);
        sim->SetRegister(16, 0x41A0); // 20 m3/h, while nothing can be read
        const auto okBefore = linesWith("OK");
        sim->SetFault(vqtsim::Fault::None);
        QTRY_VERIFY_WITH_TIMEOUT(linesWith("OK") >= okBefore + 2, kLong);
        tool.terminate(); // SIGTERM
        QVERIFY(tool.waitForFinished(kLong));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 3);

        const QString text = model::Cp1250ToUtf8(readFile(csv).toStdString()).c_str();
        QVERIFY(text.endsWith("\r\n"));
        QStringList lines = text.chopped(2).split("\r\n");
        QCOMPARE(lines.takeFirst(),
                 QStringLiteral("Czas;Przepływ chwilowy;Jednostka przepływu;Licznik w przód "
                                "L+;Licznik w tył L-;Jednostka liczników;Alarmy;Stan"));
        const QRegularExpression isoTime(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)");
        const QString alarms = QStringLiteral("Przepływ w tył + Przekroczenie zakresu");
        // Good reads of the old flow, failed reads without values, good reads of the new flow.
        int phase = 0, failed = 0;
        for (const QString& line : lines) {
            const QStringList f = line.split(';');
            QCOMPARE(f.size(), 8);
            QVERIFY2(isoTime.match(f[0]).hasMatch(), qPrintable(f[0]));
            const bool good = f[7] == "OK";
            if (phase == 0 && !good) phase = 1;
            if (phase == 1 && good) phase = 2;
            if (good) {
                const QString flow = phase == 0 ? "12,500" : "20,000";
                QCOMPARE(f.mid(1, 7), QStringList({flow, "[m3/h]", "12345,6", "0,0", "[m3]", alarms, "OK"}));
            } else {
                QCOMPARE(phase, 1);
                QCOMPARE(f.mid(1, 7), QStringList({"", "", "", "", "", "", QString::fromUtf8(timeout)}));
                ++failed;
            }
        }
        QCOMPARE(phase, 2);
        const QByteArray err = tool.readAllStandardError();
        QCOMPARE(err.count("(failed reads: "), failed);
        QVERIFY2(err.contains(QStringLiteral("%1 reads, %2 failed").arg(lines.size()).arg(failed).toUtf8()),
                 err.constData());
    }

    void errorsAndExitCodes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("port absent") << QStringList{"read", "--port", "./COM9"} << "" << 10
                                     << "brak takiego urządzenia";
        QTest::newRow("port busy") << QStringList{"read"} << "flock" << 11 << "zajęty przez inny program";
        QTest::newRow("no permission") << QStringList{"read"} << "nobody" << 12 << "grupy dialout";
        QTest::newRow("not a port") << QStringList{"archive", "--new", "x.csv", "--port", "./plain"}
                                    << "plain" << 13 << "to nie jest port szeregowy";
        QTest::newRow("address 0") << QStringList{"read", "--address", "0"} << "" << 2 << "--address";
        QTest::newRow("odd speed") << QStringList{"watch", "--baud", "1234"} << "" << 2 << "--baud";
        QTest::newRow("mark parity") << QStringList{"read", "--parity", "mark"} << "" << 2 << "--parity";
        QTest::newRow("short time-out") << QStringList{"read", "--timeout", "19"} << "" << 2 << "--timeout";
        QTest::newRow("no port name") << QStringList{"read", "--port", "ttyUSB0"} << "" << 2 << "--port";
        QTest::newRow("no export file") << QStringList{"archive"} << "" << 2 << "--new";
        QTest::newRow("partial update")
            << QStringList{"archive", "--update", "x.csv", "--keep-partial"} << "" << 2 << "--keep-partial";
    }
    void errorsAndExitCodes() {
        QFETCH(QStringList, args);
        QFETCH(QString, setup);
        QFETCH(int, code);
        QFETCH(QString, says);
        const std::string slave = sim->DevicePath();
        int held = -1;
        std::function<void()> asChild;
        if (setup == "flock") {
            held = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
            QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
        } else if (setup == "nobody") {
            QCOMPARE(::chmod(slave.c_str(), 0600), 0);
            asChild = [] {
                if (setgid(65534) != 0 || setuid(65534) != 0) _exit(90);
            };
        } else if (setup == "plain") {
            QFile plain(path("plain"));
            QVERIFY(plain.open(QIODevice::WriteOnly));
        }
        const ToolRun r = RunTool(dir->path(), args, QProcessEnvironment::systemEnvironment(), asChild);
        if (held >= 0) ::close(held);
        QVERIFY2(r.code == code, r.err.constData());
        QVERIFY2(QString::fromUtf8(r.err).contains(says), r.err.constData());
        QCOMPARE(sim->RequestsSeen(), uint64_t{0}); // nothing was sent
        QVERIFY(!QFile::exists(path("x.csv")));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
