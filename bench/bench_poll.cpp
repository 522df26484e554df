// The whole window polling the wire-timed simulator, offscreen:
//  1. CPU share of one core at the defaults (9600 bit/s, scan period 1000 ms,
//     time-out 1000 ms) over 60 s (or the seconds given as argument 1);
//  2. the fastest polling (time-out 20 ms, scan period 0) at 115200 bit/s:
//     polls per second against the wire-time limit.
// Usage: bench_poll [SECONDS [defaults]]
#include "app/Application.h"
#include "bench/BenchSim.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"

#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <sys/resource.h>

namespace {
double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    int64_t good = 0;
    int64_t bad = 0;
    double seconds = 0;
    double cpuShare = 0; // of one core, the simulator's own thread left out
};

Run poll(uint32_t baud, const char* timeout, const char* period, int seconds, bool connect = true) {
    QTemporaryDir dir;
    const auto sim = StartBenchSim(dir, baud);
    Run run;
    modbus::Link meters; // outlives the window, and waits for its last worker
    {
        monitor::Dialogs dialogs; // the window's real boxes
        TForm1 form(meters, dialogs);
        form.show();
        if (!QTest::qWaitForWindowExposed(&form)) std::fputs("window not exposed\n", stderr);
        auto* speed = form.findChild<monitor::DropDownBox*>(QStringLiteral("Speed"));
        speed->setItemIndex(speed->findText(QString::number(baud)));
        form.findChild<QLineEdit*>(QStringLiteral("MaskEdit1"))->setText(QString::fromLatin1(timeout));
        QMetaObject::invokeMethod(&form, "MaskEdit1Exit"); // as leaving the field does
        form.findChild<QLineEdit*>(QStringLiteral("Period"))->setText(QString::fromLatin1(period));
        QPushButton* connectButton = form.findChild<QPushButton*>(QStringLiteral("Button4"));

        const auto start = std::chrono::steady_clock::now();
        const double cpu0 = processCpuSeconds();
        const auto sim0 = sim->ServingCpuTime();
        if (connect) connectButton->click();
        // A plain event loop, as the program runs: QTest::qWait would wake 100 times a second.
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        run.good = form.link().GoodReplies;
        run.bad = form.link().BadReplies;
        if (connect) connectButton->click();
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double simCpu = std::chrono::duration<double>(sim->ServingCpuTime() - sim0).count();
        run.cpuShare = (processCpuSeconds() - cpu0 - simCpu) / run.seconds;
    }
    return run;
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const bool onlyDefaults = argc > 2 && std::string_view(argv[2]) == "defaults";

    const Run idle = poll(9600, "1000", "1000", seconds, false);
    std::printf("window not connected, %d s: CPU %.3f %% of one core\n", seconds, idle.cpuShare * 100.0);
    const Run slow = poll(9600, "1000", "1000", seconds);
    std::printf("defaults, 9600 bit/s, %d s: %lld good, %lld bad, CPU %.3f %% of one core\n", seconds,
                static_cast<long long>(slow.good), static_cast<long long>(slow.bad), slow.cpuShare * 100.0);

    if (onlyDefaults) return 0;
    const int fastSeconds = seconds < 10 ? seconds : 10;
    const Run fast = poll(115200, "20", "0", fastSeconds);
    const double limit = 115200.0 / (11.0 * (8 + 59)); // request + reply on the wire
    const double rate = double(fast.good) / fast.seconds;
    std::printf(
        "fastest, 115200 bit/s: %lld good, %lld bad, %.1f polls/s, wire-time limit %.1f/s, ratio %.2f, "
        "CPU %.1f %% of one core\n",
        static_cast<long long>(fast.good), static_cast<long long>(fast.bad), rate, limit, rate / limit,
        fast.cpuShare * 100.0);
    return 0;
}
