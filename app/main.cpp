// VQT540 monitor: creates the windows and runs the message loop.
#include "Application.h"
#include "DPlik.h"
#include "DZakoncz.h"
#include "Modbus.h"
#include "Unit1.h"
#include "Unit2.h"

#include <chrono>

int main(int argc, char** argv) {
    Application app(argc, argv);
    int result = 0;
    {
        TForm1 form;
        TOKBottomDlg1 dialog1(&form);
        TOKBottomDlg2 dialog2(&form);
        form.OKBottomDlg1 = &dialog1;
        form.OKBottomDlg2 = &dialog2;
        TForm2 form2(form);
        form.Form2 = &form2;
        form.show();
        result = app.exec();
    }
    // Closing the window released the last worker; give it a moment to
    // close its port and end, so that no thread outlives the program.
    modbus::ModbusRead::WaitForAllWorkers(std::chrono::milliseconds(2000));
    return result;
}
