#include "monitor/ElidedLabel.h"

#include <QPainter>
#include <QStyle>

namespace monitor {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString& text, const QString& tooltip) {
    Tip = tooltip;
    QLabel::setText(text);
    updateTip();
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect room = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
    style()->drawItemText(&painter, room, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), shown,
                          foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateTip();
}

void ElidedLabel::updateTip() {
    const bool cut = fontMetrics().horizontalAdvance(text()) > contentsRect().width();
    QString tip = Tip;
    if (cut && !text().isEmpty()) tip = tip.isEmpty() ? text() : text() + QLatin1Char('\n') + tip;
    setToolTip(tip);
}

} // namespace monitor
