// The MSI as a user meets it, under Wine on a virtual X display with
// Windows' own platform plugin: installed silently into a fresh prefix, the
// Start menu entry opens "VQT540 - Monitor" in Documents\VQT540 (its
// settings file there chooses a speed only the simulated meter on COM1
// answers), the keyboard connects it and it reads the meter; a screenshot
// is kept; the window closes as by its close button, and the silent
// uninstall takes away everything the installation made. Skipped without
// wine, Xvfb, xdotool or the MSI (cmake --build --preset mingw-gui --target
// msi).
#include "app/Application.h"
#include "modbus/Link.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"
#include "tests/common/SimulatorFixture.h"
#include "tests/common/WineEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <set>

namespace {
QString Tool(const QString& name) {
    return QStandardPaths::findExecutable(name);
}

// Every file and folder under root, relative to it.
std::set<QString> Tree(const QString& root) {
    std::set<QString> names;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) names.insert(it.next().mid(root.size()));
    return names;
}

QString Joined(const std::set<QString>& names) {
    return QStringList(names.begin(), names.end()).join('\n');
}

// How many Tab presses take the focus from where it is when the window is
// first shown to the connect button: the order in which the controls were
// made, the same on every system.
int TabsToConnect() {
    modbus::Link meters;
    monitor::Dialogs dialogs;
    TForm1 form(meters, dialogs);
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form)) return -1;
    for (int tabs = 0; tabs < 100; ++tabs) {
        if (QApplication::focusWidget() == form.findChild<QPushButton*>(QStringLiteral("Button4")))
            return tabs;
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &form, Qt::Key_Tab);
    }
    return -1;
}
} // namespace

class TestInstallWine : public QObject {
    Q_OBJECT
    QString work = QStringLiteral(VQT_INSTALL_WORK);
    QString display;
    QProcess xvfb;
    std::unique_ptr<winetest::WinePrefix> prefix;
    QProcessEnvironment env;

