#include "monitor/ConsumptionChart.h"

#include "core/ChartScale.h"
#include "core/FlowHistory.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace monitor {

namespace {

const QColor kForwardColor(0x1F, 0x4E, 0xA8);
const QColor kReverseColor(0xE0, 0x7B, 0x1A);
const QColor kGapColor(0x90, 0x90, 0x90);
const QColor kResetColor(0xC8, 0x10, 0x10);
const QColor kEventColor(0xF0, 0x9A, 0x00);
const QColor kGridColor(0xE6, 0xE6, 0xE6);
const QColor kAxisColor(0x80, 0x80, 0x80);
const QColor kTextColor(0x26, 0x26, 0x26);
constexpr int kValueTicks = 5;
constexpr double kBarShare = 0.8; // of its period's width; the rest parts the bars

// A tick's value with as many decimals as the step needs.
QString TickText(double value, double step) {
    const int decimals = core::AxisDecimals(0.0, step, 2); // as the flow chart's axis
    return QLocale().toString(std::abs(value) < step / 1e6 ? 0.0 : value, 'f', decimals);
}

// The label under a period's start: the hour without its year, the day, the month.
QString TimeLabel(core::WallSeconds start, core::PeriodKind by) {
    const QString label = QString::fromStdString(core::PeriodLabel(start, by));
    return by == core::PeriodKind::Hour ? label.mid(5) : label;
}

struct Frame {
    QRectF Plot;
    core::WallSeconds From = 0, To = 1;
    core::AxisScale Scale;

    double X(core::WallSeconds t) const {
        return Plot.left() + Plot.width() * double(t - From) / double(To - From);
    }
    double Y(double v) const {
        return Plot.bottom() - Plot.height() * (v - Scale.Low) / (Scale.High - Scale.Low);
    }
};

void DrawLegend(QPainter& p, const QRectF& area, const QFontMetricsF& fm) {
    struct Entry {
        QString Text;
        QColor Color;
        Qt::BrushStyle Style;
    };
    const Entry entries[] = {{QStringLiteral("L+ [m³]"), kForwardColor, Qt::SolidPattern},
                             {QStringLiteral("L- [m³]"), kReverseColor, Qt::SolidPattern},
                             {QStringLiteral("luka"), kGapColor, Qt::BDiagPattern},
                             {QStringLiteral("zerowanie licznika"), kResetColor, Qt::SolidPattern},
                             {QStringLiteral("zdarzenie"), kEventColor, Qt::SolidPattern}};
    const double box = fm.height() * 0.7;
    double x = area.left();
    for (const Entry& e : entries) {
        const QRectF mark(x, area.top() + (fm.height() - box) / 2, box, box);
        p.setPen(e.Color);
        p.setBrush(QBrush(e.Color, e.Style));
        p.drawRect(mark);
        p.setPen(kTextColor);
        p.drawText(QPointF(mark.right() + box / 2, area.top() + fm.ascent()), e.Text);
        x = mark.right() + box / 2 + fm.horizontalAdvance(e.Text) + 2 * box;
    }
}

void DrawValueAxis(QPainter& p, const Frame& f, const QFontMetricsF& fm) {
    for (int i = 0; i < f.Scale.Ticks(); ++i) {
        const double v = f.Scale.Tick(i);
        const double y = f.Y(v);
        p.setPen(std::abs(v) < f.Scale.Step / 1e6 ? kAxisColor : kGridColor);
        p.drawLine(QPointF(f.Plot.left(), y), QPointF(f.Plot.right(), y));
        const QString text = TickText(v, f.Scale.Step);
        p.setPen(kTextColor);
        p.drawText(
            QPointF(f.Plot.left() - fm.horizontalAdvance(text) - fm.height() / 3, y + fm.ascent() / 2 - 1),
            text);
    }
}

void DrawTimeLabels(QPainter& p, const Frame& f, const QFontMetricsF& fm,
                    std::span<const core::PeriodConsumption> periods, core::PeriodKind by) {
    double free = f.Plot.left() - fm.height();
    p.setPen(kTextColor);
    for (const core::PeriodConsumption& period : periods) {
        const double x = f.X(period.Start);
        const QString text = TimeLabel(period.Start, by);
        const double width = fm.horizontalAdvance(text);
        if (x - width / 2 < free || x + width / 2 > f.Plot.right() + fm.height()) continue;
        p.setPen(kAxisColor);
        p.drawLine(QPointF(x, f.Plot.bottom()), QPointF(x, f.Plot.bottom() + fm.height() / 4));
        p.setPen(kTextColor);
        p.drawText(QPointF(x - width / 2, f.Plot.bottom() + fm.height() / 4 + fm.ascent()), text);
        free = x + width / 2 + fm.height();
    }
}

void DrawPeriod(QPainter& p, const Frame& f, const core::PeriodConsumption& period) {
    const double left = f.X(period.Start), right = f.X(period.End);
    if (period.Gap) {
        p.setPen(Qt::NoPen);
        p.setBrush(QBrush(kGapColor, Qt::BDiagPattern));
        p.drawRect(QRectF(QPointF(left, f.Plot.top()), QPointF(right, f.Plot.bottom())));
        return;
    }
    const double width = std::max(1.0, (right - left) * kBarShare);
    const double x = (left + right - width) / 2;
    p.setPen(Qt::NoPen);
    if (const double v = period.Forward.value_or(0); v > 0) {
        p.setBrush(kForwardColor);
        p.drawRect(QRectF(QPointF(x, f.Y(v)), QPointF(x + width, f.Y(0))));
    }
    if (const double v = period.Reverse.value_or(0); v > 0) {
        p.setBrush(kReverseColor);
        p.drawRect(QRectF(QPointF(x, f.Y(0)), QPointF(x + width, f.Y(-v))));
    }
    const double middle = (left + right) / 2;
    if (period.Resets) {
        p.setPen(QPen(kResetColor, std::max(1.0, f.Plot.height() / 150)));
        p.drawLine(QPointF(middle, f.Plot.top()), QPointF(middle, f.Plot.bottom()));
    }
    const bool event = std::any_of(period.Events.begin(), period.Events.end(),
                                   [](const core::EventTally& e) { return e.Count > 0; });
    if (event) {
        // A small triangle pointing down at the period, over the plot.
        const double size = std::max(3.0, std::min(f.Plot.height() / 25, 8.0 * (right - left) + 3));
        QPainterPath mark;
        mark.moveTo(middle - size / 2, f.Plot.top() - size);
        mark.lineTo(middle + size / 2, f.Plot.top() - size);
        mark.lineTo(middle, f.Plot.top());
        mark.closeSubpath();
        p.fillPath(mark, kEventColor);
    }
}

} // namespace

