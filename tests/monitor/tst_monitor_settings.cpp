// The communication page and its settings file: loading, saving byte for
// byte, the address and time-out fields, the ports beyond COM1 ... COM12.
#include "WhenModal.h"
#include "WindowFixture.h"
#include "app/Application.h"

#include "modbus/SerialPort.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

class TestMonitorSettings : public QObject, WindowFixture {
    Q_OBJECT
private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void noFileGivesDefaultsAndLeavingWritesThem();
    void shortFileAppliesTheLinesPresent();
    void fullFileRoundTripsByteForByte();
    void damagedLineStopsLoadingAndReleasesTheFile();
    void indexOutsideTheListLeavesNoSelection();
    void movingWithinThePageSavesNothing();
    void closingWithoutLeavingSavesNothing();
    void unwritableFileIsReported();
    void addressCheck_data();
    void addressCheck();
    void addressCorrectedBeforeSaving();
    void addressCorrectedThroughTheRealBoxBeforeSaving();
    void timeoutSetsTickIntervals_data();
    void timeoutSetsTickIntervals();
    void badTimeoutIsReportedAndTheWindowGoesOn();
    void portBeyondTheTwelveIsSavedAndRestored_data();
    void portBeyondTheTwelveIsSavedAndRestored();
    void portLineOfTheFile_data();
    void portLineOfTheFile();
    void portsTheTwelveDoNotReach();
    void namesOfOneDevice();
};

void TestMonitorSettings::noFileGivesDefaultsAndLeavingWritesThem() {
    auto form = openWindow();
    QVERIFY(form);
    QCOMPARE(configPath(*form), QDir::currentPath() + QStringLiteral("/VQT540.cfg"));
    QCOMPARE(ui.PortNr->text(), QStringLiteral("COM1"));
    QCOMPARE(ui.Speed->text(), QStringLiteral("9600"));
    QCOMPARE(ui.Parity->text(), QStringLiteral("Brak"));
    QCOMPARE(ui.StopBits->text(), QStringLiteral("1"));
    QCOMPARE(ui.ComboBox1->text(), QStringLiteral("MODBUS RTU"));
    QCOMPARE(ui.MaskEdit6->text(), QStringLiteral("  1"));
    QCOMPARE(ui.Period->text(), QStringLiteral("1000"));
    QCOMPARE(ui.MaskEdit1->text(), QStringLiteral("1000"));
    QVERIFY(!QFile::exists(cfgPath())); // showing writes nothing

    focusField(*form, ui.Period);
    leaveToDevicePageByClick(*form);
    QCOMPARE(readAll(cfgPath()), kDefaultFile);
    QCOMPARE(kDefaultFile.size(), 32);
    QVERIFY(Errors.isEmpty());
    QVERIFY(Infos.isEmpty());
}

void TestMonitorSettings::shortFileAppliesTheLinesPresent() {
    writeFile(cfgPath(), "2\r\n4\r\n1\r\n");
    auto form = openWindow();
    QVERIFY(form);
    QVERIFY(Errors.isEmpty());
    QCOMPARE(ui.PortNr->text(), QStringLiteral("COM3"));
    QCOMPARE(ui.Speed->text(), QStringLiteral("19200"));
    QCOMPARE(ui.Parity->text(), QStringLiteral("Parzyste"));
    QCOMPARE(ui.StopBits->currentIndex(), -1);
    QCOMPARE(ui.ComboBox1->currentIndex(), -1);
    QCOMPARE(ui.MaskEdit6->text(), QStringLiteral("  1"));
    QCOMPARE(ui.Period->text(), QStringLiteral("1000"));
    QCOMPARE(ui.MaskEdit1->text(), QStringLiteral("1000"));
    QCOMPARE(ui.ComboBox2->itemIndex(), 0); // the start-up went on
    QCOMPARE(openHandlesTo(cfgPath()), 0);

    // A list without a selection is written as -1.
    focusField(*form, ui.PortNr);
    leaveToDevicePageByClick(*form);
    QCOMPARE(readAll(cfgPath()), QByteArray("2\r\n4\r\n1\r\n-1\r\n-1\r\n  1\r\n1000\r\n1000\r\n"));

    // An empty file is a file with no lines: nothing is applied, no error.
    writeFile(cfgPath(), "");
    auto second = openWindow();
    QVERIFY(second);
    QVERIFY(Errors.isEmpty());
    QCOMPARE(ui.PortNr->currentIndex(), -1);
    QCOMPARE(ui.Speed->currentIndex(), -1);
    QCOMPARE(ui.ComboBox9->itemIndex(), 0);
}

