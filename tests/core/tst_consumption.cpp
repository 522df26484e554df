// The consumption report of export files whose records the simulator built
// with known contents: 15-minute records of a steady 4 m3/h (1 m3 each),
// spoiled as each case says, against the cells the report must give.
#include "core/Consumption.h"
#include "core/ExportFile.h"
#include "core/RecordLine.h"
#include "core/ReportColumns.h"
#include "model/Cp1250.h"
#include "sim/Simulator.h"

#include <QTest>

#include <chrono>
#include <functional>

using namespace core;
using namespace std::chrono;

namespace {

// What the meter does at record i: it may change the record, or leave it out.
struct Step {
    seconds Wall;            // the meter's clock
    double Forward, Reverse; // m3
    bool Litres = false, Skip = false;
    uint8_t Events = 0; // flags byte bits 2..7
};

// n records a quarter hour apart from `first`, the totaliser rising 1 m3 a record.
QByteArray ExportOf(sys_days first, int n, const std::function<void(int, Step&)>& meter = {},
                    const std::vector<std::string>& extra = {}) {
    std::vector<std::string> lines;
    Step s{first.time_since_epoch(), 100.0, 5.0};
    for (int i = 0; i < n; ++i, s.Forward += 1, s.Wall += minutes(15)) {
        Step r = s;
        if (meter) meter(i, r);
        s.Forward = r.Forward;
        if (r.Skip) continue;
        const sys_seconds at(r.Wall);
        const year_month_day d{floor<days>(at)};
        const hh_mm_ss t{at - floor<days>(at)};
        const double scale = r.Litres ? 10000 : 10;
        const auto rec = vqtsim::BuildRecord(
            int(d.year()), int(unsigned(d.month())), int(unsigned(d.day())), int(t.hours().count()),
            int(t.minutes().count()), 0, r.Events & 0x10 ? 0.0f : 4.0f,
            int32_t(std::llround(r.Forward * scale)), int32_t(std::llround(r.Reverse * scale)),
            uint8_t(r.Events | (r.Litres ? 1 : 0)));
        ArchiveRecord record;
        std::copy(rec.begin(), rec.end(), record.begin());
        lines.push_back(model::Utf8ToCp1250(BuildRecordLine(record, ",")));
    }
    lines.insert(lines.end(), extra.begin(), extra.end());
    return QByteArray::fromStdString(ExportHeader() + "\r\n" + NumberedLines(lines, 0));
}

constexpr sys_days kJan1 = 2023y / 1 / 1;
constexpr sys_days kOct29 = 2023y / 10 / 29; // daylight saving ends at 03:00

} // namespace

