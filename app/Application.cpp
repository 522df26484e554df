#include "app/Application.h"

#include "monitor/Dialogs.h"
#include "monitor/Resources.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

Application::Application(int& argc, char** argv, monitor::Dialogs& dialogs)
    : QApplication(argc, argv), Dialogs(dialogs) {
    // The name, not the display name: Qt would append a display name to
    // every window caption.
    setApplicationName(QStringLiteral("VQT5400"));
    // The installed desktop entry's name, by which a desktop ties the window
    // to its menu entry and icon (on Wayland only by this).
    setDesktopFileName(QStringLiteral("vqt540-monitor"));
    // One look on every system: the pages are coloured through the palette,
    // and Windows' own style paints buttons and lists natively, leaving the
    // navy reset button and the aqua unit lists grey.
    setStyle(QStringLiteral("Fusion"));
    monitor::InitResources();
    setWindowIcon(QIcon(QStringLiteral(":/monitor/icon.png")));
    // Qt's own buttons and dialogs speak Polish like the rest of the window,
    // whatever the user's locale; without the file they stay in English.
    auto* translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qtbase_pl"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
    else
        delete translator;
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        Dialogs.ReportCurrentException();
        return true;
    }
}
