// The tool's archive download against the window's: the same simulated meter,
// a new export and an update after the meter gained records, byte for byte.
#include "Application.h"
#include "CliRun.h"
#include "DPlik.h"
#include "DZakoncz.h"
#include "Messages.h"
#include "Modbus.h"
#include "Unit1.h"
#include "Unit2.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <ctime>

namespace {
constexpr std::time_t kNow = 1717243200; // 2024-06-01 12:00 UTC
constexpr int kLong = 60000;

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

class TestCliWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString oldDir;
    std::unique_ptr<vqtsim::Simulator> sim;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TOKBottomDlg1> dlg1;
    std::unique_ptr<TOKBottomDlg2> dlg2;
    std::unique_ptr<TForm2> form2;
    QString chosenFile;
    QStringList errors;

    void startSim(int records, std::time_t now) {
        sim.reset();
        vqtsim::Options o;
        o.linkDir = dir.path().toStdString();
        o.wireTiming = false;
        o.archiveRecords = records;
        o.archiveWrapped = true;
        o.archiveNow = now;
        sim = std::make_unique<vqtsim::Simulator>(o);
        QVERIFY2(sim->Start(), sim->Error().c_str());
    }
    // "Zapisz nowy plik" or "Uaktualnij plik " in the export window, the
    // questions answered "TAK", until the download has ended.
    void windowDownload(QPushButton*(TForm2::*button), const QString& file) {
        chosenFile = file;
        form->Button5Click();
        QVERIFY(form2->isVisible());
        ((*form2).*button)->click();
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
        monitor::SetErrorFunction([this](const QString& t) { errors << t; });
        monitor::SetInformationFunction([](const QString&) {});
        SetQuestionFunction([](TOKBottomDlg*, const QString&) { return true; });
        monitor::SetFileDialogFunction([this](QFileDialog*) { return chosenFile; });
        form = std::make_unique<TForm1>();
        dlg1 = std::make_unique<TOKBottomDlg1>(form.get());
        dlg2 = std::make_unique<TOKBottomDlg2>(form.get());
        form2 = std::make_unique<TForm2>(*form);
        form->OKBottomDlg1 = dlg1.get();
        form->OKBottomDlg2 = dlg2.get();
        form->Form2 = form2.get();
        form->show();
        form->MaskEdit1->setText(QStringLiteral("100"));
        form->Period->setText(QStringLiteral("0"));
    }
    void cleanup() {
        form->Form2 = nullptr;
        form2.reset();
        dlg2.reset(); // children of the window: before it
        dlg1.reset();
        form.reset();
        QVERIFY(modbus::ModbusRead::WaitForAllWorkers(std::chrono::seconds(5)));
        sim.reset();
        SetQuestionFunction({});
        monitor::SetFileDialogFunction({});
        monitor::SetErrorFunction({});
        monitor::SetInformationFunction({});
        QDir::setCurrent(oldDir);
    }

    void newFileThenUpdateAsTheWindowWrites() {
        const QString window = dir.filePath("window.csv"), tool = dir.filePath("tool.csv");
        startSim(300, kNow);
        windowDownload(&TForm2::Button2, window);
        toolDownload("--new", tool);
        QCOMPARE(readFile(window), ExpectedExport(*sim, ","));
        QCOMPARE(readFile(tool), readFile(window));
        const QByteArray first = readFile(tool);

        // Ten quarter hours later the meter holds ten more records.
        startSim(310, kNow + 10 * 900);
        windowDownload(&TForm2::Button1, window);
        toolDownload("--update", tool);
        QCOMPARE(readFile(window), ExpectedExport(*sim, ","));
        QCOMPARE(readFile(tool), readFile(window));
        QVERIFY(readFile(tool).startsWith(first));
        QVERIFY(errors.isEmpty());
    }
};

int main(int argc, char** argv) {
    Application app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestCliWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cli_window.moc"
