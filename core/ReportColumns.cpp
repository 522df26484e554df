#include "core/ReportColumns.h"

#include <charconv>
#include <cmath>

namespace core {

namespace {
constexpr std::string_view kEventKeys[kEventKinds] = {"inverter_fault", "parameters_set", "power_loss",
                                                      "empty_pipe",     "over_range",     "reverse_flow"};

std::string Optional(const std::optional<double>& value) {
    return value ? Litres(*value) : std::string();
}
} // namespace

std::string_view EventKey(int kind) {
    return kind >= 0 && kind < kEventKinds ? kEventKeys[kind] : std::string_view();
}

const std::vector<ReportColumn>& ReportColumns() {
    static const std::vector<ReportColumn> columns = [] {
        using enum CellKind;
        std::vector<ReportColumn> c = {
            {"period", Text},          {"start", Text},         {"end", Text},       {"forward_m3", Number},
            {"reverse_m3", Number},    {"net_m3", Number},      {"gap", Flag},       {"interpolated", Flag},
            {"resets", Number},        {"reordered", Number},   {"records", Number}, {"flow_min_m3h", Number},
            {"flow_mean_m3h", Number}, {"flow_max_m3h", Number}};
        for (const std::string_view key : kEventKeys) {
            c.push_back({std::string(key) + "_count", Number});
            c.push_back({std::string(key) + "_first", Text});
            c.push_back({std::string(key) + "_last", Text});
        }
        return c;
    }();
    return columns;
}

std::string Litres(double m3) {
    char text[64];
    const double rounded = std::round(m3 * 1000) / 1000;
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, rounded == 0 ? 0.0 : rounded, std::chars_format::fixed, 3);
    return ec == std::errc() ? std::string(text, end) : std::string();
}

std::vector<std::string> ReportCells(const PeriodConsumption& p, PeriodKind by) {
    std::vector<std::string> cells = {PeriodLabel(p.Start, by),
                                      WallText(p.Start),
                                      WallText(p.End),
                                      Optional(p.Forward),
                                      Optional(p.Reverse),
                                      Optional(p.Net),
                                      p.Gap ? "1" : "0",
                                      p.Interpolated ? "1" : "0",
                                      std::to_string(p.Resets),
                                      std::to_string(p.Reordered),
                                      std::to_string(p.Records),
                                      p.Flow ? Litres(p.Flow->Min) : "",
                                      p.Flow ? Litres(p.Flow->Mean) : "",
                                      p.Flow ? Litres(p.Flow->Max) : ""};
    for (const EventTally& e : p.Events) {
        cells.push_back(std::to_string(e.Count));
        cells.push_back(e.Count ? WallText(e.First) : "");
        cells.push_back(e.Count ? WallText(e.Last) : "");
    }
    return cells;
}

std::string ReportCsv(const ConsumptionReport& report) {
    std::string out;
    for (const ReportColumn& c : ReportColumns()) out += (out.empty() ? "" : ",") + c.Name;
    out += "\r\n";
    for (const PeriodConsumption& p : report.Periods) {
        const std::vector<std::string> cells = ReportCells(p, report.By);
        for (size_t i = 0; i < cells.size(); ++i) out += (i ? "," : "") + cells[i];
        out += "\r\n";
    }
    return out;
}

std::string ReportRowJson(const PeriodConsumption& period, PeriodKind by) {
    const std::vector<ReportColumn>& columns = ReportColumns();
    const std::vector<std::string> cells = ReportCells(period, by);
    std::string out = "{";
    for (size_t i = 0; i < cells.size(); ++i) {
        out += (i ? ",\"" : "\"") + columns[i].Name + "\":";
        if (cells[i].empty() && columns[i].Kind != CellKind::Text)
            out += "null";
        else if (columns[i].Kind == CellKind::Flag)
            out += cells[i] == "1" ? "true" : "false";
        else if (columns[i].Kind == CellKind::Number)
            out += cells[i];
        else if (cells[i].empty())
            out += "null";
        else
            out += "\"" + cells[i] + "\""; // dates and labels: nothing to escape
    }
    return out + "}";
}

} // namespace core
