// The decode of a good read into the device page, rule by rule, and a sweep
// over random blocks.
#include "model/Decode.h"
#include "model/MeterReading.h"
#include "model/Tables.h"
#include "model/Units.h"

#include <QLocale>
#include <QStringList>
#include <QTest>

#include <random>

using namespace model;

namespace {
// The example reply from slave 1 as received, CRC included.
const std::vector<uint8_t> kExampleReply = {
    0x01, 0x03, 0x36, 0x00, 0x0D, 0x00, 0x09, 0x00, 0xC0, 0x00, 0x19, 0x00, 0x03, 0x00, 0x01,
    0xD4, 0xC0, 0x00, 0x01, 0x86, 0xA0, 0x00, 0x00, 0x27, 0x10, 0x3F, 0x80, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x41, 0x48, 0x00, 0x00, 0x00, 0x01, 0xE2, 0x40, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x04, 0x56, 0x31, 0x2E, 0x30, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA8, 0x63};

ParameterBlock Example() {
    ParameterBlock b{};
    std::copy(kExampleReply.begin(), kExampleReply.end(), b.begin());
    return b;
}

void Put32(ParameterBlock& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
QString Q(const std::optional<std::string>& s) {
    return s ? Q(*s) : QString("<left alone>");
}
QStringList Q(const std::vector<std::string>& lines) {
    QStringList out;
    for (const auto& l : lines) out << Q(l);
    return out;
}
} // namespace

class TestDecode : public QObject {
    Q_OBJECT
    std::string sep;

    DeviceView Decode(const ParameterBlock& b, std::string_view shownDn = "3", EditingFlags e = {},
                      CachedIndexes c = {}) {
        return DecodeParameterBlock(b, shownDn, e, c, sep);
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
        sep = QLocale().decimalPoint().toStdString();
        QCOMPARE(Q(sep), QString(","));
    }

    void exampleReply() {
        const DeviceView v = Decode(Example(), "3");
        QCOMPARE(Q(v.Diameter), QString("100"));
        QVERIFY(v.RangeItems.has_value());
        QCOMPARE(Q(*v.RangeItems), Q(RangeList(13)));
        QCOMPARE(Q(v.PulseWeight), QString("10"));
        QCOMPARE(Q(v.ForwardTotaliserUnit), QString("[m3]"));
        QCOMPARE(Q(v.ReverseTotaliserUnit), QString("[m3]"));
        QCOMPARE(v.PulseWeightUnitIndex, 0);
        QCOMPARE(Q(v.FlowUnit), QString("[m3/h]"));
        QCOMPARE(v.Alarm1UnitIndex, 1);
        QCOMPARE(v.Alarm2UnitIndex, 1);
        QCOMPARE(Q(v.Alarms), (QStringList{"Przepływ w tył", "Przekroczenie zakresu"}));
        QCOMPARE(Q(v.Cutoff), QString("2,5"));
        QCOMPARE(Q(v.TimeConstant), QString("2,0"));
        QCOMPARE(Q(v.Range), QString("120,000"));
        QCOMPARE(Q(v.Alarm1), QString("100,000"));
        QCOMPARE(Q(v.Alarm2), QString("10,000"));
        QCOMPARE(Q(v.Flow), QString("12,500"));
        QCOMPARE(Q(v.KorK), QString("1,0000"));
        QCOMPARE(Q(v.KorC), QString("0,0000"));
        QCOMPARE(Q(v.ForwardTotaliser), QString("12345,6"));
        QCOMPARE(Q(v.ReverseTotaliser), QString("0,0"));
        QCOMPARE(Q(v.ArchivePeriod), QString("15 min"));
        QCOMPARE(Q(v.Version), QString("V1.02"));

        CachedIndexes want;
        want.FlowUnitIndex = 1, want.TotaliserUnitIndex = 0, want.ReverseTotaliserUnitIndex = 0;
        want.PulseWeightIndex = 1, want.TimeConstantIndex = 3, want.ArchivePeriodIndex = 4;
        QVERIFY(v.Indexes == want);
    }

