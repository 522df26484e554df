#include "monitor/FlowChart.h"

#include "model/NumberFormat.h"
#include "monitor/Dialogs.h"

#include <QDateTime>
#include <QEvent>
#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace monitor {

namespace {
const QColor kLineColor(0x00, 0x00, 0xC0);
const QColor kGridColor(0xE6, 0xE6, 0xE6);
const QColor kAxisColor(0xA8, 0xA8, 0xA8);
const QColor kTextColor(0x26, 0x26, 0x26);
const QString kTimeFormat = QStringLiteral("HH:mm");
constexpr int kValueTicks = 5;  // about five steps: enough to read, few enough to stay calm
constexpr int kFlowDigits = 15; // digits enough that only the decimals round a tick
constexpr qreal kMargin = 6;
constexpr qreal kGap = 4;
constexpr qreal kTickLength = 4;
constexpr qreal kLineWidth = 2;
constexpr qreal kDotRadius = 3;

QFont TitleFont(QFont font) {
    font.setBold(true);
    return font;
}

// A grid line on whole pixels stays one pixel wide and sharp.
qreal Crisp(qreal coordinate) {
    return std::floor(coordinate) + 0.5;
}
} // namespace

FlowChart::FlowChart(const core::FlowHistory& history, monitor::Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), History(history), Dialogs(dialogs) {
    TimeAxis.Title = QStringLiteral("Czas");
    TimeAxis.Scale = core::TimeScale(QDateTime::currentMSecsSinceEpoch(), History.Span());
    takeLines();
    layOut();

    Tick = new QTimer(this);
    Tick->setObjectName(QStringLiteral("Chart1Tick"));
    Tick->setInterval(1000);
    connect(Tick, &QTimer::timeout, this, [this] { Dialogs.Guarded([this] { refresh(); }); });
}

void FlowChart::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Dialogs.Guarded([this] { refresh(); });
    Tick->start();
}

void FlowChart::hideEvent(QHideEvent* event) {
    Tick->stop();
    QWidget::hideEvent(event);
}

void FlowChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOut();
}

void FlowChart::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) layOut();
}

void FlowChart::refresh() {
    if (!isVisible()) return;
    TimeAxis.Scale = core::TimeScale(QDateTime::currentMSecsSinceEpoch(), History.Span());
    if (History.Revision() != TakenRevision) takeLines();
    layOut();
    update();
}

void FlowChart::takeLines() {
    TakenRevision = History.Revision();
    ValueAxis.Title = QStringLiteral("Przepływ chwilowy ") + QString::fromLatin1(History.UnitText());
    Lines.clear();
    for (const core::FlowHistory::Segment& segment : History.Segments()) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(segment.size()));
        for (const core::FlowHistory::Point& p : segment)
            line.append(QPointF(static_cast<qreal>(p.TimeMs), History.Shown(p.CubicMetresPerHour)));
        Lines.append(line);
    }
    // From zero, or the lowest reverse flow, to the highest flow.
    const core::FlowHistory::Range range = History.ShownRange();
    ValueAxis.Scale = core::NiceScale(range.Low, range.High, kValueTicks);
    // Plain numbers with the locale's separator, as many decimals as the steps need.
    const core::AxisScale& scale = ValueAxis.Scale;
    const int decimals = core::AxisDecimals(scale.Low, scale.High, scale.Ticks());
    const std::string separator = QLocale().decimalPoint().toStdString();
    ValueAxis.Labels.clear();
    for (int i = 0; i < scale.Ticks(); ++i)
        ValueAxis.Labels << QString::fromStdString(
            model::FormatNumber(scale.Tick(i), decimals, kFlowDigits, separator));
}

void FlowChart::layOut() {
    const core::AxisScale& time = TimeAxis.Scale;
    TimeAxis.Labels.clear();
    for (int i = 0; i < time.Ticks(); ++i)
        TimeAxis.Labels
            << QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(time.Tick(i))).toString(kTimeFormat);

    const QFontMetricsF labels(font());
    const QFontMetricsF titles(TitleFont(font()));
    qreal valueWidth = 0;
    for (const QString& label : ValueAxis.Labels)
        valueWidth = std::max(valueWidth, labels.horizontalAdvance(label));
    qreal timeWidth = 0;
    for (const QString& label : TimeAxis.Labels)
        timeWidth = std::max(timeWidth, labels.horizontalAdvance(label));
    // Room for the rotated title, the labels and the ticks on the left and at
    // the bottom; half a label beyond the last tick and above the top one.
    const qreal left = kMargin + titles.height() + kGap + valueWidth + kGap + kTickLength;
    const qreal bottom = kMargin + titles.height() + kGap + labels.height() + kTickLength;
    const qreal right = kMargin + timeWidth / 2;
    const qreal top = kMargin + labels.height() / 2;
    const QRectF area = contentsRect();
    Plot = QRectF(area.left() + left, area.top() + top, std::max<qreal>(1, area.width() - left - right),
                  std::max<qreal>(1, area.height() - top - bottom));
    thinTimeLabels(timeWidth);
}

