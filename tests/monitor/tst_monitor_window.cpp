// The main window: start-up state, the trace log, and closing with a
// transaction in flight.
#include "ArchiveWindows.h"
#include "WhenModal.h"
#include "WindowFixture.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "monitor/FlowChart.h"
#include "monitor/FocusRing.h"
#include "monitor/Messages.h"
#include "monitor/Unit1.h"

#include "modbus/Worker.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <chrono>
#include <memory>

class TestMonitorWindow : public QObject, WindowFixture {
    Q_OBJECT
private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void startUpState();
    void itemListsAndKinds();
    void startUpSelectionsQueueNothing();

    void traceStartStopClear();
    void traceIsBoundedAndFollowsTheNewestLine();

    void closingReleasesAWorkerInFlight();
    void destroyingReleasesAWorkerInFlight();

    void tabPassesWhatOnlyTheMeterSets_data();
    void tabPassesWhatOnlyTheMeterSets();
    void escapeTakesTypingBack();
    void escapeClosesTheExportWindow();
};

void TestMonitorWindow::startUpState() {
    auto form = openWindow();
    QVERIFY(form);
    QCOMPARE(form->windowTitle(), QStringLiteral("VQT540 - Monitor"));
    QCOMPARE(form->PageControl1->count(), 4);
    QCOMPARE(form->PageControl1->widget(0), form->TabSheet2);
    QCOMPARE(form->PageControl1->widget(1), form->TabSheet3);
    QCOMPARE(form->PageControl1->widget(2), form->TabSheet1);
    QCOMPARE(form->PageControl1->widget(3), form->TabSheet4);
    QCOMPARE(form->PageControl1->tabText(0), QStringLiteral("Parametry komunikacji"));
    QCOMPARE(form->PageControl1->tabText(1), QStringLiteral("Parametry VQT540"));
    QCOMPARE(form->PageControl1->tabText(2), QStringLiteral("Diagnostyka"));
    QCOMPARE(form->PageControl1->tabText(3), QStringLiteral("Wykres"));
    QCOMPARE(form->PageControl1->currentWidget(), form->TabSheet3);
    QCOMPARE(form->statusText(), QStringLiteral("Przepływomierz nie podłączony - praca w trybie offline"));

    const struct {
        QTimer* timer;
        const char* name;
        int interval;
    } timers[] = {{form->Timer1, "Timer1", 50},
                  {form->Timer2, "Timer2", 10},
                  {form->Timer3, "Timer3", 1},
                  {form->Timer4, "Timer4", 100}};
    for (const auto& t : timers) {
        QCOMPARE(form->findChild<QTimer*>(QLatin1String(t.name)), t.timer);
        QVERIFY(!t.timer->isActive());
        QCOMPARE(t.timer->interval(), t.interval);
    }

    QCOMPARE(form->minimumSize(), QSize(698, 530));
    QCOMPARE(form->size(), QSize(698, 530));
    form->resize(500, 300);
    QVERIFY(form->width() >= 698 && form->height() >= 530);
    // Every control fits: the layout needs no more than the minimum.
    QVERIFY(form->centralWidget()->minimumSizeHint().width() <= 698);

    QVERIFY(!form->poll().Connected());
    QVERIFY(!form->DiagnosticsOn);
    QVERIFY(!form->Link.ActiveRead);
    QVERIFY(Errors.isEmpty());

    QCOMPARE(form->Button4->text(), QStringLiteral("Połącz z przepływomierzem"));
    QCOMPARE(form->Button5->text(), QStringLiteral("Zapisz dane z archiwum do pliku"));
    QCOMPARE(form->Button1->text(), QStringLiteral("Zeruj licznik"));
    QVERIFY(form->Button1->font().bold());
    QCOMPARE(form->Button1->palette().color(QPalette::ButtonText), QColor(Qt::yellow));
    QCOMPARE(form->Button2->text(), QStringLiteral("Zeruj licznik"));
    QCOMPARE(form->Button3->text(), QStringLiteral("Start diagnostyki"));
    QCOMPARE(form->Button7->text(), QStringLiteral("Wyczysc ekran"));
    QCOMPARE(form->Button6->text(), QStringLiteral("Stop diagnostyki"));
    QCOMPARE(form->GroupBox3->title(), QStringLiteral("Lista aktualnych stanów alarmowych"));
    QVERIFY(form->GroupBox3->font().bold() && form->GroupBox3->font().italic());
    QCOMPARE(form->GroupBox3->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(form->ListBox1->count(), 0);
    QCOMPARE(form->Panel4->text(), QStringLiteral("Program do obsługi przepływomierzy VQT540"));
    QCOMPARE(form->Panel4->palette().color(QPalette::Window), QColor(0x80, 0, 0));
    QCOMPARE(form->GroupBox4->title(), QStringLiteral("Parametry komunikacji"));
    QCOMPARE(form->Panel2->text(), QStringLiteral("Parametry portu COM"));
    QCOMPARE(form->Panel3->text(), QStringLiteral("Parametry protokołu Modbus"));
    QCOMPARE(form->Label1->text(), QStringLiteral("Kontola parzystości"));
    QCOMPARE(form->StaticText5->text(), QStringLiteral("Timeout odpowiedzi przetwornika [ms]"));
    QVERIFY(form->StaticText5->font().bold());
    QCOMPARE(form->StaticText5->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QVERIFY(form->Image1->pixmap().width() > 0);
    QVERIFY(!form->windowIcon().isNull());

    // The trace log: read-only, white on navy, emptied by the start-up.
    QVERIFY(form->RichEdit1->isReadOnly());
    QCOMPARE(form->RichEdit1->palette().color(QPalette::Base), QColor(0, 0, 0x80));
    QCOMPARE(form->RichEdit1->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(form->RichEdit1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(form->RichEdit1->toPlainText(), QString());
}

void TestMonitorWindow::itemListsAndKinds() {
    TForm1 form(meters); // not shown: the texts as the window is built
    using Kind = monitor::DropDownBox::Kind;
    const auto items = [](const monitor::DropDownBox* box) {
        QStringList result;
        for (int i = 0; i < box->count(); ++i) result << box->itemText(i);
        return result;
    };
    QStringList ports;
    for (int i = 1; i <= 12; ++i) ports << QStringLiteral("COM%1").arg(i);
    QCOMPARE(items(form.PortNr), ports);
    QCOMPARE(items(form.Speed),
             QStringList({"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    QCOMPARE(items(form.Parity), QStringList({"Brak", "Parzyste", "Nieparzyste"}));
    QCOMPARE(items(form.StopBits), QStringList({"1", "2"}));
    QCOMPARE(items(form.ComboBox1), QStringList({"MODBUS RTU"}));
    for (auto* box : {form.PortNr, form.Speed, form.Parity, form.StopBits, form.ComboBox1, form.ComboBox8}) {
        QCOMPARE(box->kind(), Kind::PickOnly);
        QCOMPARE(box->currentIndex(), -1);
    }
    QCOMPARE(form.MaskEdit6->text(), QStringLiteral("  1"));
    QCOMPARE(form.Period->text(), QStringLiteral("1000"));
    QCOMPARE(form.MaskEdit1->text(), QStringLiteral("1000"));
    QCOMPARE(form.RichEdit1->toPlainText(), QStringLiteral("RichEdit1"));

    QCOMPARE(items(form.ComboBox2), QStringList({"0,240", "0,200", "0,150", "0,120", "0,100", "0,080",
                                                 "0,060", "0,040", "0,030", "0,020", "0,015", "0,012 "}));
    QCOMPARE(items(form.ComboBox9), QStringList({"0.5", "1.0", "1.5", "2,0", "2,5", "3,0", "3,5", "4,0",
                                                 "4,5", "5,0", "10,0", "15,0", "20,0", "25,0", "30,0"}));
    QCOMPARE(items(form.ComboBox8), QStringList({"bez zapisu", "1 min", "2 min", "5 min", "15 min", "30 min",
                                                 "1 godz", "2 godz", "8 godz", "12 godz", "24 godz"}));
    QCOMPARE(items(form.ComboBox10), QStringList({"1", "10", "100", "X"}));
    QCOMPARE(items(form.ComboBox3), QStringList({"[l/h]", "[m3/h]", "[l/min]"}));
    QCOMPARE(items(form.ComboBox4), QStringList({"[m3]", "[l]"}));
    QCOMPARE(items(form.ComboBox5), QStringList({"[m3]", "[l]"}));
    for (auto* box :
         {form.ComboBox2, form.ComboBox3, form.ComboBox4, form.ComboBox5, form.ComboBox9, form.ComboBox10})
        QCOMPARE(box->kind(), Kind::DropDown);
    QCOMPARE(form.ComboBox3->text(), QStringLiteral("[m3/h]"));
    QCOMPARE(form.ComboBox4->text(), QStringLiteral("[m3]"));
    QCOMPARE(form.ComboBox5->text(), QStringLiteral("[m3]"));

    QCOMPARE(form.ComboBox6->items(), QStringList({"[l/h]", "[m3/h]", "[l/min]"}));
    QCOMPARE(form.ComboBox7->items(), QStringList({"[l/h]", "[m3/h]", "[l/min]"}));
    QCOMPARE(form.ComboBox11->items(), QStringList({"[m3]", "[l]"}));
    QCOMPARE(form.ComboBox6->text(), QStringLiteral("[m3/h]"));
    QCOMPARE(form.ComboBox7->text(), QStringLiteral("[m3/h]"));
    QCOMPARE(form.ComboBox11->text(), QStringLiteral("[m3]"));
    QVERIFY(form.ComboBox6->isEnabled() && form.ComboBox7->isEnabled());
    QVERIFY(!form.ComboBox11->isEnabled());

    const struct {
        QLineEdit* edit;
        const char* text;
        bool readOnly;
    } fields[] = {
        {form.Edit1, "123456", true},   {form.Edit2, "3", true},        {form.Edit3, "0,0", true},
        {form.Edit4, "0,0", true},      {form.Edit5, "0,0", true},      {form.Edit8, "0,0", false},
        {form.MaskEdit2, "0,0", true},  {form.MaskEdit3, "0,0", true},  {form.MaskEdit4, "0,0", false},
        {form.MaskEdit5, "0,0", false}, {form.MaskEdit6, "  1", false}, {form.Period, "1000", false},
        {form.MaskEdit1, "1000", false}};
    for (const auto& f : fields) {
        QCOMPARE(f.edit->text(), QString::fromUtf8(f.text));
        QCOMPARE(f.edit->isReadOnly(), f.readOnly);
    }
    QCOMPARE(form.Edit1->palette().color(QPalette::Base), QColor(0xA6, 0xCA, 0xF0));
    QCOMPARE(form.ComboBox6->palette().color(QPalette::Base), QColor(0, 0xFF, 0xFF));

    // Controls are found by their names, as later code and tests do.
    for (const char* name :
         {"PortNr",     "Speed",     "Parity",    "StopBits",    "ComboBox1", "MaskEdit6", "Period",
          "MaskEdit1",  "ComboBox2", "ComboBox6", "ComboBox11",  "Edit8",     "RichEdit1", "Button4",
          "StatusBar1", "TabSheet2", "Label19",   "StaticText4", "Image1",    "Panel1",    "Bevel1"})
        QVERIFY2(form.findChild<QWidget*>(QLatin1String(name)), name);
    QCOMPARE(form.findChild<QWidget*>(QStringLiteral("TabSheet4")), form.TabSheet4);
    QCOMPARE(form.findChild<QWidget*>(QStringLiteral("Chart1")), form.Chart1);
    QCOMPARE(form.findChild<QAction*>(QStringLiteral("SaveTrace1")), form.SaveTrace1);
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Label19"))->text(),
             QStringLiteral("Waga impulsu licznika :"));
}

void TestMonitorWindow::startUpSelectionsQueueNothing() {
    TForm1 form(meters);
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (auto* box : {form.ComboBox2, form.ComboBox3, form.ComboBox4, form.ComboBox5, form.ComboBox8,
                      form.ComboBox9, form.ComboBox10, form.PortNr, form.Speed})
        spies.push_back(std::make_unique<QSignalSpy>(box, &monitor::DropDownBox::userChanged));
    for (auto* box : {form.ComboBox6, form.ComboBox7})
        spies.push_back(std::make_unique<QSignalSpy>(box, &monitor::SimpleComboBox::userChanged));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The first items are selected, and no change reached a handler.
    QCOMPARE(form.ComboBox2->itemIndex(), 0);
    QCOMPARE(form.ComboBox3->text(), QStringLiteral("[l/h]"));
    QCOMPARE(form.ComboBox4->itemIndex(), 0);
    QCOMPARE(form.ComboBox5->itemIndex(), 0);
    QCOMPARE(form.ComboBox8->text(), QStringLiteral("bez zapisu"));
    QCOMPARE(form.ComboBox9->text(), QStringLiteral("0.5"));
    QCOMPARE(form.ComboBox10->itemIndex(), 0);
    QCOMPARE(form.ComboBox6->text(), QStringLiteral("[l/h]"));
    QCOMPARE(form.ComboBox7->text(), QStringLiteral("[l/h]"));
    QCOMPARE(form.ComboBox11->text(), QStringLiteral("[m3]"));
    for (const auto& spy : spies) QCOMPARE(spy->count(), 0);
}

void TestMonitorWindow::traceStartStopClear() {
    auto form = openWindow();
    QVERIFY(form);
    focusField(*form, form->Button3);
    const QString tx = QStringLiteral("TX : [01][03][00][00][00][1B][05][C1]");
    const QString rx = QStringLiteral("RX : ");

    QTest::mouseClick(form->Button3, Qt::LeftButton);
    QVERIFY(form->DiagnosticsOn);
    QTest::mouseClick(form->Button3, Qt::LeftButton); // twice: no further effect
    QVERIFY(form->DiagnosticsOn);
    form->appendDiagnostics(tx);
    form->appendDiagnostics(std::string("RX : "));
    QCOMPARE(form->RichEdit1->toPlainText(), tx + QLatin1Char('\n') + rx);
    QCOMPARE(form->RichEdit1->blockCount(), 2);

    QTest::mouseClick(form->Button6, Qt::LeftButton);
    QVERIFY(!form->DiagnosticsOn);
    QCOMPARE(form->RichEdit1->toPlainText(), tx + QLatin1Char('\n') + rx); // the lines stay

    QTest::mouseClick(form->Button3, Qt::LeftButton);
    QTest::mouseClick(form->Button7, Qt::LeftButton);
    QCOMPARE(form->RichEdit1->toPlainText(), QString());
    QVERIFY(form->DiagnosticsOn); // clearing keeps tracing on
    form->appendDiagnostics(rx + QStringLiteral("[01]"));
    QCOMPARE(form->RichEdit1->toPlainText(), QStringLiteral("RX : [01]")); // the first line again
    QCOMPARE(form->Button3->text(), QStringLiteral("Start diagnostyki"));  // buttons unchanged
    QVERIFY(form->Button3->isEnabled() && form->Button6->isEnabled() && form->Button7->isEnabled());
}

void TestMonitorWindow::traceIsBoundedAndFollowsTheNewestLine() {
    auto form = openWindow();
    QVERIFY(form);
    form->PageControl1->setCurrentWidget(form->TabSheet1);
    const int limit = TForm1::kDiagnosticsLineLimit;
    const int total = limit + 250;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < total; ++i) form->appendDiagnostics(QStringLiteral("TX : [%1]").arg(i));
    const qint64 elapsed = clock.elapsed();
    qInfo("appended %d lines in %lld ms", total, elapsed);
    QCOMPARE(form->RichEdit1->blockCount(), limit);
    const QTextDocument* document = form->RichEdit1->document();
    QCOMPARE(document->firstBlock().text(), QStringLiteral("TX : [250]")); // the oldest went first
    QCOMPARE(document->lastBlock().text(), QStringLiteral("TX : [%1]").arg(total - 1));

    // Appending at the limit costs no more than appending to a short log.
    QElapsedTimer atLimit;
    atLimit.start();
    for (int i = 0; i < 2000; ++i) form->appendDiagnostics(QStringLiteral("RX : [%1]").arg(i));
    qInfo("2000 lines at the limit in %lld ms", atLimit.elapsed());
    QCOMPARE(form->RichEdit1->blockCount(), limit);

    QScrollBar* bar = form->RichEdit1->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(0); // the user scrolls up; the next line is shown anyway
    form->appendDiagnostics(QStringLiteral("RX : [FF]"));
    QCOMPARE(bar->value(), bar->maximum());
}

void TestMonitorWindow::closingReleasesAWorkerInFlight() {
    auto form = openWindow();
    QVERIFY(form);
    QCOMPARE(meters.LiveWorkers(), 0);
    {
        // No COM12 link here: the worker waits for a reply until signalled.
        auto worker = meters.CreateWorker();
        worker->SetPortSettings("COM12", 9600, 8, modbus::kOneStopBit, modbus::kNoParity);
        worker->DeviceAddress = 1;
        worker->Start();
        QTest::qWait(150);
        QCOMPARE(worker->TransactionDoneFlag(), 0);
        form->Link.ActiveRead = std::make_unique<modbus::WorkerTransaction>(worker);
    }
    QCOMPARE(meters.LiveWorkers(), 1);
    QVERIFY(form->close());
    QVERIFY(!form->Link.ActiveRead);
    QVERIFY(meters.WaitForWorkers());
    QCOMPARE(meters.LiveWorkers(), 0);
    QVERIFY(Errors.isEmpty());
}

void TestMonitorWindow::destroyingReleasesAWorkerInFlight() {
    auto form = std::make_unique<TForm1>(meters);
    auto worker = meters.CreateWorker();
    worker->SetPortSettings("COM12", 9600, 8, modbus::kOneStopBit, modbus::kNoParity);
    worker->Start();
    form->Link.ActiveRead = std::make_unique<modbus::WorkerTransaction>(std::move(worker));
    form.reset();
    QVERIFY(meters.WaitForWorkers());
    QCOMPARE(meters.LiveWorkers(), 0);
}

// Tab stops only where the user can change something, and the focus ring
// frames the control it stops at.
void TestMonitorWindow::tabPassesWhatOnlyTheMeterSets_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::newRow("past the flow") << "ComboBox2"
                                   << "ComboBox3";
    QTest::newRow("onto the yellow reset") << "ComboBox4"
                                           << "Button1";
    QTest::newRow("past KorK and KorC") << "ComboBox9"
                                        << "ComboBox8";
    QTest::newRow("past the alarm list") << "ComboBox7"
                                         << "Button4";
}

void TestMonitorWindow::tabPassesWhatOnlyTheMeterSets() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    auto form = openWindow();
    QVERIFY(form);
    auto* start = form->findChild<QWidget*>(from);
    auto* next = form->findChild<QWidget*>(to);
    QVERIFY(start && next);
    focusField(*form, start);
    QTest::keyClick(start, Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), next);
    QCOMPARE(form->FocusRing1->target(), next);
    const QRect framed(next->mapTo(form.get(), QPoint(0, 0)), next->size());
    QVERIFY(form->FocusRing1->geometry().contains(framed));
    QVERIFY(form->FocusRing1->geometry() != framed); // around it, not over it
}

// Esc in a field puts back what it held when it was entered: leaving it
// then queues nothing.
void TestMonitorWindow::escapeTakesTypingBack() {
    auto form = openWindow();
    QVERIFY(form);
    for (QLineEdit* field : {form->Edit8, form->MaskEdit4, form->MaskEdit6, form->Period}) {
        const QString before = field->text();
        focusField(*form, field);
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("7"));
        QCOMPARE(field->text(), QStringLiteral("7"));
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(field->text(), before);
        focusField(*form, form->Button4);
    }
    QVERIFY(!form->poll().Slots.LongWritePending && !form->poll().Slots.ShortWritePending);
    QVERIFY(Errors.isEmpty());
}

void TestMonitorWindow::escapeClosesTheExportWindow() {
    ArchiveWindows windows(meters);
    QVERIFY(QTest::qWaitForWindowExposed(windows.form.get()));
    windows.form->Button5Click();
    QVERIFY(windows.form2->isVisible());
    windows.form2->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(windows.form2.get()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!windows.form2->isVisible());
    QCOMPARE(windows.form->Button5->text(), QStringLiteral("Zapisz dane z archiwum do pliku"));
    QVERIFY(windows.form->Button4->isEnabled());
}

int main(int argc, char** argv) {
    Application app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_window.moc"
