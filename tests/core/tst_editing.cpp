// The values that the editing of the device page queues, row by row.
#include "core/Editing.h"

#include <QTest>

#include <limits>

using namespace core;
using model::CachedIndexes;
using model::EditingFlags;
using model::WriteSlots;

namespace {
// What a slot holds, as one comparable text: "A 8 1000", "B 2 0x15", "-".
QString slotA(const WriteSlots& s) {
    return s.LongWritePending ? QStringLiteral("A %1 %2").arg(s.LongWriteRegister).arg(s.LongWriteValue)
                              : "-";
}
QString slotB(const WriteSlots& s) {
    if (!s.ShortWritePending) return "-";
    return QStringLiteral("B %1 %2 %3").arg(s.ShortWriteRegister).arg(s.ShortWriteHigh).arg(s.ShortWriteLow);
}
} // namespace

class TestEditing : public QObject {
    Q_OBJECT
private slots:
    void listChoices_data() {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("queued"); // the slot afterwards
        const auto row = [](const char* name, ListSetting s, int index, int count, const char* queued) {
            QTest::newRow(name) << int(s) << index << count << QString(queued);
        };
        row("range, blank last slot", ListSetting::Range, 13, 14, "A 6 13");
        row("range, first", ListSetting::Range, 0, 12, "A 6 0");
        row("range, typed text", ListSetting::Range, -1, 14, "-");
        row("range, past the list", ListSetting::Range, 14, 14, "-");
        row("flow unit [l/min]", ListSetting::FlowUnit, 2, 3, "B 2 0 18");       // 2 + 4*0 + 8*2
        row("flow unit past the codes", ListSetting::FlowUnit, 3, 4, "-");       // code 3 has no unit
        row("totaliser unit [l]", ListSetting::TotaliserUnit, 1, 2, "B 2 0 21"); // 1 + 4 + 16
        row("pulse weight X", ListSetting::PulseWeight, 3, 4, "B 2 0 25");       // 1 + 0 + 24
        row("time constant 30,0", ListSetting::TimeConstant, 14, 15, "B 5 0 14");
        row("archive period bez zapisu", ListSetting::ArchivePeriod, 0, 11, "B 22 0 0");
        row("archive period 24 godz", ListSetting::ArchivePeriod, 10, 11, "B 22 0 10");
        row("archive period past the table", ListSetting::ArchivePeriod, 11, 12, "-");
    }
    void listChoices() {
        QFETCH(int, setting);
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(QString, queued);
        WriteSlots pending;
        const CachedIndexes cached{1, 0, 0, 2, 0, 0}; // [m3/h], [m3], pulse weight 100
        const bool ok = QueueListChoice(pending, cached, ListSetting(setting), index, count);
        QCOMPARE(ok, queued != "-");
        QCOMPARE(setting == int(ListSetting::Range) ? slotA(pending) : slotB(pending), queued);
        QCOMPARE(setting == int(ListSetting::Range) ? slotB(pending) : slotA(pending), QString("-"));
    }

    void composersTakeTheOtherFieldsFromTheLastRead() {
        WriteSlots pending;
        const CachedIndexes cached{1, 0, 0, 2, 0, 0};
        QVERIFY(QueueListChoice(pending, cached, ListSetting::TotaliserUnit, 1, 2));
        QVERIFY(QueueListChoice(pending, cached, ListSetting::FlowUnit, 0, 3));
        // The second change carries the meter's totaliser unit, not the first change.
        QCOMPARE(slotB(pending), QString("B 2 0 16"));
        // The last request into a slot wins.
        QVERIFY(QueueListChoice(pending, cached, ListSetting::TimeConstant, 3, 15));
        QVERIFY(QueueListChoice(pending, cached, ListSetting::ArchivePeriod, 4, 11));
        QCOMPARE(slotB(pending), QString("B 22 0 4"));
        QueueTotaliserReset(pending, reg::ReverseTotaliser);
        QCOMPARE(slotA(pending), QString("A 20 0"));
    }

    void alarmThresholds_data() {
        QTest::addColumn<int>("alarm");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("unit");
        QTest::addColumn<QString>("queued");
        QTest::newRow("2,5 l/min") << 1 << 2.5 << 2 << "A 8 150";
        QTest::newRow("12,5 l/h to even") << 1 << 12.5 << 0 << "A 8 12";
        QTest::newRow("13,5 l/h to even") << 1 << 13.5 << 0 << "A 8 14";
        QTest::newRow("0,0015 m3/h") << 2 << 0.0015 << 1 << "A 10 2";
        QTest::newRow("negative m3/h") << 2 << -0.001 << 1 << "A 10 -1";
        QTest::newRow("past 32 bits") << 1 << 2147483.648 << 1 << "-";
        QTest::newRow("no unit chosen") << 1 << 1.0 << -1 << "-";
    }
    void alarmThresholds() {
        QFETCH(int, alarm);
        QFETCH(double, value);
        QFETCH(int, unit);
        QFETCH(QString, queued);
        WriteSlots pending;
        EditingFlags editing{true, true, true};
        const std::string error = QueueAlarmThreshold(pending, editing, alarm, value, unit).error;
        QCOMPARE(error.empty(), queued != "-");
        QCOMPARE(slotA(pending), queued);
        // The flag clears only when the value went into the slot.
        QCOMPARE(alarm == 1 ? editing.Alarm1Editing : editing.Alarm2Editing, queued == "-");
        QVERIFY(editing.CutoffEditing && (alarm == 1 ? editing.Alarm2Editing : editing.Alarm1Editing));
    }

    void cutoff_data() {
        QTest::addColumn<double>("percent");
        QTest::addColumn<QString>("queued");
        QTest::newRow("12,3") << 12.3 << "B 4 0 123";
        QTest::newRow("25,5") << 25.5 << "B 4 0 255";
        QTest::newRow("0,05 to even") << 0.05 << "B 4 0 0";
        QTest::newRow("0,0") << 0.0 << "B 4 0 0";
        QTest::newRow("25,56") << 25.56 << "-";
        QTest::newRow("30 would wrap to 4,4") << 30.0 << "-";
        QTest::newRow("-0,1") << -0.1 << "-";
    }
    void cutoff() {
        QFETCH(double, percent);
        QFETCH(QString, queued);
        WriteSlots pending;
        EditingFlags editing{true, false, false};
        const std::string error = QueueCutoff(pending, editing, percent, ",").error;
        QCOMPARE(slotB(pending), queued);
        QCOMPARE(editing.CutoffEditing, queued == "-");
        if (queued == "-")
            QCOMPARE(QString::fromStdString(error),
                     QStringLiteral("Próg odcięcia musi leżeć w zakresie od 0,0 do 25,5 %."));
    }

    // Halves to the even neighbour; nothing outside 32 bits.
    void rounding() {
        QCOMPARE(RoundHalfEven(12.5), std::optional<int32_t>(12));
        QCOMPARE(RoundHalfEven(13.5), std::optional<int32_t>(14));
        QCOMPARE(RoundHalfEven(-2.5), std::optional<int32_t>(-2));
        QCOMPARE(RoundHalfEven(150.0), std::optional<int32_t>(150));
        QCOMPARE(RoundHalfEven(2147483647.4), std::optional<int32_t>(2147483647));
        QVERIFY(!RoundHalfEven(2147483647.5));
        QVERIFY(!RoundHalfEven(-2147483649.0));
        QVERIFY(!RoundHalfEven(1e300));
        QVERIFY(!RoundHalfEven(std::numeric_limits<double>::quiet_NaN()));
    }
};

QTEST_APPLESS_MAIN(TestEditing)
#include "tst_editing.moc"
