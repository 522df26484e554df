// Which window is on top, under a real window manager (with_window_manager.sh
// starts Xvfb and openbox and runs this with Qt's X11 platform): every
// dialog the export window leads to opens above it, although the export
// window stays on top, and a click on the dialog's "TAK" reaches it. The
// stacking is what the window manager says (_NET_CLIENT_LIST_STACKING); the
// clicks and keys go through the X server (xdotool), as a user's would. The
// windows are the program's own, put together as main.cpp does, against the
// simulated meter linked as COM1 in the working directory.
#include "Form1Controls.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "monitor/DPlik.h"
#include "monitor/DZakoncz.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"
#include "monitor/Unit2.h"
#include "sim/Simulator.h"
#include "tests/common/SimulatorFixture.h"

#include <QAbstractItemView>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

constexpr int kPatienceMs = 20000; // for each window to come up, or on top

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000)) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The managed windows, bottom to top, as the window manager stacks them.
QList<WId> stacking() {
    QList<WId> windows;
    const QString text = run("xprop", {"-root", "-notype", "_NET_CLIENT_LIST_STACKING"});
    for (const QRegularExpressionMatch& m : QRegularExpression("0x[0-9a-fA-F]+").globalMatch(text))
        windows << m.captured().toULongLong(nullptr, 16);
    return windows;
}

// Mapped windows of that title, as xdotool finds them.
bool mapped(const QString& title, WId window) {
    const QString found =
        run("xdotool", {"search", "--onlyvisible", "--name", QRegularExpression::escape(title)});
    for (const QString& id : found.split('\n', Qt::SkipEmptyParts))
        if (id.trimmed().toULongLong() == window) return true;
    return false;
}

// A click at a widget's middle, through the X server: it reaches whatever
// window is on top there.
void click(QWidget* widget) {
    const QPoint at = widget->mapTo(widget->window(), widget->rect().center());
    run("xdotool", {"mousemove", "--window", QString::number(widget->window()->winId()),
                    QString::number(at.x()), QString::number(at.y()), "click", "1"});
}

// One window the program is to open: its title, how to tell it, and what the
// user does in it once it is up and on top.
struct Step {
    QString title;
    std::function<bool(QWidget*)> is;
    std::function<void(QWidget*)> act;
};

// Runs the steps from inside the modal windows' own event loops, as the
// user answers them. A window that is not on top in time is a failure; the
// modal window open then is closed so that the test can go on.
class User : public QObject {
public:
    explicit User(QList<Step> steps) : Steps(std::move(steps)) {
        connect(&Poll, &QTimer::timeout, this, [this] { next(); });
        Poll.start(50);
        Since.start();
    }
    bool done() const { return Steps.isEmpty() || !Failure.isEmpty(); }
    QString Failure;
    QStringList OnTop; // the titles seen on top, in turn

private:
    void next() {
        if (done()) {
            Poll.stop();
            return;
        }
        const Step& step = Steps.front();
        QWidget* shown = QApplication::activeModalWidget();
        const bool up = shown && shown->isVisible() && step.is(shown) && mapped(step.title, shown->winId());
        const QList<WId> order = up ? stacking() : QList<WId>();
        if (up && !order.isEmpty() && order.constLast() == shown->winId()) {
            OnTop << step.title;
            const Step taken = Steps.takeFirst();
            Since.restart();
            taken.act(shown);
            return;
        }
        if (Since.elapsed() < kPatienceMs) return;
        const QList<WId> now = stacking();
        Failure = up ? QStringLiteral("\"%1\" (0x%2) is not the topmost window: 0x%3 is")
                           .arg(step.title)
                           .arg(shown->winId(), 0, 16)
                           .arg(now.isEmpty() ? 0 : now.constLast(), 0, 16)
                     : QStringLiteral("\"%1\" did not come up (open: %2 \"%3\")")
                           .arg(step.title, shown ? shown->metaObject()->className() : "nothing",
                                shown ? shown->windowTitle() : QString());
        if (shown) shown->close();
    }

    QList<Step> Steps;
    QTimer Poll;
    QElapsedTimer Since;
};

template <class T> bool isA(QWidget* w) {
    return qobject_cast<T*>(w) != nullptr;
}

} // namespace

