// Not a test: grabs the four pages of the main window, connected to the
// simulated meter with the trace on (the chart after some more reads), then
// the export window and a download in progress, into PNG files, for looking
// at the layout (run under a real display server, e.g. xvfb-run).
// Usage: monitor_screenshots OUTPUT_DIRECTORY [WIDTHxHEIGHT]
// (the window's size, by default its smallest).
#include "Form1Controls.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "monitor/DZakoncz.h"
#include "monitor/Unit1.h"
#include "monitor/Unit2.h"
#include "sim/Simulator.h"

#include <QDir>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    Application app(argc, argv);
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

    TForm1 form(meters);
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
    TForm2 form2(form);
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
    return 0;
}
