// The consumption of each period as bars: the forward volume up from zero,
// the reverse volume down from it, each bar where its period lies in time (a
// gap spanning several periods is one band). Gaps are hatched bands, totaliser
// resets red lines, periods with an event an orange mark over the plot.
// QPainter alone: the same drawing fills the window and the PDF's pages.
#pragma once

#include "core/Consumption.h"

#include <QRectF>
#include <QWidget>

#include <span>
#include <vector>

class QPainter;

namespace monitor {

// Draws the periods, in time order, into `area` of any paint device with
// the painter's font.
void DrawConsumption(QPainter& painter, const QRectF& area, std::span<const core::PeriodConsumption> periods,
                     core::PeriodKind by);

class ConsumptionChart : public QWidget {
    Q_OBJECT
public:
    explicit ConsumptionChart(QWidget* parent = nullptr);

    void setPeriods(std::vector<core::PeriodConsumption> periods, core::PeriodKind by);
    const std::vector<core::PeriodConsumption>& periods() const { return Periods; }

    QSize sizeHint() const override { return {640, 260}; }
    QSize minimumSizeHint() const override { return {240, 140}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<core::PeriodConsumption> Periods;
    core::PeriodKind By = core::PeriodKind::Day;
};

} // namespace monitor
