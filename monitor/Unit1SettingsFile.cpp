// TForm1: a meter's settings into a file (or its commissioning record, as
// text or PDF), and a file's settings into the meter: the differences shown
// first, "TAK" before anything is written, then one write per transaction
// through the polling cycle's slots, as the user's edits go.
#include "monitor/Unit1.h"

#include "monitor/DPlik.h"
#include "monitor/Dialogs.h"
#include "monitor/Messages.h"

#include "core/SettingsApply.h"
#include "core/SettingsFile.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string separator() {
    return QLocale().decimalPoint().toStdString();
}

[[noreturn]] void fileError(const QString& action, const QString& path, const QString& reason) {
    throw std::runtime_error(monitor::FileErrorText(action, path, reason).toStdString());
}

void saveBytes(const QString& path, const QByteArray& bytes) {
    // Written beside and renamed over: a failed write leaves an older file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        fileError(QStringLiteral("Zapis"), path, file.errorString());
}

// The record on A4 pages, in a fixed-pitch face so that its columns hold;
// made in memory and saved as the other files are, so that a failed write
// leaves an older record whole.
void savePdf(const QString& path, const QString& record) {
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&bytes);
        pdf.setTitle(QStringLiteral("Protokół uruchomienia przepływomierza VQT540"));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
        QPainter painter;
        if (!painter.begin(&pdf))
            fileError(QStringLiteral("Zapis"), path, QStringLiteral("nie można utworzyć pliku"));
        QFont font(QStringLiteral("Monospace"), 10);
        font.setStyleHint(QFont::TypeWriter);
        painter.setFont(font);
        const int line = painter.fontMetrics().lineSpacing();
        int y = line;
        for (const QString& text : record.split(QLatin1Char('\n'))) {
            if (y > painter.viewport().height() - line) {
                pdf.newPage();
                y = line;
            }
            painter.drawText(0, y, text);
            y += line;
        }
        if (!painter.end()) fileError(QStringLiteral("Zapis"), path, QStringLiteral("błąd zapisu PDF"));
    }
    saveBytes(path, bytes.data());
}

QString chooseFile(monitor::Dialogs& dialogs, QWidget* parent, QFileDialog::AcceptMode mode,
                   const QString& title, const QStringList& filters) {
    QFileDialog dialog(parent, title, QDir::currentPath());
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (mode == QFileDialog::AcceptSave) dialog.setDefaultSuffix(QStringLiteral("json"));
    return dialogs.ExecuteFileDialog(&dialog);
}

} // namespace

void TForm1::buildSettingsButtons(QLayout* panel) {
    Button9 = new QPushButton(QStringLiteral("Zapisz nastawy do pliku…"), Panel1);
    Button9->setObjectName(QStringLiteral("Button9"));
    Button9->setToolTip(QStringLiteral("Nastawy przepływomierza do pliku JSON, albo protokół uruchomienia "
                                       "(PDF lub tekst)"));
    Button10 = new QPushButton(QStringLiteral("Wczytaj nastawy z pliku…"), Panel1);
    Button10->setObjectName(QStringLiteral("Button10"));
    Button10->setToolTip(QStringLiteral("Nastawy z pliku do przepływomierza: najpierw pokazuje różnice"));
    panel->addWidget(Button9);
    panel->addWidget(Button10);
}

// The settings of the last good read, or its commissioning record.
void TForm1::Button9Click() {
    // Only values the page shows as the meter's now are saved as its settings.
    if (!SettingsReading || !Notes.Meter || !Notes.ValuesCurrent) {
        Dialogs.ShowInformation(
            QStringLiteral("Brak odczytu z przepływomierza: połącz się z nim, aby zapisać "
                           "jego nastawy."));
        return;
    }
    const QString path =
        chooseFile(Dialogs, this, QFileDialog::AcceptSave, QStringLiteral("Zapisz nastawy do pliku"),
                   {QStringLiteral("Nastawy przepływomierza (*.json)"),
                    QStringLiteral("Protokół uruchomienia PDF (*.pdf)"),
                    QStringLiteral("Protokół uruchomienia, tekst (*.txt)")});
    if (path.isEmpty()) return;
    const core::SettingsFile file =
        core::FileFromReading(*SettingsReading, Notes.Meter->DeviceAddress, Notes.Meter->PortName,
                              QDateTime::currentDateTime()
                                  .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                                  .toString(Qt::ISODateWithMs)
                                  .toStdString());
    const QString record = q(core::CommissioningRecord(file, separator()));
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        savePdf(path, record);
    else if (path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive))
        saveBytes(path, record.toUtf8());
    else
        saveBytes(path, QByteArray::fromStdString(core::SettingsJson(file, separator())));
}

