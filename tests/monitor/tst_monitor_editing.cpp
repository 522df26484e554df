// The real window against the simulated meter: the editing of all fourteen
// controls, the chart of the flow, the port list's tooltips, saving the
// trace and the search for the meter.
#include "PollingFixture.h"

#include "app/Application.h"

class TestMonitorEditing : public PollingFixture {
    Q_OBJECT

private slots:
    void chartDrawsEveryGoodReadInTheMetersUnit() {
        ui.PageControl1->setCurrentWidget(ui.TabSheet4);
        connect();
        QTRY_VERIFY(form->link().GoodReplies >= 3);
        int64_t first = 0;
        silence(first);
        QCOMPARE(chartLines(), QList<qsizetype>{first});
        sim->SetFault(vqtsim::Fault::None);
        QTRY_VERIFY_WITH_TIMEOUT(form->link().GoodReplies >= first + 2, 5000);
        int64_t all = 0;
        silence(all);
        QCOMPARE(chartLines(), (QList<qsizetype>{first, all - first}));
        QCOMPARE(ui.Chart1->valueAxis().Title, QStringLiteral("Przepływ chwilowy [m3/h]"));
        // The user picks [l/h]; once the meter reports it, the whole curve is in l/h.
        sim->SetFault(vqtsim::Fault::None);
        ui.PageControl1->setCurrentWidget(ui.TabSheet3);
        ui.ComboBox3->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(ui.ComboBox3->hasFocus());
        QTest::keyClick(ui.ComboBox3, Qt::Key_Up);
        QTRY_COMPARE(sim->Registers()[1] & 0x03, 0);
        const int64_t good = goodAfter(2); // the write may be one of them
        QTRY_VERIFY(form->link().GoodReplies >= good);
        ui.PageControl1->setCurrentWidget(ui.TabSheet4); // drawn as it is shown
        QCOMPARE(ui.Chart1->valueAxis().Title, QStringLiteral("Przepływ chwilowy [l/h]"));
        QList<QPointF> points;
        for (const QPolygonF& line : ui.Chart1->lines()) points += line;
        QVERIFY(points.size() > all);
        for (const QPointF& p : points) QCOMPARE(p.y(), 12500.0);
        // Reconnecting starts a line of its own.
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        connect();
        QTRY_COMPARE(chartLines().size(), 4);
        QVERIFY(errors.isEmpty());
    }