    // The range list is rebuilt only when the DN text changes: not on the
    // first read of DN 0 (the window starts with "3"), once on a change from DN 15 to
    // 20, and not on the reads after it.
    void rangeListOnlyOnDnChange() {
        ParameterBlock b = Example();
        b[4] = 0;
        DeviceView v = Decode(b, "3");
        QVERIFY(!v.Diameter.has_value());
        QVERIFY(!v.RangeItems.has_value());
        QCOMPARE(Q(v.Range), QString("120,000")); // the text is still set

        b[4] = 5;
        v = Decode(b, "3");
        QCOMPARE(Q(v.Diameter), QString("15"));
        b[4] = 6;
        v = Decode(b, *v.Diameter);
        QCOMPARE(Q(v.Diameter), QString("20"));
        QCOMPARE(Q(*v.RangeItems), Q(RangeList(6)));
        v = Decode(b, *v.Diameter);
        QVERIFY(!v.Diameter.has_value());
        QVERIFY(!v.RangeItems.has_value());
    }

    void thresholdsAndFlowByUnit_data() {
        QTest::addColumn<int>("unit");
        QTest::addColumn<uint32_t>("alarm");
        QTest::addColumn<QString>("alarmText");
        QTest::addColumn<QString>("flowText");
        QTest::newRow("-1 l/h in [l/h]") << 0 << 0xFFFFFFFFu << "-1"
                                         << "12500,0";
        QTest::newRow("-1 l/h in [m3/h]") << 1 << 0xFFFFFFFFu << "-0,001"
                                          << "12,500";
        QTest::newRow("-1 l/h in [l/min]") << 2 << 0xFFFFFFFFu << "0,0"
                                           << "208,3";
        QTest::newRow("3600 in [l/h]") << 0 << 0x00000E10u << "3600"
                                       << "12500,0";
        QTest::newRow("3600 in [m3/h]") << 1 << 0x00000E10u << "3,600"
                                        << "12,500";
        QTest::newRow("3600 in [l/min]") << 2 << 0x00000E10u << "60,0"
                                         << "208,3";
        QTest::newRow("9 l/h, an exact half, in [l/min]") << 2 << 9u << "0,2"
                                                          << "208,3";
        QTest::newRow("most negative in [l/h]") << 0 << 0x80000000u << "-2147483648"
                                                << "12500,0";
    }
    void thresholdsAndFlowByUnit() {
        QFETCH(int, unit);
        QFETCH(uint32_t, alarm);
        QFETCH(QString, alarmText);
        QFETCH(QString, flowText);
        ParameterBlock b = Example();
        b[6] = static_cast<uint8_t>(unit);
        Put32(b, 17, alarm);
        Put32(b, 21, alarm);
        const DeviceView v = Decode(b);
        QCOMPARE(v.Alarm1UnitIndex, unit);
        QCOMPARE(v.Alarm2UnitIndex, unit);
        QCOMPARE(Q(v.Alarm1), alarmText);
        QCOMPARE(Q(v.Alarm2), alarmText);
        QCOMPARE(Q(v.Flow), flowText);
        // The tool's numbers come from the same reading: the same flow text,
        // the threshold in the same unit.
        const ReadingInUnits u = InUnits(ReadMeter(b), uint8_t(v.Indexes.FlowUnitIndex));
        QCOMPARE(Q(u.FlowText(sep)), flowText);
        QCOMPARE(Q("[" + u.FlowUnit + "]"), Q(std::string(FlowUnitTexts[size_t(unit)])));
        QCOMPARE(u.Alarm1 * kLitresPerHourIn[size_t(unit)], double(int32_t(alarm)));
    }

