// The main window with its two dialogs and the export window, put together as
// the program does, for the tests that download through them. Their boxes,
// questions and file dialogs go through the test's own Dialogs object, which
// outlives them; the answers the test installs in it are taken away with the
// windows.
#pragma once

#include "Form1Controls.h"

#include "modbus/Link.h"
#include "monitor/DPlik.h"
#include "monitor/DZakoncz.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"
#include "monitor/Unit2.h"

#include <QLineEdit>

#include <memory>

struct ArchiveWindows {
    monitor::Dialogs& dialogs; // the test's, which outlives the windows
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TOKBottomDlg1> dlg1;
    std::unique_ptr<TOKBottomDlg2> dlg2;
    std::unique_ptr<TForm2> form2;
    Form1Controls ui; // the main window's

    // Shown, with a 100 ms reply time-out and no pacing between requests.
    ArchiveWindows(modbus::Link& meters, monitor::Dialogs& testDialogs)
        : dialogs(testDialogs), form(std::make_unique<TForm1>(meters, dialogs)),
          dlg1(std::make_unique<TOKBottomDlg1>(form.get())),
          dlg2(std::make_unique<TOKBottomDlg2>(form.get())), form2(std::make_unique<TForm2>(*form, dialogs)) {
        form->setDialogs(dlg1.get(), dlg2.get());
        form->setExportWindow(form2.get());
        form->show();
        ui = Form1Controls(*form);
        ui.MaskEdit1->setText(QStringLiteral("100"));
        ui.Period->setText(QStringLiteral("0"));
    }
    ~ArchiveWindows() {
        form->setExportWindow(nullptr);
        form2.reset();
        dlg2.reset(); // children of the window: before it
        dlg1.reset();
        form.reset();
        dialogs.SetQuestionFunction({});
        dialogs.SetFileDialogFunction({});
        dialogs.SetErrorFunction({});
        dialogs.SetInformationFunction({});
    }
    ArchiveWindows(const ArchiveWindows&) = delete;
    ArchiveWindows& operator=(const ArchiveWindows&) = delete;
};
