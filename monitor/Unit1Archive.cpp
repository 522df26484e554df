// TForm1: the archive download. The cycle decides; these handlers and the
// window side carry it out.
#include "monitor/Unit1.h"

#include "monitor/Convert.h"
#include "monitor/DPlik.h"
#include "monitor/DZakoncz.h"
#include "monitor/Dialogs.h"
#include "monitor/Messages.h"
#include "monitor/StatusLabels.h"
#include "monitor/Unit1Views.h"

#include "core/Progress.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <initializer_list>
#include <mutex>

// Opens the export window, or stops a running archive download.
void TForm1::Button5Click() {
    Archive->ArchiveButton();
    followPoll();
    followArchive();
}

// One tick of the archive cycle.
void TForm1::Timer3Timer() {
    Archive->Wake();
    followArchive();
}

// End of the pacing between archive requests: starts the next request.
void TForm1::Timer4Timer() {
    Archive->Wake();
    followArchive();
}

void TForm1::followArchive() {
    const std::optional<int64_t> next = Archive->NextWakeMs();
    follow(next, Archive->state() == core::ArchiveCycle::State::Pacing, *Timer3, *Timer4, ArchiveWake,
           next ? ArchiveView->MsUntil(*next) : 0);
}

void TForm1::DisableSettingControls() {
    setSettingControlsEnabled(false);
}

void TForm1::EnableSettingControls() {
    setSettingControlsEnabled(true);
}

void TForm1::setSettingControlsEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             ComboBox2, ComboBox3, ComboBox4, ComboBox5, ComboBox6, ComboBox7, ComboBox9, ComboBox10, Edit8,
             MaskEdit4, MaskEdit5, Button4, Button1, Button2})
        control->setEnabled(enabled);
}

QString TForm1::CreateExportFile(const QString& path) {
    const platform::Outcome started = Archive->CreateExportFile(path.toStdString());
    followArchive();
    return QString::fromStdString(started.error);
}

QString TForm1::OpenExportFileForUpdate(const QString& path) {
    const platform::Outcome started = Archive->OpenExportFileForUpdate(path.toStdString());
    followArchive();
    return QString::fromStdString(started.error);
}

void TForm1::ExportWindowHidden() {
    Archive->ExportWindowHidden();
}

QString TForm1::AddressText() const {
    return MaskEdit6->text();
}

QRect TForm1::MainFrame() const {
    return frameGeometry();
}

bool TForm1::AskAboutFile(const QString& question) {
    return Dialogs.Ask(OKBottomDlg1, question);
}

void TForm1::setDialogs(TOKBottomDlg1* fileQuestion, TOKBottomDlg2* stopQuestion) {
    OKBottomDlg1 = fileQuestion;
    OKBottomDlg2 = stopQuestion;
}

void TForm1::setExportWindow(QWidget* exportWindow) {
    Form2 = exportWindow;
}

// --- what the archive cycle asks of the window ---

struct TForm1::ArchiveWindow::Notifier {
    std::mutex mutex;
    TForm1* form = nullptr; // under the mutex; cleared before the window goes
};

TForm1::ArchiveWindow::ArchiveWindow(TForm1& form) : CycleWindow(form), Notify(std::make_shared<Notifier>()) {
    Notify->form = &form;
}

TForm1::ArchiveWindow::~ArchiveWindow() {
    // A worker still running may call in later: it must find nobody.
    std::lock_guard lock(Notify->mutex);
    Notify->form = nullptr;
}

std::function<void()> TForm1::ArchiveWindow::CompletionNotifier() {
    return [notify = Notify] {
        std::lock_guard lock(notify->mutex);
        TForm1* form = notify->form;
        if (!form) return;
        // Runs on the window's thread as an early tick; dropped if the window
        // is destroyed before it gets there.
        QMetaObject::invokeMethod(
            form, [form] { form->Dialogs.Guarded([form] { form->Timer3Timer(); }); }, Qt::QueuedConnection);
    };
}

void TForm1::ArchiveWindow::SetArchiveCaption(const std::string& caption) {
    Form.Button5->setText(QString::fromStdString(caption));
}

