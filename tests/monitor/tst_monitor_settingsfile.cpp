// The window against the simulated meter: its settings saved to a file, the
// meter changed, and the file loaded back: the differences asked about,
// "NIE" writing nothing and "TAK" exactly the differences.
#include "Form1Controls.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "monitor/Dialogs.h"
#include "monitor/OKBottomDlg.h"
#include "monitor/Unit1.h"
#include "sim/Simulator.h"
#include "tests/common/SimulatorFixture.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestMonitorSettingsFile : public QObject {
    Q_OBJECT

private slots:
    void loadAsksThenWritesTheDifferences_data() {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("writes");
        QTest::newRow("NIE") << false << 0;
        QTest::newRow("TAK") << true << 2;
    }
    void loadAsksThenWritesTheDifferences() {
        QFETCH(bool, answer);
        QFETCH(int, writes);
        QTemporaryDir dir;
        const QString oldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const auto sim = testsim::StartSimulator(testsim::FastMeter(dir.path()));
        QStringList questions, infos, errors;
        const QString file = dir.filePath(QStringLiteral("nastawy.json"));
        monitor::Dialogs dialogs;
        QString chosen = file;
        dialogs.SetFileDialogFunction([&](QFileDialog*) { return chosen; });
        dialogs.SetInformationFunction([&](const QString& text) { infos << text; });
        dialogs.SetErrorFunction([&](const QString& text) { errors << text; });
        dialogs.SetQuestionFunction([&](TOKBottomDlg*, const QString& q) {
            questions << q;
            return answer;
        });
        {
            modbus::Link meters;
            TForm1 form(meters, dialogs);
            form.show();
            const Form1Controls ui(form);
            ui.Period->setText(QStringLiteral("20"));
            auto* save = form.findChild<QPushButton*>(QStringLiteral("Button9"));
            auto* load = form.findChild<QPushButton*>(QStringLiteral("Button10"));
            QVERIFY(save && load);
            QTest::mouseClick(ui.Button4, Qt::LeftButton);
            QTRY_COMPARE(ui.Edit1->text(), QStringLiteral("V1.02"));
            QTest::mouseClick(save, Qt::LeftButton);
            QVERIFY2(QFile::exists(file), qPrintable(errors.join('\n')));
            // The commissioning record, chosen by the name's suffix: text, and a whole PDF.
            for (const char* name : {"protokol.txt", "protokol.pdf"}) {
                chosen = dir.filePath(QLatin1String(name));
                QTest::mouseClick(save, Qt::LeftButton);
            }
            chosen = file;
            QVERIFY(readAll(dir.filePath("protokol.txt")).contains("V1.02"));
            const QByteArray pdf = readAll(dir.filePath("protokol.pdf"));
            QVERIFY(pdf.startsWith("%PDF-") && pdf.trimmed().endsWith("%%EOF"));

            // The meter changed since: another cut-off and archive period.
            sim->SetRegister(4, 0x40);
            sim->SetRegister(22, 8);
            QTRY_COMPARE(ui.Edit8->text(), QStringLiteral("6,4"));
            const uint64_t before = sim->WritesApplied();
            QTest::mouseClick(load, Qt::LeftButton);
            QCOMPARE(questions.size(), 1);
            QVERIFY(questions[0].contains(QStringLiteral("Próg odcięcia [%]: 6,4 → 2,5")));
            QVERIFY(
                questions[0].contains(QStringLiteral("Okres zapisu danych do archiwum: 8 godz → 15 min")));
            QVERIFY(!questions[0].contains(QStringLiteral("Stała czasowa")));
            if (answer) {
                QTRY_COMPARE(infos.value(0), QStringLiteral("Nastawy z pliku zapisano do przepływomierza."));
                QCOMPARE(sim->Registers()[3], uint16_t{0x19});
                QCOMPARE(sim->Registers()[21], uint16_t{4});
            } else {
                // Several reads later still nothing written.
                const int64_t good = form.link().GoodReplies;
                QTRY_VERIFY(form.link().GoodReplies >= good + 3);
            }
            QCOMPARE(sim->WritesApplied() - before, uint64_t(writes));
            QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        }
        QDir::setCurrent(oldDir);
    }
};

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorSettingsFile test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_monitor_settingsfile.moc"
