// The simulator's frames, register effects and archive, without a line.
#include "sim/LineRules.h"
#include "sim/Simulator.h"

#include <QTest>
#include <QThread>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <ctime>

using namespace vqtsim;
using Bytes = std::vector<uint8_t>;
using Regs = std::array<uint16_t, 27>;
Q_DECLARE_METATYPE(Bytes)

namespace QTest {
template <> char* toString(const Bytes& b) {
    return toString(QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())).toHex(' '));
}
template <> char* toString(const Record& r) {
    return toString(Bytes(r.begin(), r.end()));
}
} // namespace QTest

namespace {

Bytes Hex(const char* text) {
    Bytes out;
    for (const QByteArray& part : QByteArray(text).split(' '))
        if (!part.isEmpty()) out.push_back(static_cast<uint8_t>(part.toUInt(nullptr, 16)));
    return out;
}

Bytes WithCrc(Bytes f) {
    const uint16_t crc = SimCrc(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

Bytes Read(int start, int count) {
    return WithCrc({1, 0x03, static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start), 0,
                    static_cast<uint8_t>(count)});
}

Bytes Write(int reg, std::initializer_list<uint8_t> data) {
    Bytes f{1,
            0x10,
            0,
            static_cast<uint8_t>(reg - 1),
            0,
            static_cast<uint8_t>(data.size() / 2),
            static_cast<uint8_t>(data.size())};
    f.insert(f.end(), data);
    return WithCrc(f);
}

Bytes Write32(int reg, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return Write(reg, {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
                       static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)});
}

Bytes FileRecord(int file, int record, int length = 11, int refType = 6) {
    return WithCrc({1, 0x14, 7, static_cast<uint8_t>(refType), 0, static_cast<uint8_t>(file),
                    static_cast<uint8_t>(record >> 8), static_cast<uint8_t>(record), 0,
                    static_cast<uint8_t>(length)});
}

Bytes Exception(uint8_t function, uint8_t code) {
    return WithCrc({1, static_cast<uint8_t>(function | 0x80), code});
}

const char* const kDefaultReply =
    "01 03 36 00 0D 00 09 00 C0 00 19 00 03 00 01 D4 C0 00 01 86 A0 00 00 27 10 "
    "3F 80 00 00 00 00 00 00 41 48 00 00 00 01 E2 40 00 00 00 00 00 04 56 31 2E "
    "30 32 00 00 00 00 00 A8 63";

int32_t Reg32(const Regs& r, int number) {
    return static_cast<int32_t>((static_cast<uint32_t>(r[number - 1]) << 16) | r[number]);
}

std::time_t RecordTime(const Record& r) {
    std::tm tm{};
    tm.tm_year = ((r[2] << 8) | r[3]) - 1900;
    tm.tm_mon = r[4] - 1;
    tm.tm_mday = r[5];
    tm.tm_hour = r[6];
    tm.tm_min = r[7];
    tm.tm_sec = r[8];
    return timegm(&tm);
}

} // namespace