    void rangeCutoffAndVersion() {
        ParameterBlock b = Example();
        Put32(b, 13, 240);
        QCOMPARE(Q(Decode(b).Range), QString("0,240"));
        Put32(b, 13, 24000);
        QCOMPARE(Q(Decode(b).Range), QString("24,000"));
        Put32(b, 13, 0xFFFFFC18u); // -1000
        QCOMPARE(Q(Decode(b).Range), QString("-1,000"));

        b[10] = 0x7B;
        QCOMPARE(Q(Decode(b).Cutoff), QString("12,3"));
        b[10] = 0xFF;
        QCOMPARE(Q(Decode(b).Cutoff), QString("25,5"));

        const uint8_t v205[10] = {0x32, 0x2E, 0x30, 0x35, 0, 0, 0, 0, 0, 0};
        std::copy(v205, v205 + 10, b.begin() + 47);
        QCOMPARE(Q(Decode(b).Version), QString("2.05"));
        // All ten bytes used, a Polish letter among them; byte 57 is not read.
        const uint8_t full[11] = {'W', 'e', 'r', 's', 0xB3, 'a', '-', '1', '2', '3', 'Z'};
        std::copy(full, full + 11, b.begin() + 47);
        QCOMPARE(Q(Decode(b).Version), QString("Wersła-123"));
        b[47] = 0;
        QCOMPARE(Q(Decode(b).Version), QString());

        // The totaliser unit does not change the scaling; negative counts.
        b[6] = 0x04;
        Put32(b, 37, 0xFFFFFFF6u);
        const DeviceView v = Decode(b);
        QCOMPARE(Q(v.ForwardTotaliser), QString("-1,0"));
        QCOMPARE(Q(v.ForwardTotaliserUnit), QString("[l]"));
        QCOMPARE(v.PulseWeightUnitIndex, 1);
        QCOMPARE(int(v.Indexes.ReverseTotaliserUnitIndex), 1);
    }

    void editingFieldsAreLeftAlone() {
        const ParameterBlock b = Example();
        DeviceView v = Decode(b, "100", {true, false, false});
        QVERIFY(!v.Cutoff.has_value());
        QCOMPARE(Q(v.Alarm1), QString("100,000"));
        QCOMPARE(Q(v.Alarm2), QString("10,000"));
        v = Decode(b, "100", {false, true, false});
        QCOMPARE(Q(v.Cutoff), QString("2,5"));
        QVERIFY(!v.Alarm1.has_value());
        QCOMPARE(Q(v.Alarm2), QString("10,000"));
        v = Decode(b, "100", {false, false, true});
        QVERIFY(!v.Alarm2.has_value());
        QCOMPARE(Q(v.Alarm1), QString("100,000"));
        // The range box has no such protection.
        QCOMPARE(Q(v.Range), QString("120,000"));
    }

