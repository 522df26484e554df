#include "Application.h"

#include "Messages.h"
#include "Resources.h"

#include <QIcon>

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // The name, not the display name: Qt would append a display name to
    // every window caption.
    setApplicationName(QStringLiteral("VQT5400"));
    monitor::InitResources();
    setWindowIcon(QIcon(QStringLiteral(":/monitor/icon.png")));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        monitor::ReportCurrentException();
        return true;
    }
}
