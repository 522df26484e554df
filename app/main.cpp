// VQT540 monitor: creates the windows and runs the message loop.
#include "app/Application.h"
#include "modbus/Link.h"
#include "monitor/DPlik.h"
#include "monitor/DZakoncz.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"
#include "monitor/Unit2.h"

#include <cstdio>
#include <cstring>

namespace {

// As the manual page says it, in short.
const char* const kUsage =
    "Usage: vqt540-monitor [--version | --help]\n"
    "The window \"VQT540 - Monitor\" for VQT540 flowmeters on a serial port or a gateway\n"
    "(MODBUS RTU master): the meter's parameters read over and over and its settings\n"
    "written, the communication settings and the search for the meter, the trace of\n"
    "every frame, the flow of the last minutes, and the archive downloaded into a\n"
    "semicolon-separated file. Its texts are Polish.\n"
    "\n"
    "Options:\n"
    "  --version   print the program's name and version and exit\n"
    "  -h, --help  print this help and exit\n"
    "Qt's own options, such as -platform NAME, are taken as by every Qt program.\n"
    "\n"
    "Files:\n"
#ifdef _WIN32
    "  VQT540.cfg  the communication settings, in the working directory\n"
#else
    "  ./VQT540.cfg             the communication settings, in the working directory\n"
    "  ./COM1 ... ./COM12       links to serial devices for those port names; without\n"
    "                           them the names stand for /dev/ttyS0 ... /dev/ttyS11\n"
    "\n"
    "See also: vqt540(1), vqt540-sim(1), man vqt540-monitor\n"
#endif
    ;

} // namespace

int main(int argc, char** argv) {
    // Before the application object, so that it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("vqt540-monitor " VQT_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    // Before the application object, whose error handler shows its errors
    // through them: the boxes, questions and file dialogs of every window.
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    int result = 0;
    // Declared first, so that it goes last: at its end it waits for the
    // worker the window released as it closed, to close its port.
    modbus::Link link;
    {
        TForm1 form(link, dialogs);
        TOKBottomDlg1 dialog1(&form);
        TOKBottomDlg2 dialog2(&form);
        form.setDialogs(&dialog1, &dialog2);
        TForm2 form2(form, dialogs);
        form.setExportWindow(&form2);
        form.show();
        result = app.exec();
    }
    return result;
}
