// vqt540 report: what flowed in each hour, day or month, from an export
// file's totalisers; a table to read, or CSV and JSON for other programs.
#include "cli/Commands.h"
#include "cli/Say.h"
#include "cli/Table.h"

#include "core/Consumption.h"
#include "core/ReportColumns.h"
#include "platform/FileIo.h"

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {

constexpr size_t kLargestFile = size_t{256} << 20; // a full archive's export is about 1 MB

std::string Local(std::string text, const std::string& separator) {
    if (const size_t point = text.find('.'); point != std::string::npos) text.replace(point, 1, separator);
    return text;
}

// The marks and events of a period in words: "gap, reset 1", "power_loss 2".
std::string Marks(const core::PeriodConsumption& p) {
    std::string marks;
    const auto add = [&marks](const std::string& mark) { marks += (marks.empty() ? "" : ", ") + mark; };
    if (p.Gap) add("gap");
    if (p.Interpolated) add("interpolated");
    if (p.Resets) add("reset " + std::to_string(p.Resets));
    if (p.Reordered) add("reordered " + std::to_string(p.Reordered));
    for (int k = 0; k < core::kEventKinds; ++k)
        if (const int n = p.Events[size_t(k)].Count)
            add(std::string(core::EventKey(k)) + " " + std::to_string(n));
    return marks;
}

std::string Padded(const std::string& text, size_t width, bool right) {
    const std::string pad(width > text.size() ? width - text.size() : 0, ' ');
    return right ? pad + text : text + pad;
}

std::vector<std::string> TableLines(const core::ConsumptionReport& r, const std::string& separator) {
    const std::vector<std::string> head = {"period",   "L+ m3", "L- m3",   "net m3",
                                           "flow min", "mean",  "max m3/h"};
    std::vector<std::vector<std::string>> rows;
    for (const core::PeriodConsumption& p : r.Periods) {
        const std::vector<std::string> c = core::ReportCells(p, r.By);
        std::vector<std::string> row = {c[0]};
        for (const size_t i : {3, 4, 5, 11, 12, 13})
            row.push_back(c[i].empty() ? "-" : Local(c[i], separator));
        row.push_back(Marks(p));
        rows.push_back(std::move(row));
    }
    std::vector<size_t> width(head.size());
    for (size_t i = 0; i < head.size(); ++i) {
        width[i] = head[i].size();
        for (const auto& row : rows) width[i] = std::max(width[i], row[i].size());
    }
    std::vector<std::string> lines;
    const auto line = [&](const std::vector<std::string>& cells, const std::string& last) {
        std::string text;
        for (size_t i = 0; i < head.size(); ++i) text += Padded(cells[i], width[i], i > 0) + "  ";
        lines.push_back(text + last);
    };
    line(head, "marks");
    for (const auto& row : rows) line(row, row.back());
    return lines;
}

std::string JsonDocument(const core::ConsumptionReport& r) {
    std::string json =
        "{\"by\":\"" + std::string(core::PeriodKindName(r.By)) +
        "\",\"archive_period_s\":" + std::to_string(r.ArchivePeriod) +
        ",\"records\":" + std::to_string(r.Records) + ",\"left_out\":" + std::to_string(r.Repeated) +
        ",\"malformed_lines\":" + std::to_string(r.Malformed + r.Impossible) + ",\"periods\":[";
    for (size_t i = 0; i < r.Periods.size(); ++i) {
        if (i > 0) json += ',';
        json += core::ReportRowJson(r.Periods[i], r.By);
    }
    json += "]}";
    return json;
}

} // namespace

int RunReport(const CommonOptions& common, const ReportOptions& options) {
    const platform::OrReason<std::string> content = platform::ReadWholeFile(options.Path, kLargestFile);
    if (!content) {
        Say(content.error);
        return kExitFile;
    }
    const core::ConsumptionReport report =
        core::MakeConsumptionReport(core::ReadExport(*content), *core::PeriodKindNamed(options.By));
    for (const std::string& problem : report.Problems) Say(options.Path + ", " + problem);
    if (const int bad = report.Malformed + report.Impossible; bad > 0)
        Say(options.Path + ": " + std::to_string(bad) + " lines that are no archive record were left out");
    if (report.Records == 0) {
        Say(options.Path + ": no archive record; is it an export file?");
        return kExitFile;
    }
    std::vector<std::string> lines;
    if (options.Format == "json") {
        lines.push_back(JsonDocument(report));
    } else if (options.Format == "csv") {
        std::string header;
        for (const core::ReportColumn& c : core::ReportColumns())
            header += (header.empty() ? "" : ",") + c.Name;
        lines.push_back(header);
        for (const core::PeriodConsumption& p : report.Periods) {
            std::string line;
            for (const std::string& cell : core::ReportCells(p, report.By))
                line += (line.empty() ? "" : ",") + cell;
            lines.push_back(line);
        }
    } else {
        lines = TableLines(report, common.Separator());
        lines.push_back(std::to_string(report.Records) + " records, one every " +
                        std::to_string(report.ArchivePeriod / 60) + " min; " + std::to_string(report.Gaps) +
                        " gaps, " + std::to_string(report.Resets) + " totaliser resets, " +
                        std::to_string(report.Repeated) + " records twice or out of order left out");
    }
    Table out;
    out.Open({}, {});
    for (const std::string& line : lines)
        if (const std::string failed = out.Write(line); !failed.empty()) {
            Say(failed);
            return kExitFile;
        }
    return kExitOk;
}

} // namespace cli
