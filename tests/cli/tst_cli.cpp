// The vqt540 tool run as a program against the simulated meter on a
// pseudo-terminal: what it reads, how it gives up, how it marks failed reads,
// and its errors and exit codes.
#include "CliRun.h"

#include "tests/platform/FakeSerialTree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <bit>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

class TestCli : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<vqtsim::Simulator> sim;

    QString path(const char* name) const { return dir->filePath(QLatin1String(name)); }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        chmod(dir->path().toLocal8Bit().constData(), 0755); // user nobody must find the link
        sim = StartSim(dir->path(), 3000, false);
        sim->SetLive(false);
    }
    void cleanup() { sim.reset(); }

    void readJsonShowsTheRegisters() {
        sim->SetRegister(2, 0x0016);  // l/min, litres, pulse weight 100
        sim->SetRegister(14, 0xBF00); // KorC -0.5
        sim->SetRegister(23, 0x5AB3); // version "Zł" in Windows-1250
        sim->SetRegister(24, 0x0000);
        const ToolRun r = RunTool(dir->path(), {"read", "--json", "--decimal-separator", ","});
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonObject json = QJsonDocument::fromJson(r.out).object();
        const auto regs = sim->Registers();
        const QJsonArray registers = json["registers"].toArray();
        QCOMPARE(registers.size(), 27);
        for (int i = 0; i < 27; ++i) QCOMPARE(registers[i].toInt(), int{regs[i]});
        // Registers numbered from 1; a pair is big-endian.
        const auto bits = [&](int n) { return uint32_t{regs[n - 1]} << 16 | regs[n]; };
        const auto field = [&](int n, int shift, int mask) { return double((regs[n - 1] >> shift) & mask); };
        const struct {
            const char* key;
            double expected;
        } fields[] = {{"flowUnitCode", field(2, 0, 3)},
                      {"totaliserUnitCode", field(2, 2, 1)},
                      {"pulseWeightCode", field(2, 3, 3)},
                      {"alarmBits", field(3, 0, 0xFF)},
                      {"rangeLitresPerHour", double(static_cast<int32_t>(bits(6)))},
                      {"korC", std::bit_cast<float>(bits(14))},
                      {"flowCubicMetresPerHour", std::bit_cast<float>(bits(16))},
                      {"forwardTotaliserTenths", double(static_cast<int32_t>(bits(18)))}};
        const QJsonObject values = json["values"].toObject();
        for (const auto& f : fields) QVERIFY2(values[f.key].toDouble() == f.expected, f.key);
        QCOMPARE(values["version"].toString(), QStringLiteral("Zł"));
        // The flow as the window shows it: 12.5 m3/h in l/min, one decimal.
        const QJsonObject flow = json["shown"].toArray()[3].toObject();
        QCOMPARE(flow["label"].toString() + flow["value"].toString() + flow["unit"].toString(),
                 QStringLiteral("Przepływ chwilowy208,3[l/min]"));
    }

    void decimalSeparator_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("shown");
        // pl_PL comes from the C library when installed, else from its name.
        QTest::newRow("Polish") << "pl_PL.UTF-8" << QStringList{} << "12,500 [m3/h]";
        QTest::newRow("C") << "C" << QStringList{} << "12.500 [m3/h]";
        QTest::newRow("C, comma asked for")
            << "C" << QStringList{"--decimal-separator", ","} << "12,500 [m3/h]";
    }
    void decimalSeparator() {
        QFETCH(QString, locale);
        QFETCH(QStringList, extra);
        QFETCH(QString, shown);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("LANG");
        env.remove("LC_NUMERIC");
        env.insert("LC_ALL", locale);
        const ToolRun r = RunTool(dir->path(), QStringList{"read"} + extra, env);
        const QRegularExpression row("^Przepływ chwilowy +(.*)$", QRegularExpression::MultilineOption);
        QCOMPARE(row.match(QString::fromUtf8(r.out)).captured(1), shown);
    }

    void retryLimit_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("new file, silent meter: deleted") << "new";
        QTest::newRow("new file kept: the records read so far") << "keep";
        QTest::newRow("update: unchanged") << "update";
    }
    void retryLimit() {
        QFETCH(QString, mode);
        const QString file = path("export.csv");
        const QByteArray old("Nr logu\r\n7;2020-01-01;00:00:00;\r\n");
        if (mode == "update") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
        }
        if (mode == "new") sim->SetFault(vqtsim::Fault::Silence);
        QStringList args{"archive",   "--new", file,        "--period", "0",
                         "--timeout", "100",   "--retries", "3",        "--decimal-separator",
                         ","};
        if (mode == "update") args[1] = "--update";
        if (mode == "keep") args << "--keep-partial";
        QProcess tool;
        StartTool(tool, dir->path(), args);
        if (mode != "new") {
            QTRY_VERIFY_WITH_TIMEOUT(sim->RequestsSeen() >= 30, kLong);
            sim->SetFault(vqtsim::Fault::Silence);
        }
        QVERIFY(tool.waitForFinished(kLong));
        QCOMPARE(tool.exitCode(), 3);
        QVERIFY(tool.readAllStandardError().contains("giving up"));
        const QByteArray kept = ReadFile(file);
        if (mode == "new") {
            QVERIFY(!QFile::exists(file));
            QCOMPARE(sim->RequestsSeen(), uint64_t{3}); // three attempts, then no more
        } else if (mode == "update") {
            QCOMPARE(kept, old);
        } else {
            QVERIFY(kept.count("\r\n") >= 30);
            QCOMPARE(kept, ExpectedExport(*sim, ",", static_cast<int>(kept.count("\r\n")) - 1));
        }
    }

    void watchMarksFailedReads() {
        const QString csv = path("watch.csv");
        QProcess tool;
        StartTool(
            tool, dir->path(),
            {"watch", "--interval", "20", "--timeout", "100", "--csv", csv, "--decimal-separator", ","});
        const QString timeout = "Timeout odpowiedzi z przepływomierza";
        const auto lines = [&] {
            return QString::fromStdString(model::Cp1250ToUtf8(ReadFile(csv).toStdString()));
        };
        const auto count = [&](const QString& status) { return lines().count(";" + status + "\r\n"); };
        QTRY_VERIFY_WITH_TIMEOUT(count("OK") >= 2, kLong);
        sim->SetFault(vqtsim::Fault::Silence);
        QTRY_VERIFY_WITH_TIMEOUT(count(timeout) >= 2, kLong);
        sim->SetRegister(16, 0x41A0); // 20 m3/h, while nothing can be read
        const auto goodBefore = count("OK");
        sim->SetFault(vqtsim::Fault::None);
        QTRY_VERIFY_WITH_TIMEOUT(count("OK") >= goodBefore + 2, kLong);
        tool.terminate(); // SIGTERM
        QVERIFY(tool.waitForFinished(kLong));
        QCOMPARE(tool.exitCode(), 3);

        QStringList table = lines().split("\r\n");
        QCOMPARE(table.takeLast(), QString()); // the last line is whole
        QCOMPARE(table.takeFirst(), "Czas;Przepływ chwilowy;Jednostka przepływu;Licznik w przód L+;Licznik w "
                                    "tył L-;Jednostka liczników;Alarmy;Stan");
        const QRegularExpression isoTime(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)");
        const QString alarms = "Przepływ w tył + Przekroczenie zakresu";
        // Good reads of the old flow, failed reads without values, good reads of the new flow.
        int phase = 0, failed = 0;
        for (const QString& line : table) {
            QStringList f = line.split(';');
            QVERIFY2(isoTime.match(f.takeFirst()).hasMatch(), qPrintable(line));
            const bool good = f.last() == "OK";
            phase += (phase == 0 && !good) || (phase == 1 && good);
            failed += !good;
            if (good)
                QCOMPARE(f, QStringList({phase == 0 ? "12,500" : "20,000", "[m3/h]", "12345,6", "0,0", "[m3]",
                                         alarms, "OK"}));
            else {
                QCOMPARE(phase, 1);
                QCOMPARE(f, QStringList({"", "", "", "", "", "", timeout}));
            }
        }
        QCOMPARE(phase, 2);
        const QString err = QString::fromUtf8(tool.readAllStandardError());
        QCOMPARE(err.count("(failed reads: "), failed);
        QVERIFY2(err.contains(QString("%1 reads, %2 failed").arg(table.size()).arg(failed)), qPrintable(err));
    }

    void errorsAndExitCodes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        using L = QStringList;
        QTest::newRow("absent") << L{"read", "--port", "./COM9"} << "" << 10 << "brak takiego urządzenia";
        QTest::newRow("busy") << L{"read"} << "flock" << 11 << "zajęty przez inny program";
        QTest::newRow("no permission") << L{"read"} << "nobody" << 12 << "grupy dialout";
        QTest::newRow("not a port") << L{"archive", "--new", "x.csv", "--port", "./x"} << "file" << 13
                                    << "to nie jest port szeregowy";
        QTest::newRow("address 0") << L{"read", "--address", "0"} << "" << 2 << "--address";
        QTest::newRow("odd speed") << L{"watch", "--baud", "1234"} << "" << 2 << "--baud";
        QTest::newRow("short time-out") << L{"read", "--timeout", "19"} << "" << 2 << "--timeout";
        QTest::newRow("no port name") << L{"read", "--port", "ttyUSB0"} << "" << 2 << "--port";
        QTest::newRow("no export file") << L{"archive"} << "" << 2 << "--new";
        QTest::newRow("partial update")
            << L{"archive", "--update", "x.csv", "--keep-partial"} << "" << 2 << "--keep-partial";
        QTest::newRow("report of no export") << L{"report", "x"} << "file" << 4 << "no archive record";
        QTest::newRow("report by week") << L{"report", "x", "--by", "week"} << "" << 2 << "--by";
    }
    void errorsAndExitCodes() {
        QFETCH(QStringList, args);
        QFETCH(QString, setup);
        QFETCH(int, code);
        QFETCH(QString, says);
        const std::string slave = sim->DevicePath();
        const int held = setup == "flock" ? ::open(slave.c_str(), O_RDWR | O_NOCTTY) : -1;
        if (setup == "flock") QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
        if (setup == "nobody") QCOMPARE(::chmod(slave.c_str(), 0600), 0);
        if (setup == "file") QVERIFY(QFile(path("x")).open(QIODevice::WriteOnly));
        // Runs in the forked child: nothing there but system calls.
        const bool asNobody = setup == "nobody";
        const ToolRun r = RunTool(dir->path(), args, QProcessEnvironment::systemEnvironment(), [asNobody] {
            if (asNobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
        });
        if (held >= 0) ::close(held);
        QVERIFY2(r.code == code, r.err.constData());
        QVERIFY2(QString::fromUtf8(r.err).contains(says), r.err.constData());
        QCOMPARE(sim->RequestsSeen(), uint64_t{0}); // nothing was sent
        QVERIFY(!QFile::exists(path("x.csv")));
    }

    // The window's settings file fills what the command line leaves open.
    void settingsFile_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("file"); // VQT540.cfg in the working directory
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        using L = QStringList;
        // A time-out a loaded machine's reply still fits in; address 9 is nobody's.
        const QByteArray address9 = "0\r\n7\r\n0\r\n0\r\n0\r\n  9\r\n1000\r\n1000\r\n";
        QTest::newRow("its address and time-out") << L{"read"} << address9 << 3 << "Timeout odpowiedzi";
        QTest::newRow("overridden") << L{"read", "--address", "1"} << address9 << 0 << "";
        QTest::newRow("its port") << L{"read"} << QByteArray("4\r\n") << 10 << "COM5";
        QTest::newRow("named file") << L{"read", "--config", "other.cfg"} << QByteArray("4\r\n") << 0 << "";
        QTest::newRow("named file absent")
            << L{"read", "--config", "none.cfg"} << QByteArray() << 4 << "none.cfg";
        QTest::newRow("not a number") << L{"read"} << QByteArray("x\r\n") << 2 << "VQT540.cfg, wiersz 1";
        QTest::newRow("address out of range")
            << L{"read"} << QByteArray("0\r\n3\r\n0\r\n0\r\n0\r\n300\r\n") << 2 << "wiersz 6";
        QTest::newRow("no such speed") << L{"watch"} << QByteArray("0\r\n9\r\n") << 2 << "wiersz 2";
    }
    void settingsFile() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, file);
        QFETCH(int, code);
        QFETCH(QString, says);
        if (!file.isEmpty()) {
            QFile cfg(path("VQT540.cfg"));
            QVERIFY(cfg.open(QIODevice::WriteOnly) && cfg.write(file) == file.size());
        }
        QFile other(path("other.cfg")); // the defaults: COM1, 9600, address 1
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("0\r\n3\r\n0\r\n0\r\n0\r\n  1\r\n") > 0);
        other.close();
        const ToolRun r = RunTool(dir->path(), args);
        QVERIFY2(r.code == code, r.err.constData());
        QVERIFY2(QString::fromUtf8(r.err).contains(says), r.err.constData());
        if (code == 0) QVERIFY(r.out.contains("Wersja VQT"));
    }

    // A meter at settings nobody would guess, on a line that answers as a
    // real one would: the scan finds exactly that one.
    void scanFindsTheMeter_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        using L = QStringList;
        QTest::newRow("found") << L{"scan", "--addresses", "12-20", "--speeds", "9600,19200"} << 0
                               << "address 17, 19200 bit/s, odd parity: V1.02, DN 100\n"
                               << "";
        QTest::newRow("found, JSON") << L{"scan", "--addresses", "17", "--speeds", "19200", "--json", "--all"}
                                     << 0 << "\"address\": 17"
                                     << "";
        // No parity first: garbled bytes, then the odd parity at the same address at once.
        QTest::newRow("garbled, then found")
            << L{"scan", "--addresses", "17", "--speeds", "19200", "--parity", "none", "--json"} << 0
            << "\"otherSettings\": [\n    {\n      \"address\": 17,\n      \"baud\": 19200,\n      "
               "\"parity\": \"none\""
            << "";
        QTest::newRow("none there") << L{"scan", "--addresses", "1-4", "--speeds", "115200,19200"} << 3 << ""
                                    << "no meter answered on COM1";
        QTest::newRow("no such range") << L{"scan", "--addresses", "20-10"} << 2 << ""
                                       << "--addresses";
    }
    void scanFindsTheMeter() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        sim.reset(); // its link first, then the new one
        sim = StartHiddenMeter(dir->path());
        const ToolRun r = RunTool(dir->path(), args);
        QVERIFY2(r.code == code, r.err.constData());
        QVERIFY2(QString::fromUtf8(r.out).contains(out), r.out.constData());
        QVERIFY2(QString::fromUtf8(r.err).contains(err), r.err.constData());
        // The first meter ends the scan: one line.
        if (out.endsWith('\n')) QCOMPARE(QString::fromUtf8(r.out), out);
    }

    // The ports of a machine of the test's own: the adapter's stable name
    // with what it is, as JSON and as aligned lines; none is no error.
    void portsListsTheAdapter() {
        MakeFakeSerialTree(path("machine").toStdString());
        const QString link = "/dev/serial/by-id/usb-FTDI_X_A1B2C3-if00-port0";
        const ToolRun json = RunTool(dir->path(), {"ports", "--root", path("machine"), "--json"});
        QVERIFY2(json.code == 0, json.err.constData());
        const QJsonArray ports = QJsonDocument::fromJson(json.out).array();
        QCOMPARE(ports.size(), 6);
        const QJsonObject last = ports[5].toObject();
        QCOMPARE(last["name"].toString() + " " + last["device"].toString() + " " + last["maker"].toString() +
                     " " + last["serial"].toString(),
                 link + " /dev/ttyUSB0 FTDI A1B2C3");
        const ToolRun table = RunTool(dir->path(), {"ports", "--root", path("machine")});
        QVERIFY2(table.code == 0, table.err.constData());
        const QStringList lines = QString::fromUtf8(table.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6);
        QVERIFY2(lines[5].startsWith(link) && lines[5].contains("-> /dev/ttyUSB0") &&
                     lines[5].contains("A1B2C3"),
                 table.out.constData());
        QCOMPARE(lines[5].lastIndexOf("FTDI"), lines[4].lastIndexOf("FTDI")); // in one column
        const ToolRun none = RunTool(dir->path(), {"ports", "--root", path("nothing")});
        QCOMPARE(none.code, 0);
        QVERIFY(none.out.isEmpty() && none.err.contains("no serial port found"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
