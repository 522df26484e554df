// The yes/no dialogs, the real message boxes, and the general error handler.
#include "WhenModal.h"
#include "app/Application.h"
#include "monitor/DPlik.h"
#include "monitor/DZakoncz.h"
#include "monitor/Dialogs.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace {

// Throws from its own event handler, as a faulty handler would.
class Thrower : public QObject {
public:
    int Handled = 0;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) throw std::runtime_error("Błąd w obsłudze zdarzenia");
        if (event->type() == QEvent::Type(QEvent::User + 1)) throw 42;
        if (event->type() == QEvent::Type(QEvent::User + 2)) {
            ++Handled;
            return true;
        }
        return QObject::event(event);
    }
};

} // namespace

class TestMonitorDialogs : public QObject {
    Q_OBJECT
public:
    // The application's, through which its error handler shows.
    explicit TestMonitorDialogs(monitor::Dialogs& dialogs) : Dialogs(dialogs) {}

private:
    monitor::Dialogs& Dialogs;

private slots:
    void cleanup();
    void dialogTexts();
    void dialogResults_data();
    void dialogResults();
    void labelCanBeSetBeforeShowing();
    void errorLeavingAnEventHandlerIsShownAndTheProgramGoesOn();
    void guardedHandlerKeepsWhatItDid();
    void realBoxesShowTheirTexts();
    void twoObjectsShareNoHook();
};

void TestMonitorDialogs::cleanup() {
    Dialogs.SetErrorFunction({});
    Dialogs.SetInformationFunction({});
}

void TestMonitorDialogs::dialogTexts() {
    TOKBottomDlg1 first;
    TOKBottomDlg2 second;
    QCOMPARE(first.windowTitle(), QStringLiteral("VQT540"));
    QCOMPARE(second.windowTitle(), QStringLiteral("VQT540"));
    const auto label = [](QDialog& d) { return d.findChild<QLabel*>(QStringLiteral("Label1"))->text(); };
    QCOMPARE(label(first), QStringLiteral("Plik istnieje. Zastąpić nowym ?"));
    QCOMPARE(label(second), QStringLiteral("Zakończyć odczyt danych z archiwum ?"));
    for (TOKBottomDlg* dialog : {static_cast<TOKBottomDlg*>(&first), static_cast<TOKBottomDlg*>(&second)}) {
        const auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("OKBtn"));
        const auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("CancelBtn"));
        QVERIFY(ok && cancel);
        QCOMPARE(ok->text(), QStringLiteral("TAK"));
        QCOMPARE(cancel->text(), QStringLiteral("NIE"));
        QVERIFY(ok->isDefault());
        QVERIFY(!cancel->isDefault());
        QVERIFY(!dialog->isVisible()); // created hidden
    }
}

void TestMonitorDialogs::dialogResults_data() {
    QTest::addColumn<int>("dialogNumber");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("ok");
    for (int number : {1, 2}) {
        const QByteArray prefix = QByteArray::number(number) + ' ';
        QTest::newRow(prefix + "TAK") << number << "TAK" << true;
        QTest::newRow(prefix + "NIE") << number << "NIE" << false;
        QTest::newRow(prefix + "Enter") << number << "Enter" << true;
        QTest::newRow(prefix + "Esc") << number << "Esc" << false;
        QTest::newRow(prefix + "close") << number << "close" << false;
    }
}

void TestMonitorDialogs::dialogResults() {
    QFETCH(int, dialogNumber);
    QFETCH(QString, action);
    QFETCH(bool, ok);
    TOKBottomDlg1 first;
    TOKBottomDlg2 second;
    TOKBottomDlg* dialog = dialogNumber == 1 ? static_cast<TOKBottomDlg*>(&first) : &second;
    bool seen = false;
    whenModal([&](QWidget* modal) {
        seen = modal == dialog;
        if (action == QLatin1String("TAK"))
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("OKBtn")), Qt::LeftButton);
        else if (action == QLatin1String("NIE"))
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("CancelBtn")), Qt::LeftButton);
        else if (action == QLatin1String("Enter"))
            QTest::keyClick(dialog, Qt::Key_Return);
        else if (action == QLatin1String("Esc"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close(); // the title bar's close button
    });
    const ModalResult result = dialog->ShowModal();
    QVERIFY(seen);
    QCOMPARE(result, ok ? ModalResult::Ok : ModalResult::Cancel);
    QVERIFY(!dialog->isVisible());
}