// A file's settings into the meter, after the user has seen what changes.
void TForm1::Button10Click() {
    if (SettingsLoad) {
        Dialogs.ShowInformation(QStringLiteral("Nastawy z pliku są właśnie zapisywane."));
        return;
    }
    if (!Poll->Connected() || !SettingsReading) {
        Dialogs.ShowInformation(
            QStringLiteral("Połącz się z przepływomierzem, aby wczytać do niego nastawy."));
        return;
    }
    const QString path = chooseFile(
        Dialogs, this, QFileDialog::AcceptOpen, QStringLiteral("Wczytaj nastawy z pliku"),
        {QStringLiteral("Nastawy przepływomierza (*.json)"), QStringLiteral("Wszystkie pliki (*)")});
    if (path.isEmpty()) return;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) fileError(QStringLiteral("Odczyt"), path, in.errorString());
    const platform::OrReason<core::SettingsFile> file = core::ReadSettingsJson(in.readAll().toStdString());
    if (!file) throw std::runtime_error(file.error);

    const core::SettingsPlan plan = core::PlanSettings(*file, *SettingsReading);
    QStringList lines;
    for (const core::SettingRow& row : plan.Rows)
        if (row.State != core::SettingRow::Outcome::AlreadyRight)
            lines << q(core::DifferenceLine(plan, row, separator()));
    if (plan.Writes.empty()) {
        Dialogs.ShowInformation(QStringLiteral("Przepływomierz ma już nastawy z pliku."), lines.join('\n'));
        return;
    }
    const QString question =
        QStringLiteral("Zmiany nastaw przepływomierza:\n\n%1\n\nZapisać je do przepływomierza?")
            .arg(lines.join(QLatin1Char('\n')));
    if (!Dialogs.Ask(OKBottomDlg1, question)) return;
    // Compared again with the next read: only what differs then is written.
    SettingsLoad = std::make_unique<core::SettingsApply>(*Poll, *file, false);
    settingsProgress();
}

void TForm1::settingsRead(const model::MeterReading& reading) {
    SettingsReading = reading;
    if (!SettingsLoad) return;
    SettingsLoad->Read(reading);
    settingsProgress();
}

void TForm1::settingsFailed(const std::string& result) {
    if (!SettingsLoad) return;
    SettingsLoad->Failed(result);
    settingsProgress();
}

void TForm1::settingsStopped(const std::string& why) {
    if (!SettingsLoad) return;
    SettingsLoad->Stop(why);
    settingsProgress();
}

// The status bar's second line while the writes run; at their end, what was
// and what was not taken, once the polling's handler has returned.
void TForm1::settingsProgress() {
    Notes.Settings = SettingsLoad ? SettingsLoad->ProgressText() : std::string();
    showDetails();
    if (!SettingsLoad || !SettingsLoad->Finished()) return;
    std::shared_ptr<core::SettingsApply> done(SettingsLoad.release());
    QTimer::singleShot(0, this, [this, done] {
        const core::SettingsPlan& plan = done->Plan();
        QStringList details, missed;
        for (const core::SettingRow& row : plan.Rows) {
            details << q(core::OutcomeText(plan, row, separator()));
            if (row.State != core::SettingRow::Outcome::AlreadyRight &&
                row.State != core::SettingRow::Outcome::Written &&
                row.State != core::SettingRow::Outcome::Mapped)
                missed << q(std::string(core::SettingLabel(row.Which)));
        }
        QString text = missed.isEmpty()
                           ? QStringLiteral("Nastawy z pliku zapisano do przepływomierza.")
                           : QStringLiteral("Nie przyjęto: %1.").arg(missed.join(QStringLiteral(", ")));
        if (!done->Stopped().empty()) text += QStringLiteral(" Przerwano: %1.").arg(q(done->Stopped()));
        Dialogs.ShowInformation(text, details.join(QLatin1Char('\n')));
    });
}
