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
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

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
        sim = StartSim(dir.path(), 300, true);
        windowDownload(&TForm2::Button2, window);
        toolDownload("--new", tool);
        QCOMPARE(ReadFile(window), ExpectedExport(*sim, ","));
        QCOMPARE(ReadFile(tool), ReadFile(window));
        const QByteArray first = ReadFile(tool);

        // Ten quarter hours later the meter holds ten more records.
        sim.reset(); // its link first, then the new one
        sim = StartSim(dir.path(), 310, true, kNow + 10 * 900);
        windowDownload(&TForm2::Button1, window);
        toolDownload("--update", tool);
        QCOMPARE(ReadFile(window), ExpectedExport(*sim, ","));
        QCOMPARE(ReadFile(tool), ReadFile(window));
        QVERIFY(ReadFile(tool).startsWith(first));
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
