// The meter through each way a site reaches it: a serial port, RTU frames
// through a serial server, and MODBUS TCP through a gateway. The same
// transactions and the same tool over all three, against the simulator.
#include "CliRun.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "tests/common/SimulatorFixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
enum class Way { Serial, RtuOverTcp, ModbusTcp };

struct Meter {
    std::unique_ptr<vqtsim::Simulator> sim;
    QString port; // as the tool and the window name it
};

Meter StartMeter(Way way, const QString& dir, int dropAfter = 0, std::vector<uint8_t> addresses = {}) {
    vqtsim::Options o = testsim::FastMeter(way == Way::Serial ? dir : QString());
    o.addresses = std::move(addresses);
    o.archiveRecords = 300;
    o.archiveNow = 1767225600; // 2026-01-01: the same archive on every way
    o.dropAfter = dropAfter;
    if (way == Way::RtuOverTcp) o.rtuTcpPort = -1;
    if (way == Way::ModbusTcp) o.modbusTcpPort = -1;
    Meter m{testsim::StartSimulator(o), {}};
    const QString at = QStringLiteral("127.0.0.1:%1").arg(m.sim->TcpPort());
    m.port = way == Way::Serial       ? QStringLiteral("COM1")
             : way == Way::RtuOverTcp ? QStringLiteral("rtu+tcp://") + at
                                      : QStringLiteral("tcp://") + at;
    return m;
}

std::unique_ptr<modbus::Transaction> Run(modbus::Link& link, const QString& port,
                                         modbus::TransactionRequest request = {}) {
    request.Link.PortName = port.toStdString();
    request.Link.BaudRate = 115200;
    request.Link.DeviceAddress = 1;
    request.Link.TimeoutMs = 1000;
    return link.Start(request);
}
} // namespace

