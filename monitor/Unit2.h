// The export window: where the user chooses the file that a download is
// written to, new or an existing export to bring up to date. It opens the
// file through the main window, which starts the download; then it hides.
// All it needs of the main window is its ExportHost.
#pragma once

#include <QWidget>

class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
namespace monitor {
class Dialogs;
class ExportHost;
class FocusRing;
} // namespace monitor

class TForm2 : public QWidget {
    Q_OBJECT
public:
    // Not shown until the main window's archive button asks for it.
    TForm2(monitor::ExportHost& host, monitor::Dialogs& dialogs, QWidget* parent = nullptr);
    ~TForm2() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private slots:
    void FormShow();
    void FormHide();
    void Button2Click();
    void Button1Click();

private:
    QLabel* Image1;
    QPushButton* Button2; // "Zapisz nowy plik"
    QPushButton* Button1; // "Uaktualnij plik "
    QLineEdit* Edit1;     // the proposed or chosen path
    QFileDialog* OpenDialog1;
    // A frame around the control that has the keyboard focus.
    monitor::FocusRing* FocusRing1 = nullptr;

    // The file dialog with a title and a proposed name; empty when cancelled.
    QString chooseFile(const QString& title, const QString& proposedName);
    QString proposedName() const;
    void create(const QString& path);
    void update(const QString& path);

    monitor::ExportHost& Host; // the main window
    monitor::Dialogs& Dialogs; // its file dialog, and the error handler of its handlers
};
