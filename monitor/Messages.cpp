#include "monitor/Messages.h"

#include "platform/FileIo.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <exception>

namespace monitor {

namespace {

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

void CenterOnOwner(QWidget* window) {
    const QWidget* parent = window->parentWidget();
    const QWidget* owner = parent ? parent->window() : QApplication::activeWindow();
    if (!owner || owner == window) return;
    const QSize size = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
    window->move(owner->frameGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
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

} // namespace monitor
