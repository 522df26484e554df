// The chart's data: lines of good reads, gaps at failed ones, the last ten
// minutes, the shown unit.
#include "core/FlowHistory.h"

#include <QTest>

#include <cmath>

using core::FlowHistory;

class TestFlowHistory : public QObject {
    Q_OBJECT
private slots:
    void linesGapsAndUnits_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* name, const char* steps, const char* shown) {
            QTest::newRow(name) << QString::fromLatin1(steps) << QString::fromLatin1(shown);
        };
        // Steps: "+T=V" a good read at T ms of V m3/h, "x" a failed read,
        // "tT" a trim at T ms, "uN" the meter's flow unit code N.
        row("good reads make one line", "+0=1.5 +1000=2 +2000=-0.5", "[m3/h] 0:1.5 1000:2 2000:-0.5");
        row("a failed read ends the line", "+0=1 x +2000=2 +3000=3", "[m3/h] 0:1 | 2000:2 3000:3");
        row("failures alone make no line", "x +0=1 x x +3000=2 x", "[m3/h] 0:1 | 3000:2");
        row("a damaged value is a failed read", "+0=1 +1000=nan +2000=2", "[m3/h] 0:1 | 2000:2");
        row("ten minutes are kept, to the ms", "+0=1 +600000=2", "[m3/h] 0:1 600000:2");
        row("older points go, a whole line too", "+0=1 x +1000=2 +600500=3", "[m3/h] 1000:2 600500:3");
        row("a trim without a read", "+0=1 +1000=2 t601000", "[m3/h] 1000:2");
        row("a clock set back drops the points ahead", "+5000=1 +6000=2 +1000=3", "[m3/h] 1000:3");
        row("l/h: the whole curve", "+0=0.06 u0 +1000=1.5", "[l/h] 0:60 1000:1500");
        row("l/min", "+0=0.06 +1000=1.5 u2", "[l/min] 0:1 1000:25");
        row("code 3 keeps the last unit", "u2 +0=0.06 u3", "[l/min] 0:1");
    }
    void linesGapsAndUnits() {
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        FlowHistory history;
        QCOMPARE(QString::fromLatin1(history.UnitText()), QStringLiteral("[l/h]")); // before any read
        history.SetUnit(1);
        for (const QString& step : steps.split(QLatin1Char(' '))) {
            const QString arg = step.mid(1);
            if (step == QLatin1String("x"))
                history.Break();
            else if (step.startsWith(QLatin1Char('t')))
                history.Trim(arg.toLongLong());
            else if (step.startsWith(QLatin1Char('u')))
                history.SetUnit(static_cast<uint8_t>(arg.toInt()));
            else
                history.Add(arg.section(QLatin1Char('='), 0, 0).toLongLong(),
                            arg.endsWith(QLatin1String("nan")) ? std::nan("")
                                                               : arg.section('=', 1).toDouble());
        }
        QStringList lines;
        for (const FlowHistory::Segment& segment : history.Segments()) {
            QStringList points;
            for (const FlowHistory::Point& p : segment)
                points << QStringLiteral("%1:%2").arg(p.TimeMs).arg(history.Shown(p.CubicMetresPerHour));
            lines << points.join(QLatin1Char(' '));
        }
        QCOMPARE(QString::fromLatin1(history.UnitText()) + QLatin1Char(' ') +
                     lines.join(QStringLiteral(" | ")),
                 shown);
    }

    // The flow axis labels plain numbers: "20000" in l/h, "0,25" steps in m3/h.
    void axisDecimals() {
        const struct {
            double low, high;
            int ticks, decimals;
        } rows[] = {{0, 20000, 5, 0}, {0, 2, 5, 1},    {0, 1, 5, 2}, {-0.5, 0.5, 11, 1},
                    {0, 0.004, 5, 3}, {0, 1e-7, 5, 4}, {3, 3, 5, 1}, {0, 12.5, 6, 1}};
        for (const auto& r : rows) QCOMPARE(core::AxisDecimals(r.low, r.high, r.ticks), r.decimals);
    }
};

QTEST_APPLESS_MAIN(TestFlowHistory)
#include "tst_flowhistory.moc"
