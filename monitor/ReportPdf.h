// The consumption report as a PDF: a page for each month of its periods
// (continued on further pages while the month's table runs on), each with
// the month's chart and table under a header naming the meter and the file.
#pragma once

#include "core/Consumption.h"

#include <QDateTime>
#include <QString>

#include <functional>

class QPainter;
class QRectF;

namespace monitor {

struct ReportPdfHeader {
    QString Address, Version, Dn; // "—" when not known
    QString FileName;             // of the export file the report comes from
    QDateTime Made;
};

// Draws the report's pages, each `page` big; `newPage` turns to the next one
// (also onto an image, to look at a page without a PDF reader).
void DrawReportPages(QPainter& painter, const QRectF& page, const std::function<void()>& newPage,
                     const core::ConsumptionReport& report, const ReportPdfHeader& header);

// An empty text when written, else why not.
QString WriteReportPdf(const QString& path, const core::ConsumptionReport& report,
                       const ReportPdfHeader& header);

} // namespace monitor
