#include "monitor/FocusRing.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace monitor {

namespace {
constexpr int kMargin = 3; // outside the widget, over its neighbours' spacing
const QColor kRingColor(0xFF, 0x8C, 0x00);
} // namespace

FocusRing::FocusRing(QWidget* window) : QWidget(window) {
    setObjectName(QStringLiteral("FocusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow(now); });
}

void FocusRing::follow(QWidget* now) {
    // A popup or a dialog of its own has the focus for a while: the ring
    // stays where it was and comes back with the focus.
    if (now && now->window() != parentWidget()) return;
    watch(false);
    Target = now;
    watch(true);
    place();
}

// Moves and resizes of the framed widget and of everything it sits in, and
// its showing and hiding (a page switched away), move the ring with it.
void FocusRing::watch(bool on) {
    for (QWidget* w = Target; w && w != parentWidget(); w = w->parentWidget()) {
        if (on)
            w->installEventFilter(this);
        else
            w->removeEventFilter(this);
    }
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        place();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void FocusRing::place() {
    if (!Target || !Target->isVisible() || Target == parentWidget()) {
        hide();
        return;
    }
    const QPoint at = Target->mapTo(parentWidget(), QPoint(0, 0));
    setGeometry(QRect(at, Target->size()).adjusted(-kMargin, -kMargin, kMargin, kMargin));
    raise();
    show();
    update();
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPen pen(kRingColor, 2);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
}

} // namespace monitor
