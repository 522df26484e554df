#include "Messages.h"

#include <FileIo.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include <cstdio>
#include <exception>

namespace monitor {

namespace {

MessageFunction& informationFunction() {
    static MessageFunction function;
    return function;
}

MessageFunction& errorFunction() {
    static MessageFunction function;
    return function;
}

FileDialogFunction& fileDialogFunction() {
    static FileDialogFunction function;
    return function;
}

void showBox(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace

void ShowInformation(const QString& text) {
    if (informationFunction())
        informationFunction()(text);
    else
        showBox(QMessageBox::Information, text);
}

void ShowError(const QString& text) {
    if (errorFunction())
        errorFunction()(text);
    else
        showBox(QMessageBox::Critical, text);
}

MessageFunction SetInformationFunction(MessageFunction function) {
    return std::exchange(informationFunction(), std::move(function));
}

MessageFunction SetErrorFunction(MessageFunction function) {
    return std::exchange(errorFunction(), std::move(function));
}

QString ExecuteFileDialog(QFileDialog* dialog) {
    if (fileDialogFunction()) return fileDialogFunction()(dialog);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
}

FileDialogFunction SetFileDialogFunction(FileDialogFunction function) {
    return std::exchange(fileDialogFunction(), std::move(function));
}

QString FileErrorText(const QString& action, const QString& path, const QString& reason) {
    return QString::fromStdString(model::FileErrorText(
        action.toStdString(), QDir::toNativeSeparators(path).toStdString(), reason.toStdString()));
}

QString CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Nieznany błąd.");
    }
}

void ReportCurrentException() noexcept {
    try {
        ShowError(CurrentExceptionText());
    } catch (...) {
        // The box itself failed (out of memory): nothing more can be shown.
        std::fputs("VQT540: an error could not be shown\n", stderr);
    }
}

} // namespace monitor
