// The application object: its title and the general error handler.
#pragma once

#include <QApplication>

namespace monitor {
class Dialogs;
}

class Application : public QApplication {
    Q_OBJECT
public:
    // The errors it catches are shown through `dialogs`, which outlives it.
    Application(int& argc, char** argv, monitor::Dialogs& dialogs);

    // Delivers an event; an exception that leaves its handler is shown in a
    // message box with its text and the program goes on. The window's own
    // handlers catch their errors where they are called (Qt's libraries
    // must not be unwound through), so this is the last line for the rest.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    monitor::Dialogs& Dialogs;
};
