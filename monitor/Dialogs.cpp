#include "monitor/Dialogs.h"

#include "monitor/Messages.h"
#include "monitor/OKBottomDlg.h"

#include <QApplication>
#include <QFileDialog>

#include <cstdio>

namespace monitor {

Dialogs::Dialogs() = default;
Dialogs::~Dialogs() = default;

bool Dialogs::waitForOpenWindow() {
    auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!open) return false;
    if (!Waiter) Waiter = std::make_unique<QObject>();
    QObject::connect(
        open, &QDialog::finished, Waiter.get(), [this] { showWaitingBoxes(); },
        static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
    return true;
}

void Dialogs::showWaitingBoxes() {
    while (!WaitingBoxes.empty()) {
        if (waitForOpenWindow()) return;
        const WaitingBox next = WaitingBoxes.front();
        WaitingBoxes.pop_front();
        QMessageBox box(next.icon, QCoreApplication::applicationName(), next.text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.setWindowModality(Qt::ApplicationModal);
        box.setInformativeText(next.details);
        OpenOver(&box);
        box.exec();
    }
}

void Dialogs::showBox(QMessageBox::Icon icon, const QString& text, const QString& details) {
    const bool showing = !WaitingBoxes.empty();
    WaitingBoxes.push_back({icon, text, details});
    if (!showing) showWaitingBoxes();
}

void Dialogs::ShowInformation(const QString& text, const QString& details) {
    if (InformationBox)
        InformationBox(text);
    else
        showBox(QMessageBox::Information, text, details);
}

void Dialogs::ShowError(const QString& text) {
    if (ErrorBox)
        ErrorBox(text);
    else
        showBox(QMessageBox::Critical, text);
}

MessageFunction Dialogs::SetInformationFunction(MessageFunction function) {
    return std::exchange(InformationBox, std::move(function));
}

MessageFunction Dialogs::SetErrorFunction(MessageFunction function) {
    return std::exchange(ErrorBox, std::move(function));
}

QString Dialogs::ExecuteFileDialog(QFileDialog* dialog) {
    OpenOver(dialog); // first: new window flags would take the place away
    CenterOnOwner(dialog);
    if (FileDialog) return FileDialog(dialog);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
}

FileDialogFunction Dialogs::SetFileDialogFunction(FileDialogFunction function) {
    return std::exchange(FileDialog, std::move(function));
}

bool Dialogs::Ask(TOKBottomDlg* dialog, const QString& question) {
    if (Question) return Question(dialog, question);
    dialog->SetQuestion(question);
    // The dialogs belong to the main window, but the export window asks too.
    OpenOver(dialog);
    return dialog->ShowModal() == ModalResult::Ok;
}

QuestionFunction Dialogs::SetQuestionFunction(QuestionFunction function) {
    return std::exchange(Question, std::move(function));
}

void Dialogs::ReportCurrentException() noexcept {
    try {
        ShowError(CurrentExceptionText());
    } catch (...) {
        // The box itself failed (out of memory): nothing more can be shown.
        std::fputs("VQT540: an error could not be shown\n", stderr);
    }
}

} // namespace monitor