void TestMonitorSettings::fullFileRoundTripsByteForByte() {
    // Blanks kept, a Windows-1250 letter ("ś" is 0x9C) in a free text, and
    // one line ended by LF alone.
    const QByteArray content("11\r\n7\r\n2\r\n1\r\n0\r\n  7\r\n250\xE6\r\n3000\n");
    writeFile(cfgPath(), content);
    auto form = openWindow();
    QVERIFY(form);
    QVERIFY(Errors.isEmpty());
    QCOMPARE(ui.PortNr->text(), QStringLiteral("COM12"));
    QCOMPARE(ui.Speed->text(), QStringLiteral("115200"));
    QCOMPARE(ui.Parity->text(), QStringLiteral("Nieparzyste"));
    QCOMPARE(ui.StopBits->text(), QStringLiteral("2"));
    QCOMPARE(ui.ComboBox1->text(), QStringLiteral("MODBUS RTU"));
    QCOMPARE(ui.MaskEdit6->text(), QStringLiteral("  7"));
    QCOMPARE(ui.Period->text(), QStringLiteral("250ć"));
    QCOMPARE(ui.MaskEdit1->text(), QStringLiteral("3000"));
    QCOMPARE(ui.Timer1->interval(), 50); // loading does not run the time-out handler

    ui.Period->setText(QStringLiteral("250ś"));
    focusField(*form, ui.MaskEdit6); // leaves "  7" as it is
    leaveToDevicePageByClick(*form);
    QVERIFY(Errors.isEmpty());
    QVERIFY(Infos.isEmpty());
    QCOMPARE(readAll(cfgPath()), QByteArray("11\r\n7\r\n2\r\n1\r\n0\r\n  7\r\n250\x9C\r\n3000\r\n"));
    QCOMPARE(ui.Timer1->interval(), 50); // only leaving the time-out field changes it
}

void TestMonitorSettings::damagedLineStopsLoadingAndReleasesTheFile() {
    writeFile(cfgPath(), "1\r\nabc\r\n2\r\n1\r\n0\r\n  9\r\n500\r\n500\r\n");
    auto form = openWindow();
    QVERIFY(form);
    QCOMPARE(Errors, QStringList({QDir::toNativeSeparators(cfgPath()) +
                                  QStringLiteral(", wiersz 2: 'abc' nie jest poprawną liczbą całkowitą.")}));
    QCOMPARE(ui.PortNr->text(), QStringLiteral("COM2")); // read before the bad line
    QCOMPARE(ui.Speed->currentIndex(), -1);
    QCOMPARE(ui.Parity->currentIndex(), -1);
    QCOMPARE(ui.MaskEdit6->text(), QStringLiteral("  1"));
    // The rest of the start-up is not done.
    QCOMPARE(ui.ComboBox2->itemIndex(), -1);
    QCOMPARE(ui.RichEdit1->toPlainText(), QStringLiteral("RichEdit1"));
    QCOMPARE(openHandlesTo(cfgPath()), 0);
    QVERIFY(form->isVisible()); // the program goes on
}

void TestMonitorSettings::indexOutsideTheListLeavesNoSelection() {
    writeFile(cfgPath(), "12\r\n-1\r\n3\r\n 1\r\n");
    auto form = openWindow();
    QVERIFY(form);
    QVERIFY(Errors.isEmpty());
    QCOMPARE(ui.PortNr->currentIndex(), -1);
    QCOMPARE(ui.Speed->currentIndex(), -1);
    QCOMPARE(ui.Parity->currentIndex(), -1);
    QCOMPARE(ui.StopBits->text(), QStringLiteral("2"));
}

