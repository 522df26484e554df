// Archive record lines: the dated example, the field formats, the event
// texts, and a sweep over random records.
#include "core/RecordLine.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTest>

#include <bit>
#include <random>

using namespace core;

namespace {
ArchiveRecord Record(std::initializer_list<int> bytes) {
    ArchiveRecord r{};
    size_t i = 0;
    for (const int b : bytes) r.at(i++) = static_cast<uint8_t>(b);
    return r;
}

void Put32(core::ArchiveRecord& r, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) r[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void PutFloat(core::ArchiveRecord& r, size_t at, float f) {
    Put32(r, at, std::bit_cast<uint32_t>(f));
}

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
} // namespace

class TestRecordLine : public QObject {
    Q_OBJECT
    std::string sep;

    QString Line(const ArchiveRecord& r) { return Q(core::BuildRecordLine(r, sep)); }
    QString Totaliser(uint32_t count) {
        core::ArchiveRecord r{};
        Put32(r, 13, count);
        return Q(core::FormatRecordTotaliser(r, 13, sep));
    }
    QString Flow(float f) {
        core::ArchiveRecord r{};
        PutFloat(r, 9, f);
        return Q(core::FormatRecordFlow(r, 9, sep));
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
        sep = QLocale().decimalPoint().toStdString();
        QCOMPARE(Q(sep), QString(","));
    }

    void datedExample() {
        const ArchiveRecord r = Record({0x00, 0x00, 0x07, 0xC6, 0x01, 0x01, 0x0C, 0x07, 0x01, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x06, 0x0F, 0x91, 0x00, 0x00, 0x31, 0x15, 0x10});
        const std::string line = core::BuildRecordLine(r, sep);
        QCOMPARE(Q(line),
                 QString("1990-01-01;12:07:01;0,000;39720,1 [m3];1256,5 [m3];Zanik napięcia zasilania"));
        QCOMPARE(Q(core::RecordDateField(line)), QString("1990-01-01"));
        QCOMPARE(Q(core::RecordTimeField(line)), QString("12:07:01"));
        // Bytes 0 and 1 are not part of the line.
        core::ArchiveRecord other = r;
        other[0] = 0xAB, other[1] = 0xCD;
        QCOMPARE(Q(core::BuildRecordLine(other, sep)), Q(line));
    }

    void allZeroAndErased() {
        QCOMPARE(Line(core::ArchiveRecord{}), QString("0-00-00;00:00:00;0,000;0,0 [m3];0,0 [m3];"));
        core::ArchiveRecord erased;
        erased.fill(0xFF);
        QCOMPARE(Line(erased), QString("65535-255-255;255:255:255;NAN;-0,1 [l];-0,1 [l];"
                                       "Błąd falownika + Ustawianie parametrów + Zanik napięcia zasilania + "
                                       "Pusta rura + Pomiar poza zakresem + Przepływ w tył"));
        // One field above 99 gives a longer field, the others stay two digits.
        core::ArchiveRecord r{};
        r[4] = 100, r[8] = 7;
        QCOMPARE(Line(r), QString("0-100-00;00:00:07;0,000;0,0 [m3];0,0 [m3];"));
    }

    void unitsAndEvents() {
        core::ArchiveRecord r{};
        Put32(r, 13, 15), Put32(r, 17, 25);
        r[21] = 0x01;
        QCOMPARE(Line(r), QString("0-00-00;00:00:00;0,000;1,5 [l];2,5 [l];"));
        r[21] = 0x02; // bit 1 is not read
        QCOMPARE(Line(r), QString("0-00-00;00:00:00;0,000;1,5 [m3];2,5 [m3];"));
        r[21] = 0x90;
        QCOMPARE(Q(core::EventsText(r)), QString("Zanik napięcia zasilania + Przepływ w tył"));
        r[21] = 0x04;
        QCOMPARE(Q(core::EventsText(r)), QString("Błąd falownika"));
        r[21] = 0x68;
        QCOMPARE(Q(core::EventsText(r)),
                 QString("Ustawianie parametrów + Pusta rura + Pomiar poza zakresem"));
        r[21] = 0x03;
        QCOMPARE(Q(core::EventsText(r)), QString());
        QCOMPARE(Q(core::TotaliserUnitText(r)), QString(" [l]"));
    }

