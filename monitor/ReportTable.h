// The consumption report as the window and its PDF show it: Polish column
// heads, the numbers with the locale's decimal separator, the marks and
// events of a period in words.
#pragma once

#include "core/Consumption.h"

#include <QString>
#include <QStringList>

namespace monitor {

// "Okres", "L+ [m³]", …, "Uwagi"
QStringList ReportHeads();
// Which columns hold numbers: right-aligned.
bool IsNumberColumn(int column);
// The row of a period: its label ("2024-05-01", or "2024-05-01 – 2024-05-09"
// for a gap spanning several), the volumes and flows ("" for none), the marks.
QStringList ReportRow(const core::PeriodConsumption& period, core::PeriodKind by);
// "luka, zerowanie licznika: 1, Zanik napięcia zasilania: 2"
QString ReportMarks(const core::PeriodConsumption& period);
// One line about the whole report: records, archive period, gaps, resets,
// left out; and the lines that were no record.
QString ReportSummary(const core::ConsumptionReport& report);

} // namespace monitor