class TestCliGateway : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QString oldDir;

    void addWays(bool serial = true) {
        QTest::addColumn<Way>("way");
        if (serial) QTest::newRow("serial") << Way::Serial;
        QTest::newRow("rtu+tcp") << Way::RtuOverTcp;
        QTest::newRow("tcp") << Way::ModbusTcp;
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        oldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir->path()));
    }
    void cleanup() {
        QDir::setCurrent(oldDir);
        dir.reset();
    }

    // A read and a write on one kept connection: the registers as the meter
    // has them, the write applied, and on MODBUS TCP the frame as the wire
    // carries it (MBAP header, no CRC).
    void readAndWrite_data() { addWays(); }
    void readAndWrite() {
        QFETCH(Way, way);
        Meter m = StartMeter(way, dir->path());
        QVERIFY2(!m.port.isEmpty(), m.sim->Error().c_str());
        modbus::Link link;
        auto read = Run(link, m.port);
        QTRY_VERIFY(read->Done());
        QVERIFY2(read->Result().Succeeded(), read->Result().Text().c_str());
        const auto regs = m.sim->Registers();
        for (size_t r = 0; r < regs.size(); ++r)
            QCOMPARE(uint16_t(read->Result().reply[3 + 2 * r] << 8 | read->Result().reply[4 + 2 * r]),
                     regs[r]);
        read.reset();

        modbus::TransactionRequest write;
        write.Staged = modbus::TransactionRequest::Write::Short;
        write.WriteRegister = 5; // the time constant
        write.ShortHigh = 0x00;
        write.ShortLow = 0x07;
        auto written = Run(link, m.port, write);
        QTRY_VERIFY(written->Done());
        QVERIFY2(written->Result().Succeeded(), written->Result().Text().c_str());
        QCOMPARE(m.sim->Registers()[4], uint16_t{7});
        const QString tx = QString::fromStdString(written->Result().trace.tx);
        if (way == Way::ModbusTcp) // an id, protocol 0, 9 bytes follow: unit 1 and the PDU alone
            QCOMPARE(tx.mid(5 + 2 * 4), QString("[00][00][00][09][01][10][00][04][00][01][02][00][07]"));
        else
            QCOMPARE(tx.size(), int(5 + 11 * 4)); // the RTU frame, CRC and all
        written.reset();
        QVERIFY(link.WaitForWorkers());
        if (way != Way::Serial) QCOMPARE(m.sim->ConnectionsAccepted(), uint64_t{1});
    }

    // The tool downloads the same archive, byte for byte, whichever way.
    void archiveAlike() {
        QByteArray serial;
        for (const Way way : {Way::Serial, Way::RtuOverTcp, Way::ModbusTcp}) {
            Meter m = StartMeter(way, dir->path());
            QVERIFY2(!m.port.isEmpty(), m.sim->Error().c_str());
            const QString file = dir->filePath(QStringLiteral("a%1.csv").arg(int(way)));
            const ToolRun run =
                RunTool(dir->path(), {"archive", "--new", file, "--period", "0", "--port", m.port, "--baud",
                                      "115200", "--decimal-separator", ","});
            QVERIFY2(run.code == 0, run.err.constData());
            const QByteArray got = ReadFile(file);
            QVERIFY(got.count("\r\n") > 300);
            if (way == Way::Serial)
                serial = got;
            else
                QVERIFY2(got == serial, qPrintable(m.port));
        }
    }

    // A gateway that drops its client after every second request: every
    // reading still arrives, and each drop is said once.
    void droppedConnection_data() { addWays(false); }
    void droppedConnection() {
        QFETCH(Way, way);
        Meter m = StartMeter(way, dir->path(), 2);
        QVERIFY2(!m.port.isEmpty(), m.sim->Error().c_str());
        const ToolRun run = RunTool(
            dir->path(), {"watch", "--port", m.port, "--count", "7", "--interval", "0", "--format", "json"});
        QVERIFY2(run.code == 0, run.err.constData());
        QCOMPARE(run.out.count("\n"), 7);
        QCOMPARE(run.out.count("\"ok\":false"), 0); // every reading, none lost
        const qsizetype said = run.err.count("closed the connection");
        QVERIFY2(said >= 1, run.err.constData());
        QCOMPARE(uint64_t(said), m.sim->ConnectionsAccepted() - 1);
    }

    // Through a gateway the scan looks for addresses alone; a gateway's "no
    // meter there" (exception 0x0B) is no meter, not another device.
    void scanAddressesOnly_data() { addWays(false); }
    void scanAddressesOnly() {
        QFETCH(Way, way);
        Meter m = StartMeter(way, dir->path(), 0, {1, 3});
        QVERIFY2(!m.port.isEmpty(), m.sim->Error().c_str());
        const ToolRun run =
            RunTool(dir->path(), {"scan", "--port", m.port, "--addresses", "1-5", "--all", "--json"});
        QVERIFY2(run.code == 0, run.err.constData());
        QCOMPARE(run.out.count("\"address\""), 2);
        QVERIFY(run.out.contains("\"address\": 1,") && run.out.contains("\"address\": 3,"));
        QVERIFY2(run.out.contains("\"otherSettings\": []"), run.out.constData());
        QCOMPARE(m.sim->RequestsSeen(1) + m.sim->RequestsSeen(3), uint64_t{2}); // one speed, one parity
    }

    // A reply that comes after its request was given up on carries that
    // request's transaction id: the next request drops it and takes its own.
    void lateReplyRefused() {
        Meter m = StartMeter(Way::ModbusTcp, dir->path());
        QVERIFY2(!m.port.isEmpty(), m.sim->Error().c_str());
        modbus::Link link;
        m.sim->SetFault(vqtsim::Fault::Late, 0, 300);
        auto given = Run(link, m.port);
        QTRY_COMPARE(m.sim->RequestsSeen(), uint64_t{1});
        given->SignalTimeout();
        QTRY_VERIFY(given->Done());
        QCOMPARE(given->Result().verdict.status, modbus::Status::Timeout);
        given.reset();
        m.sim->SetFault(vqtsim::Fault::None);
        auto next = Run(link, m.port);
        QTRY_VERIFY(next->Done());
        QVERIFY2(next->Result().Succeeded(), next->Result().Text().c_str());
        // Its own id in the reply: the late one, sent first, was dropped.
        const modbus::Trace trace = next->Result().trace;
        QCOMPARE(QString::fromStdString(trace.rx).mid(5, 8), QString::fromStdString(trace.tx).mid(5, 8));
        QCOMPARE(m.sim->RepliesSent(), uint64_t{2});
    }
};

QTEST_GUILESS_MAIN(TestCliGateway)
#include "tst_cli_gateway.moc"
