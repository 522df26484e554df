// The consumption report window, opened from an export file as the user
// does it: its table, and the PDF and CSV it saves.
#include "WindowFixture.h"
#include "app/Application.h"
#include "core/ExportFile.h"
#include "model/Cp1250.h"
#include "monitor/ReportWindow.h"

#include <QComboBox>
#include <QFileDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

namespace {

// Hourly records from 2023-01-30 to 2023-02-02, 2 m3 a record; a power loss
// on 2023-02-01 at 10:00.
QByteArray ExportFile() {
    std::vector<std::string> lines;
    for (int h = 0; h < 96; ++h) {
        const QString line = QStringLiteral("2023-%1;%2:00:00;2,000;%3,0 [m3];0,0 [m3];%4")
                                 .arg(h < 48 ? QStringLiteral("01-%1").arg(30 + h / 24)
                                             : QStringLiteral("02-0%1").arg(h / 24 - 1))
                                 .arg(h % 24, 2, 10, QLatin1Char('0'))
                                 .arg(100 + 2 * h)
                                 .arg(h == 58 ? QStringLiteral("Zanik napięcia zasilania") : QString());
        lines.push_back(model::Utf8ToCp1250(line.toStdString()));
    }
    return QByteArray::fromStdString(core::ExportHeader() + "\r\n" + core::NumberedLines(lines, 0));
}

} // namespace

class TestMonitorReport : public QObject, WindowFixture {
    Q_OBJECT
private slots:
    void init() { setUp(); }
    void cleanup() {
        Dialogs.SetFileDialogFunction({});
        tearDown();
    }

    void opensFromAFileWithItsRows();
    void savesAPdfPageAMonth_data();
    void savesAPdfPageAMonth();

private:
    // The report of the test's export file, opened through "Raport zużycia z pliku…".
    TFormRaport* openReport(TForm1& form) {
        const QString path = Dir->filePath(QStringLiteral("VQT540_nr  1_1.csv"));
        writeFile(path, ExportFile());
        Dialogs.SetFileDialogFunction([path](QFileDialog*) { return path; });
        ui.PageControl1->setCurrentWidget(ui.TabSheet4);
        findControl<QPushButton>(form, "Button11")->click();
        auto* report = form.findChild<TFormRaport*>();
        return report && report->isVisible() ? report : nullptr;
    }
    static void choosePeriods(TFormRaport& report, int index) {
        auto* box = report.findChild<QComboBox*>(QStringLiteral("PeriodBox"));
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < index; ++i) QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(box->currentIndex(), index);
    }
};

void TestMonitorReport::opensFromAFileWithItsRows() {
    const auto form = openWindow();
    QVERIFY(form);
    TFormRaport* report = openReport(*form);
    QVERIFY(report);
    auto* table = report->findChild<QTableWidget*>(QStringLiteral("ReportTable"));
    QCOMPARE(table->rowCount(), 4); // days
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("2023-01-31"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("48,000")); // the locale's separator
    QCOMPARE(table->item(2, 7)->text(), QStringLiteral("Zanik napięcia zasilania: 1"));
    choosePeriods(*report, 2);
    QCOMPARE(table->rowCount(), 2); // months

    // The CSV is the core's, a line a month.
    const QString csv = Dir->filePath(QStringLiteral("raport.csv"));
    Dialogs.SetFileDialogFunction([csv](QFileDialog*) { return csv; });
    report->findChild<QPushButton*>(QStringLiteral("SaveCsvButton"))->click();
    QCOMPARE(readAll(csv).count("\r\n"), 3);
    QVERIFY(readAll(csv).startsWith("period,start,end,forward_m3"));
    // A PDF that cannot be written is told, with its path.
    Dialogs.SetFileDialogFunction([this](QFileDialog*) { return Dir->path(); });
    report->findChild<QPushButton*>(QStringLiteral("SavePdfButton"))->click();
    QCOMPARE(Errors.size(), 1);
    QVERIFY(Errors[0].contains(QDir::toNativeSeparators(Dir->path())));

    // A file with no record is told, and opens no second window.
    writeFile(Dir->filePath(QStringLiteral("pusty.csv")), "nie archiwum\r\n");
    Dialogs.SetFileDialogFunction(
        [this](QFileDialog*) { return Dir->filePath(QStringLiteral("pusty.csv")); });
    findControl<QPushButton>(*form, "Button11")->click();
    QCOMPARE(Errors.size(), 2);
    QVERIFY(Errors[1].contains(QStringLiteral("nie zawiera zapisów archiwum")));
    QCOMPARE(form->findChildren<TFormRaport*>().size(), 1);
}

void TestMonitorReport::savesAPdfPageAMonth_data() {
    QTest::addColumn<int>("periods");
    QTest::addColumn<int>("pages");
    QTest::newRow("days") << 1 << 2;
    QTest::newRow("months") << 2 << 2;
    // 48 rows of hours a month: a month's table runs on to a second page.
    QTest::newRow("hours") << 0 << 4;
}

void TestMonitorReport::savesAPdfPageAMonth() {
    QFETCH(int, periods);
    QFETCH(int, pages);
    const auto form = openWindow();
    QVERIFY(form);
    TFormRaport* report = openReport(*form);
    QVERIFY(report);
    choosePeriods(*report, periods);
    const QString pdf = Dir->filePath(QStringLiteral("raport.pdf"));
    Dialogs.SetFileDialogFunction([pdf](QFileDialog*) { return pdf; });
    report->findChild<QPushButton*>(QStringLiteral("SavePdfButton"))->click();
    QVERIFY(Errors.isEmpty());
    const QString written = QString::fromLatin1(readAll(pdf));
    QVERIFY(written.startsWith(QStringLiteral("%PDF-")));
    QCOMPARE(written.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))), pages);
}

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorReport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_report.moc"
