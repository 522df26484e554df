// vqt540 settings against two simulated meters on one line: the settings of
// meter 1 saved, and applied to meter 2, whose settings differ.
#include "CliRun.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>

namespace {

// Meter 1: [l/min], [m3], pulse weight 100, cut-off 12,3 %, time constant
// 4,0 s, range 80 m3/h (position 5 of DN 100), alarms 3600 and 50000 l/h,
// archive every hour. Meter 2 keeps the simulator's defaults.
const std::pair<int, uint16_t> kMeter1[] = {{2, 0x12}, {4, 0x7B},   {5, 7},  {6, 1},       {7, 0x3880},
                                            {8, 0},    {9, 0x0E10}, {10, 0}, {11, 0xC350}, {22, 6}};
constexpr int kSettingRegisters[] = {2, 4, 5, 6, 7, 8, 9, 10, 11, 22};

using Edit = std::function<void(QJsonObject&)>;

void SetSetting(QJsonObject& doc, const char* key, int value) {
    QJsonObject settings = doc["settings"].toObject();
    QJsonObject entry = settings[key].toObject();
    entry["value"] = value;
    settings[key] = entry;
    doc["settings"] = settings;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestCliSettings : public QObject {
    Q_OBJECT

private slots:
    void applyToAnotherMeter_data() {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("code");
        QTest::addColumn<QList<int>>("written"); // registers written once each, in order
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("refused"); // the register whose write the meter refuses
        const Edit none = [](QJsonObject&) {};
        QTest::newRow("copy") << none << QStringList{} << 0 << QList<int>{2, 4, 5, 6, 8, 10, 22}
                              << "written:" << 0;
        QTest::newRow("dry run") << none << QStringList{"--dry-run"} << 0 << QList<int>{}
                                 << "would write:" << 0;
        // The meter refuses a negative threshold: the writes before it stay.
        QTest::newRow("refused half way")
            << Edit([](QJsonObject& d) { SetSetting(d, "alarm1", -5); }) << QStringList{} << 3
            << QList<int>{2, 4, 5, 6, 8}
            << "written before the stop: Zakres pomiarowy [m3/h], Jednostka przepływu, Waga impulsu "
               "licznika, Próg odcięcia [%], Stała czasowa [s]\n"
            << 8;
        QTest::newRow("range of another DN") << Edit([](QJsonObject& d) {
            QJsonObject meter = d["meter"].toObject();
            meter["dnIndex"] = 10; // DN 50
            d["meter"] = meter;
        }) << QStringList{} << 0 << QList<int>{2, 4, 5, 8, 10, 22}
                                             << "plik jest dla DN 50" << 0;
        QTest::newRow("newer format") << Edit([](QJsonObject& d) { d["formatVersion"] = 2; }) << QStringList{}
                                      << 4 << QList<int>{} << "ten program zna tylko wersję 1" << 0;
    }
    void applyToAnotherMeter() {
        QFETCH(Edit, edit);
        QFETCH(QStringList, extra);
        QFETCH(int, code);
        QFETCH(QList<int>, written);
        QFETCH(QString, said);
        QFETCH(int, refused);
        QTemporaryDir dir;
        vqtsim::Options o;
        o.linkDir = dir.path().toStdString();
        o.wireTiming = false;
        o.addresses = {1, 2};
        vqtsim::Simulator sim(o);
        QMutex lock;
        QList<int> writes; // the registers of the function-16 requests to meter 2
        sim.SetTrafficLog([&](const vqtsim::TrafficEvent& e) {
            const QMutexLocker held(&lock);
            if (e.request.size() > 3 && e.request[0] == 2 && e.request[1] == 0x10)
                writes << (e.request[2] << 8 | e.request[3]) + 1;
        });
        QVERIFY(sim.Start());
        sim.SetLive(false);
        for (const auto& [reg, value] : kMeter1) sim.SetRegister(1, reg, value);
        const auto before = sim.Registers(2);

        const QString file = dir.filePath("meter1.json");
        const ToolRun saved = RunTool(dir.path(), {"settings", "save", file, "--address", "1"});
        QVERIFY2(saved.code == 0, saved.err.constData());
        QJsonObject doc = QJsonDocument::fromJson(ReadFile(file)).object();
        edit(doc);
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(QJsonDocument(doc).toJson());
        out.close();

        const ToolRun r = RunTool(
            dir.path(),
            QStringList{"settings", "apply", file, "--address", "2", "--decimal-separator", ","} + extra);
        QVERIFY2(r.code == code, r.out + r.err);
        QVERIFY2(QString::fromUtf8(r.out + r.err).contains(said), r.out + r.err);
        {
            const QMutexLocker held(&lock);
            QCOMPARE(writes, written);
        }
        // What was written reads back as meter 1 has it; nothing else changed,
        // least of all the totalisers.
        const auto after = sim.Registers(2), source = sim.Registers(1);
        for (int reg = 1; reg <= 27; ++reg) {
            const bool setting = std::find(std::begin(kSettingRegisters), std::end(kSettingRegisters), reg) !=
                                 std::end(kSettingRegisters);
            const int first = reg == 7 || reg == 9 || reg == 11 ? reg - 1 : reg;
            const bool wrote = setting && written.contains(first) && first != refused;
            QVERIFY2(after[reg - 1] == (wrote ? source[reg - 1] : before[reg - 1]),
                     qPrintable(QStringLiteral("register %1").arg(reg)));
        }
    }
};

QTEST_GUILESS_MAIN(TestCliSettings)
#include "tst_cli_settings.moc"
