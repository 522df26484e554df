// What the export window needs of the main window: the address it names the
// file after, where to appear, the question about a file, and the download
// started on the chosen file.
#pragma once

#include <QRect>
#include <QString>

namespace monitor {

class ExportHost {
public:
    // The device address field as it stands, blanks included.
    virtual QString AddressText() const = 0;
    // The main window's frame, which the export window is shown over.
    virtual QRect MainFrame() const = 0;
    // A yes/no question about the chosen file; true for "TAK".
    virtual bool AskAboutFile(const QString& question) = 0;
    // The export window's choices: an error text, or empty once the download runs.
    virtual QString CreateExportFile(const QString& path) = 0;
    virtual QString OpenExportFileForUpdate(const QString& path) = 0;
    // The export window has been hidden.
    virtual void ExportWindowHidden() = 0;

protected:
    ~ExportHost() = default;
};

} // namespace monitor
