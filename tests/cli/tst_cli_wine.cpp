// vqt540.exe, the tool built for Windows, run under Wine beside the Linux
// tool against the same simulated meter: Wine's COM1 leads to the link that
// each simulator makes to its pseudo-terminal. The same reading, byte for
// byte the same exports (under lost requests and split replies too), the
// same exit codes, the UTC offset of its times, and a stop by Ctrl-C that
// leaves nothing half-written.
#include "CliRun.h"
#include "tests/common/WineEnvironment.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <signal.h>

class TestCliWine : public QObject {
    Q_OBJECT
    QString wine;
    QString work; // the simulator's COM1 link and the files of every row
    std::unique_ptr<winetest::WinePrefix> prefix;
    QProcessEnvironment wineEnv;
    std::unique_ptr<vqtsim::Simulator> sim;

    QString path(const QString& name) const { return work + "/" + name; }
    ToolRun windowsTool(const QStringList& args, const QProcessEnvironment& env) {
        return RunProgram(wine, work, QStringList{QStringLiteral(VQT_WINDOWS_TOOL)} + args, env);
    }
    // The meter of every row, with the row's faults.
    void startSim(int records, std::time_t now, double drop, int splitMs) {
        sim.reset(); // its link first, then the new one
        sim = StartSim(work, records, true, now);
        sim->SetLive(false);
        sim->SetDropProbability(drop);
        if (splitMs > 0) {
            sim->SetFault(vqtsim::Fault::Split, 0, splitMs);
            sim->SetFaultShare(0.2);
        }
    }

private slots:
    void initTestCase() {
        wine = QString::fromStdString(winetest::FindWine());
        if (wine.isEmpty()) QSKIP("wine is not installed (tools/setup.sh installs it)");
        if (!QFileInfo::exists(QStringLiteral(VQT_WINDOWS_TOOL)))
            QSKIP("no " VQT_WINDOWS_TOOL ": build the mingw preset first (tools/test.sh does)");
        work = QStringLiteral(VQT_WINE_WORK "/rows");
        QDir(work).removeRecursively();
        QVERIFY(QDir().mkpath(work));
        prefix =
            std::make_unique<winetest::WinePrefix>(VQT_WINE_WORK "/prefix", (work + "/COM1").toStdString());
        const std::string error = prefix->Start();
        QVERIFY2(error.empty(), error.c_str());
        wineEnv = winetest::ProcessEnvironment(*prefix);
    }
    void cleanup() {
        sim.reset();
        for (const QString& name : QDir(work).entryList(QDir::Files | QDir::System))
            QFile::remove(path(name));
    }
    void cleanupTestCase() { prefix.reset(); }

    // Through a MODBUS TCP gateway: Winsock end to end, one connection for
    // the whole download, the file as the meter's archive says.
    void windowsToolThroughAGateway() {
        vqtsim::Options o = testsim::FastMeter();
        o.modbusTcpPort = -1;
        o.archiveRecords = 300;
        o.archiveWrapped = true;
        o.archiveNow = kNow;
        sim = testsim::StartSimulator(o);
        const QString port = QStringLiteral("tcp://127.0.0.1:%1").arg(sim->TcpPort());
        const ToolRun run = windowsTool(
            {"archive", "--new", "brama.csv", "--period", "0", "--port", port, "--decimal-separator", ","},
            wineEnv);
        QVERIFY2(run.code == 0, run.err.constData());
        QCOMPARE(ReadFile(path("brama.csv")), ExpectedExport(*sim, ","));
        QCOMPARE(sim->ConnectionsAccepted(), uint64_t{1});
    }

