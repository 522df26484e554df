// The real window, offscreen, against the simulated meter on a pseudo-terminal:
// connecting, live values, writes of each kind, time-outs and recovery, the
// trace, disconnecting; the editing of all fourteen controls; the chart of
// the flow, the port list's tooltips and saving the trace.
#include "app/Application.h"
#include "core/LinkState.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "modbus/SerialPort.h"
#include "monitor/FlowChart.h"
#include "monitor/Messages.h"
#include "monitor/OKBottomDlg.h"
#include "monitor/StatusLabels.h"
#include "monitor/Unit1.h"
#include "sim/Simulator.h"
#include "tests/core/SimulatedArchive.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

using Kind = monitor::DropDownBox::Kind;

namespace {
QString slotText(const model::WriteSlots& s) {
    QStringList parts;
    if (s.LongWritePending) parts << QStringLiteral("A %1 %2").arg(s.LongWriteRegister).arg(s.LongWriteValue);
    if (s.ShortWritePending)
        parts << QStringLiteral("B %1 %2 %3")
                     .arg(s.ShortWriteRegister)
                     .arg(s.ShortWriteHigh)
                     .arg(s.ShortWriteLow);
    return parts.join(QStringLiteral(", "));
}

void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), field);
    field->selectAll();
    QTest::keyClicks(field, text);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The next item of a list, chosen as from the program.
void DropDownBoxSetNext(monitor::DropDownBox* box) {
    box->setItemIndex((box->currentIndex() + 1) % box->count());
}

void pressDown(QWidget* box, int times) {
    box->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(box->hasFocus());
    for (int i = 0; i < times; ++i) QTest::keyClick(box, Qt::Key_Down);
}
} // namespace

class TestMonitorPolling : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QString oldDir;
    std::unique_ptr<vqtsim::Simulator> sim;
    modbus::Link meters; // outlives the window
    std::unique_ptr<TForm1> form;
    QStringList errors;
    QStringList questions;
    bool answer = true;

    // A shown window with a 10 ms tick (200 ms time-out) and a 50 ms scan period.
    bool open() {
        form = std::make_unique<TForm1>(meters);
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get())) return false;
        form->MaskEdit1->setText(QStringLiteral("200"));
        form->MaskEdit1Exit();
        form->Period->setText(QStringLiteral("50"));
        return form->Timer1->interval() == 10;
    }
    void connect() {
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        QVERIFY(form->poll().Connected());
        QTRY_VERIFY(form->Link.GoodReplies >= 1);
    }
    int64_t goodAfter(int more) { return form->Link.GoodReplies + more; }
    // Silences the meter and returns, through good, the good reads so far once
    // a read has failed: no more can come until the silence ends.
    void silence(int64_t& good) {
        const int64_t bad = form->Link.BadReplies;
        sim->SetFault(vqtsim::Fault::Silence);
        QTRY_VERIFY_WITH_TIMEOUT(form->Link.BadReplies > bad, 5000);
        good = form->Link.GoodReplies;
    }
    // The points of each line of the chart, drawn now.
    QList<qsizetype> chartLines() {
        form->Chart1->refresh();
        QList<qsizetype> sizes;
        for (const QPolygonF& line : form->Chart1->lines()) sizes << line.size();
        return sizes;
    }