class TestMonitorStacking : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString oldDir;
    std::unique_ptr<vqtsim::Simulator> sim;
    modbus::Link meters;      // outlives the windows
    monitor::Dialogs dialogs; // their real boxes, questions and file dialogs; outlives them too
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TOKBottomDlg1> dlg1;
    std::unique_ptr<TOKBottomDlg2> dlg2;
    std::unique_ptr<TForm2> form2;
    Form1Controls ui;

    QString exportPath() const { return dir.filePath(QStringLiteral("VQT540_nr  1_1.csv")); }

    static Step question(const QString& text) {
        return {QStringLiteral("VQT540"),
                [text](QWidget* w) {
                    return isA<TOKBottomDlg>(w) &&
                           w->findChild<QLabel*>(QStringLiteral("Label1"))->text() == text;
                },
                [](QWidget* w) { click(w->findChild<QPushButton*>(QStringLiteral("OKBtn"))); }};
    }
    // The file dialog: the name put in and taken, as its button does. (Not
    // by a click: the name of a file that exists opens the name field's
    // completion list, which the next click only closes.) A selection left
    // in its views from the last use would be taken too.
    static Step fileDialog(const QString& title, const QString& path) {
        return {title, isA<QFileDialog>, [path](QWidget* w) {
                    for (auto* view : w->findChildren<QAbstractItemView*>()) view->clearSelection();
                    if (auto* name = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                        name->setText(path);
                    static_cast<QDialog*>(w)->accept(); // QFileDialog::accept
                }};
    }
    static Step savedMessage() {
        return {QStringLiteral("VQT5400"), isA<QMessageBox>,
                [](QWidget* w) { click(static_cast<QMessageBox*>(w)->button(QMessageBox::Ok)); }};
    }

    // The archive button, then a click on one of the export window's buttons.
    void chooseThrough(const char* button, QList<Step> steps) {
        ui.Button5->click();
        QTRY_VERIFY_WITH_TIMEOUT(mapped(form2->windowTitle(), form2->winId()), kPatienceMs);
        QVERIFY(form2->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        User user(std::move(steps));
        click(form2->findChild<QPushButton*>(QLatin1String(button)));
        QTRY_VERIFY_WITH_TIMEOUT(user.done(), 4 * kPatienceMs);
        QVERIFY2(user.Failure.isEmpty(), qPrintable(user.Failure + " after " + user.OnTop.join(", ")));
        // The dialogs made no widget of the windows a native window of its
        // own: a native focus ring would take the clicks meant for its button.
        for (QWidget* window : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(form2.get())})
            for (const QWidget* child : window->findChildren<QWidget*>())
                QVERIFY2(child->isWindow() || !child->internalWinId(), qPrintable(child->objectName()));
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        oldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        vqtsim::Options o = testsim::FastMeter(dir.path());
        o.archiveRecords = 12;
        sim = testsim::StartSimulator(o, true);

        // As main.cpp puts them together.
        form = std::make_unique<TForm1>(meters, dialogs);
        dlg1 = std::make_unique<TOKBottomDlg1>(form.get());
        dlg2 = std::make_unique<TOKBottomDlg2>(form.get());
        form2 = std::make_unique<TForm2>(*form, dialogs);
        form->setDialogs(dlg1.get(), dlg2.get());
        form->setExportWindow(form2.get());
        form->show();
        ui = Form1Controls(*form);
        QTRY_VERIFY_WITH_TIMEOUT(mapped(form->windowTitle(), form->winId()), kPatienceMs);
        ui.Period->setText(QStringLiteral("0"));
    }
    void cleanupTestCase() {
        form->setExportWindow(nullptr);
        form2.reset();
        dlg2.reset();
        dlg1.reset();
        form.reset();
        sim.reset();
        QDir::setCurrent(oldDir);
    }

    // "Zapisz nowy plik": the file dialog and the question over the export
    // window, "TAK" clicked, the download, its message over the main window.
    void newFileQuestionOnTop() {
        QVERIFY(!QFile::exists(exportPath()));
        chooseThrough("Button2", {fileDialog("Podaj plik do zapisu", exportPath()),
                                  question("Plik nie istnieje. Utworzyć nowy ?"), savedMessage()});
        if (QTest::currentTestFailed()) return;
        QFile file(exportPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count("\r\n"), 1 + 12);
    }

    // "Uaktualnij plik ": the question whether to add to the existing file.
    void updateQuestionOnTop() {
        QVERIFY(QFile::exists(exportPath()));
        chooseThrough("Button1", {fileDialog("Znajdź plik", exportPath()),
                                  question("Plik istnieje. Dopisać nowe dane ?"), savedMessage()});
        if (QTest::currentTestFailed()) return;
        // Nothing newer: the update read it all and kept the file's lines.
        QFile file(exportPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count("\r\n"), 1 + 12);
        QVERIFY(!form->archiveCycle().ArchiveRunning());
    }
};

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    TestMonitorStacking test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_stacking.moc"