    void windowsToolAsTheLinuxOne_data() {
        QTest::addColumn<QString>("run");
        QTest::addColumn<double>("drop");
        QTest::addColumn<int>("splitMs");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("read --json: the Linux tool's fields") << "read" << 0.0 << 0 << 0 << "";
        QTest::newRow("watch --csv: the same lines, the zone's offset") << "watch" << 0.0 << 0 << 0 << "";
        QTest::newRow("archive --new, then --update") << "archive" << 0.0 << 0 << 0 << "";
        QTest::newRow("archive, a tenth of the requests lost") << "archive" << 0.1 << 0 << 0 << "";
        QTest::newRow("archive, replies split after 5 bytes") << "archive" << 0.0 << 15 << 0 << "";
        QTest::newRow("absent port") << "absent" << 0.0 << 0 << 10 << "brak takiego urządzenia";
        QTest::newRow("silent meter") << "silent" << 0.0 << 0 << 3 << "Timeout odpowiedzi z przepływomierza";
        QTest::newRow("Ctrl-C during --update: unchanged")
            << "stop update" << 0.0 << 0 << 5 << "left unchanged";
        QTest::newRow("Ctrl-C during --new: no file") << "stop new" << 0.0 << 0 << 5 << "not written";
    }
    void windowsToolAsTheLinuxOne() {
        QFETCH(QString, run);
        QFETCH(double, drop);
        QFETCH(int, splitMs);
        QFETCH(int, code);
        QFETCH(QString, says);
        startSim(300, kNow, drop, splitMs);
        // Lost requests are asked again after the time-out: a short one.
        const QStringList common{
            "--port", "COM1", "--timeout", drop > 0 ? "60" : "300", "--decimal-separator", ","};
        QProcessEnvironment env = wineEnv;
        ToolRun windows, linux;

        if (run == "read") {
            linux = RunTool(work, QStringList{"read", "--json"} + common);
            windows = windowsTool(QStringList{"read", "--json"} + common, env);
            const QJsonDocument json = QJsonDocument::fromJson(windows.out);
            QVERIFY2(json.object()["registers"].toArray().size() == 27, windows.out.constData());
            QCOMPARE(json, QJsonDocument::fromJson(linux.out));
        } else if (run == "watch") {
            env.insert("TZ", "Asia/Kathmandu"); // +05:45 all year: no other zone has that offset
            const QStringList watch{"watch", "--count", "2", "--interval", "20", "--csv"};
            linux = RunTool(work, watch + QStringList{"linux.csv"} + common);
            windows = windowsTool(watch + QStringList{"tabela-żółw.csv"} + common, env);
            const QByteArray linuxTable = ReadFile(path("linux.csv")),
                             table = ReadFile(path("tabela-żółw.csv"));
            QCOMPARE(table.count("\r\n"), 3); // the header and two reads, each line ended once
            QVERIFY(!table.contains("\r\r"));
            const QList<QByteArray> lines = table.split('\n'), linuxLines = linuxTable.split('\n');
            QCOMPARE(lines[0], linuxLines[0]);
            const QRegularExpression kathmandu(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\+05:45$)");
            for (int i = 1; i <= 2; ++i) {
                const qsizetype semicolon = lines[i].indexOf(';');
                QVERIFY2(kathmandu.match(QString::fromLatin1(lines[i].left(semicolon))).hasMatch(),
                         lines[i].constData());
                QCOMPARE(lines[i].mid(semicolon), linuxLines[i].mid(linuxLines[i].indexOf(';')));
            }
        } else if (run == "archive") {
            const QString mine = QStringLiteral("eksport-łódź.csv");
            const QStringList archive{"archive", "--period", "0"};
            linux = RunTool(work, archive + QStringList{"--new", "linux.csv"} + common);
            windows = windowsTool(archive + QStringList{"--new", mine} + common, env);
            QVERIFY2(windows.code == 0 && windows.err.isEmpty(), windows.err.constData());
            QCOMPARE(ReadFile(path(mine)), ReadFile(path("linux.csv")));
            QCOMPARE(ReadFile(path(mine)), ExpectedExport(*sim, ","));
            // Ten quarter hours later the meter holds ten more records.
            startSim(310, kNow + 10 * 900, drop, splitMs);
            linux = RunTool(work, archive + QStringList{"--update", "linux.csv"} + common);
            windows = windowsTool(archive + QStringList{"--update", mine} + common, env);
            QCOMPARE(ReadFile(path(mine)), ReadFile(path("linux.csv")));
            QCOMPARE(ReadFile(path(mine)), ExpectedExport(*sim, ","));
        } else if (run == "absent") {
            windows = windowsTool({"read", "--port", "\\\\.\\COM199"}, env);
            QCOMPARE(sim->RequestsSeen(), uint64_t{0});
        } else if (run == "silent") {
            sim->SetFault(vqtsim::Fault::Silence);
            windows = windowsTool(QStringList{"read"} + common, env);
            QVERIFY(sim->RequestsSeen() > 0);
        } else {
            const bool update = run == "stop update";
            const QString file = path(QStringLiteral("przerwany-źrebak.csv"));
            const QByteArray old("Nr logu\r\n7;2020-01-01;00:00:00;\r\n");
            if (update) {
                QFile f(file);
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
            }
            QProcess tool;
            StartProgram(tool, wine, work,
                         QStringList{VQT_WINDOWS_TOOL, "archive", update ? "--update" : "--new", file,
                                     "--period", "300"} +
                             common,
                         env);
            QTRY_VERIFY_WITH_TIMEOUT(sim->RequestsSeen() >= 20, kLong);
            QCOMPARE(::kill(static_cast<pid_t>(tool.processId()), SIGINT), 0); // as Ctrl-C in a console
            QVERIFY(tool.waitForFinished(kLong));
            windows = {tool.exitCode(), tool.readAllStandardOutput(), tool.readAllStandardError()};
            if (update)
                QCOMPARE(ReadFile(file), old);
            else
                QVERIFY(!QFile::exists(file));
            // Nothing written beside it either (the simulator's COM1 is a link).
            QCOMPARE(QDir(work).entryList(QDir::Files | QDir::NoSymLinks),
                     update ? QStringList{QFileInfo(file).fileName()} : QStringList{});
        }

        QVERIFY2(windows.code == code, windows.err.constData());
        QVERIFY2(QString::fromUtf8(windows.err).contains(says), windows.err.constData());
        // A tool that worked says nothing: stderr is no console, so no progress either.
        if (code == 0) QVERIFY2(windows.err.isEmpty(), windows.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliWine)
#include "tst_cli_wine.moc"