    void totalisers() {
        QCOMPARE(Totaliser(0xFFFFFFF6u), QString("-1,0"));
        QCOMPARE(Totaliser(12345674), QString("1234567,0"));   // 7 integer digits: fixed, whole
        QCOMPARE(Totaliser(12345675), QString("1234568,0"));   // exact half: away from zero
        QCOMPARE(Totaliser(123456740), QString("1,234567E7")); // 8 digits: exponent form
        QCOMPARE(Totaliser(123456789), QString("1,234568E7"));
        QCOMPARE(Totaliser(100000000), QString("1E7"));
        QCOMPARE(Totaliser(0x80000000u), QString("-2,147484E8"));
        // Single precision first: 2^24 + 9 is read as 2^24 + 8, so the exact
        // half 1677722,5 never reaches the rounding.
        QCOMPARE(Totaliser(16777225), QString("1677722,0"));
    }

    void flows() {
        QCOMPARE(Flow(12345.6789f), QString("12345,680"));
        QCOMPARE(Flow(-0.0001f), QString("0,000"));
        QCOMPARE(Flow(-1.25f), QString("-1,250"));
        QCOMPARE(Flow(20000000.0f), QString("2E007"));
        QCOMPARE(Flow(std::bit_cast<float>(0x7F800000u)), QString("INF"));
        QCOMPARE(Flow(std::bit_cast<float>(0xFF800000u)), QString("-INF"));
        QCOMPARE(Flow(std::bit_cast<float>(0xFFFFFFFFu)), QString("NAN"));
        QCOMPARE(Flow(std::bit_cast<float>(0x7FC00000u)), QString("NAN"));
        QCOMPARE(Q(core::FormatRecordFlow(core::ArchiveRecord{}, 9, ".")), QString("0.000"));
    }

    void offsetsAndBits() {
        core::ArchiveRecord r;
        r.fill(0x11);
        QCOMPARE(Q(core::FormatRecordYear(r, 2)), QString("4369"));
        QCOMPARE(Q(core::FormatTwoDigits(r, 21)), QString("17"));
        // Fields that would reach past the 22 bytes give nothing.
        QCOMPARE(Q(core::FormatRecordYear(r, 21)), QString());
        QCOMPARE(Q(core::FormatTwoDigits(r, 22)), QString());
        QCOMPARE(Q(core::FormatRecordFlow(r, 19, sep)), QString());
        QCOMPARE(Q(core::FormatRecordTotaliser(r, 18, sep)), QString("2,863312E7")); // bytes 18..21 still fit
        QCOMPARE(Q(core::FormatRecordTotaliser(r, 19, sep)), QString());
        QVERIFY(core::TestBit(0x80, 7));
        QVERIFY(!core::TestBit(0x7F, 7));
        QVERIFY(core::TestBit(0x01, 0));
        QVERIFY(!core::TestBit(0xFF, 8));
    }

    void replyAndLineFields() {
        uint8_t reply[29] = {0x01, 0x14, 0x18, 0x17, 0x06};
        for (int i = 0; i < 22; ++i) reply[5 + i] = static_cast<uint8_t>(0xA0 + i);
        const ArchiveRecord r = RecordFromReply(reply);
        QCOMPARE(int(r[0]), 0xA0);
        QCOMPARE(int(r[21]), 0xB5);
        QCOMPARE(Q(core::RecordDateField("a;b;c")), QString("a"));
        QCOMPARE(Q(core::RecordTimeField("a;b;c")), QString("b"));
        QCOMPARE(Q(core::RecordTimeField("a;b")), QString("b"));
        QCOMPARE(Q(core::RecordDateField("abc")), QString());
        QCOMPARE(Q(core::RecordTimeField("abc")), QString());
    }

    // Random records: five ";", the date and time forms, no malformed text.
    void randomRecords() {
        std::mt19937 rng(11);
        std::uniform_int_distribution<int> byte(0, 255);
        const QRegularExpression form(
            "^\\d{1,5}-\\d{2,3}-\\d{2,3};\\d{2,3}:\\d{2,3}:\\d{2,3};(-?\\d+,\\d{3}|-?\\d(,\\d+)?E\\d{3,}|NAN|"
            "-?INF);"
            "-?\\d+(,\\d+)?(E\\d+)? \\[(m3|l)\\];-?\\d+(,\\d+)?(E\\d+)? \\[(m3|l)\\];[^;]*$");
        for (int i = 0; i < 20000; ++i) {
            core::ArchiveRecord r;
            for (auto& b : r) b = static_cast<uint8_t>(byte(rng));
            const std::string line = core::BuildRecordLine(r, sep);
            const QString text = Q(line);
            QVERIFY2(form.match(text).hasMatch(), line.c_str());
            QCOMPARE(text.toUtf8().toStdString(), line);
            QCOMPARE(text.count(';'), 5);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecordLine)
#include "tst_recordline.moc"
