// VQT540 monitor: creates the windows and runs the message loop.
#include "app/Application.h"
#include "modbus/Link.h"
#include "monitor/DPlik.h"
#include "monitor/DZakoncz.h"
#include "monitor/Unit1.h"
#include "monitor/Unit2.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Before the application object, so that it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("vqt540-monitor " VQT_VERSION);
            return 0;
        }
    }
    Application app(argc, argv);
    int result = 0;
    // Declared first, so that it goes last: at its end it waits for the
    // worker the window released as it closed, to close its port.
    modbus::Link link;
    {
        TForm1 form(link);
        TOKBottomDlg1 dialog1(&form);
        TOKBottomDlg2 dialog2(&form);
        form.OKBottomDlg1 = &dialog1;
        form.OKBottomDlg2 = &dialog2;
        TForm2 form2(form);
        form.Form2 = &form2;
        form.show();
        result = app.exec();
    }
    return result;
}
