// The search for the meter stepped by hand: scripted probes answered by a
// table of what sits at which settings, and a clock the test moves.
#include "ScriptedLink.h"

#include "core/Scan.h"

#include <QTest>

using namespace core;

namespace {

// What answers a probe at given settings.
enum class Answer { Silent, Meter, Garbled };

struct Recorder : ScanView {
    int64_t now = 0;
    QStringList events;
    ScanProgress last;
    int64_t NowMs() override { return now; }
    void ShowProgress(const ScanProgress& p) override { last = p; }
    void Found(const ScanFinding& f) override {
        events << QStringLiteral("found %1 %2 %3 %4")
                      .arg(f.Link.BaudRate)
                      .arg(f.Link.Parity)
                      .arg(f.Link.DeviceAddress)
                      .arg(QString::fromStdString(f.Version + " " + f.Diameter));
    }
    void OtherSettingsAnswer(const modbus::LinkSettings& l) override {
        events << QStringLiteral("other %1 %2 %3").arg(l.BaudRate).arg(l.Parity).arg(l.DeviceAddress);
    }
    void Finished() override { events << QStringLiteral("finished"); }
};

QString at(uint32_t baud, uint8_t parity, int address) {
    return QStringLiteral("%1 %2 %3").arg(baud).arg(parity).arg(address);
}

} // namespace

class TestScan : public QObject {
    Q_OBJECT
private slots:
    void probeTimeouts() {
        // The read's 67 characters and two more on the wire, and 40 ms.
        QCOMPARE(ProbeTimeoutMs(9600), 80 + 40);
        QCOMPARE(ProbeTimeoutMs(115200), 7 + 40);
        QCOMPARE(ProbeTimeoutMs(1200), 633 + 40);
        QCOMPARE(ScanSpeeds(19200),
                 (std::vector<uint32_t>{19200, 9600, 115200, 38400, 57600, 4800, 2400, 1200}));
        QCOMPARE(ScanAddresses(17, 15, 18), (std::vector<int>{17, 15, 16, 18}));
    }

    // The page's own settings are the first probe; the rest follow in the
    // usual order, and the port's stop bits stay.
    void firstProbeIsThePages_data() {
        QTest::addColumn<int>("speed");  // index in the page's list, -1: none
        QTest::addColumn<int>("parity"); // likewise
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("first");
        QTest::newRow("17 at 1200, odd") << 0 << 2 << "17" << at(1200, modbus::kOddParity, 17);
        QTest::newRow("nothing chosen") << -1 << -1 << "" << at(9600, modbus::kNoParity, 1);
        QTest::newRow("address out of range") << 3 << 0 << "300" << at(9600, modbus::kNoParity, 1);
    }
    void firstProbeIsThePages() {
        QFETCH(int, speed);
        QFETCH(int, parity);
        QFETCH(QString, address);
        QFETCH(QString, first);
        modbus::LinkChoice page;
        page.Port = "COM3";
        if (speed >= 0) page.Speed = size_t(speed);
        if (parity >= 0) page.Parity = size_t(parity);
        page.StopBits = 1;
        page.Address = address.toStdString();
        const platform::OrReason<ScanPlan> plan = PlanFromPage(page);
        QVERIFY(plan);
        ScriptedLink scripts;
        Recorder view;
        Scan scan(scripts.factory(), view);
        scan.Start(*plan);
        const modbus::LinkSettings& l = scripts.last().request.Link;
        QCOMPARE(at(l.BaudRate, l.Parity, l.DeviceAddress), first);
        QCOMPARE(l.PortName, std::string("COM3"));
        QCOMPARE(l.StopBits, modbus::kTwoStopBits);
        QCOMPARE(view.last.Probed, 0);
        QCOMPARE(view.last.Total, 8 * 3 * 247);
        page.Port.clear();
        QVERIFY(!PlanFromPage(page));
    }

