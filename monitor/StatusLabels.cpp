#include "monitor/StatusLabels.h"

#include <QPainter>
#include <QRegularExpression>
#include <QStyle>

namespace monitor {

QString FittedResultLine(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    for (const int keep : {12, 6, 3}) {
        QString narrowed = text;
        narrowed.replace(QRegularExpression(QStringLiteral(" {%1,}").arg(keep + 1)), QString(keep, u' '));
        if (metrics.horizontalAdvance(narrowed) <= width) return narrowed;
    }
    // The counters start at the first run of blanks; the result text before it gives way.
    QString narrowed = text;
    narrowed.replace(QRegularExpression(QStringLiteral(" {4,}")), QStringLiteral("   "));
    const qsizetype counters = narrowed.indexOf(QStringLiteral("   "));
    if (counters < 0) return metrics.elidedText(text, Qt::ElideRight, width);
    const QString rest = narrowed.mid(counters);
    return metrics.elidedText(narrowed.left(counters), Qt::ElideRight,
                              std::max(0, width - metrics.horizontalAdvance(rest))) +
           rest;
}

ResultLabel::ResultLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText); // the blanks of the result lines stay
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QString ResultLabel::shownText() const {
    return FittedResultLine(text(), fontMetrics(), contentsRect().width());
}

void ResultLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                          shownText(), foregroundRole());
}

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
