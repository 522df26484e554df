// The program's message boxes, its yes/no questions, its file dialogs and its
// general error handler, in one object that main makes and hands to every
// window that shows a box, asks a question or opens a file dialog.
//
// Handlers let their errors go: the window runs each handler through
// Guarded(), which shows the error's text and lets the program go on. The
// boxes are reached through replaceable functions so that tests can record
// the texts instead of answering a modal box; a test replaces them on its
// own object, which shares nothing with another.
#pragma once

#include <QMessageBox>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <utility>

class QFileDialog;
class TOKBottomDlg;

namespace monitor {

using MessageFunction = std::function<void(const QString& text)>;
// Runs a prepared file dialog; returns the chosen path, empty when cancelled.
using FileDialogFunction = std::function<QString(QFileDialog* dialog)>;
// Asks a question in one of the yes/no dialogs: its label shows the question,
// true for "TAK".
using QuestionFunction = std::function<bool(TOKBottomDlg* dialog, const QString& question)>;

class Dialogs {
public:
    Dialogs();
    ~Dialogs();
    Dialogs(const Dialogs&) = delete;
    Dialogs& operator=(const Dialogs&) = delete;

    // The system's own information box: modal, one OK button; details, if
    // any, in a second line under the text.
    void ShowInformation(const QString& text, const QString& details = {});
    // The error box of the general error handler: modal, the error's text, OK.
    void ShowError(const QString& text);

    // The file dialog, modal, over the middle of its owner.
    QString ExecuteFileDialog(QFileDialog* dialog);

    // Asks a question in one of the yes/no dialogs: its label shows the
    // question; true for "TAK".
    bool Ask(TOKBottomDlg* dialog, const QString& question);

    // Shows the exception being handled through ShowError; call inside a catch block.
    void ReportCurrentException() noexcept;

    // Runs a handler; an exception leaving it is shown and the caller goes on.
    // What the handler did before the error stays done.
    template <class F> void Guarded(F&& handler) noexcept {
        try {
            std::forward<F>(handler)();
        } catch (...) {
            ReportCurrentException();
        }
    }

    // Replace a box, the file dialog or the question; an empty function
    // restores the real one. Each returns the previous.
    MessageFunction SetInformationFunction(MessageFunction function);
    MessageFunction SetErrorFunction(MessageFunction function);
    FileDialogFunction SetFileDialogFunction(FileDialogFunction function);
    QuestionFunction SetQuestionFunction(QuestionFunction function);

private:
    struct WaitingBox {
        QMessageBox::Icon icon;
        QString text;
        QString details;
    };

    void showBox(QMessageBox::Icon icon, const QString& text, const QString& details = {});
    void showWaitingBoxes();
    // One box at a time: while another modal window is open (a question, a
    // file dialog, another box), a box waits for it to close.
    bool waitForOpenWindow();

    // Empty: the real box, dialog or question.
    MessageFunction InformationBox;
    MessageFunction ErrorBox;
    FileDialogFunction FileDialog;
    QuestionFunction Question;
    // The boxes that wait for their turn: one box at a time.
    std::deque<WaitingBox> WaitingBoxes;
    // Whom the end of an open modal window calls back to show the boxes
    // that wait for it; made with the first wait, and the calls go with it.
    std::unique_ptr<QObject> Waiter;
};

} // namespace monitor
