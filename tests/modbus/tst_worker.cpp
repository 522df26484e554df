// The worker against the simulated meter over a real pseudo-terminal.
#include "PtyPair.h"
#include "modbus/Link.h"
#include "modbus/Modbus.h"
#include "modbus/SerialPort.h"
#include "tests/common/SimulatorFixture.h"

#include <poll.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <vector>

using namespace modbus;

namespace {
std::shared_ptr<ModbusRead> NewWorker(Link& meters, uint8_t address = 1) {
    auto w = meters.CreateWorker();
    w->SetPortSettings("COM1", 115200, 8, kOneStopBit, kNoParity);
    w->DeviceAddress = address;
    return w;
}
bool WaitDone(const std::shared_ptr<ModbusRead>& w, int ms = 3000) {
    for (int i = 0; i < ms / 5; ++i) {
        if (w->TransactionDoneFlag() != 0) return true;
        QTest::qWait(5);
    }
    return false;
}
QString Result(const std::shared_ptr<ModbusRead>& w) {
    return QString::fromStdString(w->Result());
}
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
} // namespace

class TestWorker : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString oldCwd;
    std::unique_ptr<vqtsim::Simulator> sim;
    Link meters;

private slots:
    void initTestCase() {
        oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        sim = testsim::StartSimulator(testsim::FastMeter(dir.path()));
    }
    void cleanupTestCase() {
        QVERIFY(meters.WaitForWorkers());
        sim.reset();
        QDir::setCurrent(oldCwd);
    }
    void init() { sim->SetFault(vqtsim::Fault::None); }

    void readRegisters() {
        auto w = NewWorker(meters);
        w->Start();
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Odczyt danych zakończony sukcesem"));
        QCOMPARE(w->BytesReadCount(), size_t{59});
        QCOMPARE(w->RxBuffer[4], uint8_t{13}); // DN index of the default meter
        const auto trace = w->TraceLines();
        QCOMPARE(QString::fromStdString(trace.tx), QString("TX : [01][03][00][00][00][1B][05][C1]"));
        QCOMPARE(trace.rx.size(), size_t{5 + 59 * 4});
        w->Release();
    }

    void writeTakesPrecedence() {
        auto w = NewWorker(meters);
        w->RxBuffer[256] = 0;
        w->RxBuffer[257] = 7; // time constant index 7
        w->WriteRegister = 5;
        w->WriteCount = 1;
        w->WriteRequested = -1;
        w->ArchiveRequested = -1;
        w->Start();
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Zapis danych zakończony sukcesem"));
        QCOMPARE(w->BytesReadCount(), size_t{8});
        w->Release();
        QCOMPARE(sim->Registers()[4], uint16_t{7});
    }

    void archiveRecord() {
        auto w = NewWorker(meters);
        w->ArchiveFile = 1;
        w->ArchiveRecord = 11;
        w->ArchiveRequested = -1;
        w->Start();
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Odczyt danych z archiwum zakończony sukcesem"));
        const auto rec = sim->ArchiveRecord(1, 1);
        QVERIFY(std::equal(rec.begin(), rec.end(), w->RxBuffer + 5));
        w->Release();
    }

    void exceptionReply() {
        sim->SetFault(vqtsim::Fault::Exception, 2);
        auto w = NewWorker(meters);
        w->Start();
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Błędny adres danych w zapytaniu Modbus"));
        w->Release();
    }

    void splitReplyIsWaitedFor() {
        sim->SetFault(vqtsim::Fault::Split, 0, 100);
        auto w = NewWorker(meters);
        w->Start();
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Odczyt danych zakończony sukcesem"));
        w->Release();
    }

    void damagedReplies() {
        sim->SetFault(vqtsim::Fault::BadCrc);
        auto w = NewWorker(meters);
        w->Start();
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Błąd sumy kontrolnej w odpowiedzi urządzenia"));
        w->Release();

        // Noise behind a whole reply: read with it and rejected.
        sim->SetFault(vqtsim::Fault::TrailingNoise, 3);
        auto n = NewWorker(meters);
        n->Start();
        QTest::qWait(200);
        QVERIFY(WaitDone(n));
        QVERIFY(Result(n) != QString("Odczyt danych zakończony sukcesem"));
        n->Release();
    }

    void replyAfterGiveUp() {
        sim->SetFault(vqtsim::Fault::Late, 0, 300);
        auto w = NewWorker(meters);
        w->Start();
        QTest::qWait(50);
        w->SignalTimeout(-1);
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Timeout przy odczycie danych"));
        w->Release();
        w.reset();
        QTest::qWait(400); // the late reply lands while nobody holds the port
        sim->SetFault(vqtsim::Fault::None);
        auto next = NewWorker(meters);
        next->Start();
        QVERIFY(WaitDone(next));
        QCOMPARE(Result(next), QString("Odczyt danych zakończony sukcesem")); // stale bytes were dropped
        next->Release();
    }

    void portHeldElsewhere() {
        SerialPort holder;
        QVERIFY(holder.Open("COM1"));
        auto w = NewWorker(meters);
        w->Start();
        QTest::qWait(100);
        QCOMPARE(w->TransactionDoneFlag(), 0);
        w->SignalTimeout(-1);
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Timeout przy odczycie danych"));
        QCOMPARE(QString::fromStdString(w->TraceLines().rx), QString("RX : "));
        w->Release();
    }

    void silentMeterTimesOutWithoutSpinning() {
        sim->SetFault(vqtsim::Fault::Silence);
        auto w = NewWorker(meters);
        w->Start();
        const double before = CpuSeconds();
        QTest::qWait(1000);
        const double used = CpuSeconds() - before;
        QVERIFY2(used < 0.05, qPrintable(QString("CPU %1 s in 1 s of waiting").arg(used)));
        QCOMPARE(w->TransactionDoneFlag(), 0);
        w->SignalTimeout(-1);
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Timeout przy odczycie danych"));
        QCOMPARE(QString::fromStdString(w->TraceLines().rx), QString("RX : "));
        w->Release();
    }

    // Without a signal, the wait ends by itself at its deadline, as a time-out.
    void deadlineEndsTheWait() {
        sim->SetFault(vqtsim::Fault::Silence);
        auto w = NewWorker(meters);
        w->ReplyDeadlineMs = 150;
        QElapsedTimer since;
        since.start();
        w->Start();
        QVERIFY(WaitDone(w, 5000));
        // Not before the deadline, however slow the machine.
        QVERIFY2(since.elapsed() >= 150, qPrintable(QString::number(since.elapsed())));
        QCOMPARE(w->Judgement().status, Status::Timeout);
        w->Release();
    }

    // The next worker starts the moment the last one is given up, which may
    // still be closing the port: it waits for its turn instead of finding the
    // port "held", so every request reaches the meter.
    void nextWorkerRightAfterAGiveUp() {
        sim->SetFault(vqtsim::Fault::Silence);
        const uint64_t seen = sim->RequestsSeen();
        for (int i = 0; i < 30; ++i) {
            auto w = NewWorker(meters);
            w->Start();
            QTRY_COMPARE(sim->RequestsSeen(), seen + uint64_t(i) + 1);
            w->SignalTimeout(-1);
            w->Release();
        }
        QVERIFY(meters.WaitForWorkers());
    }

    void signalledAndReleasedBeforeStart() {
        sim->SetFault(vqtsim::Fault::Silence);
        const uint64_t seen = sim->RequestsSeen();
        auto w = NewWorker(meters);
        w->ArchiveRequested = -1;
        w->SignalTimeout(-1);
        w->Release();
        w->Start();
        w.reset();
        QVERIFY(meters.WaitForWorkers());
        // The meter must have judged the request while still silent, or its
        // answer would land in the next test's exchange.
        QTRY_VERIFY(sim->RequestsSeen() > seen);
        QTest::qWait(50);
    }

    // A reply to an earlier request comes while the next one starts: with a
    // wait for silence it is dropped and the real reply taken; without, the
    // stale reply would be taken for this record (which is what the wait is for).
    void staleReplyBeforeTheRequest_data() {
        QTest::addColumn<uint32_t>("quietMs");
        QTest::addColumn<int>("takenRecordByte");
        QTest::newRow("no wait: the stale reply is taken") << 0u << 0xAA;
        QTest::newRow("wait for silence: the real reply") << 100u << 0xBB;
    }
    void staleReplyBeforeTheRequest() {
        QFETCH(uint32_t, quietMs);
        QFETCH(int, takenRecordByte);
        PtyPair pty;
        QVERIFY(pty.ok());
        QFile::remove("COM5");
        QVERIFY(QFile::link(QString::fromStdString(pty.slavePath), "COM5"));
        const auto reply = [](uint8_t fill) {
            std::vector<uint8_t> r{0x01, 0x14, 0x18, 0x17, 0x06};
            r.resize(27, fill);
            const uint16_t crc = Crc16(r.data(), r.size());
            r.push_back(static_cast<uint8_t>(crc & 0xFF));
            r.push_back(static_cast<uint8_t>(crc >> 8));
            return r;
        };
        auto w = meters.CreateWorker();
        w->SetPortSettings("COM5", 115200, 8, kOneStopBit, kNoParity);
        w->DeviceAddress = 1;
        w->ArchiveRequested = -1;
        w->ArchiveFile = 1;
        w->ArchiveRecord = 11;
        w->QuietMs = quietMs;
        w->Start();
        QTest::qWait(20);
        const auto stale = reply(0xAA);
        QCOMPARE(::write(pty.master, stale.data(), stale.size()), ssize_t(stale.size()));
        // The meter answers the request once it has it.
        uint8_t request[64];
        pollfd fd{pty.master, POLLIN, 0};
        QVERIFY(::poll(&fd, 1, 2000) == 1);
        QTest::qWait(5);
        QCOMPARE(::read(pty.master, request, sizeof request), ssize_t{12});
        const auto real = reply(0xBB);
        QCOMPARE(::write(pty.master, real.data(), real.size()), ssize_t(real.size()));
        QVERIFY(WaitDone(w));
        QCOMPARE(Result(w), QString("Odczyt danych z archiwum zakończony sukcesem"));
        QCOMPARE(int(w->RxBuffer[10]), takenRecordByte);
        w->Release();
        QFile::remove("COM5");
    }

    void manyTransactionsLeaveNoThread() {
        for (int i = 0; i < 50; ++i) {
            auto w = NewWorker(meters);
            w->Start();
            QVERIFY(WaitDone(w));
            QCOMPARE(Result(w), QString("Odczyt danych zakończony sukcesem"));
            w->Release();
        }
        QVERIFY(meters.WaitForWorkers());
        QCOMPARE(meters.LiveWorkers(), 0);
    }

    // Threads are kept for the next transactions, but a worker not yet
    // released keeps its own: the ones started after it still run at once.
    void unreleasedWorkersDoNotHoldUpTheNext() {
        std::vector<std::shared_ptr<ModbusRead>> held;
        for (int i = 0; i < 4; ++i) {
            held.push_back(NewWorker(meters));
            held.back()->Start();
            QVERIFY(WaitDone(held.back()));
            QCOMPARE(Result(held.back()), QString("Odczyt danych zakończony sukcesem"));
        }
        for (const auto& w : held) w->Release();
        held.clear();
        QVERIFY(meters.WaitForWorkers());
    }
};

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