void TestMonitorSettings::movingWithinThePageSavesNothing() {
    auto form = openWindow();
    QVERIFY(form);
    focusField(*form, ui.MaskEdit6);
    focusField(*form, ui.Period);
    focusField(*form, ui.PortNr);
    QVERIFY(!QFile::exists(cfgPath()));
    // Another window taking the focus does not leave the page either.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!QFile::exists(cfgPath()));
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    // Keyboard: Tab from the last field of the page moves on beyond it.
    focusField(*form, ui.MaskEdit1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(QApplication::focusWidget() && !ui.TabSheet2->isAncestorOf(QApplication::focusWidget()));
    QCOMPARE(readAll(cfgPath()), kDefaultFile);
}

void TestMonitorSettings::closingWithoutLeavingSavesNothing() {
    writeFile(cfgPath(), kDefaultFile);
    auto form = openWindow();
    QVERIFY(form);
    focusField(*form, ui.Period);
    ui.Period->setText(QStringLiteral("500"));
    ui.PortNr->setItemIndex(4);
    QVERIFY(form->close());
    form.reset();
    QCOMPARE(readAll(cfgPath()), kDefaultFile);
    QVERIFY(Errors.isEmpty());

    QVERIFY(QFile::remove(cfgPath()));
    form = openWindow();
    QVERIFY(form);
    focusField(*form, ui.MaskEdit6);
    form->close();
    QVERIFY(!QFile::exists(cfgPath()));
}

void TestMonitorSettings::unwritableFileIsReported() {
    auto form = openWindow();
    QVERIFY(form);
    // A directory where the file should be: creating the file fails.
    QVERIFY(QDir(Dir->path()).mkdir(QStringLiteral("VQT540.cfg")));
    focusField(*form, ui.Period);
    ui.Period->setText(QStringLiteral("700"));
    leaveToDevicePageByClick(*form);
    QCOMPARE(Errors.size(), 1);
    QVERIFY2(Errors[0].startsWith(QStringLiteral("Zapis pliku ")), qPrintable(Errors[0]));
    QVERIFY(Errors[0].contains(QStringLiteral("VQT540.cfg")));
    QCOMPARE(ui.Period->text(), QStringLiteral("700")); // the controls keep their values
    QVERIFY(QFileInfo(cfgPath()).isDir());

    // Reading it at start-up fails the same way, and the window still opens.
    Errors.clear();
    auto second = openWindow();
    QVERIFY(second);
    QCOMPARE(Errors.size(), 1);
    QVERIFY2(Errors[0].startsWith(QStringLiteral("Odczyt pliku ")), qPrintable(Errors[0]));
}

void TestMonitorSettings::addressCheck_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("message");
    QTest::newRow("0") << "0"
                       << "1" << true;
    QTest::newRow("248") << "248"
                         << "1" << true;
    QTest::newRow("negative") << " -3"
                              << "1" << true;
    QTest::newRow("1") << "1"
                       << "1" << false;
    QTest::newRow("247") << "247"
                         << "247" << false;
    QTest::newRow("blanks kept") << "  7"
                                 << "  7" << false;
}

void TestMonitorSettings::addressCheck() {
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QFETCH(bool, message);
    auto form = openWindow();
    QVERIFY(form);
    focusField(*form, ui.MaskEdit6);
    ui.MaskEdit6->selectAll();
    QTest::keyClicks(ui.MaskEdit6, typed);
    QCOMPARE(ui.MaskEdit6->text(), typed);
    focusField(*form, ui.Period); // leaving the field, not the page
    QCOMPARE(ui.MaskEdit6->text(), after);
    QCOMPARE(Infos,
             message ? QStringList({QStringLiteral("Adres urządzenia poza zakresem.")}) : QStringList());
    QVERIFY(Errors.isEmpty());
}

