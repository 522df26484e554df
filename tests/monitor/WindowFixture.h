// What the main window's tests share: a fresh working directory, the
// message boxes recorded instead of shown, a shown, active window and its
// controls, and the state behind them.
#pragma once

#include "Form1Controls.h"

#include "modbus/Link.h"
#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace window_fixture {

inline const QByteArray kDefaultFile("0\r\n3\r\n0\r\n0\r\n0\r\n  1\r\n1000\r\n1000\r\n");

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Open descriptors of this process that lead to the file. Without /proc
// (Windows): 1 when the file cannot be moved away and back, as Windows
// refuses for a file that is still open without FILE_SHARE_DELETE.
inline int openHandlesTo(const QString& path) {
    if (!QFileInfo::exists(QStringLiteral("/proc/self/fd"))) {
        const QString away = path + QStringLiteral(".away");
        return QFile::rename(path, away) && QFile::rename(away, path) ? 0 : 1;
    }
    int count = 0;
    const QString target = QFileInfo(path).absoluteFilePath();
    for (const QFileInfo& fd :
         QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files))
        if (fd.symLinkTarget() == target) ++count;
    return count;
}

} // namespace window_fixture
using namespace window_fixture;

class WindowFixture {
public:
    void setUp() {
        OldDir = QDir::currentPath();
        Dir = std::make_unique<QTemporaryDir>();
        QVERIFY(Dir->isValid());
        QVERIFY(QDir::setCurrent(Dir->path()));
        Errors.clear();
        Infos.clear();
        Dialogs.SetErrorFunction([this](const QString& text) { Errors << text; });
        Dialogs.SetInformationFunction([this](const QString& text) { Infos << text; });
    }

    void tearDown() {
        Dialogs.SetErrorFunction({});
        Dialogs.SetInformationFunction({});
        QDir::setCurrent(OldDir);
        Dir.reset();
    }

    // A shown, active window in a fresh working directory; ui holds its controls.
    std::unique_ptr<TForm1> openWindow() {
        auto form = std::make_unique<TForm1>(meters, Dialogs);
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get())) return nullptr;
        ui = Form1Controls(*form);
        return form;
    }

    void focusField(TForm1& form, QWidget* field) {
        const Form1Controls c(form);
        for (QWidget* page : {c.TabSheet2, c.TabSheet3, c.TabSheet1})
            if (page->isAncestorOf(field)) c.PageControl1->setCurrentWidget(page);
        field->setFocus(Qt::MouseFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), field);
    }

    // The user clicks the "Parametry VQT540" tab.
    void leaveToDevicePageByClick(TForm1& form) {
        const Form1Controls c(form);
        QTabBar* bar = c.PageControl1->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        QCOMPARE(c.PageControl1->currentWidget(), c.TabSheet3);
    }

    // The state behind the controls, which no control shows whole.
    static core::LinkState& link(TForm1& form) { return form.Link; }
    static const core::StatusNotes& notes(const TForm1& form) { return form.Notes; }
    static core::FlowHistory& flows(TForm1& form) { return form.Flows; }
    static bool diagnosticsOn(const TForm1& form) { return form.DiagnosticsOn; }
    static QString configPath(const TForm1& form) { return form.ConfigPath; }

    QString cfgPath() const { return Dir->filePath(QStringLiteral("VQT540.cfg")); }

    std::unique_ptr<QTemporaryDir> Dir;
    QString OldDir;
    modbus::Link meters;      // outlives the windows the fixture opens
    monitor::Dialogs Dialogs; // the windows' boxes, recorded in Errors and Infos; outlives them too
    QStringList Errors;
    QStringList Infos;
    Form1Controls ui; // of the window openWindow opened last
};
