#include "monitor/ReportTable.h"

#include "core/ReportColumns.h"

#include <QLocale>

namespace monitor {

namespace {

// The cells of core::ReportCells shown, in order: volumes, then flows.
constexpr int kShownCells[] = {3, 4, 5, 11, 12, 13};

QString Local(const std::string& cell) {
    QString text = QString::fromStdString(cell);
    return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

} // namespace

QStringList ReportHeads() {
    return {QStringLiteral("Okres"),        QStringLiteral("L+ [m³]"),       QStringLiteral("L- [m³]"),
            QStringLiteral("Netto [m³]"),   QStringLiteral("Przepływ min."), QStringLiteral("średni"),
            QStringLiteral("maks. [m³/h]"), QStringLiteral("Uwagi")};
}

bool IsNumberColumn(int column) {
    return column >= 1 && column <= 6;
}

QStringList ReportRow(const core::PeriodConsumption& period, core::PeriodKind by) {
    const std::vector<std::string> cells = core::ReportCells(period, by);
    QString label = QString::fromStdString(core::PeriodLabel(period.Start, by));
    // A merged gap spans several periods: its first and its last.
    if (core::NextPeriod(period.Start, by) < period.End)
        label += QStringLiteral(" – ") +
                 QString::fromStdString(core::PeriodLabel(core::PeriodStart(period.End - 1, by), by));
    QStringList row{label};
    for (const int cell : kShownCells) row << Local(cells[size_t(cell)]);
    return row << ReportMarks(period);
}

QString ReportMarks(const core::PeriodConsumption& period) {
    QStringList marks;
    if (period.Gap) marks << QStringLiteral("luka");
    if (period.Interpolated) marks << QStringLiteral("interpolacja");
    if (period.Resets) marks << QStringLiteral("zerowanie licznika: %1").arg(period.Resets);
    if (period.Reordered) marks << QStringLiteral("zapisy powtórzone: %1").arg(period.Reordered);
    for (int k = 0; k < core::kEventKinds; ++k)
        if (const int n = period.Events[size_t(k)].Count)
            marks << QStringLiteral("%1: %2").arg(QString::fromUtf8(core::EventText(k))).arg(n);
    return marks.join(QStringLiteral(", "));
}

QString ReportSummary(const core::ConsumptionReport& r) {
    QString text = QStringLiteral("Zapisów: %1, co %2 min; luki: %3, zerowania licznika: %4, "
                                  "pominięte powtórzone: %5")
                       .arg(r.Records)
                       .arg(r.ArchivePeriod / 60)
                       .arg(r.Gaps)
                       .arg(r.Resets)
                       .arg(r.Repeated);
    if (const int bad = r.Malformed + r.Impossible; bad > 0)
        text += QStringLiteral("; błędne wiersze pliku: %1").arg(bad);
    return text;
}

} // namespace monitor
