// The real window against the simulated meter: connecting, live values,
// writes of each kind, time-outs and recovery, the trace, disconnecting.
#include "PollingFixture.h"

#include "app/Application.h"

class TestMonitorPolling : public PollingFixture {
    Q_OBJECT

private slots:
    void connectShowsTheMetersValues() {
        connect();
        QTRY_COMPARE(ui.Edit1->text(), QStringLiteral("V1.02"));
        const struct {
            QString shown;
            const char* expected;
        } values[] = {{ui.Edit2->text(), "100"},
                      {ui.ComboBox2->text(), "120,000"},
                      {ui.ComboBox2->itemText(0), "240,00"},
                      {ui.Edit3->text(), "12,500"},
                      {ui.ComboBox3->text(), "[m3/h]"},
                      {ui.ComboBox10->text(), "10"},
                      {ui.ComboBox4->text(), "[m3]"},
                      {ui.Edit4->text(), "12345,6"},
                      {ui.Edit5->text(), "0,0"},
                      {ui.Edit8->text(), "2,5"},
                      {ui.ComboBox9->text(), "2,0"},
                      {ui.MaskEdit2->text(), "1,0000"},
                      {ui.ComboBox8->text(), "15 min"},
                      {ui.MaskEdit4->text(), "100,000"},
                      {ui.MaskEdit5->text(), "10,000"},
                      {ui.ComboBox6->text(), "[m3/h]"}};
        for (const auto& v : values) QCOMPARE(v.shown, QString::fromUtf8(v.expected));
        QCOMPARE(ui.ListBox1->count(), 2);
        QCOMPARE(ui.ListBox1->item(0)->text(), QStringLiteral("Przepływ w tył"));
        QCOMPARE(ui.Button4->text(), QStringLiteral("Zakończ połączenie z przepływomierzem"));
        QCOMPARE(ui.ComboBox8->kind(), Kind::DropDown);
        QTRY_VERIFY(form->statusText().startsWith(QStringLiteral("Odczyt danych zakończony sukcesem ")));
        // Many reads later nothing was queued by the program's own updates.
        QTRY_VERIFY(form->link().GoodReplies >= 4);
        QCOMPARE(slotText(form->poll().Slots), QString());
        QVERIFY(errors.isEmpty());
    }

