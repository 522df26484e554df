// The consumption report from an export file, read from disk, by hour, day
// and month:
//  1. a full archive, 4 x 3225 records of the simulator, as the window
//     writes it;
//  2. a year of 15-minute records, 35,040 lines.
// Each in a child of its own, so that its peak memory (ru_maxrss) is its own.
// Usage: bench_report [DIR]   (the files are written there; default /tmp)
#include "core/Consumption.h"
#include "core/ExportFile.h"
#include "core/RecordLine.h"
#include "model/Cp1250.h"
#include "platform/FileIo.h"
#include "sim/Simulator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ExportOf(const std::vector<vqtsim::Record>& records) {
    std::vector<std::string> lines;
    for (const vqtsim::Record& rec : records) {
        core::ArchiveRecord r;
        std::copy(rec.begin(), rec.end(), r.begin());
        const std::string line = core::BuildRecordLine(r, ",");
        if (core::RecordDateField(line) <= "1999-01-01") break;
        lines.push_back(model::Utf8ToCp1250(line));
    }
    core::PutInTimeOrder(lines);
    return core::ExportHeader() + "\r\n" + core::NumberedLines(lines, 0);
}

// 2023, a quarter hour apart, 4 m3/h with a little daily swing.
std::vector<vqtsim::Record> Year() {
    std::vector<vqtsim::Record> records;
    using namespace std::chrono;
    double forward = 1000;
    for (int i = 0; i < 35040; ++i) {
        const sys_seconds at = sys_days(2023y / 1 / 1) + minutes(15 * i);
        const year_month_day d{floor<days>(at)};
        const hh_mm_ss t{at - floor<days>(at)};
        const double flow = 4 + (t.hours().count() > 6 && t.hours().count() < 22 ? 2 : -2);
        forward += flow / 4;
        records.push_back(vqtsim::BuildRecord(int(d.year()), int(unsigned(d.month())), int(unsigned(d.day())),
                                              int(t.hours().count()), int(t.minutes().count()), 0,
                                              float(flow), int32_t(forward * 10), 50, 0));
    }
    return records;
}

void Measure(const char* what, const std::string& path) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) std::exit(1);
    if (child > 0) {
        int status = 0;
        waitpid(child, &status, 0);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    const platform::OrReason<std::string> content = platform::ReadWholeFile(path);
    if (!content) std::_Exit(2);
    const core::ExportRead read = core::ReadExport(*content);
    size_t periods = 0;
    for (const core::PeriodKind by : {core::PeriodKind::Hour, core::PeriodKind::Day, core::PeriodKind::Month})
        periods += core::MakeConsumptionReport(read, by).Periods.size();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-34s %6zu records %6zu periods  %7.1f ms  peak %6.1f MB (file %.1f MB)\n", what,
                read.Samples.size(), periods, ms, double(usage.ru_maxrss) / 1024,
                double(content->size()) / 1e6);
    std::fflush(stdout);
    std::_Exit(0);
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    const std::string full = dir + "/bench_report_full.csv", year = dir + "/bench_report_year.csv";
    if (!platform::CreateWithContent(
            full, ExportOf(vqtsim::MakeArchive(vqtsim::kArchiveSlots, false, 1, 1717243200))) ||
        !platform::CreateWithContent(year, ExportOf(Year()))) {
        std::fprintf(stderr, "cannot write into %s\n", dir.c_str());
        return 1;
    }
    std::printf("report by hour, day and month, from the file on disk (a child each):\n");
    Measure("full archive, 4 x 3225 records", full);
    Measure("a year of 15-minute records", year);
    return 0;
}
