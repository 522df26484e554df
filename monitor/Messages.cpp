#include "monitor/Messages.h"

#include "platform/FileIo.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include <cstdio>
#include <deque>
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

struct WaitingBox {
    QMessageBox::Icon icon;
    QString text;
    QString details;
};
std::deque<WaitingBox>& waitingBoxes() {
    static std::deque<WaitingBox> boxes;
    return boxes;
}

void showWaitingBoxes();

// One box at a time: while another modal window is open (a question, a
// file dialog, another box), a box waits for it to close.
bool waitForOpenWindow() {
    auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!open) return false;
    QObject::connect(open, &QDialog::finished, qApp, showWaitingBoxes,
                     static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
    return true;
}

void showWaitingBoxes() {
    auto& boxes = waitingBoxes();
    while (!boxes.empty()) {
        if (waitForOpenWindow()) return;
        const WaitingBox next = boxes.front();
        boxes.pop_front();
        QMessageBox box(next.icon, QCoreApplication::applicationName(), next.text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.setWindowModality(Qt::ApplicationModal);
        box.setInformativeText(next.details);
        box.exec();
    }
}

void showBox(QMessageBox::Icon icon, const QString& text, const QString& details = {}) {
    auto& boxes = waitingBoxes();
    const bool showing = !boxes.empty();
    boxes.push_back({icon, text, details});
    if (!showing) showWaitingBoxes();
}

} // namespace

void ShowInformation(const QString& text, const QString& details) {
    if (informationFunction())
        informationFunction()(text);
    else
        showBox(QMessageBox::Information, text, details);
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

void CenterOnOwner(QWidget* window) {
    const QWidget* parent = window->parentWidget();
    const QWidget* owner = parent ? parent->window() : QApplication::activeWindow();
    if (!owner || owner == window) return;
    const QSize size = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
    window->move(owner->frameGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
}

QString ExecuteFileDialog(QFileDialog* dialog) {
    CenterOnOwner(dialog);
    if (fileDialogFunction()) return fileDialogFunction()(dialog);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
}

FileDialogFunction SetFileDialogFunction(FileDialogFunction function) {
    return std::exchange(fileDialogFunction(), std::move(function));
}

QString FileErrorText(const QString& action, const QString& path, const QString& reason) {
    return QString::fromStdString(platform::FileErrorText(
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