void DrawConsumption(QPainter& p, const QRectF& area, std::span<const core::PeriodConsumption> periods,
                     core::PeriodKind by) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(area, Qt::white);
    const QFontMetricsF fm(p.font(), p.device());
    const double line = fm.height();
    if (periods.empty()) {
        p.setPen(kTextColor);
        p.drawText(area, Qt::AlignCenter, QStringLiteral("Brak zapisów"));
        p.restore();
        return;
    }
    DrawLegend(p, area.adjusted(line, line / 3, 0, 0), fm);
    double forward = 0, reverse = 0;
    for (const core::PeriodConsumption& period : periods) {
        forward = std::max(forward, period.Forward.value_or(0));
        reverse = std::max(reverse, period.Reverse.value_or(0));
    }
    Frame f;
    f.Scale = core::NiceScale(-reverse, std::max(forward, reverse > 0 ? 0.0 : 1e-3), kValueTicks);
    f.From = periods.front().Start;
    f.To = std::max(periods.back().End, f.From + 1);
    double labels = 0;
    for (int i = 0; i < f.Scale.Ticks(); ++i)
        labels = std::max(labels, fm.horizontalAdvance(TickText(f.Scale.Tick(i), f.Scale.Step)));
    f.Plot = QRectF(QPointF(area.left() + labels + line, area.top() + 2.3 * line),
                    QPointF(area.right() - line, area.bottom() - 1.6 * line));
    if (f.Plot.width() < 10 || f.Plot.height() < 10) {
        p.restore();
        return;
    }
    DrawValueAxis(p, f, fm);
    for (const core::PeriodConsumption& period : periods) DrawPeriod(p, f, period);
    p.setPen(kAxisColor);
    p.setBrush(Qt::NoBrush);
    p.drawRect(f.Plot);
    DrawTimeLabels(p, f, fm, periods, by);
    p.restore();
}

ConsumptionChart::ConsumptionChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ConsumptionChart::setPeriods(std::vector<core::PeriodConsumption> periods, core::PeriodKind by) {
    Periods = std::move(periods);
    By = by;
    update();
}

void ConsumptionChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawConsumption(painter, QRectF(rect()), Periods, By);
}

} // namespace monitor
