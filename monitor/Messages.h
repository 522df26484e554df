// The program's message boxes and its general error handler.
//
// Handlers let their errors go: the window runs each handler through
// Guarded(), which shows the error's text and lets the program go on. The
// boxes are reached through replaceable functions so that tests can record
// the texts instead of answering a modal box.
#pragma once

#include <QString>

#include <functional>

class QFileDialog;
class QWidget;
#include <utility>

namespace monitor {

using MessageFunction = std::function<void(const QString& text)>;
// Runs a prepared file dialog; returns the chosen path, empty when cancelled.
using FileDialogFunction = std::function<QString(QFileDialog* dialog)>;

// The system's own information box: modal, one OK button; details, if
// any, in a second line under the text.
void ShowInformation(const QString& text, const QString& details = {});
// The error box of the general error handler: modal, the error's text, OK.
void ShowError(const QString& text);

// Replace a box; an empty function restores the real one. Returns the previous.
MessageFunction SetInformationFunction(MessageFunction function);
MessageFunction SetErrorFunction(MessageFunction function);

// Puts a window over the middle of the one it belongs to (its parent's
// window, else the active one), where the user looks.
void CenterOnOwner(QWidget* window);

// Makes a dialog or box that is about to be shown open above the window that
// asks (`asker`'s window; by default the modal window open, else the active
// window, else a window of ours that stays on top, else the dialog's
// parent's window): that window is its transient parent (its owner on
// Windows), it stays on top while a window of ours does, which would
// otherwise cover it, and it is raised and activated when shown.
void OpenOver(QWidget* dialog, QWidget* asker = nullptr);

// The file dialog, modal, over the middle of its owner; replaceable like the boxes.
QString ExecuteFileDialog(QFileDialog* dialog);
FileDialogFunction SetFileDialogFunction(FileDialogFunction function);

// A file's path as a message shows it: a line too narrow for it breaks only
// after a separator ("/", "\\"), never at a blank or a hyphen in a name.
// (No-break spaces and invisible joiners and breaks: for showing, not copying.)
QString UnbrokenPath(const QString& path);

// "Zapis pliku PATH nie powiódł się (REASON)." and the like: which file and why.
QString FileErrorText(const QString& action, const QString& path, const QString& reason);

// The text of the exception being handled; call only inside a catch block.
QString CurrentExceptionText();
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

} // namespace monitor