void TestMonitorDialogs::labelCanBeSetBeforeShowing() {
    TOKBottomDlg2 dialog;
    QString shown;
    for (const QString& question :
         {QStringLiteral("Zakończyć odczyt danych ?"), QStringLiteral("Zapisać odczytane dane do pliku ?")}) {
        dialog.SetQuestion(question);
        whenModal([&](QWidget* modal) {
            shown = modal->findChild<QLabel*>(QStringLiteral("Label1"))->text();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        QCOMPARE(dialog.ShowModal(), ModalResult::Cancel);
        QCOMPARE(shown, question);
    }
}

void TestMonitorDialogs::errorLeavingAnEventHandlerIsShownAndTheProgramGoesOn() {
    QStringList shown;
    Dialogs.SetErrorFunction([&shown](const QString& text) { shown << text; });
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::Type(QEvent::User + 2)));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::Type(QEvent::User + 1)));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::Type(QEvent::User + 2)));
    QCoreApplication::processEvents();
    QCOMPARE(shown,
             QStringList({QStringLiteral("Błąd w obsłudze zdarzenia"), QStringLiteral("Nieznany błąd.")}));
    QCOMPARE(thrower.Handled, 2); // the events after each error were delivered
}

void TestMonitorDialogs::guardedHandlerKeepsWhatItDid() {
    QStringList shown;
    Dialogs.SetErrorFunction([&shown](const QString& text) { shown << text; });
    int steps = 0;
    Dialogs.Guarded([&steps] {
        ++steps;
        throw std::runtime_error("stop");
    });
    QCOMPARE(steps, 1);
    QCOMPARE(shown, QStringList({QStringLiteral("stop")}));
}

void TestMonitorDialogs::realBoxesShowTheirTexts() {
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("VQT5400"));
    struct Seen {
        QString text;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
    };
    const auto answer = [](Seen& seen) {
        whenModal([&seen](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) return;
            seen = {box->text(), box->windowTitle(), box->icon(), int(box->buttons().size())};
            box->button(QMessageBox::Ok)->click();
        });
    };
    Seen info;
    answer(info);
    Dialogs.ShowInformation(QStringLiteral("Adres urządzenia poza zakresem."));
    QCOMPARE(info.text, QStringLiteral("Adres urządzenia poza zakresem."));
    QCOMPARE(info.title, QStringLiteral("VQT5400"));
    QCOMPARE(info.icon, QMessageBox::Information);
    QCOMPARE(info.buttons, 1);

    // An error from an event handler reaches the real error box.
    Seen error;
    answer(error);
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::Type(QEvent::User + 2)));
    QTRY_COMPARE(thrower.Handled, 1);
    QCOMPARE(error.text, QStringLiteral("Błąd w obsłudze zdarzenia"));
    QCOMPARE(error.icon, QMessageBox::Critical);
    QCOMPARE(error.buttons, 1);
}

// Each object keeps its own boxes: what a test installs in one reaches no other.
void TestMonitorDialogs::twoObjectsShareNoHook() {
    QStringList mine, theirs;
    Dialogs.SetErrorFunction([&mine](const QString& text) { mine << text; });
    monitor::Dialogs other;
    other.SetErrorFunction([&theirs](const QString& text) { theirs << text; });
    other.ShowError(QStringLiteral("drugi"));
    Dialogs.ShowError(QStringLiteral("pierwszy"));
    QCOMPARE(mine, QStringList{QStringLiteral("pierwszy")});
    QCOMPARE(theirs, QStringList{QStringLiteral("drugi")});
}

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorDialogs test(dialogs);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_dialogs.moc"