class TestConsumption : public QObject {
    Q_OBJECT
private slots:
    void reports_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("by");
        QTest::addColumn<QString>("totals"); // periods gaps resets reordered malformed
        QTest::addColumn<QString>("cells");  // "period|column=value|…" per row checked, ";" between
        QTest::newRow("a year of 15-minute records")
            << ExportOf(kJan1, 35040) << "month"
            << "12 1 0 0 0"
            << "2023-01|forward_m3=2976.000|net_m3=2976.000|records=2976|interpolated=0;"
               "2023-02|forward_m3=2688.000;2023-12|gap=1|forward_m3=";
        QTest::newRow("litres and m3 mixed")
            << ExportOf(kJan1, 96, [](int i, Step& s) { s.Litres = i / 4 % 2; }) << "hour"
            << "24 1 0 0 0"
            << "2023-01-01 00:00|forward_m3=4.000|reverse_m3=0.000;2023-01-01 01:00|forward_m3=4.000;"
               "2023-01-01 23:00|gap=1";
        QTest::newRow("litres past 7 digits: in exponent form, no false resets")
            << ExportOf(kJan1, 96,
                        [](int i, Step& s) {
                            s.Forward += i == 0 ? 9900 : 0;
                            s.Litres = i / 4 % 2;
                        })
            << "hour"
            << "24 1 0 0 0"
            << "2023-01-01 00:00|forward_m3=4.000;2023-01-01 01:00|forward_m3=4.000";
        QTest::newRow("a clock that lost its setting") // 10:00 to 11:45 written as 2000-01-01 00:00 on
            << ExportOf(kJan1, 97,
                        [](int i, Step& s) {
                            if (i >= 40 && i < 48)
                                s.Wall = sys_days(2000y / 1 / 1).time_since_epoch() + minutes(15 * (i - 40));
                        })
            << "day"
            << "4 3 1 8 0"
            << "2000-01-01|records=8|reordered=8|gap=1;2000-01-02|end=2023-01-01 00:00:00|gap=1;"
               "2023-01-01|forward_m3=96.000|reordered=0|resets=0";
        QTest::newRow("totaliser reset") // at 10:30, to 0.5 m3: 10:15 to 10:30 counts nothing
            << ExportOf(kJan1, 97, [](int i, Step& s) { s.Forward -= i == 42 ? 141.5 : 0; }) << "hour"
            << "25 1 1 0 0"
            << "2023-01-01 10:00|forward_m3=3.000|resets=1;2023-01-01 11:00|forward_m3=4.000|resets=0";
        QTest::newRow("a two-day hole") // none from day 2 00:00 to day 3 23:45
            << ExportOf(kJan1, 5 * 96 + 1, [](int i, Step& s) { s.Skip = i >= 96 && i < 3 * 96; }) << "hour"
            << "121 50 0 0 0"
            << "2023-01-01 22:00|forward_m3=4.000;2023-01-01 23:00|gap=1|records=4;2023-01-02 "
               "23:00|gap=1|records=0;"
               "2023-01-04 00:00|gap=0|forward_m3=4.000";
        QTest::newRow("the hour that repeats when daylight saving ends") // 02:00 to 02:45 twice
            << ExportOf(kOct29, 29, [](int i, Step& s) { s.Wall -= i >= 12 ? hours(1) : hours(0); }) << "hour"
            << "7 1 0 4 0"
            << "2023-10-29 01:00|forward_m3=4.000;2023-10-29 02:00|forward_m3=8.000|reordered=4|records=4;"
               "2023-10-29 03:00|forward_m3=4.000";
        QTest::newRow("events, and lines that are no records") // the day's end between 23:45 and 00:07
            << ExportOf(
                   kJan1, 97,
                   [](int i, Step& s) {
                       s.Events = i == 41 || i == 43 ? 0x10 : i == 44 ? 0x20 : i == 95 ? 0xFC : 0;
                       s.Wall += i == 96 ? minutes(7) : minutes(0);
                   },
                   {"rubbish", "2023-13-01;00:00:00;1,0;1,0 [m3];1,0 [m3];", ";;;;;;", "1;2;3;4;5;6;7;8"})
            << "day"
            << "2 1 0 0 4"
            << "2023-01-01|forward_m3=95.682|interpolated=1|power_loss_count=3|power_loss_first=2023-01-01 "
               "10:15:00|"
               "power_loss_last=2023-01-01 23:45:00|empty_pipe_count=2|flow_min_m3h=0.000|flow_max_m3h=4.000|"
               "reverse_flow_count=1|inverter_fault_last=2023-01-01 23:45:00";
    }
    void reports() {
        QFETCH(QByteArray, file);
        QFETCH(QString, by);
        QFETCH(QString, totals);
        QFETCH(QString, cells);
        const ConsumptionReport r =
            MakeConsumptionReport(ReadExport(file.toStdString()), *PeriodKindNamed(by.toStdString()));
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(r.Periods.size())
                     .arg(r.Gaps)
                     .arg(r.Resets)
                     .arg(r.Repeated + r.OutOfOrder)
                     .arg(r.Malformed + r.Impossible),
                 totals);
        for (const QString& row : cells.split(';')) {
            const QStringList checks = row.split('|');
            const auto p = std::find_if(r.Periods.begin(), r.Periods.end(), [&](const PeriodConsumption& q) {
                return PeriodLabel(q.Start, r.By) == checks[0].toStdString();
            });
            QVERIFY2(p != r.Periods.end(), qPrintable(checks[0]));
            const std::vector<std::string> got = ReportCells(*p, r.By);
            for (const QString& check : checks.mid(1)) {
                const QString column = check.section('=', 0, 0);
                const auto c =
                    std::find_if(ReportColumns().begin(), ReportColumns().end(),
                                 [&](const ReportColumn& k) { return k.Name == column.toStdString(); });
                QVERIFY2(c != ReportColumns().end(), qPrintable(column));
                QCOMPARE(checks[0] + " " + column + "=" +
                             QString::fromStdString(got[size_t(c - ReportColumns().begin())]),
                         checks[0] + " " + check);
            }
        }
    }

    // The hours a publisher hands on, across a restart from the carried
    // line: each once, and the same as the whole file's report.
    void hoursAsTheyCome() {
        const QByteArray file = ExportOf(kJan1, 97, [](int i, Step& s) { s.Skip = i == 40; });
        std::vector<std::string> lines; // without the header and the log numbers
        for (const QByteArray& line : file.split('\n').mid(1))
            if (!line.isEmpty()) lines.push_back(line.mid(line.indexOf(';') + 1).chopped(1).toStdString());
        const ConsumptionReport whole =
            MakeConsumptionReport(ReadExport(file.toStdString()), PeriodKind::Hour);
        std::vector<PeriodConsumption> handed;
        HourTally tally;
        for (size_t from = 0; from < lines.size(); from += 29) {
            HourTally restarted; // each batch after a restart of the tool
            restarted.Restore(tally.Carry());
            tally = from ? restarted : tally;
            const auto batch =
                tally.Add({lines.begin() + from, lines.begin() + std::min(from + 29, lines.size())});
            handed.insert(handed.end(), batch.begin(), batch.end());
        }
        QCOMPARE(handed.size(), whole.Periods.size() - 1); // the last hour is not finished
        for (size_t i = 0; i < handed.size(); ++i)
            QCOMPARE(ReportRowJson(handed[i], PeriodKind::Hour),
                     ReportRowJson(whole.Periods[i], PeriodKind::Hour));
    }
};

QTEST_APPLESS_MAIN(TestConsumption)
#include "tst_consumption.moc"
