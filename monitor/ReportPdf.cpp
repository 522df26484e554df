#include "monitor/ReportPdf.h"

#include "monitor/ConsumptionChart.h"
#include "monitor/ReportTable.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <span>

namespace monitor {

namespace {

constexpr int kResolution = 300;     // dots per inch: sharp enough, small files
constexpr double kChartShare = 0.36; // of the page's height
constexpr double kFontPoints = 8;
constexpr int kColumns = 8; // the period, six numbers, the marks

const QColor kRuleColor(0xA8, 0xA8, 0xA8);
const QColor kGapRowColor(0xEE, 0xEE, 0xEE);

class PdfPages {
public:
    PdfPages(const std::function<void()>& newPage, QPainter& painter, const QRectF& page,
             const ReportPdfHeader& header, core::PeriodKind by)
        : NewPage(newPage), P(painter), Header(header), By(by), Page(page) {}

    // Each column as wide as its widest cell or head, so that no number is
    // cut; the marks take what is left, and only they may be shortened.
    void fitColumns(std::span<const core::PeriodConsumption> periods) {
        QFont bold = P.font();
        bold.setBold(true);
        const QFontMetricsF plain(P.font(), P.device()), heads(bold, P.device());
        const QStringList headTexts = ReportHeads();
        for (int c = 0; c < kColumns; ++c) Widths[c] = heads.horizontalAdvance(headTexts.value(c));
        for (const core::PeriodConsumption& period : periods) {
            const QStringList cells = ReportRow(period, By);
            for (int c = 0; c < kColumns - 1; ++c)
                Widths[c] = std::max(Widths[c], plain.horizontalAdvance(cells.value(c)));
        }
        double used = 0;
        for (int c = 0; c < kColumns - 1; ++c) used += (Widths[c] += 2 * pad());
        Widths[kColumns - 1] = std::max(Page.width() - used, 0.0);
    }

    // The month's pages: header, chart, and the table, on as many pages as it takes.
    void month(std::span<const core::PeriodConsumption> periods) {
        const QString title = QStringLiteral("Raport zużycia – %1")
                                  .arg(QString::fromStdString(core::PeriodLabel(
                                      core::PeriodStart(periods.front().Start, core::PeriodKind::Month),
                                      core::PeriodKind::Month)));
        double y = header(title);
        const double chartHeight = Page.height() * kChartShare;
        DrawConsumption(P, QRectF(Page.left(), y, Page.width(), chartHeight), periods, By);
        y += chartHeight + line();
        y = heads(y);
        for (const core::PeriodConsumption& period : periods) {
            if (y + line() > Page.bottom()) {
                y = heads(header(title + QStringLiteral(" (cd.)")));
            }
            y = row(y, ReportRow(period, By), period.Gap);
        }
    }

private:
    double line() const { return QFontMetricsF(P.font(), P.device()).height() * 1.25; }

    void next() {
        if (!Started) {
            Started = true;
            return;
        }
        NewPage();
    }

    double header(const QString& title) {
        next();
        QFont bold = P.font();
        bold.setBold(true);
        bold.setPointSizeF(kFontPoints * 1.5);
        P.save();
        P.setFont(bold);
        const double titleLine = QFontMetricsF(bold, P.device()).height();
        P.drawText(QRectF(Page.left(), Page.top(), Page.width(), titleLine), Qt::AlignLeft, title);
        P.restore();
        double y = Page.top() + titleLine * 1.2;
        const QString lines[] = {
            QStringLiteral("Adres przepływomierza: %1    Wersja: %2    DN: %3")
                .arg(Header.Address, Header.Version, Header.Dn),
            QStringLiteral("Plik: %1    Utworzono: %2")
                .arg(Header.FileName, QLocale().toString(Header.Made, QStringLiteral("yyyy-MM-dd HH:mm")))};
        for (const QString& text : lines) {
            P.drawText(QRectF(Page.left(), y, Page.width(), line()), Qt::AlignLeft | Qt::AlignVCenter, text);
            y += line();
        }
        return y + line() / 2;
    }

    double heads(double y) {
        QFont bold = P.font();
        bold.setBold(true);
        P.save();
        P.setFont(bold);
        y = row(y, ReportHeads(), false);
        P.restore();
        P.setPen(kRuleColor);
        P.drawLine(QPointF(Page.left(), y), QPointF(Page.right(), y));
        P.setPen(Qt::black);
        return y;
    }

    double pad() const { return line() / 5; }

    double row(double y, const QStringList& cells, bool gap) {
        if (gap) P.fillRect(QRectF(Page.left(), y, Page.width(), line()), kGapRowColor);
        double x = Page.left();
        const QFontMetricsF fm(P.font(), P.device());
        for (int c = 0; c < cells.size() && c < kColumns; ++c) {
            const double w = Widths[c];
            const QRectF cell(x + pad(), y, std::max(w - 2 * pad(), 0.0), line());
            const Qt::Alignment align =
                (IsNumberColumn(c) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
            P.drawText(cell, align, fm.elidedText(cells[c], Qt::ElideRight, cell.width()));
            x += w;
        }
        return y + line();
    }

    const std::function<void()>& NewPage;
    QPainter& P;
    const ReportPdfHeader& Header;
    core::PeriodKind By;
    QRectF Page;
    std::array<double, kColumns> Widths{};
    bool Started = false;
};

} // namespace

void DrawReportPages(QPainter& painter, const QRectF& page, const std::function<void()>& newPage,
                     const core::ConsumptionReport& report, const ReportPdfHeader& header) {
    QFont font = painter.font();
    font.setPointSizeF(kFontPoints);
    painter.setFont(font);
    PdfPages pages(newPage, painter, page, header, report.By);
    const std::span<const core::PeriodConsumption> all(report.Periods);
    pages.fitColumns(all);
    size_t first = 0;
    for (size_t i = 1; i <= all.size(); ++i) {
        const auto month = [&](size_t k) { return core::PeriodStart(all[k].Start, core::PeriodKind::Month); };
        if (i < all.size() && month(i) == month(first)) continue;
        pages.month(all.subspan(first, i - first));
        first = i;
    }
}

QString WriteReportPdf(const QString& path, const core::ConsumptionReport& report,
                       const ReportPdfHeader& header) {
    // Written beside and renamed over: a failed write leaves an older PDF whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    {
        QPdfWriter writer(&file);
        writer.setResolution(kResolution);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Raport zużycia – %1").arg(header.FileName));
        writer.setCreator(QStringLiteral("VQT540 - Monitor"));
        QPainter painter;
        if (!painter.begin(&writer)) return QStringLiteral("nie można utworzyć dokumentu PDF");
        DrawReportPages(
            painter, QRectF(0, 0, writer.width(), writer.height()), [&writer] { writer.newPage(); }, report,
            header);
        if (!painter.end()) return QStringLiteral("nie można zakończyć dokumentu PDF");
    }
    if (!file.commit()) return file.errorString();
    return {};
}

} // namespace monitor