void TForm1::ArchiveWindow::SetSettingControlsEnabled(bool enabled) {
    if (enabled)
        Form.EnableSettingControls();
    else
        Form.DisableSettingControls();
}

void TForm1::ArchiveWindow::ShowExportWindow() {
    if (!Form.Form2) return;
    Form.Form2->show();
    Form.Form2->raise();
    Form.Form2->activateWindow();
}

bool TForm1::ArchiveWindow::Ask(const std::string& question) {
    return Form.Dialogs.Ask(Form.OKBottomDlg2, QString::fromStdString(question));
}

void TForm1::ArchiveWindow::CancelQuestion() {
    if (Form.OKBottomDlg2 && Form.OKBottomDlg2->isVisible()) Form.OKBottomDlg2->reject();
}

void TForm1::ArchiveWindow::ShowInformation(const std::string& text) {
    if (text != core::kArchiveSavedText) {
        Form.Dialogs.ShowInformation(QString::fromStdString(text));
        return;
    }
    // Which file and how many records, under the message and in the status bar.
    const std::string& path = OtherFile.empty() ? Form.Archive->exportFileName() : OtherFile;
    const QString shown = QDir::toNativeSeparators(QString::fromStdString(path));
    const size_t records = Form.Archive->lineCount();
    Form.Notes.Saved = core::SavedText(shown.toStdString(), records);
    Form.showDetails();
    Form.exportWritten(QString::fromStdString(path));
    // In the box the path has a line of its own, broken only after a separator.
    Form.Dialogs.ShowInformation(
        QString::fromStdString(text),
        QString::fromStdString(core::SavedText(monitor::UnbrokenPath(shown).toStdString(), records, "\n")));
}

std::optional<int> TForm1::ArchiveWindow::ArchivePeriodCode() {
    if (!Form.Poll->HasRead) return std::nullopt;
    return Form.Poll->Cached.ArchivePeriodIndex;
}

int64_t TForm1::ArchiveWindow::LocalMinuteNow() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return core::CivilMinute(d.year(), d.month(), d.day(), t.hour(), t.minute());
}

void TForm1::ArchiveWindow::ShowProgress(const core::DownloadProgress& progress) {
    // A narrow bar with its text beside it; what its tooltip says is on the
    // line too, for those who do not hover.
    QProgressBar* bar = Form.ArchiveProgress;
    bar->setVisible(progress.Running);
    Form.ArchiveProgressText->setVisible(progress.Running);
    if (!progress.Running) {
        Form.Notes.Download.clear();
        Form.DetailsTip.clear();
        Form.showDetails();
        return;
    }
    OtherFile.clear();
    const std::string separator = QLocale().decimalPoint().toStdString();
    const std::optional<int> left = progress.Estimate.RecordsLeft;
    // Without an estimate the bar says only what is known: no share of a guess.
    bar->setRange(0, left ? std::max(1, progress.RecordsRead + *left) : 1);
    bar->setValue(left ? progress.RecordsRead : 0);
    const QString sentence = QString::fromStdString(core::ProgressSentence(progress, separator));
    Form.ArchiveProgressText->setText(QString::fromStdString(core::ProgressBarText(progress)));
    Form.ArchiveProgressText->setToolTip(sentence);
    bar->setToolTip(sentence);
    Form.Notes.Download = core::ProgressDetails(progress, separator);
    Form.Notes.Saved.clear();
    Form.DetailsTip = sentence;
    Form.showDetails();
}

std::string TForm1::ArchiveWindow::ChooseOtherFile(const std::string& error) {
    Form.Dialogs.ShowError(QString::fromStdString(error));
    if (!Form.Dialogs.Ask(Form.OKBottomDlg2, QStringLiteral("Zapisać odczytane dane do innego pliku ?")))
        return {};
    QFileDialog dialog(&Form, QStringLiteral("Podaj plik do zapisu"), QDir::currentPath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    OtherFile = Form.Dialogs.ExecuteFileDialog(&dialog).toStdString();
    return OtherFile;
}
