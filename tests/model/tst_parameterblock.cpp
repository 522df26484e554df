// Register access, the flags and alarm byte codecs, the composers, and the
// text and range tables.
#include "model/ParameterBlock.h"
#include "model/Tables.h"

#include <QTest>

#include <cstdlib>
#include <string>
#include <vector>

using namespace model;
using Lines = std::vector<std::string>;

namespace {
// Strict reading of a range text such as "0,240" or "1080,0".
double RangeValue(const std::string& text) {
    std::string c = text;
    for (char& ch : c) {
        if (ch == ',') ch = '.';
    }
    char* end = nullptr;
    const double v = std::strtod(c.c_str(), &end);
    return *end == '\0' ? v : -1.0;
}
} // namespace

class TestParameterBlock : public QObject {
    Q_OBJECT
private slots:
    void registerValues() {
        ParameterBlock b{};
        b[17] = 0xFF, b[18] = 0xFF, b[19] = 0xFF, b[20] = 0xFF;
        QCOMPARE(byteToInteger(b, 17), -1);
        b[13] = 0x00, b[14] = 0x01, b[15] = 0xD4, b[16] = 0xC0;
        QCOMPARE(byteToInteger(b, 13), 120000);
        b[33] = 0x41, b[34] = 0x48, b[35] = 0x00, b[36] = 0x00;
        QCOMPARE(byteToSingle(b, 33), 12.5f);
        b[25] = 0xBF, b[26] = 0x80;
        QCOMPARE(byteToSingle(b, 25), -1.0f);
        // Past the end of the block the missing bytes count as zero.
        b[253] = 0x12, b[254] = 0x34, b[255] = 0x56;
        QCOMPARE(byteToInteger(b, 253), 0x12345600);
        QCOMPARE(byteToInteger(b, 255), 0x56000000);
        QCOMPARE(byteToInteger(b, 4000), 0);
    }

    void flagsByte() {
        for (const uint8_t flags : {uint8_t{0x0D}, uint8_t{0xED}}) {
            QCOMPARE(getPrzeplyw(flags), uint8_t{1});
            QCOMPARE(getLicznik(flags), uint8_t{1});
            QCOMPARE(getImpuls(flags), uint8_t{1});
        }
        QCOMPARE(getPrzeplyw(0x1F), uint8_t{3});
        QCOMPARE(getImpuls(0x18), uint8_t{3});
        QCOMPARE(getLicznik(0xFB), uint8_t{0});
    }

    void composers() {
        CachedIndexes c;
        c.FlowUnitIndex = 1;
        c.TotaliserUnitIndex = 0;
        c.PulseWeightIndex = 2;
        QCOMPARE(setFlagByteLicznik(c, 1), std::optional<uint8_t>(21));
        QCOMPARE(setFlagBytePrzeplyw(c, 2), std::optional<uint8_t>(2 + 16));
        QCOMPARE(setFlagByteWaga(c, 3), std::optional<uint8_t>(1 + 24));
        // The reverse unit index takes no part.
        c.ReverseTotaliserUnitIndex = 1;
        QCOMPARE(setFlagBytePrzeplyw(c, 0), std::optional<uint8_t>(16));
        // Every field at its top: bits 5-7 stay clear.
        c = CachedIndexes{};
        c.FlowUnitIndex = 2, c.TotaliserUnitIndex = 1;
        QCOMPARE(setFlagByteWaga(c, 3), std::optional<uint8_t>(0x1E));
        // No item, the undefined flow code, or anything past a list.
        QCOMPARE(setFlagBytePrzeplyw(c, 3), std::nullopt);
        QCOMPARE(setFlagBytePrzeplyw(c, -1), std::nullopt);
        QCOMPARE(setFlagByteLicznik(c, 2), std::nullopt);
        QCOMPARE(setFlagByteWaga(c, 4), std::nullopt);
        QCOMPARE(setFlagByteWaga(c, -1), std::nullopt);
    }

