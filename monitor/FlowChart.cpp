#include "monitor/FlowChart.h"

#include "monitor/Messages.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QLocale>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>

namespace monitor {

namespace {
constexpr int64_t kMinuteMs = 60 * 1000;
const QColor kLineColor(0x00, 0x00, 0xC0);
} // namespace

FlowChart::FlowChart(const core::FlowHistory& history, QWidget* parent)
    : QChartView(parent), History(history) {
    auto* chart = new QChart;
    chart->legend()->hide(); // one entry per line would say nothing
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 8, 4));
    chart->layout()->setContentsMargins(0, 0, 0, 0); // the white reaches the view's frame
    chart->setLocalizeNumbers(true);
    // The locale's decimal separator, and no group separators, as everywhere.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    chart->setLocale(locale);

    TimeAxis = new QDateTimeAxis(chart);
    TimeAxis->setFormat(QStringLiteral("HH:mm"));
    TimeAxis->setTitleText(QStringLiteral("Czas"));
    // Whole minutes, one tick each: the labels stay put while the curve moves on.
    TimeAxis->setTickCount(static_cast<int>(History.Span() / kMinuteMs) + 2);
    chart->addAxis(TimeAxis, Qt::AlignBottom);

    ValueAxis = new QValueAxis(chart);
    ValueAxis->setLabelFormat(QStringLiteral("%.1f"));
    chart->addAxis(ValueAxis, Qt::AlignLeft);
    // A chart shown before any series uses its time axis never lays that
    // axis out: an empty series holds both axes from the start.
    auto* anchor = new QLineSeries(chart);
    chart->addSeries(anchor);
    anchor->attachAxis(TimeAxis);
    anchor->attachAxis(ValueAxis);

    setChart(chart);
    setRenderHint(QPainter::Antialiasing);

    Tick = new QTimer(this);
    Tick->setObjectName(QStringLiteral("Chart1Tick"));
    Tick->setInterval(1000);
    connect(Tick, &QTimer::timeout, this, [this] { Guarded([this] { refresh(); }); });
}

void FlowChart::showEvent(QShowEvent* event) {
    QChartView::showEvent(event);
    Guarded([this] { refresh(); });
    Tick->start();
}

void FlowChart::hideEvent(QHideEvent* event) {
    Tick->stop();
    QChartView::hideEvent(event);
}

void FlowChart::refresh() {
    if (!isVisible()) return;
    // From the whole minute before the oldest point that can be kept to a
    // minute past it: every kept point is inside, the present too.
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const int64_t first = (now - History.Span()) / kMinuteMs * kMinuteMs;
    TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(first),
                       QDateTime::fromMSecsSinceEpoch(first + History.Span() + kMinuteMs));
    if (History.Revision() == DrawnRevision) return;
    DrawnRevision = History.Revision();
    drawLines();
}

void FlowChart::drawLines() {
    ValueAxis->setTitleText(QStringLiteral("Przepływ chwilowy ") + QString::fromLatin1(History.UnitText()));
    const auto& segments = History.Segments();
    const auto wanted = static_cast<qsizetype>(segments.size());
    // The series are kept from one drawing to the next: usually only the last
    // line has grown and the first lost a point.
    while (Lines.size() > wanted) {
        QLineSeries* line = Lines.takeLast();
        chart()->removeSeries(line);
        delete line;
    }
    while (Lines.size() < wanted) {
        auto* line = new QLineSeries;
        line->setPen(QPen(kLineColor, 2));
        line->setBrush(kLineColor); // the dot of a lone read
        line->setMarkerSize(6);
        chart()->addSeries(line);
        line->attachAxis(TimeAxis);
        line->attachAxis(ValueAxis);
        Lines.append(line);
    }

    double low = 0.0;
    double high = 0.0;
    QList<QPointF> points;
    for (qsizetype i = 0; i < wanted; ++i) {
        const core::FlowHistory::Segment& segment = segments[static_cast<size_t>(i)];
        points.clear();
        points.reserve(static_cast<qsizetype>(segment.size()));
        for (const core::FlowHistory::Point& p : segment) {
            const double value = History.Shown(p.CubicMetresPerHour);
            low = std::min(low, value);
            high = std::max(high, value);
            points.append(QPointF(static_cast<qreal>(p.TimeMs), value));
        }
        Lines[i]->replace(points);
        // A lone good read between failed ones would draw no line: a dot then.
        Lines[i]->setPointsVisible(points.size() == 1);
    }
    // From zero, or the lowest reverse flow, to the highest flow.
    if (high - low < 1e-9) high = low + 1.0;
    ValueAxis->setRange(low, high);
    ValueAxis->applyNiceNumbers();
    // Plain numbers with the locale's separator, as many decimals as the steps need.
    const int decimals = core::AxisDecimals(ValueAxis->min(), ValueAxis->max(), ValueAxis->tickCount());
    ValueAxis->setLabelFormat(QStringLiteral("%.") + QString::number(decimals) + QLatin1Char('f'));
}

} // namespace monitor
