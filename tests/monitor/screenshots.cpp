// Not a test: grabs the four pages of the main window, connected to the
// simulated meter with the trace on (the chart after some more reads), then
// the export window, a download in progress and the consumption report of
// seven weeks of records with its PDF pages, into PNG files, for looking at the layout (run
// under a real display server, e.g. xvfb-run).
// Usage: monitor_screenshots OUTPUT_DIRECTORY [WIDTHxHEIGHT]
// (the window's size, by default its smallest).
#include "Form1Controls.h"
#include "app/Application.h"
#include "core/Consumption.h"
#include "core/ExportFile.h"
#include "core/ExportReader.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "model/Cp1250.h"
#include "monitor/DZakoncz.h"
#include "monitor/Dialogs.h"
#include "monitor/ReportPdf.h"
#include "monitor/ReportWindow.h"
#include "monitor/Unit1.h"
#include "monitor/Unit2.h"
#include "sim/Simulator.h"

#include <QDir>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <QDate>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

// Seven weeks of hourly records: a working day's draw, quieter weekends, a
// little backflow at night, two days without records, a totaliser reset and
// a few power losses.
QByteArray SampleExport() {
    std::vector<std::string> lines;
    double forward = 1520.0, reverse = 12.0;
    const QDate first(2024, 3, 1);
    for (int h = 0; h < 49 * 24; ++h) {
        const QDate day = first.addDays(h / 24);
        const int hour = h % 24;
        const bool weekend = day.dayOfWeek() >= 6;
        const double flow = (hour >= 6 && hour < 22 ? (weekend ? 0.8 : 2.2) : 0.3) +
                            0.4 * std::sin(h * 0.7) * std::sin(h * 0.13);
        forward += std::max(0.0, flow);
        if (hour == 3 && day.day() % 3 == 0) reverse += 0.6;
        if (day == QDate(2024, 4, 5) && hour == 12) forward = 0.0;
        if (day >= QDate(2024, 3, 18) && day <= QDate(2024, 3, 19)) continue;
        const bool powerLoss =
            (day == QDate(2024, 3, 11) && hour == 2) || (day == QDate(2024, 4, 9) && hour == 4);
        const QString line =
            QStringLiteral("%1;%2:00:00;%3;%4 [m3];%5 [m3];%6")
                .arg(day.toString(QStringLiteral("yyyy-MM-dd")))
                .arg(hour, 2, 10, QLatin1Char('0'))
                .arg(QString::number(flow, 'f', 3).replace(QLatin1Char('.'), QLatin1Char(',')))
                .arg(QString::number(forward, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')))
                .arg(QString::number(reverse, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')))
                .arg(powerLoss ? QStringLiteral("Zanik napięcia zasilania") : QString());
        lines.push_back(model::Utf8ToCp1250(line.toStdString()));
    }
    return QByteArray::fromStdString(core::ExportHeader() + "\r\n" + core::NumberedLines(lines, 0));
}

// The report's pages as its PDF has them, drawn on A4 images at 150 dpi
// with the PDF's margins: the first page of each month.
bool SavePdfPages(const QString& exportPath, const QString& output) {
    QFile file(exportPath);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const core::ExportRead read = core::ReadExport(file.readAll().toStdString());
    const core::ConsumptionReport report = core::MakeConsumptionReport(read, core::PeriodKind::Day);
    constexpr double kDpi = 150, kMm = kDpi / 25.4;
    QImage page(QSize(int(210 * kMm), int(297 * kMm)), QImage::Format_RGB32);
    page.setDotsPerMeterX(int(kDpi / 0.0254));
    page.setDotsPerMeterY(int(kDpi / 0.0254));
    page.fill(Qt::white);
    int number = 0;
    bool ok = true;
    const auto save = [&] {
        const QString shot = output + QStringLiteral("/report-pdf-page%1.png").arg(++number);
        ok = ok && page.save(shot);
        std::printf("%s\n", qPrintable(shot));
        page.fill(Qt::white);
    };
    {
        QPainter painter(&page);
        const QRectF area(0, 0, (210 - 30) * kMm, (297 - 24) * kMm);
        painter.translate(15 * kMm, 12 * kMm);
        monitor::ReportPdfHeader header{QStringLiteral("1"), QStringLiteral("2.15"), QStringLiteral("50"),
                                        QFileInfo(exportPath).fileName(), QDateTime::currentDateTime()};
        monitor::DrawReportPages(painter, area, save, report, header);
    }
    save();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    monitor::Dialogs dialogs; // of the application and its windows, as the program's main makes them
    Application app(argc, argv, dialogs);
    QSize size;
    if (argc == 3) {
        const QStringList parts = QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x'));
        if (parts.size() == 2) size = QSize(parts[0].toInt(), parts[1].toInt());
    }
    if (argc < 2 || argc > 3 || (argc == 3 && size.isEmpty())) {
        std::fputs("usage: monitor_screenshots OUTPUT_DIRECTORY [WIDTHxHEIGHT]\n", stderr);
        return 2;
    }
    const QString output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    QTemporaryDir work; // no settings file: the defaults are shown
    QDir::setCurrent(work.path());

    vqtsim::Options options;
    options.linkDir = work.path().toStdString();
    options.archiveRecords = 2000;
    vqtsim::Simulator sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "simulator: %s\n", sim.Error().c_str());
        return 1;
    }

    modbus::Link meters;

    TForm1 form(meters, dialogs);
    if (size.isValid()) form.resize(size);
    form.show();
    const Form1Controls ui(form);
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    form.activateWindow(); // the focus, and its ring, only in the active window
    if (!QTest::qWaitForWindowActive(&form)) return 1;
    ui.Button3->click(); // trace on
    ui.Button4->click(); // connect
    QTest::qWait(3500);
    const struct {
        QWidget* page;
        const char* name;
    } pages[] = {{ui.TabSheet3, "screenshot-device.png"},
                 {ui.TabSheet2, "screenshot-comm.png"},
                 {ui.TabSheet1, "screenshot-diag.png"}};
    for (const auto& page : pages) {
        ui.PageControl1->setCurrentWidget(page.page);
        // The focus ring where a user tabbing across the page would see it.
        if (page.page == ui.TabSheet3) ui.Button1->setFocus(Qt::TabFocusReason);
        QTest::qWait(200);
        const QString path = output + QLatin1Char('/') + QLatin1String(page.name);
        if (!form.grab().save(path)) return 1;
        std::printf("%s\n", qPrintable(path));
    }
    // The chart in l/h: the meter's flow unit changed, the curve redrawn in it.
    sim.SetRegister(2, static_cast<uint16_t>(sim.Registers()[1] & ~0x0003u));
    ui.PageControl1->setCurrentWidget(ui.TabSheet4);
    QTest::qWait(12000);
    const QString chartShot = output + QStringLiteral("/screenshot-chart.png");
    if (!form.grab().save(chartShot)) return 1;
    std::printf("%s\n", qPrintable(chartShot));
    ui.Button4->click();

    // The export window, and a download in progress seen on the device page.
    TOKBottomDlg2 dialog(&form);
    form.setDialogs(nullptr, &dialog);
    TForm2 form2(form, dialogs);
    form.setExportWindow(&form2);
    ui.Button5->click();
    QTest::qWait(300);
    const QString exportShot = output + QStringLiteral("/screenshot-export.png");
    if (!form2.grab().save(exportShot)) return 1;
    std::printf("%s\n", qPrintable(exportShot));
    const QString error = static_cast<monitor::ExportHost&>(form).CreateExportFile(
        work.filePath(QStringLiteral("VQT540_nr  1_1.csv")));
    if (!error.isEmpty()) return 1;
    form2.hide();
    ui.PageControl1->setCurrentWidget(ui.TabSheet3);
    QTest::qWait(5000);
    const QString downloadShot = output + QStringLiteral("/screenshot-download.png");
    if (!form.grab().save(downloadShot)) return 1;
    std::printf("%s\n", qPrintable(downloadShot));
    form.setExportWindow(nullptr);
    form.releaseActiveRead();
    meters.WaitForWorkers();

    // The consumption report of a file chosen on the chart page, by days.
    const QString sample = work.filePath(QStringLiteral("VQT540_nr  1_marzec.csv"));
    QFile sampleFile(sample);
    if (!sampleFile.open(QIODevice::WriteOnly) || sampleFile.write(SampleExport()) < 0) return 1;
    sampleFile.close();
    dialogs.SetFileDialogFunction([sample](QFileDialog*) { return sample; });
    ui.PageControl1->setCurrentWidget(ui.TabSheet4);
    form.findChild<QPushButton*>(QStringLiteral("Button11"))->click();
    auto* report = form.findChild<TFormRaport*>();
    if (!report || !QTest::qWaitForWindowExposed(report)) return 1;
    QTest::qWait(500);
    const QString reportShot = output + QStringLiteral("/screenshot-report.png");
    if (!report->grab().save(reportShot)) return 1;
    std::printf("%s\n", qPrintable(reportShot));
    return SavePdfPages(sample, output) ? 0 : 1;
}
