// The archive download through the real windows, offscreen, against the
// simulated meter on a pseudo-terminal; the dialogs are answered by the test.
// Every file is compared byte for byte with one built from the simulator's
// own records.
#include "ArchiveWindows.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "monitor/FocusRing.h"
#include "monitor/ReportWindow.h"
#include "monitor/StatusLabels.h"
#include "tests/core/SimulatedArchive.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>

class TestMonitorArchive : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QString oldDir;
    std::unique_ptr<vqtsim::Simulator> sim;
    modbus::Link meters;      // before the windows: it outlives them
    monitor::Dialogs dialogs; // the windows' boxes and questions, answered here; outlives them too
    std::unique_ptr<ArchiveWindows> windows;
    TForm1* form = nullptr;
    TForm2* form2 = nullptr;
    QStringList asked, infos, errors, dialogTitles, dialogNames;
    int offCentre = 0;                  // file dialogs not over the middle of the main window
    QMap<QString, QList<bool>> answers; // question -> the answers to give, in turn
    QString chosenFile;

    void startSim(int records, std::time_t now = kNow) {
        sim.reset(); // its link first, then the new one
        sim = StartSim(dir->path(), records, true, now);
    }
    QByteArray expectedFile(int upTo = -1) const { return ExpectedExport(*sim, ",", upTo); }
    QString path(const char* name = "export.csv") const { return dir->filePath(QLatin1String(name)); }
    void answer(const QString& question, QList<bool> replies) { answers[question] = std::move(replies); }
    // Through the export window as the user would: the archive button, one of
    // the two buttons, the file dialog, the questions.
    void choose(const char* button, const QString& file) {
        QTest::mouseClick(windows->ui.Button5, Qt::LeftButton);
        QTRY_VERIFY(form2->isVisible());
        chosenFile = file;
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
    }
    template <typename W> W* control(const char* name) const {
        W* w = form2->findChild<W*>(QLatin1String(name));
        if (!w) qFatal("no control %s in the export window", name);
        return w;
    }
    bool downloadFinished() {
        return QTest::qWaitFor([this] { return !form->archiveCycle().ArchiveRunning(); }, kLong);
    }

