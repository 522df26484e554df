// The chart's data: lines of good reads, gaps at failed ones, the last ten
// minutes, the shown unit.
#include <FlowHistory.h>

#include <QTest>

#include <cmath>

using monitor::core::FlowHistory;

namespace {
// The lines in the shown unit: "t:v t:v | t:v".
QString linesText(const FlowHistory& history) {
    QStringList lines;
    for (const FlowHistory::Segment& segment : history.Segments()) {
        QStringList points;
        for (const FlowHistory::Point& p : segment)
            points << QStringLiteral("%1:%2").arg(p.TimeMs).arg(history.Shown(p.CubicMetresPerHour));
        lines << points.join(QLatin1Char(' '));
    }
    return lines.join(QStringLiteral(" | "));
}

// Steps: "+T=V" a good read at T ms, "x" a failed read, "tT" a trim at T ms.
void play(FlowHistory& history, const QString& steps) {
    for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("x")) {
            history.Break();
        } else if (step.startsWith(QLatin1Char('t'))) {
            history.Trim(step.mid(1).toLongLong());
        } else {
            const QStringList parts = step.mid(1).split(QLatin1Char('='));
            const double value = parts[1] == QLatin1String("nan") ? std::nan("") : parts[1].toDouble();
            history.Add(parts[0].toLongLong(), value);
        }
    }
}
} // namespace

class TestFlowHistory : public QObject {
    Q_OBJECT
private slots:
    void linesAndGaps_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("lines");
        const auto row = [](const char* name, const char* steps, const char* lines) {
            QTest::newRow(name) << QString::fromLatin1(steps) << QString::fromLatin1(lines);
        };
        row("good reads make one line", "+0=1.5 +1000=2 +2000=-0.5", "0:1.5 1000:2 2000:-0.5");
        row("a failed read ends the line", "+0=1 x +2000=2 +3000=3", "0:1 | 2000:2 3000:3");
        row("failures alone make no line", "x +0=1 x x +3000=2 x", "0:1 | 3000:2");
        row("a damaged value is a failed read", "+0=1 +1000=nan +2000=2", "0:1 | 2000:2");
        row("no read at all", "x x t5000", "");
        row("ten minutes are kept, to the ms", "+0=1 +600000=2", "0:1 600000:2");
        row("older points go, a whole line too", "+0=1 x +1000=2 +600500=3", "1000:2 600500:3");
        row("a trim without a read", "+0=1 +1000=2 +2000=3 t601000", "1000:2 2000:3");
        row("a trim past every point", "+0=1 x +1000=2 t9999999 +10000000=4", "10000000:4");
        row("a clock set back drops the points ahead", "+5000=1 +6000=2 +1000=3", "1000:3");
    }
    void linesAndGaps() {
        QFETCH(QString, steps);
        QFETCH(QString, lines);
        FlowHistory history;
        history.SetUnit(1); // m3/h: the values as read
        play(history, steps);
        QCOMPARE(linesText(history), lines);
    }

    void unitChangeConvertsTheWholeCurve_data() {
        QTest::addColumn<QList<int>>("units"); // set one after the other
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("lines");
        QTest::newRow("l/h") << QList<int>{1, 0} << "[l/h]"
                             << "0:60 1000:1500";
        QTest::newRow("m3/h") << QList<int>{0, 1} << "[m3/h]"
                              << "0:0.06 1000:1.5";
        QTest::newRow("l/min") << QList<int>{1, 2} << "[l/min]"
                               << "0:1 1000:25";
        QTest::newRow("code 3 keeps the last unit") << QList<int>{2, 3} << "[l/min]"
                                                    << "0:1 1000:25";
    }
    void unitChangeConvertsTheWholeCurve() {
        QFETCH(QList<int>, units);
        QFETCH(QString, text);
        QFETCH(QString, lines);
        FlowHistory history;
        QCOMPARE(QString::fromLatin1(history.UnitText()), QStringLiteral("[l/h]")); // before any read
        play(history, QStringLiteral("+0=0.06 +1000=1.5"));
        for (int unit : units) {
            const uint64_t before = history.Revision();
            const bool differs = unit <= 2 && unit != history.Unit();
            history.SetUnit(static_cast<uint8_t>(unit));
            QCOMPARE(history.Revision() != before, differs); // a drawing is redone only when it changes
        }
        QCOMPARE(QString::fromLatin1(history.UnitText()), text);
        QCOMPARE(linesText(history), lines);
        QCOMPARE(history.Segments().front().front().CubicMetresPerHour, 0.06); // kept as read
    }
};

QTEST_APPLESS_MAIN(TestFlowHistory)
#include "tst_flowhistory.moc"
