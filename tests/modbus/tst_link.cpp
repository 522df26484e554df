// What the link keeps between transactions: the window's serial port is
// closed after each, the tool's kept, a gateway's connection kept by both and
// closed once idle; and its workers are all gone when it says so.
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "tests/common/SimulatorFixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void keptLines_data() {
        QTest::addColumn<bool>("gateway");
        QTest::addColumn<bool>("keepSerial");
        QTest::addColumn<int>("kept");
        QTest::newRow("window, serial: closed") << false << false << 0;
        QTest::newRow("tool, serial: kept") << false << true << 1;
        QTest::newRow("window, gateway: kept") << true << false << 1;
    }
    void keptLines() {
        QFETCH(bool, gateway);
        QFETCH(bool, keepSerial);
        QFETCH(int, kept);
        QTemporaryDir dir;
        vqtsim::Options o = testsim::FastMeter(dir.path());
        if (gateway) o.modbusTcpPort = -1;
        const auto sim = testsim::StartSimulator(o, true);
        modbus::Link::Options options;
        options.KeepSerialOpen = keepSerial;
        options.IdleClose = 300ms;
        modbus::Link link(options);
        modbus::TransactionRequest request;
        request.Link.PortName = gateway ? "tcp://127.0.0.1:" + std::to_string(sim->TcpPort())
                                        : dir.filePath("COM1").toStdString();
        request.Link.BaudRate = 9600;
        request.Link.DeviceAddress = 1;
        for (int i = 0; i < 3; ++i) {
            auto t = link.Start(request);
            QTRY_VERIFY(t->Done());
            QVERIFY2(t->Result().Succeeded(), t->Result().Text().c_str());
        }
        QVERIFY(link.WaitForWorkers());
        QCOMPARE(link.LiveWorkers(), 0);
        QVERIFY(!link.PortHeld(request.Link.PortName));
        QCOMPARE(int(link.KeptLines()), kept);
        if (gateway) QCOMPARE(sim->ConnectionsAccepted(), uint64_t{1}); // one connection for all three
        // Idle for longer than IdleClose: closed, whatever kind of line.
        QTRY_COMPARE(int(link.KeptLines()), 0);
    }

    // A worker that hangs on past its release is waited for by its own
    // deadline, and no longer: the wait says it is still there.
    void waitEndsAtTheDeadline() {
        QTemporaryDir dir;
        modbus::Link link;
        auto worker = link.CreateWorker();
        worker->SetPortSettings(dir.filePath("nothing").toStdString(), 9600, 8, 0, 0);
        worker->ReplyDeadlineMs = 200;
        worker->Start();
        QVERIFY(link.WaitForWorkers() == false); // done, but not released: alive
        QCOMPARE(link.LiveWorkers(), 1);
        QTRY_VERIFY(worker->TransactionDoneFlag() != 0);
        QCOMPARE(QString::fromStdString(worker->Result()), QString("Timeout przy odczycie danych"));
        worker->Release();
        worker.reset();
        QVERIFY(link.WaitForWorkers());
        QCOMPARE(link.LiveWorkers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
