#include "monitor/Messages.h"

#include "platform/FileIo.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWindow>

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
        OpenOver(&box);
        box.exec();
    }
}

void showBox(QMessageBox::Icon icon, const QString& text, const QString& details = {}) {
    auto& boxes = waitingBoxes();
    const bool showing = !boxes.empty();
    boxes.push_back({icon, text, details});
    if (!showing) showWaitingBoxes();
}

// Each time the dialog is shown: the window that asked becomes its transient
// parent, then it is raised and activated. The show event comes once the
// native window exists and before it is mapped, when the window system reads
// the transient parent. (Made earlier with winId(), the dialog's native
// window would turn every sibling widget native, a focus ring too, which
// then takes the clicks meant for the button under it.)
class RaiseWhenShown final : public QObject {
public:
    using QObject::QObject;
    QPointer<QWidget> Over;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QWidget*>(watched);
            QWindow* handle = window->windowHandle();
            if (handle && Over && Over->isVisible() && Over->windowHandle())
                handle->setTransientParent(Over->windowHandle());
            window->raise();
            window->activateWindow();
        }
        return false;
    }
};

bool staysOnTop(const QWidget* window) {
    return window->isVisible() && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

} // namespace

void OpenOver(QWidget* dialog, QWidget* asker) {
    QWidget* over = asker ? asker->window() : nullptr;
    const auto usable = [dialog](QWidget* w) { return w && w->window() != dialog && w->isVisible(); };
    for (QWidget* candidate : {QApplication::activeModalWidget(), QApplication::activeWindow()})
        if (!over && usable(candidate)) over = candidate->window();
    bool onTop = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window == dialog || !staysOnTop(window)) continue;
        onTop = true;
        if (!over) over = window;
    }
    if (!over && dialog->parentWidget()) over = dialog->parentWidget()->window();
    if (!dialog->isVisible() && dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop)
        dialog->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    const QString raiser = QStringLiteral("RaiseWhenShown");
    auto* filter =
        static_cast<RaiseWhenShown*>(dialog->findChild<QObject*>(raiser, Qt::FindDirectChildrenOnly));
    if (!filter) {
        filter = new RaiseWhenShown(dialog);
        filter->setObjectName(raiser);
        dialog->installEventFilter(filter);
    }
    filter->Over = over != dialog ? over : nullptr;
}

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
    OpenOver(dialog); // first: new window flags would take the place away
    CenterOnOwner(dialog);
    if (fileDialogFunction()) return fileDialogFunction()(dialog);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
}

FileDialogFunction SetFileDialogFunction(FileDialogFunction function) {
    return std::exchange(fileDialogFunction(), std::move(function));
}

QString UnbrokenPath(const QString& path) {
    constexpr QChar kNoBreakSpace(0x00A0), kWordJoiner(0x2060), kBreakHere(0x200B);
    QString shown;
    shown.reserve(path.size() * 2);
    for (const QChar c : path) {
        if (c == u' ') {
            shown += kNoBreakSpace;
        } else if (c == u'-') {
            shown += c;
            shown += kWordJoiner;
        } else if (c == u'/' || c == u'\\') {
            if (c == u'\\' && !shown.isEmpty()) shown += kWordJoiner; // "C:" stays with its "\\"
            shown += c;
            shown += kBreakHere;
        } else {
            shown += c;
        }
    }
    return shown;
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
