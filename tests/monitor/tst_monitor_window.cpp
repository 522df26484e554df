// The main window: start-up state, the trace log, and closing with a
// transaction in flight.
#include "ArchiveWindows.h"
#include "WhenModal.h"
#include "WindowFixture.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "monitor/Dialogs.h"
#include "monitor/FlowChart.h"
#include "monitor/FocusRing.h"
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
    QCOMPARE(ui.PageControl1->count(), 4);
    QCOMPARE(ui.PageControl1->widget(0), ui.TabSheet2);
    QCOMPARE(ui.PageControl1->widget(1), ui.TabSheet3);
    QCOMPARE(ui.PageControl1->widget(2), ui.TabSheet1);
    QCOMPARE(ui.PageControl1->widget(3), ui.TabSheet4);
    QCOMPARE(ui.PageControl1->tabText(0), QStringLiteral("Parametry komunikacji"));
    QCOMPARE(ui.PageControl1->tabText(1), QStringLiteral("Parametry VQT540"));
    QCOMPARE(ui.PageControl1->tabText(2), QStringLiteral("Diagnostyka"));
    QCOMPARE(ui.PageControl1->tabText(3), QStringLiteral("Wykres"));
    QCOMPARE(ui.PageControl1->currentWidget(), ui.TabSheet3);
    QCOMPARE(form->statusText(), QStringLiteral("Przepływomierz nie podłączony - praca w trybie offline"));

    const struct {
        QTimer* timer;
        const char* name;
        int interval;
    } timers[] = {{ui.Timer1, "Timer1", 50},
                  {ui.Timer2, "Timer2", 10},
                  {ui.Timer3, "Timer3", 1},
                  {ui.Timer4, "Timer4", 100}};
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
    QVERIFY(!diagnosticsOn(*form));
    QVERIFY(!form->link().ActiveRead);
    QVERIFY(Errors.isEmpty());

    QCOMPARE(ui.Button4->text(), QStringLiteral("Połącz z przepływomierzem"));
    QCOMPARE(ui.Button5->text(), QStringLiteral("Zapisz dane z archiwum do pliku"));
    QCOMPARE(ui.Button1->text(), QStringLiteral("Zeruj licznik"));
    QVERIFY(ui.Button1->font().bold());
    QCOMPARE(ui.Button1->palette().color(QPalette::ButtonText), QColor(Qt::yellow));
    QCOMPARE(ui.Button2->text(), QStringLiteral("Zeruj licznik"));
    QCOMPARE(ui.Button3->text(), QStringLiteral("Start diagnostyki"));
    QCOMPARE(ui.Button7->text(), QStringLiteral("Wyczysc ekran"));
    QCOMPARE(ui.Button6->text(), QStringLiteral("Stop diagnostyki"));
    QCOMPARE(ui.GroupBox3->title(), QStringLiteral("Lista aktualnych stanów alarmowych"));
    QVERIFY(ui.GroupBox3->font().bold() && ui.GroupBox3->font().italic());
    QCOMPARE(ui.GroupBox3->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(ui.ListBox1->count(), 0);
    QCOMPARE(ui.Panel4->text(), QStringLiteral("Program do obsługi przepływomierzy VQT540"));
    QCOMPARE(ui.Panel4->palette().color(QPalette::Window), QColor(0x80, 0, 0));
    QCOMPARE(ui.GroupBox4->title(), QStringLiteral("Parametry komunikacji"));
    QCOMPARE(ui.Panel2->text(), QStringLiteral("Parametry portu COM"));
    QCOMPARE(ui.Panel3->text(), QStringLiteral("Parametry protokołu Modbus"));
    QCOMPARE(ui.Label1->text(), QStringLiteral("Kontola parzystości"));
    QCOMPARE(ui.StaticText5->text(), QStringLiteral("Timeout odpowiedzi przetwornika [ms]"));
    QVERIFY(ui.StaticText5->font().bold());
    QCOMPARE(ui.StaticText5->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QVERIFY(ui.Image1->pixmap().width() > 0);
    QVERIFY(!form->windowIcon().isNull());

    // The trace log: read-only, white on navy, emptied by the start-up.
    QVERIFY(ui.RichEdit1->isReadOnly());
    QCOMPARE(ui.RichEdit1->palette().color(QPalette::Base), QColor(0, 0, 0x80));
    QCOMPARE(ui.RichEdit1->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(ui.RichEdit1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(ui.RichEdit1->toPlainText(), QString());
}

void TestMonitorWindow::itemListsAndKinds() {
    TForm1 form(meters, Dialogs); // not shown: the texts as the window is built
    ui = Form1Controls(form);
    using Kind = monitor::DropDownBox::Kind;
    const auto items = [](const monitor::DropDownBox* box) {
        QStringList result;
        for (int i = 0; i < box->count(); ++i) result << box->itemText(i);
        return result;
    };
    QStringList ports;
    for (int i = 1; i <= 12; ++i) ports << QStringLiteral("COM%1").arg(i);
    QCOMPARE(items(ui.PortNr), ports);
    QCOMPARE(items(ui.Speed),
             QStringList({"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    QCOMPARE(items(ui.Parity), QStringList({"Brak", "Parzyste", "Nieparzyste"}));
    QCOMPARE(items(ui.StopBits), QStringList({"1", "2"}));
    QCOMPARE(items(ui.ComboBox1), QStringList({"MODBUS RTU"}));
    for (auto* box : {ui.PortNr, ui.Speed, ui.Parity, ui.StopBits, ui.ComboBox1, ui.ComboBox8}) {
        QCOMPARE(box->kind(), Kind::PickOnly);
        QCOMPARE(box->currentIndex(), -1);
    }
    QCOMPARE(ui.MaskEdit6->text(), QStringLiteral("  1"));
    QCOMPARE(ui.Period->text(), QStringLiteral("1000"));
    QCOMPARE(ui.MaskEdit1->text(), QStringLiteral("1000"));
    QCOMPARE(ui.RichEdit1->toPlainText(), QStringLiteral("RichEdit1"));

    QCOMPARE(items(ui.ComboBox2), QStringList({"0,240", "0,200", "0,150", "0,120", "0,100", "0,080", "0,060",
                                               "0,040", "0,030", "0,020", "0,015", "0,012 "}));
    QCOMPARE(items(ui.ComboBox9), QStringList({"0.5", "1.0", "1.5", "2,0", "2,5", "3,0", "3,5", "4,0", "4,5",
                                               "5,0", "10,0", "15,0", "20,0", "25,0", "30,0"}));
    QCOMPARE(items(ui.ComboBox8), QStringList({"bez zapisu", "1 min", "2 min", "5 min", "15 min", "30 min",
                                               "1 godz", "2 godz", "8 godz", "12 godz", "24 godz"}));
    QCOMPARE(items(ui.ComboBox10), QStringList({"1", "10", "100", "X"}));
    QCOMPARE(items(ui.ComboBox3), QStringList({"[l/h]", "[m3/h]", "[l/min]"}));
    QCOMPARE(items(ui.ComboBox4), QStringList({"[m3]", "[l]"}));
    QCOMPARE(items(ui.ComboBox5), QStringList({"[m3]", "[l]"}));
    for (auto* box : {ui.ComboBox2, ui.ComboBox3, ui.ComboBox4, ui.ComboBox5, ui.ComboBox9, ui.ComboBox10})
        QCOMPARE(box->kind(), Kind::DropDown);
    QCOMPARE(ui.ComboBox3->text(), QStringLiteral("[m3/h]"));
    QCOMPARE(ui.ComboBox4->text(), QStringLiteral("[m3]"));
    QCOMPARE(ui.ComboBox5->text(), QStringLiteral("[m3]"));

    QCOMPARE(ui.ComboBox6->items(), QStringList({"[l/h]", "[m3/h]", "[l/min]"}));
    QCOMPARE(ui.ComboBox7->items(), QStringList({"[l/h]", "[m3/h]", "[l/min]"}));
    QCOMPARE(ui.ComboBox11->items(), QStringList({"[m3]", "[l]"}));
    QCOMPARE(ui.ComboBox6->text(), QStringLiteral("[m3/h]"));
    QCOMPARE(ui.ComboBox7->text(), QStringLiteral("[m3/h]"));
    QCOMPARE(ui.ComboBox11->text(), QStringLiteral("[m3]"));
    QVERIFY(ui.ComboBox6->isEnabled() && ui.ComboBox7->isEnabled());
    QVERIFY(!ui.ComboBox11->isEnabled());

    const struct {
        QLineEdit* edit;
        const char* text;
        bool readOnly;
    } fields[] = {{ui.Edit1, "123456", true},   {ui.Edit2, "3", true},        {ui.Edit3, "0,0", true},
                  {ui.Edit4, "0,0", true},      {ui.Edit5, "0,0", true},      {ui.Edit8, "0,0", false},
                  {ui.MaskEdit2, "0,0", true},  {ui.MaskEdit3, "0,0", true},  {ui.MaskEdit4, "0,0", false},
                  {ui.MaskEdit5, "0,0", false}, {ui.MaskEdit6, "  1", false}, {ui.Period, "1000", false},
                  {ui.MaskEdit1, "1000", false}};
    for (const auto& f : fields) {
        QCOMPARE(f.edit->text(), QString::fromUtf8(f.text));
        QCOMPARE(f.edit->isReadOnly(), f.readOnly);
    }
    QCOMPARE(ui.Edit1->palette().color(QPalette::Base), QColor(0xA6, 0xCA, 0xF0));
    QCOMPARE(ui.ComboBox6->palette().color(QPalette::Base), QColor(0, 0xFF, 0xFF));

    // Controls are found by their names, as later code and tests do.
    for (const char* name :
         {"PortNr",     "Speed",     "Parity",    "StopBits",    "ComboBox1", "MaskEdit6", "Period",
          "MaskEdit1",  "ComboBox2", "ComboBox6", "ComboBox11",  "Edit8",     "RichEdit1", "Button4",
          "StatusBar1", "TabSheet2", "Label19",   "StaticText4", "Image1",    "Panel1",    "Bevel1"})
        QVERIFY2(form.findChild<QWidget*>(QLatin1String(name)), name);
    QCOMPARE(form.findChild<QWidget*>(QStringLiteral("TabSheet4")), ui.TabSheet4);
    QCOMPARE(form.findChild<QWidget*>(QStringLiteral("Chart1")), ui.Chart1);
    QCOMPARE(form.findChild<QAction*>(QStringLiteral("SaveTrace1")), ui.SaveTrace1);
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Label19"))->text(),
             QStringLiteral("Waga impulsu licznika :"));
}

void TestMonitorWindow::startUpSelectionsQueueNothing() {
    TForm1 form(meters, Dialogs);
    ui = Form1Controls(form);
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (auto* box : {ui.ComboBox2, ui.ComboBox3, ui.ComboBox4, ui.ComboBox5, ui.ComboBox8, ui.ComboBox9,
                      ui.ComboBox10, ui.PortNr, ui.Speed})
        spies.push_back(std::make_unique<QSignalSpy>(box, &monitor::DropDownBox::userChanged));
    for (auto* box : {ui.ComboBox6, ui.ComboBox7})
        spies.push_back(std::make_unique<QSignalSpy>(box, &monitor::SimpleComboBox::userChanged));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The first items are selected, and no change reached a handler.
    QCOMPARE(ui.ComboBox2->itemIndex(), 0);
    QCOMPARE(ui.ComboBox3->text(), QStringLiteral("[l/h]"));
    QCOMPARE(ui.ComboBox4->itemIndex(), 0);
    QCOMPARE(ui.ComboBox5->itemIndex(), 0);
    QCOMPARE(ui.ComboBox8->text(), QStringLiteral("bez zapisu"));
    QCOMPARE(ui.ComboBox9->text(), QStringLiteral("0.5"));
    QCOMPARE(ui.ComboBox10->itemIndex(), 0);
    QCOMPARE(ui.ComboBox6->text(), QStringLiteral("[l/h]"));
    QCOMPARE(ui.ComboBox7->text(), QStringLiteral("[l/h]"));
    QCOMPARE(ui.ComboBox11->text(), QStringLiteral("[m3]"));
    for (const auto& spy : spies) QCOMPARE(spy->count(), 0);
}

void TestMonitorWindow::traceStartStopClear() {
    auto form = openWindow();
    QVERIFY(form);
    focusField(*form, ui.Button3);
    const QString tx = QStringLiteral("TX : [01][03][00][00][00][1B][05][C1]");
    const QString rx = QStringLiteral("RX : ");

    QTest::mouseClick(ui.Button3, Qt::LeftButton);
    QVERIFY(diagnosticsOn(*form));
    QTest::mouseClick(ui.Button3, Qt::LeftButton); // twice: no further effect
    QVERIFY(diagnosticsOn(*form));
    form->appendDiagnostics(tx);
    form->appendDiagnostics(std::string("RX : "));
    QCOMPARE(ui.RichEdit1->toPlainText(), tx + QLatin1Char('\n') + rx);
    QCOMPARE(ui.RichEdit1->blockCount(), 2);

    QTest::mouseClick(ui.Button6, Qt::LeftButton);
    QVERIFY(!diagnosticsOn(*form));
    QCOMPARE(ui.RichEdit1->toPlainText(), tx + QLatin1Char('\n') + rx); // the lines stay

    QTest::mouseClick(ui.Button3, Qt::LeftButton);
    QTest::mouseClick(ui.Button7, Qt::LeftButton);
    QCOMPARE(ui.RichEdit1->toPlainText(), QString());
    QVERIFY(diagnosticsOn(*form)); // clearing keeps tracing on
    form->appendDiagnostics(rx + QStringLiteral("[01]"));
    QCOMPARE(ui.RichEdit1->toPlainText(), QStringLiteral("RX : [01]")); // the first line again
    QCOMPARE(ui.Button3->text(), QStringLiteral("Start diagnostyki"));  // buttons unchanged
    QVERIFY(ui.Button3->isEnabled() && ui.Button6->isEnabled() && ui.Button7->isEnabled());
}

void TestMonitorWindow::traceIsBoundedAndFollowsTheNewestLine() {
    auto form = openWindow();
    QVERIFY(form);
    ui.PageControl1->setCurrentWidget(ui.TabSheet1);
    const int limit = monitor::kDiagnosticsLineLimit;
    const int total = limit + 250;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < total; ++i) form->appendDiagnostics(QStringLiteral("TX : [%1]").arg(i));
    const qint64 elapsed = clock.elapsed();
    qInfo("appended %d lines in %lld ms", total, elapsed);
    QCOMPARE(ui.RichEdit1->blockCount(), limit);
    const QTextDocument* document = ui.RichEdit1->document();
    QCOMPARE(document->firstBlock().text(), QStringLiteral("TX : [250]")); // the oldest went first
    QCOMPARE(document->lastBlock().text(), QStringLiteral("TX : [%1]").arg(total - 1));

    // Appending at the limit costs no more than appending to a short log.
    QElapsedTimer atLimit;
    atLimit.start();
    for (int i = 0; i < 2000; ++i) form->appendDiagnostics(QStringLiteral("RX : [%1]").arg(i));
    qInfo("2000 lines at the limit in %lld ms", atLimit.elapsed());
    QCOMPARE(ui.RichEdit1->blockCount(), limit);

    QScrollBar* bar = ui.RichEdit1->verticalScrollBar();
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
        link(*form).ActiveRead = std::make_unique<modbus::WorkerTransaction>(worker);
    }
    QCOMPARE(meters.LiveWorkers(), 1);
    QVERIFY(form->close());
    QVERIFY(!form->link().ActiveRead);
    QVERIFY(meters.WaitForWorkers());
    QCOMPARE(meters.LiveWorkers(), 0);
    QVERIFY(Errors.isEmpty());
}

void TestMonitorWindow::destroyingReleasesAWorkerInFlight() {
    auto form = std::make_unique<TForm1>(meters, Dialogs);
    auto worker = meters.CreateWorker();
    worker->SetPortSettings("COM12", 9600, 8, modbus::kOneStopBit, modbus::kNoParity);
    worker->Start();
    link(*form).ActiveRead = std::make_unique<modbus::WorkerTransaction>(std::move(worker));
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
    QCOMPARE(ui.FocusRing1->target(), next);
    const QRect framed(next->mapTo(form.get(), QPoint(0, 0)), next->size());
    QVERIFY(ui.FocusRing1->geometry().contains(framed));
    QVERIFY(ui.FocusRing1->geometry() != framed); // around it, not over it
}

// Esc in a field puts back what it held when it was entered: leaving it
// then queues nothing.
void TestMonitorWindow::escapeTakesTypingBack() {
    auto form = openWindow();
    QVERIFY(form);
    for (QLineEdit* field : {ui.Edit8, ui.MaskEdit4, ui.MaskEdit6, ui.Period}) {
        const QString before = field->text();
        focusField(*form, field);
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("7"));
        QCOMPARE(field->text(), QStringLiteral("7"));
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(field->text(), before);
        focusField(*form, ui.Button4);
    }
    QVERIFY(!form->poll().Slots.LongWritePending && !form->poll().Slots.ShortWritePending);
    QVERIFY(Errors.isEmpty());
}

void TestMonitorWindow::escapeClosesTheExportWindow() {
    ArchiveWindows windows(meters, Dialogs);
    QVERIFY(QTest::qWaitForWindowExposed(windows.form.get()));
    ui = windows.ui;
    ui.Button5->click();
    QVERIFY(windows.form2->isVisible());
    windows.form2->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(windows.form2.get()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!windows.form2->isVisible());
    QCOMPARE(ui.Button5->text(), QStringLiteral("Zapisz dane z archiwum do pliku"));
    QVERIFY(ui.Button4->isEnabled());
}

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_window.moc"
