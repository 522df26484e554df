// The whole window, offscreen, on COM1 of its working folder, for the runs
// that set the Windows window beside the Linux one (tst_monitor_wine and
// bench_monitor_wine start it, with the meter on their side):
//   window_run export FILE BAUD   downloads the archive into FILE; prints
//                                 "SECONDS LINES"
//   window_run poll SECONDS       connected at the defaults for that long
//   window_run idle SECONDS       shown, not connected
// The same source for both systems: Qt alone, no system call.
#include "app/Application.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "monitor/DZakoncz.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
int Export(TForm1& form, monitor::Dialogs& dialogs, const QString& file, const QString& baud) {
    auto* speed = form.findChild<monitor::DropDownBox*>(QStringLiteral("Speed"));
    speed->setItemIndex(speed->findText(baud));
    form.findChild<QLineEdit*>(QStringLiteral("Period"))->setText(QStringLiteral("0"));
    QEventLoop loop;
    dialogs.SetInformationFunction([&loop](const QString&) { loop.quit(); });
    const auto start = std::chrono::steady_clock::now();
    form.findChild<QPushButton*>(QStringLiteral("Button5"))->click();
    const QString error = static_cast<monitor::ExportHost&>(form).CreateExportFile(file);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    loop.exec();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %zu\n", seconds, form.archiveCycle().lineCount());
    return 0;
}

void Wait(int seconds) {
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

int main(int argc, char** argv) {
    monitor::Dialogs dialogs; // of the application and its window, as the program's main makes them
    Application app(argc, argv, dialogs);
    // From the mode on: Qt may leave its own options in the list on Windows.
    QStringList args = app.arguments();
    while (args.size() > 1 && !QStringList{"export", "poll", "idle"}.contains(args[1])) args.removeAt(1);
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: window_run export FILE BAUD | poll SECONDS | idle SECONDS\n");
        return 2;
    }
    int rc = 0;
    modbus::Link meters; // outlives the window: it waits for the last worker
    {
        TForm1 form(meters, dialogs);
        TOKBottomDlg2 dialog(&form);
        form.setDialogs(nullptr, &dialog);
        form.show(); // the settings of the working folder: the defaults in an empty one
        dialogs.SetErrorFunction([&rc](const QString& text) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
            rc = 1;
        });
        if (args[1] == QLatin1String("export") && args.size() > 3) {
            rc = Export(form, dialogs, args[2], args[3]);
        } else if (args[1] == QLatin1String("poll")) {
            QPushButton* connectButton = form.findChild<QPushButton*>(QStringLiteral("Button4"));
            connectButton->click();
            Wait(args[2].toInt());
            std::printf("%lld good, %lld bad\n", static_cast<long long>(form.link().GoodReplies),
                        static_cast<long long>(form.link().BadReplies));
            connectButton->click();
        } else {
            Wait(args[2].toInt());
        }
        std::fflush(stdout);
    }
    return rc;
}
