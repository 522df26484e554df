#include "monitor/ReportWindow.h"

#include "monitor/ConsumptionChart.h"
#include "monitor/Dialogs.h"
#include "monitor/Messages.h"
#include "monitor/Naming.h"
#include "monitor/ReportTable.h"

#include "core/ReportColumns.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr qint64 kLargestFile = qint64{256} << 20; // a full archive's export is about 1 MB
const QString kUnknown = QStringLiteral("—");

} // namespace

TFormRaport::TFormRaport(monitor::Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), Dialogs(dialogs) {
    setObjectName(QStringLiteral("FormRaport"));
    setWindowTitle(QStringLiteral("Raport zużycia"));
    setAttribute(Qt::WA_DeleteOnClose);
    Header.Address = Header.Version = Header.Dn = kUnknown;

    PeriodBox = new QComboBox(this);
    VQT_NAME(PeriodBox);
    PeriodBox->addItems({QStringLiteral("godziny"), QStringLiteral("dni"), QStringLiteral("miesiące")});
    PeriodBox->setCurrentIndex(1);
    PeriodLabel = new QLabel(QStringLiteral("&Okresy:"), this);
    VQT_NAME(PeriodLabel);
    PeriodLabel->setBuddy(PeriodBox);
    SavePdfButton = new QPushButton(QStringLiteral("Zapisz jako PDF…"), this);
    VQT_NAME(SavePdfButton);
    SaveCsvButton = new QPushButton(QStringLiteral("Zapisz jako CSV…"), this);
    VQT_NAME(SaveCsvButton);
    SummaryLabel = new QLabel(this);
    VQT_NAME(SummaryLabel);
    SummaryLabel->setWordWrap(true);

    ReportChart = new monitor::ConsumptionChart(this);
    VQT_NAME(ReportChart);
    ReportTable = new QTableWidget(this);
    VQT_NAME(ReportTable);
    ReportTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ReportTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    ReportTable->verticalHeader()->hide();
    ReportTable->verticalHeader()->setDefaultSectionSize(ReportTable->fontMetrics().height() + 4);
    ReportTable->setColumnCount(int(monitor::ReportHeads().size()));
    ReportTable->setHorizontalHeaderLabels(monitor::ReportHeads());
    ReportTable->horizontalHeader()->setStretchLastSection(true);

    auto* top = new QHBoxLayout;
    top->addWidget(PeriodLabel);
    top->addWidget(PeriodBox);
    top->addStretch(1);
    top->addWidget(SavePdfButton);
    top->addWidget(SaveCsvButton);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("ReportSplitter"));
    split->addWidget(ReportChart);
    split->addWidget(ReportTable);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(6, 6, 6, 6);
    page->addLayout(top);
    page->addWidget(SummaryLabel);
    page->addWidget(split, 1);
    resize(820, 620);

    connect(PeriodBox, &QComboBox::activated, this,
            [this] { Dialogs.Guarded([this] { PeriodBoxChange(); }); });
    connect(SavePdfButton, &QPushButton::clicked, this,
            [this] { Dialogs.Guarded([this] { SavePdfButtonClick(); }); });
    connect(SaveCsvButton, &QPushButton::clicked, this,
            [this] { Dialogs.Guarded([this] { SaveCsvButtonClick(); }); });
}

bool TFormRaport::openFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestFile) {
        const QString reason = file.isOpen() ? QStringLiteral("plik jest za duży") : file.errorString();
        Dialogs.ShowError(monitor::FileErrorText(QStringLiteral("Odczyt"), path, reason));
        return false;
    }
    core::ExportRead read = core::ReadExport(file.readAll().toStdString());
    if (read.Samples.empty()) {
        Dialogs.ShowError(QStringLiteral("Plik %1 nie zawiera zapisów archiwum.")
                              .arg(monitor::UnbrokenPath(QDir::toNativeSeparators(path))));
        return false;
    }
    Read = std::move(read);
    FilePath = path;
    Header.FileName = QFileInfo(path).fileName();
    setWindowTitle(QStringLiteral("Raport zużycia - %1").arg(Header.FileName));
    showReport();
    return true;
}

void TFormRaport::setMeter(const QString& address, const QString& version, const QString& dn) {
    Header.Address = address.isEmpty() ? kUnknown : address;
    Header.Version = version.isEmpty() ? kUnknown : version;
    Header.Dn = dn.isEmpty() ? kUnknown : dn;
}

void TFormRaport::PeriodBoxChange() {
    showReport();
}

void TFormRaport::showReport() {
    static constexpr core::PeriodKind kinds[] = {core::PeriodKind::Hour, core::PeriodKind::Day,
                                                 core::PeriodKind::Month};
    Report = core::MakeConsumptionReport(Read, kinds[std::clamp(PeriodBox->currentIndex(), 0, 2)]);
    SummaryLabel->setText(monitor::ReportSummary(Report));
    ReportChart->setPeriods(Report.Periods, Report.By);
    ReportTable->setRowCount(int(Report.Periods.size()));
    for (int r = 0; r < ReportTable->rowCount(); ++r) {
        const QStringList cells = monitor::ReportRow(Report.Periods[size_t(r)], Report.By);
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (monitor::IsNumberColumn(c)) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (c == cells.size() - 1) item->setToolTip(cells[c]);
            ReportTable->setItem(r, c, item);
        }
    }
    ReportTable->resizeColumnsToContents();
}

QString TFormRaport::savePdf(const QString& path) const {
    monitor::ReportPdfHeader header = Header;
    header.Made = QDateTime::currentDateTime();
    return monitor::WriteReportPdf(path, Report, header);
}

QString TFormRaport::saveCsv(const QString& path) const {
    QFile file(path);
    const QByteArray csv = QByteArray::fromStdString(core::ReportCsv(Report));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(csv) != csv.size() ||
        !file.flush())
        return file.errorString();
    return {};
}

QString TFormRaport::askSavePath(const QString& title, const QString& suffix, const QString& filter) {
    const QFileInfo source(FilePath);
    const QString kind = QString::fromUtf8(core::PeriodKindName(Report.By));
    QFileDialog dialog(this, title,
                       source.dir().filePath(source.completeBaseName() + QLatin1Char('_') + kind +
                                             QLatin1Char('.') + suffix),
                       filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    return Dialogs.ExecuteFileDialog(&dialog);
}

void TFormRaport::SavePdfButtonClick() {
    const QString path = askSavePath(QStringLiteral("Zapisz raport jako PDF"), QStringLiteral("pdf"),
                                     QStringLiteral("Dokument PDF (*.pdf)"));
    if (path.isEmpty()) return;
    if (const QString failed = savePdf(path); !failed.isEmpty())
        Dialogs.ShowError(monitor::FileErrorText(QStringLiteral("Zapis"), path, failed));
}

void TFormRaport::SaveCsvButtonClick() {
    const QString path = askSavePath(QStringLiteral("Zapisz raport jako CSV"), QStringLiteral("csv"),
                                     QStringLiteral("Plik CSV (*.csv)"));
    if (path.isEmpty()) return;
    if (const QString failed = saveCsv(path); !failed.isEmpty())
        Dialogs.ShowError(monitor::FileErrorText(QStringLiteral("Zapis"), path, failed));
}
