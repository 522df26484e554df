// The tool's archive download against the window's: the same simulated meter,
// a new export and an update after the meter gained records, byte for byte.
#include "CliRun.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "tests/monitor/ArchiveWindows.h"

#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>

class TestCliWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString oldDir;
    std::unique_ptr<vqtsim::Simulator> sim;
    modbus::Link meters;      // before the windows: it outlives them
    monitor::Dialogs dialogs; // the windows' boxes and questions, answered here; outlives them too
    std::unique_ptr<ArchiveWindows> windows;
    TForm1* form = nullptr;
    TForm2* form2 = nullptr;
    QString chosenFile;
    QStringList errors;

    // "Zapisz nowy plik" or "Uaktualnij plik " in the export window, the
    // questions answered "TAK", until the download has ended.
    void windowDownload(const char* button, const QString& file) {
        chosenFile = file;
        windows->ui.Button5->click();
        QVERIFY(form2->isVisible());
        QPushButton* chosen = form2->findChild<QPushButton*>(QLatin1String(button));
        QVERIFY2(chosen, button);
        chosen->click();
        QVERIFY(form->archiveCycle().ArchiveRunning());
        QVERIFY(QTest::qWaitFor([this] { return !form->archiveCycle().ArchiveRunning(); }, kLong));
    }
    void toolDownload(const char* option, const QString& file) {
        const ToolRun r = RunTool(dir.path(), {"archive", option, file, "--period", "0", "--timeout", "100",
                                               "--decimal-separator", ","});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.err.isEmpty(), r.err.constData()); // stderr is no terminal: no progress
    }

private slots:
    void init() {
        oldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        dialogs.SetErrorFunction([this](const QString& t) { errors << t; });
        dialogs.SetInformationFunction([](const QString&) {});
        dialogs.SetQuestionFunction([](TOKBottomDlg*, const QString&) { return true; });
        dialogs.SetFileDialogFunction([this](QFileDialog*) { return chosenFile; });
        windows = std::make_unique<ArchiveWindows>(meters, dialogs);
        form = windows->form.get();
        form2 = windows->form2.get();
    }
    void cleanup() {
        windows.reset();
        QVERIFY(meters.WaitForWorkers());
        sim.reset();
        QDir::setCurrent(oldDir);
    }

    void newFileThenUpdateAsTheWindowWrites() {
        const QString window = dir.filePath("window.csv"), tool = dir.filePath("tool.csv");
        sim = StartSim(dir.path(), 300, true);
        windowDownload("Button2", window);
        toolDownload("--new", tool);
        QCOMPARE(ReadFile(window), ExpectedExport(*sim, ","));
        QCOMPARE(ReadFile(tool), ReadFile(window));
        const QByteArray first = ReadFile(tool);

        // Ten quarter hours later the meter holds ten more records.
        sim.reset(); // its link first, then the new one
        sim = StartSim(dir.path(), 310, true, kNow + 10 * 900);
        windowDownload("Button1", window);
        toolDownload("--update", tool);
        QCOMPARE(ReadFile(window), ExpectedExport(*sim, ","));
        QCOMPARE(ReadFile(tool), ReadFile(window));
        QVERIFY(ReadFile(tool).startsWith(first));
        QVERIFY(errors.isEmpty());
    }
};

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestCliWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cli_window.moc"