void TestMonitorSettings::addressCorrectedBeforeSaving() {
    auto form = openWindow();
    QVERIFY(form);
    focusField(*form, ui.MaskEdit6);
    ui.MaskEdit6->setText(QStringLiteral("300"));
    leaveToDevicePageByClick(*form);
    QCOMPARE(Infos.size(), 1);
    QCOMPARE(readAll(cfgPath()), QByteArray("0\r\n3\r\n0\r\n0\r\n0\r\n1\r\n1000\r\n1000\r\n"));

    // Not a number: reported, the field keeps its text, the page still saves.
    focusField(*form, ui.MaskEdit6);
    ui.MaskEdit6->setText(QStringLiteral("x5"));
    leaveToDevicePageByClick(*form);
    QCOMPARE(Errors, QStringList({QStringLiteral("'x5' nie jest poprawną liczbą całkowitą.")}));
    QCOMPARE(ui.MaskEdit6->text(), QStringLiteral("x5"));
    QCOMPARE(readAll(cfgPath()), QByteArray("0\r\n3\r\n0\r\n0\r\n0\r\nx5\r\n1000\r\n1000\r\n"));
}

void TestMonitorSettings::addressCorrectedThroughTheRealBoxBeforeSaving() {
    // The real box runs its own event loop in the middle of the page switch
    // and takes the focus meanwhile: the page must still be saved, once.
    Dialogs.SetInformationFunction({});
    auto form = openWindow();
    QVERIFY(form);
    focusField(*form, ui.MaskEdit6);
    ui.MaskEdit6->setText(QStringLiteral("0"));
    QString shown;
    whenModal([&shown](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) return;
        shown = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    leaveToDevicePageByClick(*form);
    QCOMPARE(shown, QStringLiteral("Adres urządzenia poza zakresem."));
    QCOMPARE(ui.MaskEdit6->text(), QStringLiteral("1"));
    QTRY_COMPARE(readAll(cfgPath()), QByteArray("0\r\n3\r\n0\r\n0\r\n0\r\n1\r\n1000\r\n1000\r\n"));
    QVERIFY(Errors.isEmpty());
    QCOMPARE(ui.PageControl1->currentWidget(), ui.TabSheet3);
    // Saved once: the focus coming back to the device page saves no more.
    QVERIFY(QFile::remove(cfgPath()));
    QTest::qWait(100);
    QVERIFY(!ui.TabSheet2->isAncestorOf(QApplication::focusWidget()));
    QVERIFY(!QFile::exists(cfgPath()));
}

void TestMonitorSettings::timeoutSetsTickIntervals_data() {
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<int>("tick");
    QTest::newRow("1000") << "1000" << 50;
    QTest::newRow("30") << "30" << 2;
    QTest::newRow("50") << "50" << 2;
    QTest::newRow("70") << "70" << 4;
    QTest::newRow("200") << "200" << 10;
    QTest::newRow("20") << "20" << 1;
    QTest::newRow("0") << "0" << 1;
    QTest::newRow("negative") << " -40" << 1;
}

void TestMonitorSettings::timeoutSetsTickIntervals() {
    QFETCH(QString, timeout);
    QFETCH(int, tick);
    auto form = openWindow();
    QVERIFY(form);
    ui.Timer1->setInterval(777);
    ui.Timer3->setInterval(777);
    focusField(*form, ui.MaskEdit1);
    ui.MaskEdit1->setText(timeout);
    focusField(*form, ui.Period);
    QCOMPARE(ui.Timer1->interval(), tick);
    QCOMPARE(ui.Timer3->interval(), 1);
    QVERIFY(!ui.Timer1->isActive() && !ui.Timer3->isActive());
    QVERIFY(Errors.isEmpty());
}

void TestMonitorSettings::badTimeoutIsReportedAndTheWindowGoesOn() {
    auto form = openWindow();
    QVERIFY(form);
    focusField(*form, ui.MaskEdit1);
    ui.MaskEdit1->setText(QStringLiteral("1 000"));
    focusField(*form, ui.Period);
    QCOMPARE(Errors, QStringList({QStringLiteral("'1 000' nie jest poprawną liczbą całkowitą.")}));
    QCOMPARE(ui.MaskEdit1->text(), QStringLiteral("1 000"));
    QCOMPARE(ui.Timer1->interval(), 50);
    QCOMPARE(QApplication::focusWidget(), ui.Period); // the focus moved on regardless

    // The next handler runs normally.
    focusField(*form, ui.MaskEdit1);
    ui.MaskEdit1->setText(QStringLiteral("200"));
    focusField(*form, ui.Period);
    QCOMPARE(ui.Timer1->interval(), 10);
    QCOMPARE(Errors.size(), 1);
}

void TestMonitorSettings::portBeyondTheTwelveIsSavedAndRestored_data() {
    QTest::addColumn<QString>("typed");  // %DIR%: the test's working directory
    QTest::addColumn<QString>("chosen"); // then shown by PortNr; another than typed: refused
    QTest::addColumn<QByteArray>("line1");
    QTest::addColumn<QString>("tip"); // found in the chosen port's tooltip
#ifdef Q_OS_WIN
    QTest::newRow("device") << "\\\\.\\COM17"
                            << "\\\\.\\COM17" << QByteArray("-1") << "";
#else
    QTest::newRow("device") << "%DIR%/ttyVQT"
                            << "%DIR%/ttyVQT" << QByteArray("-1") << "%DIR%/ttyVQT → /dev/null: ";
#endif
    QTest::newRow("MODBUS TCP") << "tcp://10.0.0.7"
                                << "tcp://10.0.0.7" << QByteArray("-1") << "Bramka MODBUS TCP 10.0.0.7:502.";
    QTest::newRow("RTU over TCP, blanks around")
        << " rtu+tcp://[fe80::1]:4001 "
        << "rtu+tcp://[fe80::1]:4001" << QByteArray("-1")
        << "Serwer portu szeregowego (RTU przez TCP) [fe80::1]:4001.";
    QTest::newRow("one of the twelve") << "COM3"
                                       << "COM3" << QByteArray("2") << "";
    QTest::newRow("bad gateway") << "tcp://10.0.0.7:0"
                                 << "COM1" << QByteArray("0") << "";
    QTest::newRow("no port") << "ttyUSB3"
                             << "COM1" << QByteArray("0") << "";
}

void TestMonitorSettings::portBeyondTheTwelveIsSavedAndRestored() {
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    QFETCH(QByteArray, line1);
    QFETCH(QString, tip);
    const auto here = [this](QString text) { return text.replace(QStringLiteral("%DIR%"), Dir->path()); };
#ifndef Q_OS_WIN
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), Dir->filePath(QStringLiteral("ttyVQT"))));
#endif
    auto form = openWindow();
    QVERIFY(form);
    auto* list = form->findChild<monitor::PortBox*>(QStringLiteral("PortNr"));
    QVERIFY(list);
    QWidget* askedOver = nullptr;
    whenModal([&](QWidget* modal) {
        askedOver = modal->parentWidget();
        if (auto* dialog = qobject_cast<QInputDialog*>(modal)) dialog->setTextValue(here(typed));
        static_cast<QDialog*>(modal)->accept();
    });
    focusField(*form, list);
    QTest::keyClick(list, Qt::Key_End); // the last item asks for the name
    QCOMPARE(askedOver, form.get());
    QCOMPARE(list->text(), here(chosen));
    QCOMPARE(Infos.size(), typed.trimmed() == chosen ? 0 : 1);
    QVERIFY2(list->itemData(list->currentIndex(), Qt::ToolTipRole).toString().contains(here(tip)),
             qPrintable(list->itemData(list->currentIndex(), Qt::ToolTipRole).toString()));
    // Opening the list looks for the ports again; the choice stays.
    list->showPopup();
    list->hidePopup();
    QCOMPARE(list->text(), here(chosen));

    leaveToDevicePageByClick(*form);
    QByteArray file = line1 + kDefaultFile.mid(1); // the other seven lines as ever
    if (line1 == "-1") file += here(chosen).toUtf8() + "\r\n";
    QCOMPARE(readAll(cfgPath()), file);

    form.reset();
    auto fresh = openWindow();
    QVERIFY(fresh);
    QCOMPARE(ui.PortNr->text(), here(chosen));
    QVERIFY(Errors.isEmpty());
}

