// The drawing of the flow history on the chart page: one line per run of
// good reads, a time axis in local time, the values in the history's unit.
// Drawn with QPainter alone, so that the window needs nothing beyond Qt's
// base modules on any system.
//
// It draws only while shown, once a second and whenever it is shown again;
// the history itself is kept by the window whatever page is shown.
#pragma once

#include "core/ChartScale.h"
#include "core/FlowHistory.h"

#include <QList>
#include <QPolygonF>
#include <QRectF>
#include <QStringList>
#include <QWidget>

#include <cstdint>

class QPainter;
class QTimer;

namespace monitor {

class Dialogs;

class FlowChart : public QWidget {
    Q_OBJECT
public:
    struct Axis {
        QString Title;
        core::AxisScale Scale;
        // One per tick; empty where the labels beside it leave no room.
        QStringList Labels;
    };

    // A refresh's error is shown through `dialogs`, which outlives the chart.
    FlowChart(const core::FlowHistory& history, monitor::Dialogs& dialogs, QWidget* parent = nullptr);

    // Draws the history as it is now, with the time axis reaching the
    // present; nothing while the chart is not shown.
    void refresh();

    // What the last refresh laid out: the axes, the lines in time order as
    // (ms since the epoch, flow in the shown unit), the plot's rectangle.
    const Axis& timeAxis() const { return TimeAxis; }
    const Axis& valueAxis() const { return ValueAxis; }
    const QList<QPolygonF>& lines() const { return Lines; }
    QRectF plotArea() const { return Plot; }
    // A time and a value where the widget draws them.
    QPointF position(double timeMs, double value) const;
    // The lines as drawn, in widget coordinates.
    QList<QPolygonF> drawnLines() const;

    QSize sizeHint() const override { return {640, 420}; }
    QSize minimumSizeHint() const override { return {240, 160}; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void takeLines();
    void layOut();
    void thinTimeLabels(qreal widest);
    void drawGrid(QPainter& painter) const;
    void drawLabels(QPainter& painter) const;
    void drawCurve(QPainter& painter) const;

    const core::FlowHistory& History;
    monitor::Dialogs& Dialogs;
    QTimer* Tick; // the time axis moves on while the chart is shown
    Axis TimeAxis;
    Axis ValueAxis;
    QList<QPolygonF> Lines;
    QRectF Plot;
    uint64_t TakenRevision = UINT64_MAX;
};

} // namespace monitor