class TestSimFrames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        setenv("TZ", "UTC", 1); // archive dates are local time; keep the arithmetic simple
        tzset();
    }

    void crc() {
        const Bytes rq = Hex("01 03 00 00 00 1B");
        QCOMPARE(SimCrc(rq.data(), rq.size()), uint16_t(0xC105)); // sent as 05 C1
        const Bytes reply = Hex(kDefaultReply);
        QCOMPARE(SimCrc(reply.data(), 57), uint16_t(0x63A8));
        QCOMPARE(SimCrc(nullptr, 0), uint16_t(0xFFFF));
    }

    void requestLength_data() {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<int>("length");
        QTest::newRow("empty") << Bytes{} << 0;
        QTest::newRow("address only") << Hex("01") << 0;
        QTest::newRow("address 248") << Hex("F8") << -1;
        QTest::newRow("read, 7 of 8") << Hex("01 03 00 00 00 1B 05") << 0;
        QTest::newRow("read complete") << Hex("01 03 00 00 00 1B 05 C1") << 8;
        QTest::newRow("read and more") << Hex("01 03 00 00 00 1B 05 C1 01 03") << 8;
        QTest::newRow("write, no byte count yet") << Hex("01 10 00 03 00 01") << 0;
        QTest::newRow("write one, short") << Hex("01 10 00 03 00 01 02 00 03 AA") << 0;
        QTest::newRow("write one") << Hex("01 10 00 03 00 01 02 00 03 AA BB") << 11;
        QTest::newRow("write two") << Hex("01 10 00 07 00 02 04 00 00 03 E8 AA BB") << 13;
        QTest::newRow("write, byte count 247") << Hex("01 10 00 07 00 02 F7") << -1;
        QTest::newRow("file record, no count") << Hex("01 14") << 0;
        QTest::newRow("file record, 11 of 12") << Hex("01 14 07 06 00 01 00 00 00 0B 85") << 0;
        QTest::newRow("file record") << Hex("01 14 07 06 00 01 00 00 00 0B 85 23") << 12;
        QTest::newRow("file record, count F6") << Hex("01 14 F6") << -1;
        QTest::newRow("unknown function") << Hex("01 2B 00 00") << -1;
        QTest::newRow("function 0") << Hex("01 00") << -1;
        QTest::newRow("exception code as function") << Hex("01 83 02") << -1;
    }
    void requestLength() {
        QFETCH(Bytes, bytes);
        QFETCH(int, length);
        QCOMPARE(RequestLength(bytes.data(), bytes.size()), length);
    }

    void readRegisters() {
        Regs regs = DefaultRegisters();
        const std::vector<Record> archive;
        QCOMPARE(Answer(Read(0, 27), 1, regs, archive), Hex(kDefaultReply));
        QCOMPARE(Answer(Read(5, 2), 1, regs, archive), WithCrc(Hex("01 03 04 00 01 D4 C0")));
        QCOMPARE(Answer(Read(26, 1), 1, regs, archive), WithCrc(Hex("01 03 02 00 00")));
        for (auto [start, count] : {std::pair{27, 1}, {26, 2}, {0, 0}, {0, 28}, {256, 1}})
            QCOMPARE(Answer(Read(start, count), 1, regs, archive), Exception(0x03, 2));
        QCOMPARE(regs, DefaultRegisters());
    }

    void addressingAndUnknownFunctions() {
        Regs regs = DefaultRegisters();
        const std::vector<Record> archive;
        QVERIFY(Answer(Read(0, 27), 2, regs, archive).empty()); // not for us
        Bytes broadcast = Hex("00 10 00 03 00 01 02 00 07");
        QVERIFY(Answer(WithCrc(broadcast), 0, regs, archive).empty());
        QCOMPARE(Answer(WithCrc(Hex("01 2B 0E 01")), 1, regs, archive), Exception(0x2B, 1));
        QCOMPARE(Answer(WithCrc(Hex("01 06 00 03 00 07")), 1, regs, archive), Exception(0x06, 1));
        QCOMPARE(regs, DefaultRegisters());
    }

    // Each writable register: the echo, and the effect the next read shows.
    void writes_data() {
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<int>("dn");       // DN index set before the write
        QTest::addColumn<int>("reg");      // where the effect shows
        QTest::addColumn<int>("expected"); // value read back (32-bit for pairs)
        QTest::newRow("flags") << Write(2, {0x00, 0x15}) << 13 << 2 << 0x15;
        QTest::newRow("cut-off") << Write(4, {0x00, 0xFF}) << 13 << 4 << 255;
        QTest::newRow("time constant 14") << Write(5, {0x00, 14}) << 13 << 5 << 14;
        QTest::newRow("archive period 10") << Write(22, {0x00, 10}) << 13 << 22 << 10;
        QTest::newRow("range DN 100 pos 0") << Write32(6, 0) << 13 << 6 << 240000;
        QTest::newRow("range DN 100 pos 11") << Write32(6, 11) << 13 << 6 << 12000;
        QTest::newRow("range DN 3 pos 11") << Write32(6, 11) << 0 << 6 << 12;
        QTest::newRow("range DN 32 pos 6") << Write32(6, 6) << 8 << 6 << 8000;
        QTest::newRow("range DN 400 pos 13") << Write32(6, 13) << 20 << 6 << 225000;
        QTest::newRow("range DN 600 pos 10") << Write32(6, 10) << 22 << 6 << 480000;
        QTest::newRow("alarm 1") << Write32(8, 1000) << 13 << 8 << 1000;
        QTest::newRow("alarm 2") << Write32(10, 0) << 13 << 10 << 0;
        QTest::newRow("clear L+") << Write32(18, 0) << 13 << 18 << 0;
        QTest::newRow("clear L-") << Write32(20, 0) << 13 << 20 << 0;
    }
    void writes() {
        QFETCH(Bytes, request);
        QFETCH(int, dn);
        QFETCH(int, reg);
        QFETCH(int, expected);
        Regs regs = DefaultRegisters();
        regs[0] = static_cast<uint16_t>(dn);
        regs[19] = 0x0123; // something to clear in L-
        const std::vector<Record> archive;
        const Bytes echo(request.begin(), request.begin() + 6);
        QCOMPARE(Answer(request, 1, regs, archive), WithCrc(echo));

        const Bytes reply = Answer(Read(0, 27), 1, regs, archive);
        const size_t at = 3 + 2 * static_cast<size_t>(reg - 1);
        const bool pair = request[5] == 2;
        int32_t shown = (reply[at] << 8) | reply[at + 1];
        if (pair)
            shown = static_cast<int32_t>((uint32_t(reply[at]) << 24) | (reply[at + 1] << 16) |
                                         (reply[at + 2] << 8) | reply[at + 3]);
        QCOMPARE(shown, expected);
        // Nothing else moved.
        Regs before = DefaultRegisters();
        before[0] = static_cast<uint16_t>(dn);
        before[19] = 0x0123;
        for (int i = 0; i < 27; ++i)
            if (i != reg - 1 && !(pair && i == reg)) QCOMPARE(regs[i], before[i]);
    }

    void refusedWrites_data() {
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<int>("dn");
        QTest::addColumn<int>("code");
        QTest::newRow("flow unit code 3") << Write(2, {0x00, 0x0B}) << 13 << 3;
        QTest::newRow("flags bit 5") << Write(2, {0x00, 0x21}) << 13 << 3;
        QTest::newRow("flags high byte") << Write(2, {0x01, 0x01}) << 13 << 3;
        QTest::newRow("cut-off 256") << Write(4, {0x01, 0x00}) << 13 << 3;
        QTest::newRow("time constant 15") << Write(5, {0x00, 15}) << 13 << 3;
        QTest::newRow("archive period 11") << Write(22, {0x00, 11}) << 13 << 3;
        QTest::newRow("range empty slot") << Write32(6, 12) << 13 << 3;
        QTest::newRow("range 13 of 11") << Write32(6, 13) << 22 << 3;
        QTest::newRow("range 14") << Write32(6, 14) << 20 << 3;
        QTest::newRow("range -1") << Write32(6, -1) << 13 << 3;
        QTest::newRow("range, unknown DN") << Write32(6, 0) << 23 << 3;
        QTest::newRow("alarm -1") << Write32(8, -1) << 13 << 3;
        QTest::newRow("L+ to 5") << Write32(18, 5) << 13 << 3;
        QTest::newRow("L- to -1") << Write32(20, -1) << 13 << 3;
        QTest::newRow("register 1") << Write(1, {0x00, 0x05}) << 13 << 2;
        QTest::newRow("register 3") << Write(3, {0x00, 0x00}) << 13 << 2;
        QTest::newRow("flow") << Write32(16, 0) << 13 << 2;
        QTest::newRow("low half of a pair") << Write(7, {0x00, 0x00}) << 13 << 2;
        QTest::newRow("version") << Write(23, {0x41, 0x42}) << 13 << 2;
        QTest::newRow("flags as a pair") << Write32(2, 9) << 13 << 2;
        QTest::newRow("range as one") << Write(6, {0x00, 0x01}) << 13 << 2;
        QTest::newRow("byte count mismatch") << WithCrc(Hex("01 10 00 03 00 02 02 00 05")) << 13 << 3;
    }
    void refusedWrites() {
        QFETCH(Bytes, request);
        QFETCH(int, dn);
        QFETCH(int, code);
        Regs regs = DefaultRegisters();
        regs[0] = static_cast<uint16_t>(dn);
        const Regs before = regs;
        QCOMPARE(Answer(request, 1, regs, {}), Exception(0x10, static_cast<uint8_t>(code)));
        QCOMPARE(regs, before);
    }

    void rangeTable() {
        // Filled slots per DN index, as the range lists have them.
        const int filled[23] = {12, 12, 12, 12, 13, 12, 12, 12, 13, 12, 12, 12,
                                13, 12, 12, 12, 13, 12, 12, 13, 14, 13, 11};
        for (int dn = 0; dn < 23; ++dn) {
            int n = 0;
            while (n < 14 && RangeValue(dn, n) > 0) ++n;
            QCOMPARE(n, filled[dn]);
            for (int p = n; p < 14; ++p) QCOMPARE(RangeValue(dn, p), 0);
            for (int p = 1; p < n; ++p)
                QVERIFY2(RangeValue(dn, p) < RangeValue(dn, p - 1), qPrintable(QString::number(dn)));
        }
        QCOMPARE(RangeValue(8, 0), 24000); // "24,00"
        QCOMPARE(RangeValue(16, 0), 1080000);
        QCOMPARE(RangeValue(22, 0), 9600000);
        QCOMPARE(RangeValue(23, 0), 0);
        QCOMPARE(RangeValue(0, -1), 0);
    }

    void buildRecord() {
        const Record example = BuildRecord(1990, 1, 1, 12, 7, 1, 0.0f, 397201, 12565, 0x10);
        QCOMPARE(Bytes(example.begin(), example.end()),
                 Hex("00 00 07 C6 01 01 0C 07 01 00 00 00 00 00 06 0F 91 00 00 31 15 10"));
        const Record r = BuildRecord(2024, 12, 31, 23, 59, 58, -12.5f, -10, 0x7FFFFFFF, 0xFD);
        QCOMPARE(Bytes(r.begin(), r.end()),
                 Hex("00 00 07 E8 0C 1F 17 3B 3A C1 48 00 00 FF FF FF F6 7F FF FF FF FD"));
    }

    void fileRecords() {
        const std::vector<Record> archive = MakeArchive(100, false, 7, std::time(nullptr));
        Regs regs = DefaultRegisters();
        auto body = [](const Record& r) {
            Bytes f = Hex("01 14 18 17 06");
            f.insert(f.end(), r.begin(), r.end());
            return WithCrc(f);
        };
        QCOMPARE(Answer(FileRecord(1, 0), 1, regs, archive), body(archive[0]));
        QCOMPARE(Answer(FileRecord(1, 99 * 11), 1, regs, archive), body(archive[99]));
        QCOMPARE(Answer(FileRecord(1, 100 * 11), 1, regs, archive), body(Record{})); // the end record
        QCOMPARE(Answer(FileRecord(4, 35464), 1, regs, archive), body(Record{}));
        QCOMPARE(Answer(FileRecord(1, 100 * 11), 1, regs, archive).size(), size_t(29));

        for (auto [file, record] : {std::pair{0, 0}, {5, 0}, {1, 35475}, {1, 5}, {2, 65535}})
            QCOMPARE(Answer(FileRecord(file, record), 1, regs, archive), Exception(0x14, 2));
        QCOMPARE(Answer(FileRecord(1, 0, 10), 1, regs, archive), Exception(0x14, 3));
        QCOMPARE(Answer(FileRecord(1, 0, 11, 7), 1, regs, archive), Exception(0x14, 3));
        const Bytes two = WithCrc(Hex("01 14 0E 06 00 01 00 00 00 0B 06 00 01 00 0B 00 0B"));
        QCOMPARE(Answer(two, 1, regs, archive), Exception(0x14, 3));

        // A full archive fills all four files and has no end record.
        const std::vector<Record> full = MakeArchive(kArchiveSlots, false, 1, std::time(nullptr));
        QCOMPARE(Answer(FileRecord(4, 35464), 1, regs, full), body(full.back()));
        QVERIFY(full.back() != Record{});
    }

    void archiveContents() {
        const std::time_t now = std::time(nullptr);
        const std::vector<Record> a = MakeArchive(300, false, 3, now);
        QCOMPARE(a.size(), size_t(kArchiveSlots));
        QVERIFY(RecordTime(a[299]) <= now && RecordTime(a[299]) > now - 900);
        int litres = 0, events = 0;
        for (int i = 0; i < 300; ++i) {
            if (i > 0) QCOMPARE(RecordTime(a[i]) - RecordTime(a[i - 1]), std::time_t(900));
            if (a[i][21] & 0x01) ++litres;
            if (a[i][21] & 0xFC) ++events;
            if (i > 0 && (a[i][21] & 1) == (a[i - 1][21] & 1)) {
                const auto total = [&](int k, int at) {
                    return (a[k][at] << 24) | (a[k][at + 1] << 16) | (a[k][at + 2] << 8) | a[k][at + 3];
                };
                QVERIFY(total(i, 13) >= total(i - 1, 13));
                QVERIFY(total(i, 17) >= total(i - 1, 17));
            }
        }
        QVERIFY(litres > 0 && litres < 300);
        QVERIFY(events > 0);
        for (size_t i = 300; i < a.size(); ++i) QCOMPARE(a[i], Record{});
        QCOMPARE(MakeArchive(0, false, 3, now)[0], Record{});
        QCOMPARE(MakeArchive(-5, true, 3, now)[0], Record{});
        QCOMPARE(MakeArchive(300, false, 3, now), a); // the seed makes it repeatable
    }

    void wrappedArchive() {
        const std::time_t now = std::time(nullptr);
        const std::vector<Record> plain = MakeArchive(100, false, 5, now);
        const std::vector<Record> ring = MakeArchive(100, true, 5, now);
        // Newest ten first, then the oldest up to the one before them, then the end record.
        for (int i = 0; i < 100; ++i) QCOMPARE(ring[i], plain[(i + 90) % 100]);
        QCOMPARE(ring[100], Record{});
        QCOMPARE(RecordTime(ring[9]), RecordTime(plain[99]));
        QVERIFY(RecordTime(ring[10]) < RecordTime(ring[9]));
        QCOMPARE(MakeArchive(1, true, 5, now)[0], MakeArchive(1, false, 5, now)[0]);

        Options options;
        options.archiveRecords = 100;
        options.archiveWrapped = true;
        Simulator sim(options);
        QVERIFY(RecordTime(sim.ArchiveRecord(1, 9)) > RecordTime(sim.ArchiveRecord(1, 10)));
        QCOMPARE(sim.ArchiveRecord(1, 100), Record{});
        QCOMPARE(sim.ArchiveRecord(5, 0), Record{});
    }

    // An impossible date in one record: the fields it shows, nothing else changed.
    void badDates_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("slot");
        QTest::addColumn<bool>("wrapped");
        QTest::addColumn<QList<int>>("date"); // year, month, day, hour, minute as stored
        // 100 records, the newest at 2024-03-10 12:00 UTC.
        QTest::newRow("month 13") << int(DateFault::Month13) << 3 << false << QList<int>{2024, 13, 9, 12, 0};
        QTest::newRow("day 32") << int(DateFault::Day32) << 95 << false << QList<int>{2024, 3, 32, 11, 0};
        QTest::newRow("25:61") << int(DateFault::Time2561) << 99 << false << QList<int>{2024, 3, 10, 25, 61};
        QTest::newRow("year 999") << int(DateFault::Year999) << 0 << false << QList<int>{999, 3, 9, 11, 15};
        QTest::newRow("wrapped: the newest")
            << int(DateFault::Time2561) << 9 << true << QList<int>{2024, 3, 10, 25, 61};
    }
    void badDates() {
        QFETCH(int, fault);
        QFETCH(int, slot);
        QFETCH(bool, wrapped);
        QFETCH(QList<int>, date);
        const std::time_t now = 1710072420; // 2024-03-10 12:07 UTC
        ArchiveDamage damage;
        damage.badDates = {{slot, static_cast<DateFault>(fault)}, {100, DateFault::Day32}}; // no dated record
        const std::vector<Record> plain = MakeArchive(100, wrapped, 3, now);
        const std::vector<Record> bad = MakeArchive(100, wrapped, 3, now, damage);
        const Record& r = bad[static_cast<size_t>(slot)];
        QCOMPARE((QList<int>{(r[2] << 8) | r[3], r[4], r[5], r[6], r[7]}), date);
        QCOMPARE(Bytes(r.begin() + 8, r.end()), Bytes(plain[slot].begin() + 8, plain[slot].end()));
        for (size_t i = 0; i < plain.size(); ++i)
            if (i != size_t(slot)) QCOMPARE(bad[i], plain[i]);
    }

    // The erased record: all 0xFF in its place, exactly `erased` newer records
    // in the archive, every other record as before.
    void erasedRecord_data() {
        QTest::addColumn<bool>("wrapped");
        QTest::addColumn<int>("erased");
        QTest::addColumn<int>("slot");
        QTest::newRow("20 newer after it") << false << 20 << 79;
        QTest::newRow("the newest") << false << 0 << 99;
        QTest::newRow("wrapped, 20 newer") << true << 20 << 89;
        QTest::newRow("wrapped, the newest") << true << 0 << 9;
    }
    void erasedRecord() {
        QFETCH(bool, wrapped);
        QFETCH(int, erased);
        QFETCH(int, slot);
        const std::time_t now = std::time(nullptr);
        const std::vector<Record> plain = MakeArchive(100, wrapped, 4, now);
        const std::vector<Record> damaged = MakeArchive(100, wrapped, 4, now, ArchiveDamage{erased, {}});
        Record ff;
        ff.fill(0xFF);
        QCOMPARE(damaged[slot], ff);
        int newer = 0;
        for (size_t i = 0; i < plain.size(); ++i) {
            if (i != size_t(slot)) QCOMPARE(damaged[i], plain[i]);
            if (damaged[i] != Record{} && damaged[i] != ff &&
                RecordTime(damaged[i]) > RecordTime(plain[slot]))
                ++newer;
        }
        QCOMPARE(newer, erased);
    }

    // A master downloaded 80 records; by its next download the newest of them
    // reads all 0xFF and 20 newer ones follow it.
    void erasedAfterAnEarlierDownload() {
        const std::time_t now = std::time(nullptr);
        Options before;
        before.archiveRecords = 80;
        before.archiveNow = now - 20 * 900;
        Options after;
        after.archiveRecords = 100;
        after.archiveNow = now;
        after.archiveDamage.erasedBefore = 20;
        const Simulator earlier(before), later(after);
        for (int i = 0; i < 79; ++i) QCOMPARE(later.ArchiveRecord(1, i), earlier.ArchiveRecord(1, i));
        QCOMPARE(earlier.ArchiveRecord(1, 80), Record{}); // 79 was the newest then
        const Record gone = later.ArchiveRecord(1, 79);
        QCOMPARE(Bytes(gone.begin() + 2, gone.begin() + 6), Hex("FF FF FF FF")); // year 65535, month 255
        QVERIFY(gone != earlier.ArchiveRecord(1, 79));
        for (int i = 80; i < 100; ++i)
            QCOMPARE(RecordTime(later.ArchiveRecord(1, i)) - RecordTime(earlier.ArchiveRecord(1, 79)),
                     std::time_t(900) * (i - 79));
        QCOMPARE(later.ArchiveRecord(1, 100), Record{});
    }

    void liveValues() {
        Simulator frozen(Options{});
        frozen.SetLive(false);
        QThread::msleep(50);
        QCOMPARE(frozen.Registers(), DefaultRegisters());

        Simulator sim(Options{});
        sim.SetRegister(2, 0x0D);   // totalisers in litres, so growth shows within a second
        sim.SetRegister(11, 20000); // alarm 2 threshold 20000 l/h: above the flow
        const int32_t start = Reg32(sim.Registers(), 18);
        float last = 12.5f;
        bool moved = false;
        for (int i = 0; i < 20; ++i) {
            QThread::msleep(50);
            const Regs r = sim.Registers();
            const float flow = std::bit_cast<float>(static_cast<uint32_t>(Reg32(r, 16)));
            QVERIFY2(flow > 5.0f && flow < 20.0f, qPrintable(QString::number(flow)));
            QVERIFY2(std::fabs(flow - last) < 0.5f, "the flow must change smoothly");
            moved = moved || flow != last;
            last = flow;
            QCOMPARE(r[2] & 0xCC, 0x04); // below alarm 2 only
        }
        QVERIFY(moved);
        // About 3.5 l/s for one second, counted in tenths of a litre.
        const int32_t grown = Reg32(sim.Registers(), 18) - start;
        QVERIFY2(grown > 20 && grown < 60, qPrintable(QString::number(grown)));

        sim.SetLive(false);
        const Regs still = sim.Registers();
        QThread::msleep(100);
        QCOMPARE(sim.Registers(), still);
    }

    // A master set otherwise than the meter, as a pty shows it: the speed
    // always, odd parity only (the pty keeps PARODD and clears PARENB).
    void masterSettingsOnAPty() {
        const auto master = [](speed_t speed, tcflag_t flags) {
            termios t{};
            t.c_cflag = flags; // before the speed, which Linux keeps in the same word
            cfsetospeed(&t, speed);
            return t;
        };
        using vqtsim::LineMatch;
        const struct {
            termios t;
            uint32_t baud;
            int parity;
            LineMatch match;
        } rows[] = {{master(B9600, 0), 19200, 0, LineMatch::OtherSpeed},
                    {master(B19200, 0), 19200, 0, LineMatch::Same},
                    {master(B19200, 0), 19200, 2, LineMatch::Same}, // none and even look alike
                    {master(B19200, 0), 19200, 1, LineMatch::OtherParity},
                    {master(B19200, PARODD), 19200, 1, LineMatch::Same},
                    {master(B19200, PARODD), 19200, 2, LineMatch::OtherParity},
                    {master(B19200, PARENB), 19200, 2, LineMatch::Same}, // where PARENB stays
                    {master(B19200, PARENB | PARODD), 19200, 2, LineMatch::OtherParity}};
        for (const auto& r : rows) QCOMPARE(vqtsim::CompareLine(r.t, r.baud, r.parity), r.match);
        // A garbled answer never passes as a frame.
        for (std::vector<uint8_t> answer :
             {std::vector<uint8_t>{0x11, 0x83, 0x02}, std::vector<uint8_t>(59, 0x40)}) {
            answer.resize(answer.size() + 2);
            const uint16_t crc = vqtsim::SimCrc(answer.data(), answer.size() - 2);
            answer[answer.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
            answer.back() = static_cast<uint8_t>(crc >> 8);
            const std::vector<uint8_t> before = answer;
            vqtsim::GarbleAnswer(answer);
            const uint16_t after = vqtsim::SimCrc(answer.data(), answer.size() - 2);
            QVERIFY(answer != before);
            QVERIFY(answer[answer.size() - 2] != (after & 0xFF) || answer.back() != (after >> 8));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimFrames)
#include "tst_simframes.moc"
