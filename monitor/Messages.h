// Helpers of the program's message boxes and dialogs that keep no state:
// where a dialog opens, and how a path, a file's error and an exception read
// in a box. The boxes themselves are shown through monitor::Dialogs.
#pragma once

#include <QString>

class QWidget;

namespace monitor {

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

// A file's path as a message shows it: a line too narrow for it breaks only
// after a separator ("/", "\\"), never at a blank or a hyphen in a name.
// (No-break spaces and invisible joiners and breaks: for showing, not copying.)
QString UnbrokenPath(const QString& path);

// "Zapis pliku PATH nie powiódł się (REASON)." and the like: which file and why.
QString FileErrorText(const QString& action, const QString& path, const QString& reason);

// The text of the exception being handled; call only inside a catch block.
QString CurrentExceptionText();

} // namespace monitor
