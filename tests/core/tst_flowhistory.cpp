// The chart's data: lines of good reads, gaps at failed ones, the last ten
// minutes, the shown unit; its axes: round value ranges and steps, the time
// window in whole minutes, how many tick labels fit.
#include "core/ChartScale.h"
#include "core/FlowHistory.h"

#include <QTest>

#include <cmath>

using core::FlowHistory;

namespace {
// Steps: "+T=V" a good read at T ms of V m3/h, "x" a failed read,
// "tT" a trim at T ms, "uN" the meter's flow unit code N.
void play(FlowHistory& history, const QString& steps) {
    for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString arg = step.mid(1);
        if (step == QLatin1String("x"))
            history.Break();
        else if (step.startsWith(QLatin1Char('t')))
            history.Trim(arg.toLongLong());
        else if (step.startsWith(QLatin1Char('u')))
            history.SetUnit(static_cast<uint8_t>(arg.toInt()));
        else
            history.Add(arg.section(QLatin1Char('='), 0, 0).toLongLong(),
                        arg.endsWith(QLatin1String("nan")) ? std::nan("") : arg.section('=', 1).toDouble());
    }
}
// "LOW..HIGH/STEP TICKS"
QString Text(const core::AxisScale& s) {
    const auto n = [](double v) { return QString::number(v, 'g', 10); };
    return n(s.Low) + QStringLiteral("..") + n(s.High) + '/' + n(s.Step) + ' ' + QString::number(s.Ticks());
}
} // namespace

class TestFlowHistory : public QObject {
    Q_OBJECT
private slots:
    void linesGapsAndUnits_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* name, const char* steps, const char* shown) {
            QTest::newRow(name) << QString::fromLatin1(steps) << QString::fromLatin1(shown);
        };
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
        play(history, steps);
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

    // The value axis reaches from zero, or the lowest reverse flow, to the
    // highest flow of the points kept, in the shown unit.
    void shownRange() {
        const struct {
            const char* steps;
            double low, high;
        } rows[] = {{"", 0, 0},
                    {"+0=1.5 +1000=2", 0, 2},
                    {"+0=-0.5 +1000=2", -0.5, 2},
                    {"+0=-1 +1000=-2", -2, 0},
                    {"+0=3 x +1000=-1", -1, 3},
                    {"u0 +0=1.5", 0, 1500},
                    {"+0=5 +700000=1", 0, 1}};
        for (const auto& r : rows) {
            FlowHistory history;
            history.SetUnit(1);
            play(history, QString::fromLatin1(r.steps));
            QCOMPARE(QList<double>({history.ShownRange().Low, history.ShownRange().High}),
                     QList<double>({r.low, r.high}));
        }
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

    void niceScale() {
        const struct {
            double low, high;
            int ticks;
            const char* scale;
        } rows[] = {
            {0, 12800, 5, "0..15000/5000 4"},  {0, 12.5, 5, "0..15/5 4"}, {0, 1.2, 5, "0..1.5/0.5 4"},
            {0, 0, 5, "0..1/0.2 6"},           {3, 3, 5, "3..4/0.2 6"},   {-0.5, 0.5, 5, "-0.6..0.6/0.2 7"},
            {0, 0.1, 5, "0..0.1/0.02 6"},      {10, 0, 5, "0..10/2 6"},   {1234, 1240, 5, "1234..1240/2 4"},
            {0, 12800, 11, "0..14000/2000 8"}, {NAN, 1, 5, "0..1/1 2"}};
        for (const auto& r : rows) {
            const core::AxisScale s = core::NiceScale(r.low, r.high, r.ticks);
            QCOMPARE(Text(s), QString::fromLatin1(r.scale));
            // The last tick is the top, and a zero tick is zero, not a rounding error beside it.
            QVERIFY(std::fabs(s.Tick(s.Ticks() - 1) - s.High) < s.Step * 1e-9);
            for (int i = 0; i < s.Ticks(); ++i)
                if (std::fabs(s.Tick(i)) < s.Step / 2) QCOMPARE(s.Tick(i), 0.0);
        }
    }

    // Whole minutes from before the span's oldest point to a minute past the span.
    void timeScale() {
        const int64_t m = 60000;
        const struct {
            int64_t now, span;
            const char* scale;
        } rows[] = {{10 * m + 30000, 10 * m, "0..660000/60000 12"},
                    {20 * m, 10 * m, "600000..1260000/60000 12"},
                    {20 * m + 1, 10 * m, "600000..1260000/60000 12"},
                    {59999, 10 * m, "-600000..60000/60000 12"},
                    {200000, 2 * m, "60000..240000/60000 4"}};
        for (const auto& r : rows)
            QCOMPARE(Text(core::TimeScale(r.now, r.span)), QString::fromLatin1(r.scale));
    }

    void labelEvery() {
        const struct {
            double pixels, width;
            int every;
        } rows[] = {{53, 35, 1}, {35, 35, 1}, {30, 35, 2}, {15, 35, 5},
                    {3, 35, 20}, {10, 0, 1},  {0, 35, 1},  {0.5, 35, 100}};
        for (const auto& r : rows) QCOMPARE(core::LabelEvery(r.pixels, r.width), r.every);
    }
};

QTEST_APPLESS_MAIN(TestFlowHistory)
#include "tst_flowhistory.moc"
