// The archive download through the window, offscreen, against the
// wire-timed simulator with pacing off (scan period 0):
//  1. the whole archive, 4 x 3225 records, at 115200 bit/s;
//  2. 500 records at 9600 bit/s;
// each against its wire-time limit (request 12 + reply 29 characters of 11
// bits per record), and the peak memory of the process.
// Usage: bench_archive [RECORDS_AT_115200]
#include "app/Application.h"
#include "bench/BenchSim.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "monitor/DZakoncz.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"

#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {
struct Run {
    double seconds = 0;
    size_t lines = 0;
    int64_t requests = 0;
};

Run download(uint32_t baud, int records) {
    QTemporaryDir dir;
    // The whole archive: no end record, the last of file 4 ends it.
    const auto sim = StartBenchSim(dir, baud, records);
    Run run;
    modbus::Link meters; // outlives the window, and waits for its last worker
    {
        monitor::Dialogs dialogs; // the window's boxes: the download's end quits the loop below
        TForm1 form(meters, dialogs);
        TOKBottomDlg2 dialog(&form);
        form.setDialogs(nullptr, &dialog);
        form.show(); // loads the settings: the defaults, in this empty folder
        auto* speed = form.findChild<monitor::DropDownBox*>(QStringLiteral("Speed"));
        speed->setItemIndex(speed->findText(QString::number(baud)));
        form.findChild<QLineEdit*>(QStringLiteral("Period"))->setText(QStringLiteral("0"));
        QEventLoop loop;
        dialogs.SetInformationFunction([&loop](const QString&) { loop.quit(); });
        const auto start = std::chrono::steady_clock::now();
        form.findChild<QPushButton*>(QStringLiteral("Button5"))->click();
        const QString error = static_cast<monitor::ExportHost&>(form).CreateExportFile(
            dir.filePath(QStringLiteral("bench.csv")));
        if (!error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            std::exit(1);
        }
        loop.exec();
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.lines = form.archiveCycle().lineCount();
        run.requests = static_cast<int64_t>(sim->RequestsSeen());
    }
    return run;
}

void report(const char* what, uint32_t baud, const Run& run) {
    const double limit = double(run.requests) * (12 + 29) * 11 / baud;
    std::printf("%s at %u bit/s: %zu lines, %lld requests in %.1f s, wire limit %.1f s, ratio %.2f\n", what,
                baud, run.lines, static_cast<long long>(run.requests), run.seconds, limit,
                run.seconds / limit);
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    const int whole = argc > 1 ? std::atoi(argv[1]) : vqtsim::kArchiveSlots;
    report("whole archive", 115200, download(115200, whole));
    report("500 records", 9600, download(9600, 499));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory of the process: %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