    void portTooltipsSayWhereEachPortLeads() {
        const auto tips = [this](bool openList) {
            if (openList) {
                ui.PortNr->showPopup();
                ui.PortNr->hidePopup();
            }
            return ui.PortNr->itemData(0, Qt::ToolTipRole).toString() + QLatin1Char('|') +
                   ui.PortNr->itemData(1, Qt::ToolTipRole).toString();
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
        ui.PageControl1->setCurrentWidget(ui.TabSheet2);
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
        ui.PageControl1->setCurrentWidget(ui.TabSheet1);
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
        QWidget* viewport = ui.RichEdit1->viewport();
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
            dialogs.SetFileDialogFunction([&](QFileDialog* dialog) {
                title = dialog->windowTitle();
                return path;
            });
            errors.clear();
            ui.SaveTrace1->trigger();
            dialogs.SetFileDialogFunction({});
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

    void editingQueuesEachControlsWrite() {
        sim.reset(); // off-line: what the user does is only queued
        const struct {
            const char* name;
            std::function<void()> act;
            const char* queued;
        } rows[] = {
            {"range", [&] { pressDown(ui.ComboBox2, 1); }, "A 6 1"},
            {"reset L+", [&] { QTest::mouseClick(ui.Button1, Qt::LeftButton); }, "A 18 0"},
            {"reset L-", [&] { QTest::mouseClick(ui.Button2, Qt::LeftButton); }, "A 20 0"},
            {"alarm 1 in l/h, Enter, half to even",
             [&] {
                 typeInto(ui.MaskEdit4, QStringLiteral("2,5"));
                 QTest::keyClick(ui.MaskEdit4, Qt::Key_Return);
             },
             "A 8 2"},
            {"alarm 2, leaving the field",
             [&] {
                 typeInto(ui.MaskEdit5, QStringLiteral("7"));
                 ui.Edit8->setFocus(Qt::TabFocusReason);
             },
             "A 10 7"},
            {"cut-off, Enter",
             [&] {
                 typeInto(ui.Edit8, QStringLiteral("12,3"));
                 QTest::keyClick(ui.Edit8, Qt::Key_Enter);
             },
             "B 4 0 123"},
            {"time constant", [&] { pressDown(ui.ComboBox9, 1); }, "B 5 0 1"},
            {"archive period", [&] { pressDown(ui.ComboBox8, 2); }, "B 22 0 2"},
            {"flow unit", [&] { pressDown(ui.ComboBox3, 1); }, "B 2 0 1"},
            {"alarm 1 unit", [&] { pressDown(ui.ComboBox6, 1); }, "B 2 0 1"},
            {"alarm 2 unit", [&] { pressDown(ui.ComboBox7, 2); }, "B 2 0 2"},
            {"L+ unit", [&] { pressDown(ui.ComboBox4, 1); }, "B 2 0 4"},
            {"L- unit", [&] { pressDown(ui.ComboBox5, 1); }, "B 2 0 4"},
            {"pulse weight", [&] { pressDown(ui.ComboBox10, 3); }, "B 2 0 24"},
            {"typed text that is no item", [&] { typeInto(ui.ComboBox6, QStringLiteral("x")); }, ""},
        };
        for (const auto& row : rows) {
            form->poll().Slots = {};
            ui.Button4->setFocus(Qt::MouseFocusReason); // off the fields: leaving them queues too
            QTRY_VERIFY(ui.Button4->hasFocus());
            form->poll().Slots = {};
            row.act();
            QVERIFY2(slotText(form->poll().Slots) == QLatin1String(row.queued),
                     qPrintable(QStringLiteral("%1: %2").arg(row.name, slotText(form->poll().Slots))));
        }
        QCOMPARE(ui.ComboBox6->text(), QStringLiteral("[m3/h]")); // the typed text went again
        QVERIFY(errors.isEmpty());
    }

    void enterRingAndRefusedValues() {
        sim.reset();
        auto& editing = form->poll().Editing;
        typeInto(ui.Edit8, QStringLiteral("1"));
        QVERIFY(editing.CutoffEditing);
        for (QLineEdit* next : {ui.MaskEdit4, ui.MaskEdit5, ui.Edit8}) {
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
        } refused[] = {{ui.Edit8, "30", "Próg odcięcia musi leżeć w zakresie od 0,0 do 25,5 %."},
                       {ui.MaskEdit4, "abc", "'abc' nie jest poprawną liczbą."}};
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
        dialogs.SetInformationFunction([&](const QString& t) { infos << t; });
        connect();
        QTest::mouseClick(ui.Button8, Qt::LeftButton); // not while connected
        QCOMPARE(infos.size(), 1);
        QTest::mouseClick(ui.Button4, Qt::LeftButton);

        sim.reset(); // its link first, then the new one
        sim = StartHiddenMeter(dir->path());
        ui.Speed->setItemIndex(4); // 19200, no parity, address 17: only the parity is wrong
        ui.MaskEdit6->setText(QStringLiteral("17"));
        QTest::mouseClick(ui.Button8, Qt::LeftButton);
        QCOMPARE(questions,
                 QStringList{"Znaleziono przepływomierz: adres 17, 19200 bit/s, parzystość Nieparzyste "
                             "(V1.02, DN 100). Wpisać te ustawienia ?"});
        QCOMPARE(ui.Parity->text(), QStringLiteral("Nieparzyste"));
        QCOMPARE(ui.Speed->text(), QStringLiteral("19200"));
        QCOMPARE(ui.MaskEdit6->text(), QStringLiteral("17"));
        QCOMPARE(readAll(dir->filePath("VQT540.cfg")),
                 QByteArray("0\r\n4\r\n2\r\n0\r\n0\r\n17\r\n50\r\n200\r\n"));
        // Connected with them, the meter answers.
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        QTRY_COMPARE(ui.Edit1->text(), QStringLiteral("V1.02"));
        dialogs.SetInformationFunction({});
    }
};

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorEditing test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_editing.moc"