    // Codes past a table: an empty text, and the cached index stays.
    void codesPastTheTables() {
        CachedIndexes c;
        c.FlowUnitIndex = 2, c.TimeConstantIndex = 7, c.ArchivePeriodIndex = 9, c.PulseWeightIndex = 3;
        ParameterBlock b = Example();
        b[4] = 23;
        b[6] = 0x0B; // flow code 3, totaliser 0, pulse 1
        b[12] = 15;
        b[46] = 11;
        Put32(b, 17, 3600);
        DeviceView v = Decode(b, "100", {}, c);
        QCOMPARE(Q(v.Diameter), QString(""));
        QVERIFY(v.RangeItems.has_value());
        QVERIFY(v.RangeItems->empty());
        QCOMPARE(Q(v.FlowUnit), QString(""));
        QCOMPARE(int(v.Indexes.FlowUnitIndex), 2);
        // The values follow the unit that the alarm lists keep showing.
        QCOMPARE(v.Alarm1UnitIndex, 2);
        QCOMPARE(v.Alarm2UnitIndex, 2);
        QCOMPARE(Q(v.Alarm1), QString("60,0"));
        QCOMPARE(Q(v.Flow), QString("208,3"));
        QCOMPARE(Q(v.TimeConstant), QString(""));
        QCOMPARE(int(v.Indexes.TimeConstantIndex), 7);
        QCOMPARE(Q(v.ArchivePeriod), QString(""));
        QCOMPARE(int(v.Indexes.ArchivePeriodIndex), 9);
        // The fields that are in range still come from the block.
        QCOMPARE(int(v.Indexes.PulseWeightIndex), 1);
        QCOMPARE(Q(v.PulseWeight), QString("10"));

        // An unknown DN already shown as "": nothing to rebuild.
        v = Decode(b, "", {}, v.Indexes);
        QVERIFY(!v.Diameter.has_value());
        QVERIFY(!v.RangeItems.has_value());
        b[4] = 255;
        QVERIFY(!Decode(b, "").Diameter.has_value());
        // Back to a known DN.
        b[4] = 22, b[12] = 14, b[46] = 10;
        v = Decode(b, "", {}, v.Indexes);
        QCOMPARE(Q(v.Diameter), QString("600"));
        QCOMPARE(v.RangeItems->size(), kRangeSlots);
        QCOMPARE(Q(v.TimeConstant), QString("30,0"));
        QCOMPARE(Q(v.ArchivePeriod), QString("24 godz"));
        QCOMPARE(int(v.Indexes.TimeConstantIndex), 14);
        QCOMPARE(int(v.Indexes.ArchivePeriodIndex), 10);
    }

    void otherSeparator() {
        const DeviceView v = DecodeParameterBlock(Example(), "3", {}, {}, ".");
        QCOMPARE(Q(v.ForwardTotaliser), QString("12345.6"));
        QCOMPARE(Q(v.Flow), QString("12.500"));
        QCOMPARE(Q(v.TimeConstant), QString("2,0")); // fixed texts stay as they are
    }

    // Random blocks (run under the sanitizers as well): every index stays
    // inside its table, every list has 0 or 14 items, no text is malformed.
    void randomBlocks() {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> byte(0, 255);
        CachedIndexes c;
        std::string shownDn = "3";
        for (int i = 0; i < 20000; ++i) {
            ParameterBlock b;
            for (auto& x : b) x = static_cast<uint8_t>(byte(rng));
            if (i % 4 == 0) b[4] = static_cast<uint8_t>(i % 30);
            const EditingFlags e{(i & 1) != 0, (i & 2) != 0, (i & 4) != 0};
            const DeviceView v = DecodeParameterBlock(b, shownDn, e, c, sep);
            QVERIFY(v.Indexes.FlowUnitIndex < FlowUnitTexts.size());
            QVERIFY(v.Indexes.TotaliserUnitIndex < TotaliserUnitTexts.size());
            QVERIFY(v.Indexes.PulseWeightIndex < PulseWeightTexts.size());
            QVERIFY(v.Indexes.TimeConstantIndex < TimeConstantTexts.size());
            QVERIFY(v.Indexes.ArchivePeriodIndex < ArchivePeriodTexts.size());
            QCOMPARE(v.Alarm1UnitIndex, int(v.Indexes.FlowUnitIndex));
            QCOMPARE(v.Diameter.has_value(), v.RangeItems.has_value());
            if (v.RangeItems) {
                QVERIFY(v.RangeItems->size() == kRangeSlots || v.RangeItems->empty());
                QCOMPARE(v.RangeItems->empty(), b[4] >= kDnCount);
                shownDn = *v.Diameter;
            }
            QCOMPARE(v.Cutoff.has_value(), !e.CutoffEditing);
            QCOMPARE(v.Alarm1.has_value(), !e.Alarm1Editing);
            QCOMPARE(v.Alarm2.has_value(), !e.Alarm2Editing);
            QVERIFY(v.Version.size() <= 30);
            QVERIFY(QString::fromUtf8(v.Version.data(), qsizetype(v.Version.size())).toUtf8().toStdString() ==
                    v.Version);
            c = v.Indexes;
        }
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "tst_decode.moc"
