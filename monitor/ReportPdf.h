// The consumption report as a PDF: a page for each month of its periods
// (continued on further pages while the month's table runs on), each with
// the month's chart and table under a header naming the meter and the file.
#pragma once

#include "core/Consumption.h"

#include <QDateTime>
#include <QString>

namespace monitor {

struct ReportPdfHeader {
    QString Address, Version, Dn; // "—" when not known
    QString FileName;             // of the export file the report comes from
    QDateTime Made;
};

// An empty text when written, else why not.
QString WriteReportPdf(const QString& path, const core::ConsumptionReport& report,
                       const ReportPdfHeader& header);

} // namespace monitor
