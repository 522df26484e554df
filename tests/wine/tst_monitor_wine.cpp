// The window built for Windows, under Wine: each of the window's own Qt
// tests (tests/monitor, built by the mingw-gui preset) run on the offscreen
// platform in a fresh prefix, with the simulators it asks for run here and
// linked where Wine's COM1 leads, its results file read back; and the
// export of the Windows window byte for byte the Linux window's from the
// same meter. Skipped (not failed) without wine or the mingw-gui build.
#include "tests/common/SimulatorFixture.h"
#include "tests/common/WineEnvironment.h"
#include "tests/wine/SimulatorHost.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {
struct Finished {
    int code = -1;
    QByteArray output; // everything but the simulator's requests
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

class TestMonitorWine : public QObject {
    Q_OBJECT
    QString bin = QStringLiteral(VQT_WINDOWS_BIN);
    QString work = QStringLiteral(VQT_WINE_WORK);
    QString wine;
    std::unique_ptr<winetest::WinePrefix> prefix;
    QProcessEnvironment env;

    QString link() const { return work + "/link"; }

    // Runs a program, answering the simulator requests on its stdout.
    Finished run(const QString& program, const QStringList& args, const QString& dir, int limitMs,
                 const QProcessEnvironment& environment) {
        simlink::SimulatorHost host(link().toStdString());
        QProcess p;
        p.setProcessEnvironment(environment);
        p.setWorkingDirectory(dir);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        Finished done;
        if (!p.waitForStarted()) return done;
        QByteArray pending;
        QElapsedTimer clock;
        clock.start();
        const QByteArray request(simlink::kRequest);
        while (clock.elapsed() < limitMs) {
            const bool running = p.state() != QProcess::NotRunning && !p.waitForFinished(0);
            if (running) p.waitForReadyRead(50);
            pending += p.readAll();
            for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
                QByteArray line = pending.left(end);
                pending.remove(0, end + 1);
                if (line.endsWith('\r')) line.chop(1);
                if (line.startsWith(request)) {
                    const std::string answer = host.Answer(line.mid(request.size()).toStdString());
                    p.write(QByteArray::fromStdString(answer + "\n"));
                } else {
                    done.output += line + '\n';
                }
            }
            if (!running) break;
        }
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
            done.output += "<killed after " + QByteArray::number(limitMs / 1000) + " s>\n";
            return done;
        }
        done.output += pending;
        done.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return done;
    }

private slots:
    void initTestCase() {
        wine = QString::fromStdString(winetest::FindWine());
        if (wine.isEmpty()) QSKIP("wine is not installed (tools/setup.sh installs it)");
        if (!QFileInfo::exists(bin + "/tst_monitor_window.exe"))
            QSKIP("no " VQT_WINDOWS_BIN "/tst_monitor_window.exe: build the mingw-gui preset first "
                  "(tools/test.sh does)");
        QDir(work).removeRecursively();
        QVERIFY(QDir().mkpath(link()));
        prefix = std::make_unique<winetest::WinePrefix>((work + "/prefix").toStdString(),
                                                        (link() + "/COM1").toStdString());
        const std::string error = prefix->Start();
        QVERIFY2(error.empty(), error.c_str());
        env = winetest::ProcessEnvironment(*prefix);
    }
    void cleanupTestCase() { prefix.reset(); }

    void windowTestsUnderWine_data() {
        QTest::addColumn<QString>("test");
        QTest::addColumn<int>("limitS");
        for (const char* name : {"units", "window", "settings", "dialogs", "look"})
            QTest::newRow(name) << QStringLiteral("tst_monitor_%1").arg(name) << 300;
        QTest::newRow("polling, against the simulator") << "tst_monitor_polling" << 300;
        QTest::newRow("archive, against the simulator") << "tst_monitor_archive" << 600;
    }
    void windowTestsUnderWine() {
        QFETCH(QString, test);
        QFETCH(int, limitS);
        const QString results = work + "/" + test + ".txt";
        QFile::remove(results);
        // Wine hands the program neither QT_QPA_PLATFORM nor a console for
        // Qt Test's own output: the platform as an argument, the results
        // to a file.
        const Finished done =
            run(wine, {bin + "/" + test + ".exe", "-platform", "offscreen", "-o", results + ",txt"}, work,
                limitS * 1000, env);
        const QString text = QString::fromUtf8(ReadAll(results));
        const QRegularExpression totals(
            QStringLiteral("^Totals: (\\d+) passed, (\\d+) failed, (\\d+) skipped"),
            QRegularExpression::MultilineOption);
        const QRegularExpressionMatch counts = totals.match(text);
        QStringList trouble;
        for (const QString& line : text.split('\n'))
            if (line.startsWith("FAIL!") || line.startsWith("SKIP") || line.contains("failure location") ||
                line.startsWith("   Actual") || line.startsWith("   Expected"))
                trouble << line;
        const QString report = trouble.join('\n') + "\n" + QString::fromUtf8(done.output).right(3000);
        QVERIFY2(counts.hasMatch(), qPrintable("no totals in " + results + "\n" + report));
        qInfo("%s under Wine: %s", qPrintable(test), qPrintable(counts.captured(0)));
        QVERIFY2(done.code == 0 && counts.captured(2) == "0", qPrintable(report));
        QVERIFY(counts.captured(1).toInt() > 0);
    }

    // The same meter, downloaded by the Linux window and then by the
    // Windows one: the same file, byte for byte.
    void exportAsTheLinuxWindow() {
        vqtsim::Options o = testsim::FastMeter(link());
        o.archiveRecords = 700; // into the second file of the four
        o.archiveNow = 1717243200;
        const auto sim = testsim::StartSimulator(o);
        QProcessEnvironment linuxEnv = QProcessEnvironment::systemEnvironment();
        linuxEnv.insert("QT_QPA_PLATFORM", "offscreen");
        const Finished linux = run(QStringLiteral(VQT_LINUX_WINDOW_RUN),
                                   {"export", work + "/linux.csv", "9600"}, link(), 120000, linuxEnv);
        QVERIFY2(linux.code == 0, linux.output.constData());
        const Finished windows =
            run(wine, {bin + "/window_run.exe", "-platform", "offscreen", "export", "okno-łódź.csv", "9600"},
                link(), 120000, env);
        QVERIFY2(windows.code == 0, windows.output.constData());
        const QByteArray linuxFile = ReadAll(work + "/linux.csv");
        QVERIFY(linuxFile.count("\r\n") == 701);
        QCOMPARE(ReadAll(link() + "/okno-łódź.csv"), linuxFile);
    }
};

QTEST_GUILESS_MAIN(TestMonitorWine)
#include "tst_monitor_wine.moc"
