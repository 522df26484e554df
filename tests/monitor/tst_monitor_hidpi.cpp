// The window on a laptop's screen at twice the scale: 1400 x 1000 pixels are
// 700 x 500 of the window's, less than it needs. It opens within the free
// area, and every page can still be reached.
#include "Form1Controls.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

class TestMonitorHiDpi : public QObject {
    Q_OBJECT
private slots:
    void opensWithinTheScreen() {
        QScreen* screen = QGuiApplication::primaryScreen();
        QVERIFY(screen);
        QCOMPARE(screen->devicePixelRatio(), 2.0);
        const QRect area = screen->availableGeometry();
        QCOMPARE(area.size(), QSize(700, 500));
        modbus::Link meters;
        monitor::Dialogs dialogs;
        TForm1 form(meters, dialogs);
        const Form1Controls ui(form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY(area.contains(form.frameGeometry()));
        QVERIFY(form.minimumWidth() <= area.width() && form.minimumHeight() <= area.height());
        QVERIFY(ui.StatusBar1->isVisible());
        QVERIFY(area.contains(ui.StatusBar1->mapToGlobal(ui.StatusBar1->rect().bottomRight())));
        // The pages scroll: the last control of the device page comes into view.
        auto* scroll = qobject_cast<QScrollArea*>(form.centralWidget());
        QVERIFY(scroll);
        QVERIFY(scroll->verticalScrollBar()->maximum() > 0);
        scroll->ensureWidgetVisible(ui.Button5);
        QVERIFY(!ui.Button5->visibleRegion().isEmpty());
        QVERIFY(!ui.MaskEdit5->visibleRegion().isEmpty());
    }
};

int main(int argc, char** argv) {
    // One screen of 1400 x 1000 at a scale of 2, set before the application starts.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(R"({"screens":[{"name":"laptop","x":0,"y":0,"width":1400,"height":1000,)"
                   R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})") < 0)
        return 1;
    file.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit());
    qputenv("QT_SCALE_FACTOR", "2");
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    TestMonitorHiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_hidpi.moc"
