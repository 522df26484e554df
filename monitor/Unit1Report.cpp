// TForm1: the consumption report, of the file the last download wrote or of
// one the user picks, in a window of its own.
#include "monitor/Unit1.h"

#include "monitor/Dialogs.h"
#include "monitor/Messages.h"
#include "monitor/Naming.h"
#include "monitor/ReportWindow.h"

#include <QBoxLayout>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

void TForm1::buildReportButtons(QBoxLayout* page) {
    Button12 = new QPushButton(QStringLiteral("Raport z pobranego archiwum"), TabSheet4);
    VQT_NAME(Button12);
    Button12->setEnabled(false); // until a download writes a file
    Button11 = new QPushButton(QStringLiteral("Raport zużycia z pliku…"), TabSheet4);
    VQT_NAME(Button11);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    for (QPushButton* button : {Button12, Button11}) {
        button->setMinimumWidth(std::max(150, button->sizeHint().width() + 12));
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    page->addLayout(buttons);
    connect(Button12, &QPushButton::clicked, this, [this] { Dialogs.Guarded([this] { Button12Click(); }); });
    connect(Button11, &QPushButton::clicked, this, [this] { Dialogs.Guarded([this] { Button11Click(); }); });
}

void TForm1::exportWritten(const QString& path) {
    LastExportPath = path;
    Button12->setEnabled(true);
    Button12->setToolTip(QDir::toNativeSeparators(path));
}

void TForm1::Button12Click() {
    if (!LastExportPath.isEmpty()) openReport(LastExportPath);
}

void TForm1::Button11Click() {
    QFileDialog dialog(this, QStringLiteral("Wybierz plik archiwum"), QDir::currentPath(),
                       QStringLiteral("Pliki archiwum (*.csv);;Wszystkie pliki (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString path = Dialogs.ExecuteFileDialog(&dialog);
    if (!path.isEmpty()) openReport(path);
}

void TForm1::openReport(const QString& path) {
    auto* report = new TFormRaport(Dialogs, this); // closed, it goes; with this window at the latest
    // The meter as the device page shows it after a good read.
    if (Poll->HasRead) report->setMeter(MaskEdit6->text().trimmed(), Edit1->text(), Edit2->text());
    if (!report->openFile(path)) {
        delete report;
        return;
    }
    monitor::OpenOver(report, this);
    monitor::CenterOnOwner(report);
    report->show();
}