    // Both changes are composed from the cached indexes: the second write
    // carries the meter's flow unit, not the first change.
    void twoChangesBeforeARead() {
        CachedIndexes c;
        c.FlowUnitIndex = 0, c.TotaliserUnitIndex = 0, c.PulseWeightIndex = 1;
        const auto first = setFlagBytePrzeplyw(c, 2);
        const auto second = setFlagByteLicznik(c, 1);
        QCOMPARE(first, std::optional<uint8_t>(2 + 8));
        QCOMPARE(second, std::optional<uint8_t>(0 + 4 + 8));
        QCOMPARE(getPrzeplyw(*second), uint8_t{0});
    }

    void alarmByte() {
        QCOMPARE(AlarmLines(0xFC), (Lines{"Przepływ w tył", "Przekroczenie zakresu", "Alarm \"pustej rury\"",
                                          "Alarm falownika", "Aktywny Alarm 1", "Aktywny Alarm 2"}));
        QCOMPARE(AlarmLines(0x03), Lines{});
        QCOMPARE(AlarmLines(0x00), Lines{});
        QCOMPARE(AlarmLines(0xC0), (Lines{"Przepływ w tył", "Przekroczenie zakresu"}));
        QCOMPARE(AlarmLines(0x24), (Lines{"Alarm \"pustej rury\"", "Aktywny Alarm 2"}));
        QCOMPARE(AlarmLines(0x08), Lines{"Aktywny Alarm 1"});
    }

    // Lookups past a table give nothing; an unknown DN has an empty text.
    void lookupsPastTheTables() {
        QCOMPARE(TableAt(TimeConstantTexts, 15), std::nullopt);
        QCOMPARE(TableAt(ArchivePeriodTexts, 11), std::nullopt);
        QCOMPARE(TableAt(FlowUnitTexts, 3), std::nullopt);
        QCOMPARE(TableAt(ArchivePeriodTexts, 10), std::optional<std::string_view>("24 godz"));
        QCOMPARE(DnText(13), std::string("100"));
        QCOMPARE(DnText(22), std::string("600"));
        QCOMPARE(DnText(23), std::string());
        QCOMPARE(DnText(255), std::string());
    }

    // Every list: 14 slots, values first and falling, blanks only at the end,
    // as many values as the meter offers for that DN.
    void rangeLists() {
        const int values[kDnCount] = {12, 12, 12, 12, 13, 12, 12, 12, 13, 12, 12, 12,
                                      13, 12, 12, 12, 13, 12, 12, 13, 14, 13, 11};
        for (size_t dn = 0; dn < kDnCount; ++dn) {
            const auto items = RangeList(dn);
            QCOMPARE(items.size(), kRangeSlots);
            int filled = 0;
            double previous = 1e9;
            for (const std::string& item : items) {
                if (item.empty()) continue;
                QCOMPARE(filled, int(&item - items.data())); // no value after a blank
                const double v = RangeValue(item);
                QVERIFY2(v > 0 && v < previous, item.c_str());
                previous = v;
                ++filled;
            }
            QCOMPARE(filled, values[dn]);
        }
        QCOMPARE(RangeList(8)[0], std::string("24,00"));
        QCOMPARE(RangeList(8)[6], std::string("8,000"));
        QCOMPARE(RangeList(20)[13], std::string("225,00"));
        QCOMPARE(RangeList(22)[10], std::string("480,00"));
        QCOMPARE(RangeList(0)[11], std::string("0,012"));
        QVERIFY(RangeList(23).empty());
        QVERIFY(RangeList(255).empty());
    }

    // Only the first 256 reply bytes become the block.
    void copyFromReply() {
        uint8_t reply[512];
        for (size_t i = 0; i < 512; ++i) reply[i] = static_cast<uint8_t>(i * 7);
        const ParameterBlock b = CopyParameterBlock(reply);
        QCOMPARE(b.size(), size_t{256});
        QCOMPARE(b[0], uint8_t{0});
        QCOMPARE(b[4], uint8_t{28});
        QCOMPARE(b[255], static_cast<uint8_t>(255 * 7));
    }
};

QTEST_GUILESS_MAIN(TestParameterBlock)
#include "tst_parameterblock.moc"
