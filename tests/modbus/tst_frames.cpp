// Frames, CRC, trace lines and the verdict, against known wire bytes; the
// writes staged into a worker down to the frame it sends.
#include "modbus/Frames.h"
#include "modbus/Link.h"
#include "modbus/Worker.h"

#include "model/LinkCheck.h"
#include "model/ParameterBlock.h"

#include <QTest>
#include <vector>

using namespace modbus;
using Bytes = std::vector<uint8_t>;

Q_DECLARE_METATYPE(modbus::Kind)

namespace {
Bytes WithCrc(Bytes frame) {
    frame.resize(frame.size() + 2);
    AppendCrc(frame.data(), frame.size() - 2);
    return frame;
}
QString Hex(const uint8_t* b, size_t n) {
    return QString::fromStdString(TraceLine("", b, n));
}
QString Hex(const Bytes& b) {
    return Hex(b.data(), b.size());
}

// The frame the worker would send for what was staged into it.
QString WireOf(const ModbusRead& w, uint8_t address) {
    uint8_t tx[kTxBufferSize] = {};
    const size_t n =
        BuildWriteRequest(tx, address, w.WriteRegister, w.WriteCount, w.RxBuffer + kWriteDataOffset);
    return Hex(tx, n);
}

// The example reply from slave 1 as received, CRC included.
const Bytes kExampleReply = {0x01, 0x03, 0x36, 0x00, 0x0D, 0x00, 0x09, 0x00, 0xC0, 0x00, 0x19, 0x00,
                             0x03, 0x00, 0x01, 0xD4, 0xC0, 0x00, 0x01, 0x86, 0xA0, 0x00, 0x00, 0x27,
                             0x10, 0x3F, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41, 0x48, 0x00,
                             0x00, 0x00, 0x01, 0xE2, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x56,
                             0x31, 0x2E, 0x30, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA8, 0x63};
} // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void crcKnownFrames() {
        QCOMPARE(kExampleReply.size(), size_t{59});
        QVERIFY(CheckCrc(kExampleReply.data(), 57));
        QCOMPARE(Crc16(kExampleReply.data(), 57), uint16_t{0x63A8});
        Bytes broken = kExampleReply;
        broken[20] ^= 0x01;
        QVERIFY(!CheckCrc(broken.data(), 57));
    }

    void readRequestAndTrace() {
        uint8_t tx[kTxBufferSize] = {};
        QCOMPARE(BuildReadRequest(tx, 1, 1, 27), size_t{8});
        QCOMPARE(Hex(tx, 8), QString("[01][03][00][00][00][1B][05][C1]"));
        const std::string line = TraceLine(kTxPrefix, tx, 8);
        QCOMPARE(QString::fromStdString(line), QString("TX : [01][03][00][00][00][1B][05][C1]"));
        QCOMPARE(line.size(), size_t{37});
        // Register r goes out as r - 1, low byte modulo 256.
        BuildReadRequest(tx, 0xF7, 0, 2);
        QCOMPARE(tx[0], uint8_t{0xF7});
        QCOMPARE(tx[3], uint8_t{0xFF});
        QCOMPARE(QString::fromStdString(TraceLine(kRxPrefix, tx, 0)), QString("RX : "));
    }

    void fileRecordRequest() {
        uint8_t tx[kTxBufferSize] = {};
        QCOMPARE(BuildFileRecordRequest(tx, 1, 1, 300), size_t{12});
        QCOMPARE(Hex(tx, 10), QString("[01][14][07][06][00][01][01][2C][00][0B]"));
        QVERIFY(CheckCrc(tx, 10));
        BuildFileRecordRequest(tx, 1, 4, 65536);
        QCOMPARE(tx[5], uint8_t{4});
        QCOMPARE(tx[6], uint8_t{0});
        QCOMPARE(tx[7], uint8_t{0});
        BuildFileRecordRequest(tx, 1, 2, 35464);
        QCOMPARE(tx[6], uint8_t{0x8A});
        QCOMPARE(tx[7], uint8_t{0x88});
    }

    void writeRequests() {
        uint8_t tx[kTxBufferSize] = {};
        uint8_t rx[kRxBufferSize] = {};
        rx[256] = 0x00;
        rx[257] = 0x03;
        QCOMPARE(BuildWriteRequest(tx, 1, 5, 1, rx + 256), size_t{11});
        QCOMPARE(Hex(tx, 9), QString("[01][10][00][04][00][01][02][00][03]"));
        QVERIFY(CheckCrc(tx, 9));

        const uint8_t value1000[4] = {0x00, 0x00, 0x03, 0xE8};
        QCOMPARE(BuildWriteRequest(tx, 1, 8, 2, value1000), size_t{13});
        QCOMPARE(Hex(tx, 11), QString("[01][10][00][07][00][02][04][00][00][03][E8]"));
        QVERIFY(CheckCrc(tx, 11));

        // A register count the buffer cannot hold is cut to what fits.
        QCOMPARE(BuildWriteRequest(tx, 1, 1, 200, rx + 256), size_t{9 + 2 * 127});
        QCOMPARE(tx[5], uint8_t{127});
        QCOMPARE(tx[6], uint8_t{254});
    }

    void exceptionDetection() {
        const Bytes ex = WithCrc({0x01, 0x83, 0x02});
        QVERIFY(IsCompleteException(Kind::ReadRegisters, ex.data(), ex.size()));
        QVERIFY(!IsCompleteException(Kind::WriteRegisters, ex.data(), ex.size()));
        Bytes bad = ex;
        bad[4] ^= 0xFF;
        QVERIFY(!IsCompleteException(Kind::ReadRegisters, bad.data(), bad.size()));
        // The first five bytes of a good reply are not an exception.
        QVERIFY(!IsCompleteException(Kind::ReadRegisters, kExampleReply.data(), 5));
    }

    void verdict_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("timedOut");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("expected"); // "<keep>": ResultText left as it was

        auto raw = [](const Bytes& b) {
            return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
        };
        auto good = [&](Kind k) {
            Bytes b(Params(k).expectedLength - 2, 0x11);
            b[0] = 0x01;
            b[1] = Params(k).function;
            if (k == Kind::ReadRegisters) b[2] = 54; // the byte count of 27 registers
            return WithCrc(b);
        };
        struct K {
            Kind kind;
            const char* name;
            const char* timeout;
            const char* badReply;
            const char* success;
            const char* unsupported;
        };
        const K kinds[] = {
            {Kind::ReadRegisters, "read", "Timeout przy odczycie danych",
             "Błędna odpowiedź przy odczycie danych", "Odczyt danych zakończony sukcesem",
             "Funkcaja 03 Modbus nie jest obsługiwana przez urządzenie"},
            {Kind::ReadFileRecord, "file", "Timeout przy odczycie danych z archiwum.",
             "Błędna odpowiedź przy odczycie danych z archiwum",
             "Odczyt danych z archiwum zakończony sukcesem",
             "Funkcaja 0x14 Modbus nie jest obsługiwana przez urządzenie"},
            {Kind::WriteRegisters, "write", "Timeout przy odczycie danych",
             "Błędna odpowiedź przy zapisie danych", "Zapis danych zakończony sukcesem",
             "Funkcaja 16 Modbus nie jest obsługiwana przez urządzenie"},
        };
        for (const K& k : kinds) {
            const uint8_t x = Params(k.kind).exceptionFunction;
            const Bytes ok = good(k.kind);
            Bytes corrupt = ok;
            corrupt[3] ^= 0x40;
            Bytes longer = ok;
            longer.pop_back();
            longer.pop_back();
            longer.push_back(0x22);
            longer = WithCrc(longer); // one byte too many, CRC good
            auto row = [&](const char* what, bool to, const Bytes& reply, const char* text) {
                QTest::newRow((std::string(k.name) + ": " + what).c_str())
                    << k.kind << to << raw(reply) << QString::fromUtf8(text);
            };
            row("1 timed out, nothing read", true, {}, k.timeout);
            row("2 timed out, 10 bytes", true, Bytes(10, 0x01), k.badReply);
            row("2 timed out, E-1 bytes", true, Bytes(ok.begin(), ok.end() - 1), k.badReply);
            row("3 nothing read, not timed out", false, {}, "<keep>");
            row("4 four bytes", false, Bytes{0x01, x, 0x02, 0x00}, "Odpowiedź urządzenia zbyt krótka");
            row("5 bad CRC", false, corrupt, "Błąd sumy kontrolnej w odpowiedzi urządzenia");
            row("6 exception 1", false, WithCrc({0x01, x, 0x01}), k.unsupported);
            row("6 exception 2", false, WithCrc({0x01, x, 0x02}), "Błędny adres danych w zapytaniu Modbus");
            row("6 exception 3", false, WithCrc({0x01, x, 0x03}), "Zła wartosc rejestru");
            row("6 exception 4", false, WithCrc({0x01, x, 0x04}), "Błąd urządzenia");
            row("6 exception 5", false, WithCrc({0x01, x, 0x05}),
                "Urządzenie nie może odpowiedziec w tym momencie");
            row("6 exception 6", false, WithCrc({0x01, x, 0x06}), "Urządzenie jest zajęte");
            row("6 exception 7", false, WithCrc({0x01, x, 0x07}), "Błąd urządzenia przy odczycie pamięci");
            row("6 exception 8", false, WithCrc({0x01, x, 0x08}), "Błąd parzystosci pamięci urządzenia");
            row("6 exception 0", false, WithCrc({0x01, x, 0x00}), "Nieznany błąd opowiedzi urządzenia");
            row("6 exception 9", false, WithCrc({0x01, x, 0x09}), "Nieznany błąd opowiedzi urządzenia");
            row("6 exception 255", false, WithCrc({0x01, x, 0xFF}), "Nieznany błąd opowiedzi urządzenia");
            row("6 timed out exception", true, WithCrc({0x01, x, 0x02}),
                "Błędny adres danych w zapytaniu Modbus");
            row("7 five bytes, plain function", false, WithCrc({0x01, Params(k.kind).function, 0x02}),
                "Błędna ilosc bytow w odpowiedzi");
            row("7 one byte too many", false, longer, "Błędna ilosc bytow w odpowiedzi");
            row("8 good", false, ok, k.success);
            row("8 good after time-out", true, ok, k.success);
            // On a shared line a good frame from another device is not ours.
            const auto altered = [&](size_t at, uint8_t value) {
                Bytes b(ok.begin(), ok.end() - 2);
                b[at] = value;
                return WithCrc(b);
            };
            row("5a other address", false, altered(0, 0x09), "Odpowiedź innego urządzenia (adres 9)");
            row("5a other address, exception", false, WithCrc({0x02, x, 0x02}),
                "Odpowiedź innego urządzenia (adres 2)");
            row("6a other function", false, altered(1, 0x04), "Odpowiedź na inną funkcję Modbus (0x04)");
        }
        QTest::newRow("read: byte count not 54") << Kind::ReadRegisters << false << raw([&] {
            Bytes b = good(Kind::ReadRegisters);
            b.resize(b.size() - 2);
            b[2] = 0x00;
            return WithCrc(b);
        }()) << QString("Błędna liczba bajtów danych w odpowiedzi (0 zamiast 54)");
        // Another kind's exception under a read answers another request.
        QTest::newRow("read: 0x90 exception")
            << Kind::ReadRegisters << false << raw(WithCrc({0x01, 0x90, 0x01}))
            << QString("Odpowiedź na inną funkcję Modbus (0x90)");
        // Exactly 60 bytes with a CRC that happens to hold over all of them.
        Bytes sixty(58, 0x05);
        sixty[0] = 0x01;
        sixty[1] = 0x03;
        QTest::newRow("read: 60 bytes, CRC good") << Kind::ReadRegisters << false << raw(WithCrc(sixty))
                                                  << QString("Błędna ilosc bytow w odpowiedzi");
    }

    void verdict() {
        QFETCH(Kind, kind);
        QFETCH(bool, timedOut);
        QFETCH(QByteArray, reply);
        QFETCH(QString, expected);
        uint8_t rx[kRxBufferSize] = {};
        std::copy(reply.begin(), reply.end(), rx);
        const modbus::Verdict v = modbus::Judge(kind, size_t(reply.size()), timedOut, rx, 0x01);
        if (expected == "<keep>") {
            QCOMPARE(v.status, modbus::Status::NoReply);
        } else {
            QVERIFY(v.status != modbus::Status::NoReply);
            QCOMPARE(QString::fromStdString(modbus::ResultText(kind, v)), expected);
        }
    }

    // The one check of the line's settings, as the window, the settings file
    // and the tool use it: the first setting that cannot make a request.
    void linkChoices_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("missing"); // -1 none; 0 port, 1 speed, 2 parity, 3 stop bits
        QTest::addColumn<QString>("outcome");
        QTest::newRow("the window's initial address") << "  1" << -1 << "COM1 19200 2 2 1";
        QTest::newRow("leading zero is decimal") << "017" << -1 << "COM1 19200 2 2 17";
        QTest::newRow("highest") << "247" << -1 << "COM1 19200 2 2 247";
        // The address field takes a sign, as every whole number of the window.
        QTest::newRow("plus sign") << "+5" << -1 << "COM1 19200 2 2 5";
        QTest::newRow("past 32 bits")
            << "99999999999" << -1
            << "Adres przepływomierza: Liczba '99999999999' jest poza zakresem liczb "
               "całkowitych.";
        QTest::newRow("zero") << "0" << -1 << "Adres przepływomierza: Adres urządzenia poza zakresem.";
        QTest::newRow("248") << "248" << -1 << "Adres przepływomierza: Adres urządzenia poza zakresem.";
        QTest::newRow("negative") << "-1" << -1 << "Adres przepływomierza: Adres urządzenia poza zakresem.";
        QTest::newRow("hexadecimal") << "0x10" << -1
                                     << "Adres przepływomierza: '0x10' nie jest poprawną liczbą całkowitą.";
        QTest::newRow("trailing blank")
            << "1 " << -1 << "Adres przepływomierza: '1 ' nie jest poprawną liczbą całkowitą.";
        QTest::newRow("no port") << "1" << 0 << "Numer portu: nie wybrano portu.";
        QTest::newRow("no speed") << "1" << 1 << "Prędkość transmisji: nie wybrano prędkości.";
        QTest::newRow("no parity") << "1" << 2 << "Kontola parzystości: nie wybrano parzystości.";
        QTest::newRow("no stop bits") << "x" << 3 << "Bity stopu: nie wybrano liczby bitów stopu.";
    }
    void linkChoices() {
        QFETCH(QString, address);
        QFETCH(int, missing);
        QFETCH(QString, outcome);
        modbus::LinkChoice c{"COM1", 4, 1, 1, address.toStdString(), 500};
        if (missing == 0) c.Port.clear();
        if (missing == 1) c.Speed.reset();
        if (missing == 2) c.Parity = 3; // past the table
        if (missing == 3) c.StopBits.reset();
        const platform::OrReason<modbus::LinkSettings> l = model::CheckLink(c);
        QCOMPARE(l ? QStringLiteral("%1 %2 %3 %4 %5")
                         .arg(QString::fromStdString(l->PortName))
                         .arg(l->BaudRate)
                         .arg(l->Parity)
                         .arg(l->StopBits)
                         .arg(l->DeviceAddress)
                   : QString::fromStdString(l.error),
                 outcome);
        if (l) QCOMPARE(l->TimeoutMs, 500);
    }

    void stagedWritesOnTheWire() {
        modbus::Link meters;
        auto w = meters.CreateWorker();
        StageLongWrite(*w, 8, 1000);
        QCOMPARE(int(w->WriteRegister), 8);
        QCOMPARE(int(w->WriteCount), 2);
        QVERIFY(w->WriteRequested != 0);
        QCOMPARE(WireOf(*w, 1),
                 Hex(WithCrc({0x01, 0x10, 0x00, 0x07, 0x00, 0x02, 0x04, 0x00, 0x00, 0x03, 0xE8})));

        auto s = meters.CreateWorker();
        StageShortWrite(*s, 5, 0, 3);
        QCOMPARE(int(s->WriteCount), 1);
        QVERIFY(s->WriteRequested != 0);
        QCOMPARE(WireOf(*s, 1), Hex(WithCrc({0x01, 0x10, 0x00, 0x04, 0x00, 0x01, 0x02, 0x00, 0x03})));

        // Composed flags byte 21 into register 2; a negative long value.
        auto f = meters.CreateWorker();
        model::CachedIndexes c;
        c.FlowUnitIndex = 1, c.PulseWeightIndex = 2;
        StageShortWrite(*f, 2, 0, *model::setFlagByteLicznik(c, 1));
        QCOMPARE(WireOf(*f, 1), Hex(WithCrc({0x01, 0x10, 0x00, 0x01, 0x00, 0x01, 0x02, 0x00, 0x15})));
        StageLongWrite(*f, 10, -1);
        QCOMPARE(Hex(f->RxBuffer + modbus::kWriteDataOffset, 4), QStringLiteral("[FF][FF][FF][FF]"));
        QCOMPARE(int(f->WriteCount), 2);
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
