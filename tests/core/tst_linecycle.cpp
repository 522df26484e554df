// Several meters on one line, stepped by hand: rounds, back-off of a meter
// that stops answering, its return, what a round costs the others, and
// meters read less often than every round.
#include "ScriptedLink.h"

#include "core/LineCycle.h"

#include <QTest>

using namespace core;

namespace {

struct LineRecorder : LineView {
    int64_t now = 0;
    QStringList events; // "read 2", "failed 5", "offline 5", "online 5", "port …", "overran"
    int64_t NowMs() override { return now; }
    void ShowReading(uint8_t a, const model::MeterReading&, const model::ReadingInUnits& u) override {
        events << QStringLiteral("read %1 %2").arg(a).arg(QString::fromStdString(u.FlowUnit));
    }
    void ReadFailed(uint8_t a, const std::string&) override { events << QStringLiteral("failed %1").arg(a); }
    void Availability(uint8_t a, bool on) override {
        events << QStringLiteral("%1 %2").arg(on ? "online" : "offline").arg(a);
    }
    void PortState(const std::string& why) override { events << "port " + QString::fromStdString(why); }
    void Overran(int64_t) override { events << "overran"; }
};

} // namespace

// One round to its end: silent meters' reads run to their time-out, the
// others answer after 10 ms. What was asked, in order, and the time-outs.
struct Round {
    QStringList asked;
    int timeouts = 0;
};
Round RunRound(LineCycle& line, ScriptedLink& scripts, LineRecorder& view, const QList<int>& silent) {
    Round r;
    const int64_t rounds = line.Rounds();
    while (line.Rounds() == rounds) {
        Script& s = scripts.last();
        const int a = s.request.Link.DeviceAddress;
        r.asked << QString::number(a);
        if (silent.contains(a)) {
            view.now = *line.NextWakeMs();
            ++r.timeouts;
        } else {
            view.now += 10;
            answerAsMeter(s);
        }
        line.Wake();
    }
    view.now = std::max(view.now, *line.NextWakeMs()); // the next round begins
    line.Wake();
    return r;
}

class TestLineCycle : public QObject {
    Q_OBJECT
    modbus::LinkSettings link() const {
        modbus::LinkSettings l = RecordingView<PollView>::defaultLink().value.value();
        l.TimeoutMs = 100;
        return l;
    }

private slots:
    // Three meters, 5 silent for six rounds: the others are read every
    // round; 5 is asked at rounds 1, 2, 4 and 8 (after 1, 2, 4 rounds) and,
    // once it answers, every round again.
    void backOffAndReturn() {
        ScriptedLink scripts;
        LineRecorder view;
        LineCycle line(scripts.factory(), view, link(), {1, 2, 5}, 1000);
        line.Start();
        QStringList asked;
        for (int round = 1; round <= 10; ++round)
            asked << RunRound(line, scripts, view, round <= 6 ? QList<int>{5} : QList<int>{}).asked.join(',');
        QCOMPARE(asked, QStringList({"1,2,5", "1,2,5", "1,2", "1,2,5", "1,2", "1,2", "1,2", "1,2,5", "1,2,5",
                                     "1,2,5"}));
        QCOMPARE(view.events.count("failed 5"), 3);
        QCOMPARE(view.events.count("offline 5"), 1);
        const qsizetype second = view.events.indexOf("failed 5", view.events.indexOf("failed 5") + 1);
        QCOMPARE(view.events.indexOf("offline 5"), second + 1); // right after the second failure
        QVERIFY(view.events.indexOf("online 5") > view.events.lastIndexOf("failed 5"));
        QVERIFY(!view.events.contains("overran"));
        QCOMPARE(scripts.overlaps, 0);
        // After a failure the next request waits for a quiet line; else only the frame gap.
        QCOMPARE(scripts.started[0]->request.QuietMs, 100u); // an earlier run's answer may still come
        for (size_t i = 1; i < scripts.started.size(); ++i) {
            const bool afterFailure =
                scripts.started[i - 1]->ending.verdict.status != modbus::Status::Success;
            QCOMPARE(scripts.started[i]->request.QuietMs, afterFailure ? 100u : 0u);
            QCOMPARE(scripts.started[i]->request.QuietUs, 4011u); // 3.5 characters at 9600 bit/s
        }
    }

    // Two meters that fall silent cost their first round a time-out each,
    // and every round after it at most one.
    void oneTimeoutPerRound() {
        ScriptedLink scripts;
        LineRecorder view;
        LineCycle line(scripts.factory(), view, link(), {3, 4, 6}, 50); // rounds overrun: no pause
        line.Start();
        QCOMPARE(RunRound(line, scripts, view, {3, 4}).timeouts, 2);
        for (int round = 2; round <= 40; ++round) {
            const Round r = RunRound(line, scripts, view, {3, 4});
            QVERIFY2(r.timeouts <= 1, qPrintable(r.asked.join(',')));
            QVERIFY(r.asked.contains("6"));
        }
        QVERIFY(view.events.contains("overran"));
        QCOMPARE(line.Meters()[2].Reads, 40);
    }

    // Meters 1, 2 and 5, rounds of 1000 ms, some meters with periods of their
    // own: what each round asked. A silent meter's back-off counts the rounds
    // in which it was due; after the first round, one time-out a round.
    void periods() {
        const struct {
            const char* name;
            std::map<uint8_t, int64_t> periods;
            QList<int> silent;
            QStringList asked; // round by round
        } rows[] = {
            {"every third round", {{5, 3000}}, {}, {"1,2,5", "1,2", "1,2", "1,2,5", "1,2", "1,2", "1,2,5"}},
            {"2.5 rounds: on its grid, not pushed back",
             {{5, 2500}},
             {},
             {"1,2,5", "1,2", "1,2", "1,2,5", "1,2", "1,2,5", "1,2", "1,2", "1,2,5", "1,2", "1,2,5"}},
            {"shorter than a round", {{2, 100}}, {}, {"1,2,5", "1,2,5", "1,2,5"}},
            {"silent: back-off after its due time",
             {{5, 3000}},
             {5},
             {"1,2,5", "1,2", "1,2", "1,2,5", "1,2", "1,2", "1,2", "1,2,5", "1,2", "1,2", "1,2", "1,2",
              "1,2,5"}},
            {"two silent",
             {{2, 2000}, {5, 2000}},
             {2, 5},
             {"1,2,5", "1", "1,2", "1,5", "1", "1,2", "1,5", "1", "1", "1,2", "1", "1,5"}},
        };
        for (const auto& row : rows) {
            ScriptedLink scripts;
            LineRecorder view;
            LineCycle line(scripts.factory(), view, link(), {1, 2, 5}, 1000);
            line.SetPeriods(MeterPeriods(row.periods));
            line.Start();
            QStringList asked;
            for (qsizetype round = 0; round < row.asked.size(); ++round) {
                const Round r = RunRound(line, scripts, view, row.silent);
                asked << r.asked.join(',');
                QVERIFY2(round == 0 || r.timeouts <= 1, row.name);
            }
            QVERIFY2(asked == row.asked, qPrintable(QString(row.name) + ": " + asked.join(" | ")));
        }
    }
};

QTEST_APPLESS_MAIN(TestLineCycle)
#include "tst_linecycle.moc"