private slots:
    void init() {
        oldDir = QDir::currentPath();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        asked.clear();
        infos.clear();
        errors.clear();
        dialogTitles.clear();
        dialogNames.clear();
        offCentre = 0;
        answers.clear();
        dialogs.SetErrorFunction([this](const QString& t) { errors << t; });
        dialogs.SetInformationFunction([this](const QString& t) { infos << t; });
        dialogs.SetQuestionFunction([this](TOKBottomDlg*, const QString& q) {
            asked << q;
            QList<bool>& replies = answers[q];
            return replies.isEmpty() ? false : replies.takeFirst();
        });
        dialogs.SetFileDialogFunction([this](QFileDialog* d) {
            dialogTitles << d->windowTitle();
            const auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            dialogNames << (name ? name->text() : QStringLiteral("<no name field>"));
            const QPoint centre =
                QRect(d->pos(), d->testAttribute(Qt::WA_Resized) ? d->size() : d->sizeHint()).center();
            offCentre += (centre - form->frameGeometry().center()).manhattanLength() > 4;
            return chosenFile;
        });
        windows = std::make_unique<ArchiveWindows>(meters, dialogs);
        form = windows->form.get();
        form2 = windows->form2.get();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanup() {
        windows.reset();
        QVERIFY(meters.WaitForWorkers());
        sim.reset();
        QDir::setCurrent(oldDir);
    }

    void newFileThenUpdates() {
        startSim(300);
        QVERIFY(!windows->ui.Button12->isEnabled()); // no download yet: no report of one
        windows->ui.Button4->click();                // polling stops for the download, and stays off
        QVERIFY(form->poll().Connected());
        answer(QStringLiteral("Plik nie istnieje. Utworzyć nowy ?"), {true});
        choose("Button2", path());
        QCOMPARE(dialogTitles, QStringList{"Podaj plik do zapisu"});
        QVERIFY(!form2->isVisible());
        QCOMPARE(windows->ui.Button5->text(), QStringLiteral("Zakończ zapis danych z archiwum"));
        QVERIFY(!windows->ui.ComboBox2->isEnabled() && !windows->ui.Button4->isEnabled());
        QVERIFY(downloadFinished());
        QCOMPARE(infos, QStringList{"Zapis archiwum do pliku zakończony."});
        QCOMPARE(ReadFile(path()), expectedFile());
        // Which file, and how many records this download wrote to it.
        const auto saved = [this](int records) {
            return QStringLiteral("Zapisano %1 rekordów do pliku %2.")
                .arg(records)
                .arg(QDir::toNativeSeparators(path()));
        };
        QCOMPARE(windows->ui.StatusDetails->text(), saved(int(ReadFile(path()).count("\r\n")) - 1));
        QCOMPARE(windows->ui.Button5->text(), QStringLiteral("Zapisz dane z archiwum do pliku"));
        QVERIFY(windows->ui.ComboBox2->isEnabled() && windows->ui.Button4->isEnabled());
        QVERIFY(!form->poll().Connected() && !windows->ui.Timer1->isActive());
        // The report of the file just written, a click away.
        windows->ui.Button12->click();
        auto* report = form->findChild<TFormRaport*>();
        QVERIFY(report && report->isVisible());
        QCOMPARE(report->report().Records, int(ReadFile(path()).count("\r\n")) - 1);
        delete report;

        // Right after: nothing new, the file stays as it is.
        const QByteArray first = ReadFile(path());
        answer(QStringLiteral("Plik istnieje. Dopisać nowe dane ?"), {true});
        choose("Button1", path());
        QVERIFY(downloadFinished());
        QCOMPARE(infos.size(), 2);
        QCOMPARE(ReadFile(path()), first);
        QCOMPARE(windows->ui.StatusDetails->text(), saved(0));

        // Ten quarter hours later the meter holds ten more records: only those are added.
        startSim(310, kNow + 10 * 900);
        answer(QStringLiteral("Plik istnieje. Dopisać nowe dane ?"), {true});
        choose("Button1", path());
        QVERIFY(downloadFinished());
        QCOMPARE(ReadFile(path()), expectedFile());
        QVERIFY(ReadFile(path()).startsWith(first));
        QCOMPARE(windows->ui.StatusDetails->text(), saved(10));
        QVERIFY(errors.isEmpty());
    }

    void faultsOnTheLineGiveTheSameFile() {
        startSim(120);
        sim->SetDropProbability(0.1);
        // First every reply comes just after the 100 ms time-out, so that it
        // would arrive while a later request waits; then bad CRCs, exception
        // replies and replies split after five bytes, one request in ten, in turn.
        sim->SetFault(vqtsim::Fault::Late, 0, 115);
        const struct {
            vqtsim::Fault fault;
            int code, delayMs;
        } faults[] = {
            {vqtsim::Fault::BadCrc, 0, 0}, {vqtsim::Fault::Exception, 4, 0}, {vqtsim::Fault::Split, 0, 30}};
        int next = 0;
        QTimer turn;
        connect(&turn, &QTimer::timeout, this, [&] {
            const auto& f = faults[next++ % 3];
            sim->SetFault(f.fault, f.code, f.delayMs);
            sim->SetFaultShare(0.1);
            turn.setInterval(150);
        });
        answer(QStringLiteral("Plik nie istnieje. Utworzyć nowy ?"), {true});
        choose("Button2", path());
        turn.start(1000);
        QVERIFY(downloadFinished());
        turn.stop();
        QVERIFY2(next >= 3, "every kind of fault had its turn");
        QVERIFY(sim->RequestsSeen() > 121);
        QCOMPARE(ReadFile(path()), expectedFile());
    }

    void userStops_data() {
        QTest::addColumn<bool>("update");
        QTest::addColumn<bool>("save");
        QTest::newRow("new file, not saved: deleted") << false << false;
        QTest::newRow("update, not saved: unchanged") << true << false;
        QTest::newRow("silent meter, saved: every record read so far") << false << true;
    }
    void userStops() {
        QFETCH(bool, update);
        QFETCH(bool, save);
        startSim(3000);
        const QByteArray old("Nr logu\r\n7;2020-01-01;00:00:00;\r\n");
        if (update) {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
            f.close();
            answer(QStringLiteral("Plik istnieje. Dopisać nowe dane ?"), {true});
            choose("Button1", path());
        } else {
            answer(QStringLiteral("Plik nie istnieje. Utworzyć nowy ?"), {true});
            choose("Button2", path());
        }
        auto& cycle = form->archiveCycle();
        QTRY_VERIFY_WITH_TIMEOUT(cycle.lineCount() >= 30, kLong);
        if (save) {
            sim->SetFault(vqtsim::Fault::Silence);
            QTRY_VERIFY_WITH_TIMEOUT(form->link().BadReplies >= 2, kLong);
        }
        const int read = static_cast<int>(cycle.lineCount());
        answer(QStringLiteral("Zakończyć odczyt danych ?"), {true});
        answer(QStringLiteral("Zapisać odczytane dane do pliku ?"), {save});
        QTest::mouseClick(windows->ui.Button5, Qt::LeftButton);
        QVERIFY(!cycle.ArchiveRunning());
        QCOMPARE(windows->ui.Button5->text(), QStringLiteral("Zapisz dane z archiwum do pliku"));
        if (update)
            QCOMPARE(ReadFile(path()), old);
        else if (save)
            QCOMPARE(ReadFile(path()), expectedFile(read));
        else
            QVERIFY(!QFile::exists(path()));
    }

    // The archive ends while the user has a stop question open: no box opens
    // over it, the question closes itself or its late answer changes
    // nothing, and everything read is saved once the question is gone.
    void archiveEndsWhileAQuestionIsOpen_data() {
        QTest::addColumn<int>("late"); // -1: nobody answers (the real dialog); 0 "NIE", 1 "TAK", late
        QTest::newRow("closes itself") << -1;
        QTest::newRow("late NIE") << 0;
        QTest::newRow("late TAK") << 1;
    }
    void archiveEndsWhileAQuestionIsOpen() {
        QFETCH(int, late);
        startSim(120);
        sim->SetFault(vqtsim::Fault::Late, 0, 15); // slow enough for the question to be open at the end
        answer(QStringLiteral("Plik nie istnieje. Utworzyć nowy ?"), {true});
        choose("Button2", path());
        auto& cycle = form->archiveCycle();
        QTRY_VERIFY_WITH_TIMEOUT(cycle.lineCount() >= 5, kLong);
        bool questionOpen = false;
        bool endedMeanwhile = late < 0;
        dialogs.SetInformationFunction([&](const QString& t) {
            infos << t + (questionOpen || windows->dlg2->isVisible() ? " (over the question)" : "");
        });
        bool rescued = false; // the question had to be closed by the test
        if (late < 0) {
            dialogs.SetQuestionFunction({});
            QTimer::singleShot(15000, form, [&] {
                if (!windows->dlg2->isVisible()) return;
                rescued = true;
                windows->dlg2->reject();
            });
        } else {
            dialogs.SetQuestionFunction([&](TOKBottomDlg*, const QString& q) {
                asked << q;
                questionOpen = true;
                // The user reads on while the rest of the archive comes in.
                endedMeanwhile = QTest::qWaitFor(
                    [&] { return cycle.state() == core::ArchiveCycle::State::Ending; }, kLong);
                QTest::qWait(50);
                questionOpen = false;
                return late == 1;
            });
        }
        QTest::mouseClick(windows->ui.Button5, Qt::LeftButton);
        QVERIFY(endedMeanwhile && !rescued && !cycle.ArchiveRunning());
        QVERIFY(!windows->dlg2->isVisible());
        if (late >= 0) QCOMPARE(asked.filter(QStringLiteral("Zapisać")), QStringList()); // not asked any more
        QCOMPARE(infos, QStringList{"Zapis archiwum do pliku zakończony."});
        QCOMPARE(ReadFile(path()), expectedFile());
        // Which file, and how many records this download wrote to it.
        const auto saved = [this](int records) {
            return QStringLiteral("Zapisano %1 rekordów do pliku %2.")
                .arg(records)
                .arg(QDir::toNativeSeparators(path()));
        };
        QCOMPARE(windows->ui.StatusDetails->text(), saved(int(ReadFile(path()).count("\r\n")) - 1));
        QCOMPARE(windows->ui.Button5->text(), QStringLiteral("Zapisz dane z archiwum do pliku"));
    }

    void closingTheWindowDuringADownloadAsksFirst() {
        startSim(3000);
        answer(QStringLiteral("Plik nie istnieje. Utworzyć nowy ?"), {true});
        choose("Button2", path());
        QTRY_VERIFY_WITH_TIMEOUT(form->archiveCycle().lineCount() >= 10, kLong);
        answer(QStringLiteral("Zakończyć odczyt danych ?"), {false, true});
        QVERIFY(!form->close()); // "NIE": the window stays and the download goes on
        QVERIFY(form->archiveCycle().ArchiveRunning());
        answer(QStringLiteral("Zapisać odczytane dane do pliku ?"), {true});
        QVERIFY(form->close());
        QCOMPARE(infos, QStringList{"Zapis archiwum do pliku zakończony."});
        QVERIFY(ReadFile(path()).count("\r\n") > 10);
    }

    void exportWindow() {
        startSim(10);
        QTest::mouseClick(windows->ui.Button5, Qt::LeftButton);
        QVERIFY(form2->isVisible());
        QCOMPARE(form2->windowTitle(), QStringLiteral("Zapis danych z archiwum"));
        QCOMPARE(form2->size(), QSize(350, 179));
        QVERIFY(form2->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!control<QLabel>("Image1")->pixmap().isNull());
        // The proposed name keeps the address field's blanks.
        QCOMPARE(control<QLineEdit>("Edit1")->text(), QDir::toNativeSeparators(path("VQT540_nr  1_1.csv")));
        QCOMPARE(form2->focusWidget(), control<QPushButton>("Button2"));
        // Pressed again before a file is chosen: the same, harmlessly.
        QTest::mouseClick(windows->ui.Button5, Qt::LeftButton);
        QVERIFY(form2->isVisible());
        // A cancelled dialog and "NIE" change nothing; the window stays.
        choose("Button2", QString());
        QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
        chosenFile = path("VQT540_nr  1_1.csv");
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        QCOMPARE(asked, QStringList{"Plik nie istnieje. Utworzyć nowy ?"});
        QCOMPARE(dialogTitles, QStringList({"Podaj plik do zapisu", "Znajdź plik", "Podaj plik do zapisu"}));
        // The update's dialog starts without a name, whatever the one before proposed;
        // the export window and every dialog open over the middle of the main window.
        QCOMPARE(dialogNames, QStringList({"VQT540_nr  1_1.csv", "", "VQT540_nr  1_1.csv"}));
        QCOMPARE(offCentre, 0);
        QVERIFY((form2->frameGeometry().center() - form->frameGeometry().center()).manhattanLength() <= 4);
        QVERIFY(form2->isVisible() && !QFile::exists(chosenFile));
        // An update of a file without a numbered last line is refused and leaves it alone.
        QFile header(chosenFile);
        QVERIFY(header.open(QIODevice::WriteOnly));
        header.write("Nr logu;Data;Czas\r\n");
        header.close();
        answer(QStringLiteral("Plik istnieje. Dopisać nowe dane ?"), {true});
        QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains(QStringLiteral("nie można go uaktualnić")));
        QCOMPARE(ReadFile(chosenFile), QByteArray("Nr logu;Data;Czas\r\n"));
        // Shown again, the existing export is proposed for an update.
        form2->hide();
        QCOMPARE(windows->ui.Button5->text(), QStringLiteral("Zapisz dane z archiwum do pliku"));
        QVERIFY(windows->ui.ComboBox2->isEnabled());
        QTest::mouseClick(windows->ui.Button5, Qt::LeftButton);
        QCOMPARE(form2->focusWidget(), control<QPushButton>("Button1"));
        // "NIE" to adding, "TAK" to erasing: a new file with log numbers from 0.
        answer(QStringLiteral("Plik istnieje. Dopisać nowe dane ?"), {false});
        answer(QStringLiteral("Plik istnieje. Czy skasować zawartość ?"), {true});
        QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
        QVERIFY(downloadFinished());
        QCOMPARE(ReadFile(chosenFile), expectedFile());
    }

    // The export window shows where the keyboard focus is, and Enter (either
    // key) presses the button that has it, as in a dialog.
    void exportWindowKeyboard_data() {
        QTest::addColumn<bool>("tab"); // once, from the first focus
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("dialog"); // of the button pressed
        QTest::newRow("Return, Zapisz nowy plik") << false << int(Qt::Key_Return) << "Podaj plik do zapisu";
        QTest::newRow("keypad Enter, Uaktualnij plik") << true << int(Qt::Key_Enter) << "Znajdź plik";
    }
    void exportWindowKeyboard() {
        QFETCH(bool, tab);
        QFETCH(int, key);
        QFETCH(QString, dialog);
        QTest::mouseClick(windows->ui.Button5, Qt::LeftButton);
        QVERIFY(QTest::qWaitForWindowActive(form2));
        QCOMPARE(form2->focusWidget(), control<QPushButton>("Button2"));
        if (tab) QTest::keyClick(form2->focusWidget(), Qt::Key_Tab);
        auto* focused = qobject_cast<QPushButton*>(form2->focusWidget());
        QVERIFY(focused == control<QPushButton>(tab ? "Button1" : "Button2"));
        auto* ring = control<monitor::FocusRing>("FocusRing");
        QTRY_COMPARE(ring->target(), focused);
        QVERIFY(ring->geometry().contains(focused->geometry()));
        chosenFile.clear(); // the file dialog is cancelled
        QTest::keyClick(focused, Qt::Key(key));
        QCOMPARE(dialogTitles, QStringList{dialog});
        QVERIFY(form2->isVisible());
    }
};

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorArchive test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_archive.moc"