    int wine(const QStringList& args, int limitMs = 120000) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("wine"), args);
        if (!p.waitForFinished(limitMs)) return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QByteArray xdotool(const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        p.waitForFinished(30000);
        return p.readAllStandardOutput().trimmed();
    }
    QString user() const {
        const QStringList users = QDir(QString::fromStdString(prefix->Path()) + "/drive_c/users")
                                      .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                      .filter(QRegularExpression("^(?!Public$)"));
        return users.value(0);
    }

    // Starts the window with `start`, waits for it, connects it from the
    // keyboard, keeps a screenshot, closes it as its close button does.
    void openConnectClose(const QStringList& start, int tabs, const vqtsim::Simulator& sim,
                          const QString& shot) {
        QProcess window;
        window.setProcessEnvironment(env);
        window.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer clock;
        clock.start();
        window.start("wine", start);
        QVERIFY(window.waitForStarted());
        QByteArray id;
        QTRY_VERIFY_WITH_TIMEOUT(!(id = xdotool({"search", "--name", "^VQT540 - Monitor$"})).isEmpty(),
                                 60000);
        qInfo("the window is there %.1f s after the start", static_cast<double>(clock.elapsed()) / 1000.0);
        id = id.split('\n').first();
        QTest::qWait(1500); // drawn, and the focus in it
        xdotool({"windowfocus", "--sync", id});
        const uint64_t replies = sim.RepliesSent();
        for (int i = 0; i < tabs; ++i) xdotool({"key", "--window", id, "Tab"});
        xdotool({"key", "--window", id, "space"});
        QTRY_VERIFY_WITH_TIMEOUT(sim.RepliesSent() >= replies + 3, 30000);
        QTest::qWait(1000);
        QProcess grab;
        grab.setProcessEnvironment(env);
        grab.start("import", {"-window", "root", work + "/" + shot});
        QVERIFY(grab.waitForFinished(30000) && grab.exitCode() == 0);
        qInfo("screenshot: %s", qPrintable(work + "/" + shot));
        // WM_CLOSE, as the close button sends it (Xvfb has no window
        // manager to take Alt+F4); `start` of a shortcut does not wait for
        // the program, so the window's end is seen by its going.
        QCOMPARE(wine({"taskkill", "/im", "vqt540-monitor.exe"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(xdotool({"search", "--name", "^VQT540 - Monitor$"}).isEmpty(), 30000);
        if (window.state() != QProcess::NotRunning) QVERIFY(window.waitForFinished(30000));
        QCOMPARE(window.exitCode(), 0);
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"wine", "Xvfb", "xdotool", "import"})
            if (Tool(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("no %1 (tools/setup.sh installs it)").arg(tool)));
        if (!QFileInfo::exists(VQT_WINDOWS_MSI))
            QSKIP("no " VQT_WINDOWS_MSI
                  ": cmake --build --preset mingw-gui --target msi (tools/test.sh does)");
        QDir(work).removeRecursively();
        QVERIFY(QDir().mkpath(work + "/home") && QDir().mkpath(work + "/link"));
        // A display of our own: the first free number from 90 on.
        int number = 90;
        while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) ++number;
        display = QStringLiteral(":%1").arg(number);
        xvfb.start(Tool("Xvfb"), {display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)), 10000);
        // The prefix's Documents leads to HOME: a home of its own. Its menu
        // entries stay in Wine (no winemenubuilder).
        prefix = std::make_unique<winetest::WinePrefix>(
            (work + "/prefix").toStdString(), (work + "/link/COM1").toStdString(),
            std::vector<std::string>{"DISPLAY=" + display.toStdString(),
                                     "HOME=" + (work + "/home").toStdString(),
                                     "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"});
        const std::string error = prefix->Start();
        QVERIFY2(error.empty(), error.c_str());
        env = winetest::ProcessEnvironment(*prefix);
        // A fresh prefix has none of Windows' dialog fonts, and a text field
        // drawn in a missing one stays blank: DejaVu Sans stands in for them.
        for (const char* font : {"Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Segoe UI", "MS Sans Serif"})
            QCOMPARE(
                wine({"reg", "add", "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                      "/v", font, "/d", "DejaVu Sans", "/f"}),
                0);
    }
    void cleanupTestCase() {
        prefix.reset();
        xvfb.terminate();
        xvfb.waitForFinished();
    }

    void installOpenConnectUninstall() {
        const int tabs = TabsToConnect();
        QVERIFY(tabs >= 0);
        const QString driveC = QString::fromStdString(prefix->Path()) + "/drive_c";
        const std::set<QString> before = Tree(driveC), homeBefore = Tree(work + "/home");

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(wine({"msiexec", "/i", VQT_WINDOWS_MSI, "/qn"}), 0);
        qInfo("silent install: %.1f s", static_cast<double>(clock.elapsed()) / 1000.0);
        const QString programs = driveC + "/Program Files/VQT540";
        // Windows puts a per-machine entry in the common Start menu; Wine's
        // msi resolves ProgramMenuFolder to the user's even then.
        QString entry = driveC + "/ProgramData/Microsoft/Windows/Start Menu/Programs/VQT540 Monitor.lnk";
        if (!QFileInfo::exists(entry))
            entry = driveC + "/users/" + user() +
                    "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/VQT540 Monitor.lnk";
        const QString documents = work + "/home/VQT540"; // Documents\VQT540
        for (const QString& made : {programs + "/vqt540-monitor.exe", programs + "/vqt540.exe",
                                    programs + "/platforms/qwindows.dll",
                                    programs + "/translations/qtbase_pl.qm", entry, documents})
            QVERIFY2(QFileInfo::exists(made), qPrintable(made));

        // A meter that answers at 19200 bit/s alone, and a settings file in
        // the entry's working folder that chooses that speed.
        vqtsim::Options o = testsim::FastMeter(work + "/link");
        o.strictLine = true;
        o.baudRate = 19200;
        const auto sim = testsim::StartSimulator(o, true);
        {
            QFile cfg(documents + "/VQT540.cfg");
            QVERIFY(cfg.open(QIODevice::WriteOnly));
            cfg.write("0\r\n4\r\n0\r\n0\r\n0\r\n  1\r\n500\r\n1000\r\n");
        }

        // The Start menu entry, as Explorer starts it: Documents\VQT540 its
        // working folder, or the meter would not answer.
        clock.restart();
        openConnectClose({"start", "/wait", "/unix", entry}, tabs, *sim, "installed-window.png");
        qInfo("opened, connected and closed in %.1f s", static_cast<double>(clock.elapsed()) / 1000.0);
        if (QTest::currentTestFailed()) return;

        QCOMPARE(wine({"msiexec", "/x", VQT_WINDOWS_MSI, "/qn"}), 0);
        QCOMPARE(wine({"reg", "query", "HKCU\\Software\\VQT540 Monitor"}) == 0, false);
        // Nothing of the installation is left; the settings file the user
        // (here the test) put in Documents\VQT540 stays, with its folder.
        std::set<QString> made;
        for (const QString& name : Tree(driveC))
            if (!before.count(name) && !name.startsWith("/windows/") && !name.contains("/Temp/"))
                made.insert(name);
        QVERIFY2(made.empty(), qPrintable(Joined(made)));
        std::set<QString> userFiles = homeBefore;
        userFiles.insert({"/VQT540", "/VQT540/VQT540.cfg"});
        QCOMPARE(Joined(Tree(work + "/home")), Joined(userFiles));
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    TestInstallWine test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_install_wine.moc"