void FlowChart::thinTimeLabels(qreal widest) {
    const core::AxisScale& time = TimeAxis.Scale;
    if (time.Ticks() < 2) return;
    const int every = core::LabelEvery(Plot.width() / (time.Ticks() - 1), widest + 2 * kGap);
    // Counted from the epoch's minutes, not from the first tick: the labels
    // kept stay the same as the axis moves on.
    for (int i = 0; i < time.Ticks(); ++i)
        if (std::llround(time.Tick(i) / time.Step) % every != 0) TimeAxis.Labels[i].clear();
}

QPointF FlowChart::position(double timeMs, double value) const {
    const core::AxisScale& t = TimeAxis.Scale;
    const core::AxisScale& v = ValueAxis.Scale;
    return {Plot.left() + (timeMs - t.Low) / (t.High - t.Low) * Plot.width(),
            Plot.bottom() - (value - v.Low) / (v.High - v.Low) * Plot.height()};
}

QList<QPolygonF> FlowChart::drawnLines() const {
    QList<QPolygonF> drawn;
    drawn.reserve(Lines.size());
    for (const QPolygonF& line : Lines) {
        QPolygonF points;
        points.reserve(line.size());
        for (const QPointF& p : line) points.append(position(p.x(), p.y()));
        drawn.append(points);
    }
    return drawn;
}

void FlowChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    drawGrid(painter);
    drawLabels(painter);
    drawCurve(painter);
}

void FlowChart::drawGrid(QPainter& painter) const {
    painter.setRenderHint(QPainter::Antialiasing, false);
    const core::AxisScale& time = TimeAxis.Scale;
    const core::AxisScale& value = ValueAxis.Scale;
    for (int i = 0; i < time.Ticks(); ++i) {
        const qreal x = Crisp(position(time.Tick(i), value.Low).x());
        painter.setPen(kGridColor);
        painter.drawLine(QPointF(x, Plot.top()), QPointF(x, Plot.bottom()));
        painter.setPen(kAxisColor);
        painter.drawLine(QPointF(x, Plot.bottom()), QPointF(x, Plot.bottom() + kTickLength));
    }
    for (int i = 0; i < value.Ticks(); ++i) {
        const qreal y = Crisp(position(time.Low, value.Tick(i)).y());
        painter.setPen(kGridColor);
        painter.drawLine(QPointF(Plot.left(), y), QPointF(Plot.right(), y));
        painter.setPen(kAxisColor);
        painter.drawLine(QPointF(Plot.left() - kTickLength, y), QPointF(Plot.left(), y));
    }
    painter.setPen(kAxisColor);
    const qreal left = Crisp(Plot.left());
    const qreal bottom = Crisp(Plot.bottom());
    painter.drawLine(QPointF(left, Plot.top()), QPointF(left, bottom));
    painter.drawLine(QPointF(left, bottom), QPointF(Plot.right(), bottom));
}

void FlowChart::drawLabels(QPainter& painter) const {
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setPen(kTextColor);
    painter.setFont(font());
    const QFontMetricsF labels(font());
    const qreal labelHeight = labels.height();
    const core::AxisScale& time = TimeAxis.Scale;
    const core::AxisScale& value = ValueAxis.Scale;
    for (int i = 0; i < value.Ticks() && i < ValueAxis.Labels.size(); ++i) {
        const qreal y = position(time.Low, value.Tick(i)).y();
        const QRectF box(contentsRect().left(), y - labelHeight / 2,
                         Plot.left() - kTickLength - kGap - contentsRect().left(), labelHeight);
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, ValueAxis.Labels[i]);
    }
    const qreal labelTop = Plot.bottom() + kTickLength + kGap / 2;
    for (int i = 0; i < time.Ticks() && i < TimeAxis.Labels.size(); ++i) {
        if (TimeAxis.Labels[i].isEmpty()) continue;
        const qreal x = position(time.Tick(i), value.Low).x();
        const qreal width = labels.horizontalAdvance(TimeAxis.Labels[i]) + 2;
        painter.drawText(QRectF(x - width / 2, labelTop, width, labelHeight), Qt::AlignCenter,
                         TimeAxis.Labels[i]);
    }

    const QFont titleFont = TitleFont(font());
    const qreal titleHeight = QFontMetricsF(titleFont).height();
    painter.setFont(titleFont);
    painter.drawText(
        QRectF(Plot.left(), contentsRect().bottom() - kMargin - titleHeight, Plot.width(), titleHeight),
        Qt::AlignCenter, TimeAxis.Title);
    // The value axis's title reads upwards along the axis, centred on it.
    painter.save();
    painter.translate(contentsRect().left() + kMargin, Plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-Plot.height() / 2 - 200, 0, Plot.height() + 400, titleHeight), Qt::AlignCenter,
                     ValueAxis.Title);
    painter.restore();
}

void FlowChart::drawCurve(QPainter& painter) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    // A line along the top or bottom keeps its full width; nothing spills onto the labels.
    painter.setClipRect(Plot.adjusted(-kDotRadius, -kDotRadius, kDotRadius, kDotRadius));
    painter.setPen(QPen(kLineColor, kLineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kLineColor);
    for (const QPolygonF& line : drawnLines()) {
        // A lone good read between failed ones would draw no line: a dot then.
        if (line.size() == 1)
            painter.drawEllipse(line.front(), kDotRadius, kDotRadius);
        else
            painter.drawPolyline(line);
    }
    painter.restore();
}

} // namespace monitor