// A file without a usable ninth line leaves the port list without a choice,
// as an eight-line reader would.
void TestMonitorSettings::portLineOfTheFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("info");
    const QByteArray rest("3\r\n0\r\n0\r\n0\r\n  1\r\n1000\r\n1000\r\n");
    QTest::newRow("eight lines, -1") << "-1\r\n" + rest << "";
    QTest::newRow("ninth line no port") << "-1\r\n" + rest + "ttyUSB3\r\n"
                                        << "wiersz 9: \"ttyUSB3\" nie jest nazwą portu ani adresem bramki.";
}

void TestMonitorSettings::portLineOfTheFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, info);
    writeFile(cfgPath(), bytes);
    auto form = openWindow();
    QVERIFY(form);
    QCOMPARE(ui.PortNr->currentIndex(), -1);
    QCOMPARE(Infos.size(), info.isEmpty() ? 0 : 1);
    if (!info.isEmpty()) QVERIFY2(Infos[0].contains(info), qPrintable(Infos[0]));
    QVERIFY(Errors.isEmpty());
}

// The ports listed after the twelve: what COM1 ... COM12 reach goes, by its
// name or by the device behind it; a by-id link stays beside its device.
void TestMonitorSettings::portsTheTwelveDoNotReach() {
    const std::string com1 = modbus::ResolvePortName("COM1"), com2 = modbus::ResolvePortName("COM2");
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3B7Q-if00-port0";
    const std::vector<platform::SerialPortInfo> present = {
        {com1, com1, "serial8250", "", "", ""},
        {"/dev/ttyS12", "/dev/ttyS12", "serial8250", "", "", ""},
        {"/dev/ttyUSB0", "/dev/ttyUSB0", "ftdi_sio", "FTDI", "FT232R USB UART", "A10K3B7Q"},
        {byId, "/dev/ttyUSB0", "ftdi_sio", "FTDI", "FT232R USB UART", "A10K3B7Q"},
        {"/dev/serial/by-id/pci-board-port1", com2, "serial8250", "", "", ""},
        {"COM3", "COM3", "", "", "", ""},
        {"COM14", "COM14", "", "Silicon Labs", "Silicon Labs CP210x USB to UART Bridge", "0001"},
        {"COM14", "COM14", "", "", "", ""},
    };
    QStringList listed;
    for (const monitor::PortEntry& entry : monitor::PortsBeyondTheTwelve(present))
        listed << entry.Name + QStringLiteral(" | ") + entry.About;
    const QString ftdi = QStringLiteral("FTDI FT232R USB UART, nr seryjny A10K3B7Q, sterownik ftdi_sio");
    QCOMPARE(listed, QStringList({"/dev/ttyS12 | sterownik serial8250", "/dev/ttyUSB0 | " + ftdi,
                                  QString::fromStdString(byId) + " | " + ftdi,
                                  "COM14 | Silicon Labs CP210x USB to UART Bridge, nr seryjny 0001"}));
}

// The port in use is not probed under another of its names either.
void TestMonitorSettings::namesOfOneDevice() {
#ifdef Q_OS_WIN
    QSKIP("links to devices are made on POSIX systems");
#else
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), QStringLiteral("COM1")));
    QVERIFY(QFile::link(Dir->filePath(QStringLiteral("COM1")), Dir->filePath(QStringLiteral("by-id"))));
    const std::string byId = Dir->filePath(QStringLiteral("by-id")).toStdString();
    QVERIFY(monitor::SameDevice("COM1", byId));
    QVERIFY(!monitor::SameDevice(byId, "/dev/zero"));
    QVERIFY(!monitor::SameDevice("ttyUSB3", "ttyUSB3")); // no port at all
#endif
}

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_settings.moc"
