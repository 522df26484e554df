// The drawing of the flow history on the chart page: one line per run of
// good reads, a time axis in local time, the values in the history's unit.
//
// It draws only while shown, once a second and whenever it is shown again;
// the history itself is kept by the window whatever page is shown.
#pragma once

#include "core/FlowHistory.h"

#include <QChartView>
#include <QList>

#include <cstdint>

class QDateTimeAxis;
class QLineSeries;
class QTimer;
class QValueAxis;

namespace monitor {

class FlowChart : public QChartView {
    Q_OBJECT
public:
    explicit FlowChart(const core::FlowHistory& history, QWidget* parent = nullptr);

    // Draws the history as it is now, with the time axis reaching the
    // present; nothing while the chart is not shown.
    void refresh();

    // The lines drawn, in time order.
    const QList<QLineSeries*>& lines() const { return Lines; }
    QDateTimeAxis* timeAxis() const { return TimeAxis; }
    QValueAxis* valueAxis() const { return ValueAxis; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void drawLines();

    const core::FlowHistory& History;
    QDateTimeAxis* TimeAxis;
    QValueAxis* ValueAxis;
    QTimer* Tick; // the time axis moves on while the chart is shown
    QList<QLineSeries*> Lines;
    uint64_t DrawnRevision = UINT64_MAX;
};

} // namespace monitor