private slots:
    void init() {
        oldDir = QDir::currentPath();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        vqtsim::Options o;
        o.linkDir = dir->path().toStdString();
        o.wireTiming = false;
        sim = std::make_unique<vqtsim::Simulator>(o);
        QVERIFY2(sim->Start(), sim->Error().c_str());
        sim->SetLive(false);
        errors.clear();
        monitor::SetErrorFunction([this](const QString& text) { errors << text; });
        // The window's questions are answered as answer says.
        questions.clear();
        answer = true;
        SetQuestionFunction([this](TOKBottomDlg*, const QString& q) {
            questions << q;
            return answer;
        });
        QVERIFY(open());
    }
    void cleanup() {
        form.reset();
        // Whatever the test did, no worker outlives the window.
        QVERIFY(meters.WaitForWorkers());
        sim.reset();
        monitor::SetErrorFunction({});
        SetQuestionFunction({});
        QDir::setCurrent(oldDir);
    }

    void connectShowsTheMetersValues() {
        connect();
        QTRY_COMPARE(form->Edit1->text(), QStringLiteral("V1.02"));
        const struct {
            QString shown;
            const char* expected;
        } values[] = {{form->Edit2->text(), "100"},
                      {form->ComboBox2->text(), "120,000"},
                      {form->ComboBox2->itemText(0), "240,00"},
                      {form->Edit3->text(), "12,500"},
                      {form->ComboBox3->text(), "[m3/h]"},
                      {form->ComboBox10->text(), "10"},
                      {form->ComboBox4->text(), "[m3]"},
                      {form->Edit4->text(), "12345,6"},
                      {form->Edit5->text(), "0,0"},
                      {form->Edit8->text(), "2,5"},
                      {form->ComboBox9->text(), "2,0"},
                      {form->MaskEdit2->text(), "1,0000"},
                      {form->ComboBox8->text(), "15 min"},
                      {form->MaskEdit4->text(), "100,000"},
                      {form->MaskEdit5->text(), "10,000"},
                      {form->ComboBox6->text(), "[m3/h]"}};
        for (const auto& v : values) QCOMPARE(v.shown, QString::fromUtf8(v.expected));
        QCOMPARE(form->ListBox1->count(), 2);
        QCOMPARE(form->ListBox1->item(0)->text(), QStringLiteral("Przepływ w tył"));
        QCOMPARE(form->Button4->text(), QStringLiteral("Zakończ połączenie z przepływomierzem"));
        QCOMPARE(form->ComboBox8->kind(), Kind::DropDown);
        QTRY_VERIFY(form->statusText().startsWith(QStringLiteral("Odczyt danych zakończony sukcesem ")));
        // Many reads later nothing was queued by the program's own updates.
        QTRY_VERIFY(form->Link.GoodReplies >= 4);
        QCOMPARE(slotText(form->poll().Slots), QString());
        QVERIFY(errors.isEmpty());
    }

    void writesOfEachKindReachTheMeter() {
        connect();
        QTRY_COMPARE(form->Edit1->text(), QStringLiteral("V1.02"));
        // Two registers: alarm 1 in m3/h, Enter moves on to alarm 2.
        typeInto(form->MaskEdit4, QStringLiteral("50,5"));
        QTest::keyClick(form->MaskEdit4, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), form->MaskEdit5);
        QTRY_COMPARE(sim->Registers()[8], uint16_t{50500});
        QTRY_COMPARE(form->MaskEdit4->text(), QStringLiteral("50,500"));
        // One register: the time constant, picked in the list.
        pressDown(form->ComboBox9, 1);
        QTRY_COMPARE(sim->Registers()[4], uint16_t{4});
        QTRY_COMPARE(form->ComboBox9->text(), QStringLiteral("2,5"));
        // The flags byte: the totaliser unit, with flow unit and pulse weight as read.
        pressDown(form->ComboBox4, 1);
        QTRY_COMPARE(sim->Registers()[1], uint16_t{0x0D});
        QTRY_COMPARE(form->ComboBox5->text(), QStringLiteral("[l]"));
        // A totaliser reset.
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QTRY_COMPARE(form->Edit4->text(), QStringLiteral("0,0"));
        // Four: leaving alarm 2 for the list without typing in it wrote nothing.
        QCOMPARE(sim->WritesApplied(), uint64_t{4});
        QCOMPARE(sim->Registers()[10], uint16_t{10000});
        QVERIFY(errors.isEmpty());
    }

    // A totaliser is cleared only after a "TAK" that names it: "NIE" (here to
    // a Space while tabbing) writes nothing, "TAK" writes once.
    void totaliserResetIsAskedFirst() {
        connect();
        QTRY_COMPARE(form->Edit4->text(), QStringLiteral("12345,6"));
        answer = false;
        form->Button1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(form->Button1, Qt::Key_Space);
        QCOMPARE(questions, QStringList{"Wyzerować licznik przepływu w przód L+ ?"});
        QCOMPARE(slotText(form->poll().Slots), QString());
        const int64_t later = goodAfter(3);
        QTRY_VERIFY(form->Link.GoodReplies >= later);
        QCOMPARE(sim->WritesApplied(), uint64_t{0});
        answer = true;
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QCOMPARE(questions.size(), 2);
        QTRY_COMPARE(form->Edit4->text(), QStringLiteral("0,0"));
        const int64_t after = goodAfter(3);
        QTRY_VERIFY(form->Link.GoodReplies >= after);
        QCOMPARE(sim->WritesApplied(), uint64_t{1});
        QCOMPARE(sim->Registers()[17], uint16_t{0});
        QCOMPARE(sim->Registers()[18], uint16_t{0});
        QVERIFY(errors.isEmpty());
    }

    // A port that leads nowhere, and then one whose adapter vanished while
    // polling: the time-outs are counted as ever, and the status bar says
    // what a look at the port finds; the values shown are not current; the
    // search refuses at once.
    void portThatIsNotThereIsNamed() {
        if (QSysInfo::productType() == QLatin1String("windows"))
            QSKIP("the adapter is pulled out here by a link in the working directory, which names no port on "
                  "Windows (tests/win32: Windows' texts of an absent port)");
        QStringList infos;
        monitor::SetInformationFunction([&](const QString& t) { infos << t; });
        const QString link = dir->filePath(QStringLiteral("COM1"));
        const auto pullThePlug = [&] {
            sim.reset();
            QVERIFY(QFile::link(dir->filePath(QStringLiteral("gone")), link));
        };
        const QString nowhere = QStringLiteral("COM1 → ./COM1: brak takiego urządzenia.");
        pullThePlug();
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        QTRY_VERIFY(form->Link.BadReplies >= 2);
        QCOMPARE(form->StatusDetails->text(), nowhere);
        QVERIFY(form->statusText().startsWith(QStringLiteral("Timeout odpowiedzi z przepływomierza ")));
        QVERIFY(form->Edit1->toolTip().startsWith(QStringLiteral("Brak odczytu")));
        QTest::mouseClick(form->Button4, Qt::LeftButton);

        // The adapter back: the meter answers and the page says which it is.
        QVERIFY(QFile::remove(link));
        vqtsim::Options o;
        o.linkDir = dir->path().toStdString();
        o.wireTiming = false;
        sim = std::make_unique<vqtsim::Simulator>(o);
        QVERIFY2(sim->Start(), sim->Error().c_str());
        connect();
        QTRY_COMPARE(form->StatusDetails->text(),
                     QStringLiteral("COM1, 9600 bit/s, parzystość Brak, adres 1"));
        QCOMPARE(form->Edit3->toolTip(), QString());
        const QColor live = form->Edit3->palette().color(QPalette::Text);
        // Unplugged while polling.
        pullThePlug();
        QTRY_COMPARE(form->StatusDetails->text(), nowhere);
        QVERIFY(form->Edit3->toolTip().startsWith(QStringLiteral("Wartość nieaktualna, z odczytu o ")));
        QVERIFY(form->Edit3->palette().color(QPalette::Text) != live);
        const int64_t bad = form->Link.BadReplies;
        QTRY_VERIFY(form->Link.BadReplies >= bad + 2); // counted as ever
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        QCOMPARE(form->StatusDetails->text(), QStringLiteral("Nie połączono: wartości z odczytu o %1.")
                                                  .arg(QString::fromStdString(form->Notes.LastGoodRead)));

        // Refused before any probe: the refusal alone, no search's result.
        QTest::mouseClick(form->Button8, Qt::LeftButton);
        QCOMPARE(errors, QStringList{"Nie można szukać przepływomierza: " + nowhere});
        errors.clear();
        QCOMPARE(infos, QStringList());
        monitor::SetInformationFunction({});
    }

    // A write dropped for another address gives its field back to the
    // meter's value, keeps the focus off it and leaves the result line room
    // for both its counters at the window's smallest size.
    void droppedWriteKeepsTheCountersAndGivesTheFieldBack() {
        connect();
        QTRY_COMPARE(form->Edit8->text(), QStringLiteral("2,5"));
        QTest::mouseClick(form->Button4, Qt::LeftButton); // off-line: the write waits
        QTabBar* tabs = form->PageControl1->tabBar();
        typeInto(form->Edit8, QStringLiteral("12,3"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QCOMPARE(slotText(form->poll().Slots), QStringLiteral("B 4 0 123"));
        typeInto(form->MaskEdit6, QStringLiteral("2"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(slotText(form->poll().Slots), QString());
        QVERIFY(form->PendingWrites->isVisible());
        QVERIFY(form->PendingWrites->text().startsWith(QStringLiteral("Nie zapisano (próg odcięcia)")));
        // Address 1's value went with all of its others: address 2 is another meter.
        QCOMPARE(form->Edit8->text(), QStringLiteral("0,0"));
        QVERIFY(QApplication::focusWidget() != form->Edit8);
        QVERIFY(!form->poll().Editing.CutoffEditing);

        // Nobody answers at address 2: time-outs, with the message still shown.
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        QTRY_VERIFY(form->Link.BadReplies >= 2);
        QVERIFY(form->PendingWrites->isVisible());
        QCOMPARE(form->size(), QSize(698, 530));
        auto* result = form->findChild<monitor::ResultLabel*>(QStringLiteral("StatusBar1Text"));
        QVERIFY(result && result->text().contains(QStringLiteral("Błędy : ")));
        QCOMPARE(result->shownText(), result->text()); // as it is, when it fits
        // The longest result there is, with counters of months of polling:
        // narrowed, it still shows both counters whole.
        result->setText(QString::fromStdString(
            core::ResultLine("Błędna liczba bajtów danych w odpowiedzi (255 zamiast 54)", 9999999, 9999999)));
        const QString shown = result->shownText();
        QVERIFY2(result->fontMetrics().horizontalAdvance(shown) <= result->contentsRect().width(),
                 qPrintable(shown));
        QVERIFY2(shown.contains(QStringLiteral("Poprawne odpowiedzi : 9999999")) &&
                     shown.endsWith(QStringLiteral("Błędy : 9999999")),
                 qPrintable(shown));
        QTest::mouseClick(form->Button4, Qt::LeftButton);
    }

    // Values of one meter never stand beside another's port or address: the
    // page goes back to the window's first texts, connected or not; another
    // speed is the same meter, whose values stay. At an address that never
    // answers, the line under the result says what to check.
    void anotherMetersValuesLeaveThePage_data() {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("kept");
        QTest::newRow("address, connected") << true << "address" << false;
        QTest::newRow("address, off-line") << false << "address" << false;
        QTest::newRow("port, off-line") << false << "port" << false;
        QTest::newRow("speed, connected: the same meter") << true << "speed" << true;
    }
    void anotherMetersValuesLeaveThePage() {
        QFETCH(bool, connected);
        QFETCH(QString, change);
        QFETCH(bool, kept);
        connect();
        QTRY_COMPARE(form->Edit1->text(), QStringLiteral("V1.02"));
        QTRY_COMPARE(form->ListBox1->count(), 2);
        if (!connected) QTest::mouseClick(form->Button4, Qt::LeftButton);
        // On the communication page, then back to the device page.
        form->PageControl1->setCurrentWidget(form->TabSheet2);
        if (change == QLatin1String("address")) {
            typeInto(form->MaskEdit6, QStringLiteral("2"));
        } else {
            form->MaskEdit6->setFocus(Qt::MouseFocusReason);
            QTRY_VERIFY(form->MaskEdit6->hasFocus());
            DropDownBoxSetNext(change == QLatin1String("port") ? form->PortNr : form->Speed);
        }
        QTabBar* tabs = form->PageControl1->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        if (kept) {
            const int64_t good = goodAfter(2);
            QTRY_VERIFY(form->Link.GoodReplies >= good);
            QCOMPARE(form->Edit1->text(), QStringLiteral("V1.02"));
            QVERIFY(form->poll().HasRead);
            QTest::mouseClick(form->Button4, Qt::LeftButton);
            return;
        }
        const QString initial[][2] = {{form->Edit1->text(), "123456"},
                                      {form->Edit2->text(), "3"},
                                      {form->Edit3->text(), "0,0"},
                                      {form->Edit4->text(), "0,0"},
                                      {form->Edit8->text(), "0,0"},
                                      {form->MaskEdit2->text(), "0,0"},
                                      {form->MaskEdit4->text(), "0,0"},
                                      {form->ComboBox2->text(), "0,240"},
                                      {form->ComboBox2->itemText(11), "0,012 "},
                                      {form->ComboBox8->text(), "bez zapisu"},
                                      {form->ComboBox3->text(), "[l/h]"}};
        for (const auto& [shown, expected] : initial) QCOMPARE(shown, expected);
        QCOMPARE(form->ListBox1->count(), 0);
        QVERIFY(form->Edit1->toolTip().startsWith(QStringLiteral("Brak odczytu")));
        QVERIFY(!form->poll().HasRead && form->Notes.LastGoodRead.empty());
        if (!connected) return;
        // Nobody at address 2: after the time-outs, what to check.
        QTRY_VERIFY(form->Link.BadReplies >= 1);
        QTRY_VERIFY2(
            form->StatusDetails->text().startsWith(QStringLiteral(
                "COM1, 9600 bit/s, parzystość Brak, adres 2 · brak odpowiedzi: sprawdź prędkość, parzystość "
                "i adres oraz czy COM1 to port adaptera przepływomierza; „Szukaj przepływomierza”")),
            qPrintable(form->StatusDetails->text()));
        // Back at address 1: its values, and the hint gone.
        form->PageControl1->setCurrentWidget(form->TabSheet2);
        typeInto(form->MaskEdit6, QStringLiteral("1"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QTRY_COMPARE(form->Edit1->text(), QStringLiteral("V1.02"));
        QTRY_COMPARE(form->StatusDetails->text(),
                     QStringLiteral("COM1, 9600 bit/s, parzystość Brak, adres 1"));
        QTest::mouseClick(form->Button4, Qt::LeftButton);
    }

    // The link COM1 gone from the working directory: the name then leads to
    // the system's port, and the line under the result says so until the
    // link is back.
    void vanishedLinkIsSaid() {
        if (QSysInfo::productType() == QLatin1String("windows"))
            QSKIP("COM names lead to links in the working directory only on POSIX systems");
        connect();
        const QString gone =
            QStringLiteral("łącze ./COM1 zniknęło z katalogu roboczego: COM1 to teraz /dev/ttyS0");
        sim.reset(); // removes its link
        QTRY_VERIFY2(form->StatusDetails->text().contains(gone), qPrintable(form->StatusDetails->text()));
        vqtsim::Options o;
        o.linkDir = dir->path().toStdString();
        o.wireTiming = false;
        sim = std::make_unique<vqtsim::Simulator>(o);
        QVERIFY2(sim->Start(), sim->Error().c_str());
        QTRY_COMPARE(form->StatusDetails->text(),
                     QStringLiteral("COM1, 9600 bit/s, parzystość Brak, adres 1"));
        QTest::mouseClick(form->Button4, Qt::LeftButton);
    }

    void silentMeterTimesOutAndTheCycleRecovers() {
        form->Button3->click(); // trace on
        connect();
        sim->SetFault(vqtsim::Fault::Silence);
        QTRY_VERIFY_WITH_TIMEOUT(form->Link.BadReplies >= 2, 5000);
        QVERIFY(form->statusText().startsWith(QStringLiteral("Timeout odpowiedzi z przepływomierza ")));
        const int64_t good = form->Link.GoodReplies;
        sim->SetFault(vqtsim::Fault::None);
        QTRY_VERIFY_WITH_TIMEOUT(form->Link.GoodReplies >= good + 2, 5000);
        QTRY_VERIFY(form->statusText().startsWith(QStringLiteral("Odczyt danych zakończony sukcesem ")));
        QTest::mouseClick(form->Button4, Qt::LeftButton);

        // Every transaction left a request line and then its reply line; a
        // time-out's reply line is empty.
        const QStringList lines = form->RichEdit1->toPlainText().split(QLatin1Char('\n'));
        QVERIFY(lines.size() >= 8 && lines.size() % 2 == 0);
        int timeouts = 0;
        for (int i = 0; i < lines.size(); i += 2) {
            QCOMPARE(lines[i], QStringLiteral("TX : [01][03][00][00][00][1B][05][C1]"));
            if (lines[i + 1] == QStringLiteral("RX : "))
                ++timeouts;
            else
                QVERIFY2(lines[i + 1].startsWith(QStringLiteral("RX : [01][03][36]")) &&
                             lines[i + 1].size() == 5 + 59 * 4,
                         qPrintable(lines[i + 1]));
        }
        QVERIFY(timeouts >= 2);
    }

    void chartDrawsEveryGoodReadInTheMetersUnit() {
        form->PageControl1->setCurrentWidget(form->TabSheet4);
        connect();
        QTRY_VERIFY(form->Link.GoodReplies >= 3);
        int64_t first = 0;
        silence(first);
        QCOMPARE(chartLines(), QList<qsizetype>{first});
        sim->SetFault(vqtsim::Fault::None);
        QTRY_VERIFY_WITH_TIMEOUT(form->Link.GoodReplies >= first + 2, 5000);
        int64_t all = 0;
        silence(all);
        QCOMPARE(chartLines(), (QList<qsizetype>{first, all - first}));
        QCOMPARE(form->Chart1->valueAxis().Title, QStringLiteral("Przepływ chwilowy [m3/h]"));
        // The user picks [l/h]; once the meter reports it, the whole curve is in l/h.
        sim->SetFault(vqtsim::Fault::None);
        form->PageControl1->setCurrentWidget(form->TabSheet3);
        form->ComboBox3->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(form->ComboBox3->hasFocus());
        QTest::keyClick(form->ComboBox3, Qt::Key_Up);
        QTRY_COMPARE(sim->Registers()[1] & 0x03, 0);
        const int64_t good = goodAfter(2); // the write may be one of them
        QTRY_VERIFY(form->Link.GoodReplies >= good);
        form->PageControl1->setCurrentWidget(form->TabSheet4); // drawn as it is shown
        QCOMPARE(form->Chart1->valueAxis().Title, QStringLiteral("Przepływ chwilowy [l/h]"));
        QList<QPointF> points;
        for (const QPolygonF& line : form->Chart1->lines()) points += line;
        QVERIFY(points.size() > all);
        for (const QPointF& p : points) QCOMPARE(p.y(), 12500.0);
        // Reconnecting starts a line of its own.
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        connect();
        QTRY_COMPARE(chartLines().size(), 4);
        QVERIFY(errors.isEmpty());
    }

    void portTooltipsSayWhereEachPortLeads() {
        const auto tips = [this](bool openList) {
            if (openList) {
                form->PortNr->showPopup();
                form->PortNr->hidePopup();
            }
            return form->PortNr->itemData(0, Qt::ToolTipRole).toString() + QLatin1Char('|') +
                   form->PortNr->itemData(1, Qt::ToolTipRole).toString();
        };
        if (QSysInfo::productType() == QLatin1String("windows")) {
            // Wine's COM1 leads to the simulator, named as Windows names ports.
            QVERIFY2(tips(false).startsWith(QStringLiteral("COM1 → \\\\.\\COM1: dostępny.|COM2 → ")),
                     qPrintable(tips(false)));
            QSKIP("the rest of the ports lead to Linux's links and devices (tests/win32: Windows' texts)");
        }
        const QString com1 = QStringLiteral("COM1 → ./COM1 → ") + QString::fromStdString(sim->DevicePath());
        const QString com2 = QStringLiteral("COM2 → /dev/ttyS1");
        QVERIFY(tips(false).startsWith(com1 + ": dostępny.|" + com2)); // since the window was shown
        // Opening the list looks again: COM1 held by another program, COM2 a link to nothing.
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyVQT"), QStringLiteral("COM2")));
        form->PageControl1->setCurrentWidget(form->TabSheet2);
        const QString absent = QStringLiteral("COM2 → ./COM2: brak takiego urządzenia.");
        {
            modbus::SerialPort other;
            QVERIFY(other.Open("COM1"));
            QCOMPARE(tips(true), com1 + ": zajęty przez inny program.|" + absent);
        }
        // While this program works on the port, it is not probed.
        connect();
        QCOMPARE(tips(true), "COM1 → ./COM1: używany przez ten program.|" + absent);
        QVERIFY(errors.isEmpty());
    }

    void traceIsSavedFromItsContextMenu() {
        form->PageControl1->setCurrentWidget(form->TabSheet1);
        for (const char* line : {"TX : [01][03]", "RX : ", "zażółć gęślą jaźń"})
            form->appendDiagnostics(QString::fromUtf8(line));
        // The log's menu: the standard entries, and saving last.
        QStringList entries;
        QTimer menuOpen;
        QObject::connect(&menuOpen, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                menuOpen.stop();
                for (const QAction* action : menu->actions())
                    if (!action->isSeparator()) entries << action->text();
                menu->close();
            }
        });
        menuOpen.start(10);
        QWidget* viewport = form->RichEdit1->viewport();
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(20, 20),
                                viewport->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(viewport, &click); // returns once the menu is closed
        QVERIFY2(entries.size() >= 3 && entries.last() == QStringLiteral("Zapisz do pliku…"),
                 qPrintable(entries.join(QLatin1Char('|'))));

        const struct {
            const char* answer; // of the file dialog
            QByteArray content; // of that file afterwards
        } rows[] = {{"zapis.txt", "TX : [01][03]\nRX : \nzażółć gęślą jaźń\n"},
                    {"brak/zapis.txt", "<missing>"}};
        for (const auto& row : rows) {
            const QString path = dir->filePath(QLatin1String(row.answer));
            QString title;
            monitor::SetFileDialogFunction([&](QFileDialog* dialog) {
                title = dialog->windowTitle();
                return path;
            });
            errors.clear();
            form->SaveTrace1->trigger();
            monitor::SetFileDialogFunction({});
            QCOMPARE(title, QStringLiteral("Zapisz zapis diagnostyki"));
            QFile file(path);
            QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>"), row.content);
            if (row.content == "<missing>")
                QVERIFY2(errors.size() == 1 &&
                             errors[0].startsWith(QStringLiteral("Zapis pliku %1 nie powiódł się (")
                                                      .arg(QDir::toNativeSeparators(path))),
                         qPrintable(errors.join(QLatin1Char('|'))));
            else
                QVERIFY(errors.isEmpty());
        }
    }

    // The tick timer runs exactly while a transaction is watched or a
    // restart is due, the pause timer exactly during the pause and never for
    // longer than the scan period: through good reads, time-outs and a
    // disconnect, at every turn of the event loop.
    void timersFollowTheCycle() {
        using State = core::PollCycle::State;
        QStringList wrong;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            const State s = form->poll().state();
            const bool watching = s == State::Running || s == State::AfterTimeout;
            if (form->Timer1->isActive() != watching || form->Timer2->isActive() != (s == State::Pause) ||
                (s == State::Pause && form->Timer2->interval() > 50))
                wrong << QStringLiteral("state %1, Timer1 %2, Timer2 %3 (%4 ms)")
                             .arg(int(s))
                             .arg(form->Timer1->isActive())
                             .arg(form->Timer2->isActive())
                             .arg(form->Timer2->interval());
        });
        look.start(1);
        connect();
        int64_t good = goodAfter(3);
        QTRY_VERIFY(form->Link.GoodReplies >= good);
        silence(good);
        QTRY_VERIFY(form->Link.BadReplies >= 2);
        sim->SetFault(vqtsim::Fault::None);
        QTRY_VERIFY_WITH_TIMEOUT(form->Link.GoodReplies >= good + 2, 5000);
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        QTest::qWait(20);
        QCOMPARE(wrong, QStringList());
    }

    void disconnectRestoresTheListsAndCloseLeavesNoWorker() {
        connect();
        QTRY_COMPARE(form->ComboBox9->text(), QStringLiteral("2,0"));
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        QCOMPARE(form->statusText(),
                 QStringLiteral("Przepływomierz nie podłączony - praca w trybie off-line"));
        QCOMPARE(form->Link.GoodReplies, 0);
        QVERIFY(!form->Timer1->isActive() && !form->Timer2->isActive());
        const struct {
            monitor::DropDownBox* box;
            int index;
        } restored[] = {{form->ComboBox9, 3}, {form->ComboBox8, 4}, {form->ComboBox10, 1},
                        {form->ComboBox4, 0}, {form->ComboBox5, 0}, {form->ComboBox3, 1}};
        for (const auto& r : restored) {
            QCOMPARE(r.box->kind(), Kind::PickOnly);
            QCOMPARE(r.box->currentIndex(), r.index);
        }
        connect();
        QVERIFY(form->close()); // closing while connected gives the worker up
        QVERIFY(meters.WaitForWorkers());
    }

    void editingQueuesEachControlsWrite() {
        sim.reset(); // off-line: what the user does is only queued
        const struct {
            const char* name;
            std::function<void()> act;
            const char* queued;
        } rows[] = {
            {"range", [&] { pressDown(form->ComboBox2, 1); }, "A 6 1"},
            {"reset L+", [&] { QTest::mouseClick(form->Button1, Qt::LeftButton); }, "A 18 0"},
            {"reset L-", [&] { QTest::mouseClick(form->Button2, Qt::LeftButton); }, "A 20 0"},
            {"alarm 1 in l/h, Enter, half to even",
             [&] {
                 typeInto(form->MaskEdit4, QStringLiteral("2,5"));
                 QTest::keyClick(form->MaskEdit4, Qt::Key_Return);
             },
             "A 8 2"},
            {"alarm 2, leaving the field",
             [&] {
                 typeInto(form->MaskEdit5, QStringLiteral("7"));
                 form->Edit8->setFocus(Qt::TabFocusReason);
             },
             "A 10 7"},
            {"cut-off, Enter",
             [&] {
                 typeInto(form->Edit8, QStringLiteral("12,3"));
                 QTest::keyClick(form->Edit8, Qt::Key_Enter);
             },
             "B 4 0 123"},
            {"time constant", [&] { pressDown(form->ComboBox9, 1); }, "B 5 0 1"},
            {"archive period", [&] { pressDown(form->ComboBox8, 2); }, "B 22 0 2"},
            {"flow unit", [&] { pressDown(form->ComboBox3, 1); }, "B 2 0 1"},
            {"alarm 1 unit", [&] { pressDown(form->ComboBox6, 1); }, "B 2 0 1"},
            {"alarm 2 unit", [&] { pressDown(form->ComboBox7, 2); }, "B 2 0 2"},
            {"L+ unit", [&] { pressDown(form->ComboBox4, 1); }, "B 2 0 4"},
            {"L- unit", [&] { pressDown(form->ComboBox5, 1); }, "B 2 0 4"},
            {"pulse weight", [&] { pressDown(form->ComboBox10, 3); }, "B 2 0 24"},
            {"typed text that is no item", [&] { typeInto(form->ComboBox6, QStringLiteral("x")); }, ""},
        };
        for (const auto& row : rows) {
            form->poll().Slots = {};
            form->Button4->setFocus(Qt::MouseFocusReason); // off the fields: leaving them queues too
            QTRY_VERIFY(form->Button4->hasFocus());
            form->poll().Slots = {};
            row.act();
            QVERIFY2(slotText(form->poll().Slots) == QLatin1String(row.queued),
                     qPrintable(QStringLiteral("%1: %2").arg(row.name, slotText(form->poll().Slots))));
        }
        QCOMPARE(form->ComboBox6->text(), QStringLiteral("[m3/h]")); // the typed text went again
        QVERIFY(errors.isEmpty());
    }

    void enterRingAndRefusedValues() {
        sim.reset();
        auto& editing = form->poll().Editing;
        typeInto(form->Edit8, QStringLiteral("1"));
        QVERIFY(editing.CutoffEditing);
        for (QLineEdit* next : {form->MaskEdit4, form->MaskEdit5, form->Edit8}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        QVERIFY(editing.CutoffEditing && !editing.Alarm1Editing && !editing.Alarm2Editing);

        // A cut-off the meter's byte cannot hold, and a text that is no number:
        // refused, nothing queued, the focus and the editing flag stay.
        const struct {
            QLineEdit* field;
            const char* text;
            const char* error;
        } refused[] = {{form->Edit8, "30", "Próg odcięcia musi leżeć w zakresie od 0,0 do 25,5 %."},
                       {form->MaskEdit4, "abc", "'abc' nie jest poprawną liczbą."}};
        for (const auto& r : refused) {
            typeInto(r.field, QString::fromUtf8(r.text));
            errors.clear(); // leaving the field before was refused the same way
            form->poll().Slots = {};
            QTest::keyClick(r.field, Qt::Key_Return);
            QCOMPARE(errors, QStringList{QString::fromUtf8(r.error)});
            QCOMPARE(QApplication::focusWidget(), r.field);
            QCOMPARE(slotText(form->poll().Slots), QString());
        }
        QVERIFY(editing.CutoffEditing && editing.Alarm1Editing);
    }

    // The meter at settings the page does not say: the scan finds it, and
    // what it found goes into the page and the settings file on "TAK".
    void scanFindsTheMeterAndFillsThePage() {
        QStringList infos;
        monitor::SetInformationFunction([&](const QString& t) { infos << t; });
        connect();
        QTest::mouseClick(form->Button8, Qt::LeftButton); // not while connected
        QCOMPARE(infos.size(), 1);
        QTest::mouseClick(form->Button4, Qt::LeftButton);

        sim.reset(); // its link first, then the new one
        sim = StartHiddenMeter(dir->path());
        form->Speed->setItemIndex(4); // 19200, no parity, address 17: only the parity is wrong
        form->MaskEdit6->setText(QStringLiteral("17"));
        QTest::mouseClick(form->Button8, Qt::LeftButton);
        QCOMPARE(questions,
                 QStringList{"Znaleziono przepływomierz: adres 17, 19200 bit/s, parzystość Nieparzyste "
                             "(V1.02, DN 100). Wpisać te ustawienia ?"});
        QCOMPARE(form->Parity->text(), QStringLiteral("Nieparzyste"));
        QCOMPARE(form->Speed->text(), QStringLiteral("19200"));
        QCOMPARE(form->MaskEdit6->text(), QStringLiteral("17"));
        QCOMPARE(ReadAll(dir->filePath("VQT540.cfg")),
                 QByteArray("0\r\n4\r\n2\r\n0\r\n0\r\n17\r\n50\r\n200\r\n"));
        // Connected with them, the meter answers.
        QTest::mouseClick(form->Button4, Qt::LeftButton);
        QTRY_COMPARE(form->Edit1->text(), QStringLiteral("V1.02"));
        monitor::SetInformationFunction({});
    }
};

int main(int argc, char** argv) {
    Application app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorPolling test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_polling.moc"
