// The real window, offscreen, against the simulated meter on a pseudo-terminal:
// a fresh working directory with the simulator in it, a shown window with a
// short tick, the questions answered as answer says, and what the tests of the
// polling and of the editing share.
#pragma once

#include "WindowFixture.h"
#include "app/Application.h"
#include "core/LinkState.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "modbus/SerialPort.h"
#include "monitor/Dialogs.h"
#include "monitor/FlowChart.h"
#include "monitor/OKBottomDlg.h"
#include "monitor/StatusLabels.h"
#include "monitor/Unit1.h"
#include "sim/Simulator.h"
#include "tests/common/SimulatorFixture.h"
#include "tests/core/SimulatedArchive.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

using Kind = monitor::DropDownBox::Kind;

namespace polling_fixture {
inline QString slotText(const model::WriteSlots& s) {
    QStringList parts;
    if (s.LongWritePending) parts << QStringLiteral("A %1 %2").arg(s.LongWriteRegister).arg(s.LongWriteValue);
    if (s.ShortWritePending)
        parts << QStringLiteral("B %1 %2 %3")
                     .arg(s.ShortWriteRegister)
                     .arg(s.ShortWriteHigh)
                     .arg(s.ShortWriteLow);
    return parts.join(QStringLiteral(", "));
}

inline void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), field);
    field->selectAll();
    QTest::keyClicks(field, text);
}

// The next item of a list, chosen as from the program.
inline void DropDownBoxSetNext(monitor::DropDownBox* box) {
    box->setItemIndex((box->currentIndex() + 1) % box->count());
}

inline void pressDown(QWidget* box, int times) {
    box->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(box->hasFocus());
    for (int i = 0; i < times; ++i) QTest::keyClick(box, Qt::Key_Down);
}
} // namespace polling_fixture

using namespace polling_fixture;

class PollingFixture : public QObject {
    Q_OBJECT
protected:
    std::unique_ptr<QTemporaryDir> dir;
    QString oldDir;
    std::unique_ptr<vqtsim::Simulator> sim;
    modbus::Link meters;      // outlives the window
    monitor::Dialogs dialogs; // the window's boxes and questions, answered here; outlives it too
    std::unique_ptr<TForm1> form;
    Form1Controls ui;
    QStringList errors;
    QStringList questions;
    bool answer = true;

    // A shown window with a 10 ms tick (200 ms time-out) and a 50 ms scan period.
    bool open() {
        form = std::make_unique<TForm1>(meters, dialogs);
        ui = Form1Controls(*form);
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get())) return false;
        ui.MaskEdit1->setText(QStringLiteral("200"));
        QMetaObject::invokeMethod(form.get(), "MaskEdit1Exit"); // as leaving the field does
        ui.Period->setText(QStringLiteral("50"));
        return ui.Timer1->interval() == 10;
    }
    void connect() {
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        QVERIFY(form->poll().Connected());
        QTRY_VERIFY(form->link().GoodReplies >= 1);
    }
    int64_t goodAfter(int more) { return form->link().GoodReplies + more; }
    // Silences the meter and returns, through good, the good reads so far once
    // a read has failed: no more can come until the silence ends.
    void silence(int64_t& good) {
        const int64_t bad = form->link().BadReplies;
        sim->SetFault(vqtsim::Fault::Silence);
        QTRY_VERIFY_WITH_TIMEOUT(form->link().BadReplies > bad, 5000);
        good = form->link().GoodReplies;
    }
    // The points of each line of the chart, drawn now.
    QList<qsizetype> chartLines() {
        ui.Chart1->refresh();
        QList<qsizetype> sizes;
        for (const QPolygonF& line : ui.Chart1->lines()) sizes << line.size();
        return sizes;
    }

private slots:
    void init() {
        oldDir = QDir::currentPath();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        sim = testsim::StartSimulator(testsim::FastMeter(dir->path()));
        errors.clear();
        dialogs.SetErrorFunction([this](const QString& text) { errors << text; });
        // The window's questions are answered as answer says.
        questions.clear();
        answer = true;
        dialogs.SetQuestionFunction([this](TOKBottomDlg*, const QString& q) {
            questions << q;
            return answer;
        });
        QVERIFY(open());
    }
    void cleanup() {
        form.reset();
        // Whatever the test did, no worker outlives the window.
        QVERIFY(meters.WaitForWorkers());
        sim.reset();
        dialogs.SetErrorFunction({});
        dialogs.SetQuestionFunction({});
        QDir::setCurrent(oldDir);
    }
};
