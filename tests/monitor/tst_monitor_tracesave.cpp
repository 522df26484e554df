// The trace log's context menu: the standard entries and saving the lines
// shown into a text file.
#include "Application.h"
#include "Messages.h"
#include "Unit1.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll();
}
} // namespace

class TestMonitorTraceSave : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;
    QString OldDir;
    QStringList Errors;

private slots:
    void init() {
        OldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(Dir.path()));
        Errors.clear();
        monitor::SetErrorFunction([this](const QString& text) { Errors << text; });
    }
    void cleanup() {
        monitor::SetErrorFunction({});
        QDir::setCurrent(OldDir);
    }

    void linesShownAreSavedFromTheContextMenu() {
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.PageControl1->setCurrentWidget(form.TabSheet1);
        for (const char* line : {"TX : [01][03][00][00][00][1B][05][C1]", "RX : ", "zażółć gęślą jaźń"})
            form.appendDiagnostics(QString::fromUtf8(line));

        // The log's menu: the standard entries, and saving last.
        QStringList entries;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            poll.stop();
            for (const QAction* action : menu->actions())
                if (!action->isSeparator()) entries << action->text();
            menu->close();
        });
        poll.start();
        QWidget* viewport = form.RichEdit1->viewport();
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(20, 20),
                                viewport->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(viewport, &click); // returns once the menu is closed
        QVERIFY2(entries.size() >= 3, qPrintable(entries.join(QLatin1Char('|'))));
        QCOMPARE(entries.last(), QStringLiteral("Zapisz do pliku…"));

        const QString saved = Dir.filePath(QStringLiteral("zapis.txt"));
        const QString unwritable = Dir.filePath(QStringLiteral("brak/zapis.txt"));
        const struct {
            const char* name;
            bool clearFirst;
            QString answer; // of the file dialog; empty: cancelled
            QString path;   // looked at afterwards
            QByteArray content;
            bool error;
        } rows[] = {
            {"lines as shown", false, saved, saved,
             "TX : [01][03][00][00][00][1B][05][C1]\nRX : \nzażółć gęślą jaźń\n", false},
            {"cancelled: the file stays", true, QString(), saved,
             "TX : [01][03][00][00][00][1B][05][C1]\nRX : \nzażółć gęślą jaźń\n", false},
            {"an empty log, an empty file", false, saved, saved, "", false},
            {"a folder that does not exist", false, unwritable, unwritable, "<missing>", true},
        };
        for (const auto& row : rows) {
            if (row.clearFirst) form.Button7Click();
            Errors.clear();
            QStringList asked;
            monitor::SetFileDialogFunction([&](QFileDialog* dialog) {
                asked << dialog->windowTitle() +
                             (dialog->acceptMode() == QFileDialog::AcceptSave ? " (zapis)" : "");
                return row.answer;
            });
            form.SaveTrace1->trigger();
            monitor::SetFileDialogFunction({});
            QVERIFY2(asked == QStringList{QStringLiteral("Zapisz zapis diagnostyki (zapis)")}, row.name);
            QVERIFY2(readAll(row.path) == row.content, row.name);
            QVERIFY2(Errors.size() == (row.error ? 1 : 0), row.name);
            if (row.error)
                QVERIFY2(
                    Errors[0].startsWith(QStringLiteral("Zapis pliku %1 nie powiódł się (").arg(unwritable)),
                    qPrintable(Errors[0]));
        }
    }
};

int main(int argc, char** argv) {
    Application app(argc, argv);
    TestMonitorTraceSave test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_tracesave.moc"
