// Not a test: grabs the three pages of the main window into PNG files, for
// looking at the layout (run under a real display server, e.g. xvfb-run).
// Usage: monitor_screenshots OUTPUT_DIRECTORY [WIDTHxHEIGHT]
// (the window's size, by default its smallest).
#include "Application.h"
#include "Unit1.h"

#include <QDir>
#include <QLocale>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv) {
    Application app(argc, argv);
    QSize size;
    if (argc == 3) {
        const QStringList parts = QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x'));
        if (parts.size() == 2) size = QSize(parts[0].toInt(), parts[1].toInt());
    }
    if (argc < 2 || argc > 3 || (argc == 3 && size.isEmpty())) {
        std::fputs("usage: monitor_screenshots OUTPUT_DIRECTORY [WIDTHxHEIGHT]\n", stderr);
        return 2;
    }
    const QString output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    QTemporaryDir work; // no settings file: the defaults are shown
    QDir::setCurrent(work.path());

    TForm1 form;
    if (size.isValid()) form.resize(size);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    const struct {
        QWidget* page;
        const char* name;
    } pages[] = {{form.TabSheet3, "screenshot-device.png"},
                 {form.TabSheet2, "screenshot-comm.png"},
                 {form.TabSheet1, "screenshot-diag.png"}};
    for (const auto& page : pages) {
        form.PageControl1->setCurrentWidget(page.page);
        if (page.page == form.TabSheet1) {
            // A short trace as a user would see it.
            form.appendDiagnostics(QStringLiteral("TX : [01][03][00][00][00][1B][05][C1]"));
            form.appendDiagnostics(QStringLiteral("RX : "));
        }
        QTest::qWait(200);
        const QString path = output + QLatin1Char('/') + QLatin1String(page.name);
        if (!form.grab().save(path)) return 1;
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
