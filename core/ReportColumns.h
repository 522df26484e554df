// The consumption report as columns, the same for every program that reads
// it: the tool's CSV and JSON, the window's table and CSV, the publisher's
// hour. Numbers with a decimal point, volumes in m3 and flows in m3/h to the
// litre; an empty text where there is no value (a gap's volumes).
#pragma once

#include "core/Consumption.h"

#include <string>
#include <vector>

namespace core {

enum class CellKind { Text, Number, Flag };

struct ReportColumn {
    std::string Name; // "forward_m3", "power_loss_count"
    CellKind Kind = CellKind::Text;
};

// period, start, end, forward_m3, reverse_m3, net_m3, gap, interpolated,
// resets, reordered, records, flow_min_m3h, flow_mean_m3h, flow_max_m3h,
// then for each event its count, first and last time.
const std::vector<ReportColumn>& ReportColumns();
// The key of an event in the column names: "power_loss".
std::string_view EventKey(int kind);

// One text per column: flags "1"/"0", moments "2024-05-01 12:00:00".
std::vector<std::string> ReportCells(const PeriodConsumption& period, PeriodKind by);

// A volume or flow as the cells write it: "12.345".
std::string Litres(double m3);

// RFC 4180: a header line and one line a period, "," between the cells, CR LF.
std::string ReportCsv(const ConsumptionReport& report);
// The row as a JSON object with the column names as keys: numbers, true or
// false, strings, null where the cell is empty.
std::string ReportRowJson(const PeriodConsumption& period, PeriodKind by);

} // namespace core