    void scan_data() {
        QTest::addColumn<QStringList>("meters");  // "baud parity address" of a meter
        QTest::addColumn<QStringList>("garbled"); // settings that give garbled bytes
        QTest::addColumn<bool>("all");
        QTest::addColumn<int>("stopAfter"); // probes, then Stop(); -1: never
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("probes");
        const QString ok = QStringLiteral(" V1.02 DN 100");
        QTest::newRow("at the first speed") << QStringList{at(9600, 0, 2)} << QStringList() << false << -1
                                            << QStringList{"found " + at(9600, 0, 2) + ok, "finished"} << 2;
        // 9600: six silent probes; 19200 none: 1 and 2 silent, 3 garbled; then 3 at even at once.
        QTest::newRow("at a later speed, another parity")
            << QStringList{at(19200, 2, 3)} << QStringList{at(19200, 0, 3)} << false << -1
            << QStringList{"other " + at(19200, 0, 3), "found " + at(19200, 2, 3) + ok, "finished"} << 10;
        QTest::newRow("garbage only")
            << QStringList() << QStringList{at(9600, 0, 1), at(9600, 2, 1)} << false << -1
            << QStringList{"other " + at(9600, 0, 1), "other " + at(9600, 2, 1), "finished"} << 12;
        QTest::newRow("nothing") << QStringList() << QStringList() << false << -1 << QStringList{"finished"}
                                 << 12;
        QTest::newRow("all of them") << QStringList{at(9600, 2, 1), at(19200, 0, 3)} << QStringList() << true
                                     << -1
                                     << QStringList{"found " + at(9600, 2, 1) + ok,
                                                    "found " + at(19200, 0, 3) + ok, "finished"}
                                     << 12;
        QTest::newRow("stop requested")
            << QStringList{at(19200, 0, 3)} << QStringList() << false << 3 << QStringList{"finished"} << 3;
    }
    void scan() {
        QFETCH(QStringList, meters);
        QFETCH(QStringList, garbled);
        QFETCH(bool, all);
        QFETCH(int, stopAfter);
        QFETCH(QStringList, events);
        QFETCH(int, probes);
        ScriptedLink scripts;
        Recorder view;
        Scan scan(scripts.factory(), view);
        ScanPlan plan;
        plan.PortName = "COM1";
        plan.Speeds = {9600, 19200};
        plan.Parities = {modbus::kNoParity, modbus::kEvenParity};
        plan.Addresses = {1, 2, 3};
        plan.All = all;
        scan.Start(plan);
        QCOMPARE(view.last.Total, 12);
        QCOMPARE(view.last.MsLeft, 6 * ProbeTimeoutMs(9600) + 6 * ProbeTimeoutMs(19200));
        int guard = 0;
        while (scan.Running() && ++guard < 100) {
            Script& s = scripts.last();
            const modbus::LinkSettings& l = s.request.Link;
            const QString here = at(l.BaudRate, l.Parity, l.DeviceAddress);
            // The bar moves with every probe.
            QCOMPARE(view.last.Probed, int(scripts.started.size()) - 1);
            if (int(scripts.started.size()) > stopAfter && stopAfter >= 0) {
                scan.Stop();
                break;
            }
            if (meters.contains(here)) {
                answerAsMeter(s);
            } else if (garbled.contains(here)) {
                s.rx = "RX : [F3][A1][07]";
                s.ending.bytesRead = 3;
                s.finish(modbus::Status::TooShort);
            } else {
                // Silent: at its time-out the probe is told so, and then gives its verdict.
                QCOMPARE(s.request.Link.TimeoutMs, ProbeTimeoutMs(l.BaudRate)); // travels with the probe
                QCOMPARE(scan.NextWakeMs(),
                         std::optional<int64_t>(view.now + s.request.QuietMs + ProbeTimeoutMs(l.BaudRate)));
                view.now += s.request.QuietMs + ProbeTimeoutMs(l.BaudRate);
                scan.Wake();
                QVERIFY(s.signalled && !s.released);
                s.finish(modbus::Status::Timeout);
            }
            scan.Wake();
        }
        QCOMPARE(view.events, events);
        QCOMPARE(int(scripts.started.size()), stopAfter >= 0 ? stopAfter + 1 : probes);
        QCOMPARE(scripts.overlaps, 0);
        for (const auto& s : scripts.started) QVERIFY(s->released);
        // A probe after garbled bytes waits for a quiet line first.
        for (size_t i = 1; i < scripts.started.size(); ++i) {
            const auto& before = scripts.started[i - 1]->request.Link;
            const bool afterGarbage =
                garbled.contains(at(before.BaudRate, before.Parity, before.DeviceAddress));
            QCOMPARE(scripts.started[i]->request.QuietMs > 0, afterGarbage);
        }
        if (stopAfter >= 0) QVERIFY(scripts.last().signalled && scripts.last().released);
    }
};

QTEST_APPLESS_MAIN(TestScan)
#include "tst_scan.moc"
