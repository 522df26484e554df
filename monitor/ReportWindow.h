// The consumption report window: what flowed in each hour, day or month of
// an export file, as bars over time and as a table under them; saved as a
// PDF of a page a month or as the CSV other programs read.
//
// Each control is a member under its own name (also its objectName); the
// handlers are connected to user actions only.
#pragma once

#include "monitor/ReportPdf.h"

#include "core/Consumption.h"

#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
namespace monitor {
class ConsumptionChart;
class Dialogs;
} // namespace monitor

class TFormRaport : public QWidget {
    Q_OBJECT
public:
    // A window of its own, over the one it belongs to; its boxes and file
    // dialogs through `dialogs`, which outlives it.
    explicit TFormRaport(monitor::Dialogs& dialogs, QWidget* parent = nullptr);

    // Reads the export file and shows its report; false, the reason shown,
    // when it cannot be read or holds no archive record.
    bool openFile(const QString& path);
    // The meter named in the PDF's header; "—" for what is not known.
    void setMeter(const QString& address, const QString& version, const QString& dn);

    const core::ConsumptionReport& report() const { return Report; }
    // An empty text when written, else why not.
    QString savePdf(const QString& path) const;
    QString saveCsv(const QString& path) const;

private slots:
    void PeriodBoxChange();
    void SavePdfButtonClick();
    void SaveCsvButtonClick();

private:
    QLabel* PeriodLabel; // "Okresy:"
    QComboBox* PeriodBox;
    QLabel* SummaryLabel;
    monitor::ConsumptionChart* ReportChart;
    QTableWidget* ReportTable;
    QPushButton* SavePdfButton;
    QPushButton* SaveCsvButton;

    monitor::Dialogs& Dialogs;
    core::ExportRead Read;
    core::ConsumptionReport Report;
    QString FilePath;
    monitor::ReportPdfHeader Header;

    void showReport();
    // The path the user picks for a file of `suffix`, or empty.
    QString askSavePath(const QString& title, const QString& suffix, const QString& filter);
};