    void writesOfEachKindReachTheMeter() {
        connect();
        QTRY_COMPARE(ui.Edit1->text(), QStringLiteral("V1.02"));
        // Two registers: alarm 1 in m3/h, Enter moves on to alarm 2.
        typeInto(ui.MaskEdit4, QStringLiteral("50,5"));
        QTest::keyClick(ui.MaskEdit4, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), ui.MaskEdit5);
        QTRY_COMPARE(sim->Registers()[8], uint16_t{50500});
        QTRY_COMPARE(ui.MaskEdit4->text(), QStringLiteral("50,500"));
        // One register: the time constant, picked in the list.
        pressDown(ui.ComboBox9, 1);
        QTRY_COMPARE(sim->Registers()[4], uint16_t{4});
        QTRY_COMPARE(ui.ComboBox9->text(), QStringLiteral("2,5"));
        // The flags byte: the totaliser unit, with flow unit and pulse weight as read.
        pressDown(ui.ComboBox4, 1);
        QTRY_COMPARE(sim->Registers()[1], uint16_t{0x0D});
        QTRY_COMPARE(ui.ComboBox5->text(), QStringLiteral("[l]"));
        // A totaliser reset.
        QTest::mouseClick(ui.Button1, Qt::LeftButton);
        QTRY_COMPARE(ui.Edit4->text(), QStringLiteral("0,0"));
        // Four: leaving alarm 2 for the list without typing in it wrote nothing.
        QCOMPARE(sim->WritesApplied(), uint64_t{4});
        QCOMPARE(sim->Registers()[10], uint16_t{10000});
        QVERIFY(errors.isEmpty());
    }

    // A totaliser is cleared only after a "TAK" that names it: "NIE" (here to
    // a Space while tabbing) writes nothing, "TAK" writes once.
    void totaliserResetIsAskedFirst() {
        connect();
        QTRY_COMPARE(ui.Edit4->text(), QStringLiteral("12345,6"));
        answer = false;
        ui.Button1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(ui.Button1, Qt::Key_Space);
        QCOMPARE(questions, QStringList{"Wyzerować licznik przepływu w przód L+ ?"});
        QCOMPARE(slotText(form->poll().Slots), QString());
        const int64_t later = goodAfter(3);
        QTRY_VERIFY(form->link().GoodReplies >= later);
        QCOMPARE(sim->WritesApplied(), uint64_t{0});
        answer = true;
        QTest::mouseClick(ui.Button1, Qt::LeftButton);
        QCOMPARE(questions.size(), 2);
        QTRY_COMPARE(ui.Edit4->text(), QStringLiteral("0,0"));
        const int64_t after = goodAfter(3);
        QTRY_VERIFY(form->link().GoodReplies >= after);
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
        dialogs.SetInformationFunction([&](const QString& t) { infos << t; });
        const QString link = dir->filePath(QStringLiteral("COM1"));
        const auto pullThePlug = [&] {
            sim.reset();
            QVERIFY(QFile::link(dir->filePath(QStringLiteral("gone")), link));
        };
        const QString nowhere = QStringLiteral("COM1 → ./COM1: brak takiego urządzenia.");
        pullThePlug();
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        QTRY_VERIFY(form->link().BadReplies >= 2);
        QCOMPARE(ui.StatusDetails->text(), nowhere);
        QVERIFY(form->statusText().startsWith(QStringLiteral("Timeout odpowiedzi z przepływomierza ")));
        QVERIFY(ui.Edit1->toolTip().startsWith(QStringLiteral("Brak odczytu")));
        QTest::mouseClick(ui.Button4, Qt::LeftButton);

        // The adapter back: the meter answers and the page says which it is.
        QVERIFY(QFile::remove(link));
        sim = testsim::StartSimulator(testsim::FastMeter(dir->path()), true);
        connect();
        QTRY_COMPARE(ui.StatusDetails->text(), QStringLiteral("COM1, 9600 bit/s, parzystość Brak, adres 1"));
        QCOMPARE(ui.Edit3->toolTip(), QString());
        const QColor live = ui.Edit3->palette().color(QPalette::Text);
        // Unplugged while polling.
        pullThePlug();
        QTRY_COMPARE(ui.StatusDetails->text(), nowhere);
        QVERIFY(ui.Edit3->toolTip().startsWith(QStringLiteral("Wartość nieaktualna, z odczytu o ")));
        QVERIFY(ui.Edit3->palette().color(QPalette::Text) != live);
        const int64_t bad = form->link().BadReplies;
        QTRY_VERIFY(form->link().BadReplies >= bad + 2); // counted as ever
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        QCOMPARE(ui.StatusDetails->text(),
                 QStringLiteral("Nie połączono: wartości z odczytu o %1.")
                     .arg(QString::fromStdString(WindowFixture::notes(*form).LastGoodRead)));

        // Refused before any probe: the refusal alone, no search's result.
        QTest::mouseClick(ui.Button8, Qt::LeftButton);
        QCOMPARE(errors, QStringList{"Nie można szukać przepływomierza: " + nowhere});
        errors.clear();
        QCOMPARE(infos, QStringList());
        dialogs.SetInformationFunction({});
    }

    // A write dropped for another address gives its field back to the
    // meter's value, keeps the focus off it and leaves the result line room
    // for both its counters at the window's smallest size.
    void droppedWriteKeepsTheCountersAndGivesTheFieldBack() {
        connect();
        QTRY_COMPARE(ui.Edit8->text(), QStringLiteral("2,5"));
        QTest::mouseClick(ui.Button4, Qt::LeftButton); // off-line: the write waits
        QTabBar* tabs = ui.PageControl1->tabBar();
        typeInto(ui.Edit8, QStringLiteral("12,3"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QCOMPARE(slotText(form->poll().Slots), QStringLiteral("B 4 0 123"));
        typeInto(ui.MaskEdit6, QStringLiteral("2"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(slotText(form->poll().Slots), QString());
        QVERIFY(ui.PendingWrites->isVisible());
        QVERIFY(ui.PendingWrites->text().startsWith(QStringLiteral("Nie zapisano (próg odcięcia)")));
        // Address 1's value went with all of its others: address 2 is another meter.
        QCOMPARE(ui.Edit8->text(), QStringLiteral("0,0"));
        QVERIFY(QApplication::focusWidget() != ui.Edit8);
        QVERIFY(!form->poll().Editing.CutoffEditing);

        // Nobody answers at address 2: time-outs, with the message still shown.
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        QTRY_VERIFY(form->link().BadReplies >= 2);
        QVERIFY(ui.PendingWrites->isVisible());
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
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
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
        QTRY_COMPARE(ui.Edit1->text(), QStringLiteral("V1.02"));
        QTRY_COMPARE(ui.ListBox1->count(), 2);
        if (!connected) QTest::mouseClick(ui.Button4, Qt::LeftButton);
        // On the communication page, then back to the device page.
        ui.PageControl1->setCurrentWidget(ui.TabSheet2);
        if (change == QLatin1String("address")) {
            typeInto(ui.MaskEdit6, QStringLiteral("2"));
        } else {
            ui.MaskEdit6->setFocus(Qt::MouseFocusReason);
            QTRY_VERIFY(ui.MaskEdit6->hasFocus());
            DropDownBoxSetNext(change == QLatin1String("port") ? ui.PortNr : ui.Speed);
        }
        QTabBar* tabs = ui.PageControl1->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        if (kept) {
            const int64_t good = goodAfter(2);
            QTRY_VERIFY(form->link().GoodReplies >= good);
            QCOMPARE(ui.Edit1->text(), QStringLiteral("V1.02"));
            QVERIFY(form->poll().HasRead);
            QTest::mouseClick(ui.Button4, Qt::LeftButton);
            return;
        }
        const QString initial[][2] = {{ui.Edit1->text(), "123456"},
                                      {ui.Edit2->text(), "3"},
                                      {ui.Edit3->text(), "0,0"},
                                      {ui.Edit4->text(), "0,0"},
                                      {ui.Edit8->text(), "0,0"},
                                      {ui.MaskEdit2->text(), "0,0"},
                                      {ui.MaskEdit4->text(), "0,0"},
                                      {ui.ComboBox2->text(), "0,240"},
                                      {ui.ComboBox2->itemText(11), "0,012 "},
                                      {ui.ComboBox8->text(), "bez zapisu"},
                                      {ui.ComboBox3->text(), "[l/h]"}};
        for (const auto& [shown, expected] : initial) QCOMPARE(shown, expected);
        QCOMPARE(ui.ListBox1->count(), 0);
        QVERIFY(ui.Edit1->toolTip().startsWith(QStringLiteral("Brak odczytu")));
        QVERIFY(!form->poll().HasRead && WindowFixture::notes(*form).LastGoodRead.empty());
        if (!connected) return;
        // Nobody at address 2: after the time-outs, what to check.
        QTRY_VERIFY(form->link().BadReplies >= 1);
        QTRY_VERIFY2(
            ui.StatusDetails->text().startsWith(QStringLiteral(
                "COM1, 9600 bit/s, parzystość Brak, adres 2 · brak odpowiedzi: sprawdź prędkość, parzystość "
                "i adres oraz czy COM1 to port adaptera przepływomierza; „Szukaj przepływomierza”")),
            qPrintable(ui.StatusDetails->text()));
        // Back at address 1: its values, and the hint gone.
        ui.PageControl1->setCurrentWidget(ui.TabSheet2);
        typeInto(ui.MaskEdit6, QStringLiteral("1"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QTRY_COMPARE(ui.Edit1->text(), QStringLiteral("V1.02"));
        QTRY_COMPARE(ui.StatusDetails->text(), QStringLiteral("COM1, 9600 bit/s, parzystość Brak, adres 1"));
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
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
        QTRY_VERIFY2(ui.StatusDetails->text().contains(gone), qPrintable(ui.StatusDetails->text()));
        sim = testsim::StartSimulator(testsim::FastMeter(dir->path()), true);
        QTRY_COMPARE(ui.StatusDetails->text(), QStringLiteral("COM1, 9600 bit/s, parzystość Brak, adres 1"));
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
    }

    void silentMeterTimesOutAndTheCycleRecovers() {
        ui.Button3->click(); // trace on
        connect();
        sim->SetFault(vqtsim::Fault::Silence);
        QTRY_VERIFY_WITH_TIMEOUT(form->link().BadReplies >= 2, 5000);
        QVERIFY(form->statusText().startsWith(QStringLiteral("Timeout odpowiedzi z przepływomierza ")));
        const int64_t good = form->link().GoodReplies;
        sim->SetFault(vqtsim::Fault::None);
        QTRY_VERIFY_WITH_TIMEOUT(form->link().GoodReplies >= good + 2, 5000);
        QTRY_VERIFY(form->statusText().startsWith(QStringLiteral("Odczyt danych zakończony sukcesem ")));
        QTest::mouseClick(ui.Button4, Qt::LeftButton);

        // Every transaction left a request line and then its reply line; a
        // time-out's reply line is empty.
        const QStringList lines = ui.RichEdit1->toPlainText().split(QLatin1Char('\n'));
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

    void disconnectRestoresTheListsAndCloseLeavesNoWorker() {
        connect();
        QTRY_COMPARE(ui.ComboBox9->text(), QStringLiteral("2,0"));
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        QCOMPARE(form->statusText(),
                 QStringLiteral("Przepływomierz nie podłączony - praca w trybie off-line"));
        QCOMPARE(form->link().GoodReplies, 0);
        QVERIFY(!ui.Timer1->isActive() && !ui.Timer2->isActive());
        const struct {
            monitor::DropDownBox* box;
            int index;
        } restored[] = {{ui.ComboBox9, 3}, {ui.ComboBox8, 4}, {ui.ComboBox10, 1},
                        {ui.ComboBox4, 0}, {ui.ComboBox5, 0}, {ui.ComboBox3, 1}};
        for (const auto& r : restored) {
            QCOMPARE(r.box->kind(), Kind::PickOnly);
            QCOMPARE(r.box->currentIndex(), r.index);
        }
        connect();
        QVERIFY(form->close()); // closing while connected gives the worker up
        QVERIFY(meters.WaitForWorkers());
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
            if (ui.Timer1->isActive() != watching || ui.Timer2->isActive() != (s == State::Pause) ||
                (s == State::Pause && ui.Timer2->interval() > 50))
                wrong << QStringLiteral("state %1, Timer1 %2, Timer2 %3 (%4 ms)")
                             .arg(int(s))
                             .arg(ui.Timer1->isActive())
                             .arg(ui.Timer2->isActive())
                             .arg(ui.Timer2->interval());
        });
        look.start(1);
        connect();
        int64_t good = goodAfter(3);
        QTRY_VERIFY(form->link().GoodReplies >= good);
        silence(good);
        QTRY_VERIFY(form->link().BadReplies >= 2);
        sim->SetFault(vqtsim::Fault::None);
        QTRY_VERIFY_WITH_TIMEOUT(form->link().GoodReplies >= good + 2, 5000);
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        QTest::qWait(20);
        QCOMPARE(wrong, QStringList());
    }
};

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorPolling test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_polling.moc"
