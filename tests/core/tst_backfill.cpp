// The archive's back-fill between the rounds, stepped by hand: an archive of
// slots written in order and round again, scripted transactions, a hand clock.
#include "ScriptedLink.h"

#include "core/ArchiveCycle.h"
#include "core/BackFill.h"

#include <QTest>

#include <climits>
#include <map>

using namespace core;

namespace {

constexpr int kErased = INT_MIN; // an erased record (all 0xFF) instead of a dated one

// Records `minute` minutes after the start, told apart by their totaliser.
struct MeterArchive {
    std::vector<ArchiveRecord> held = std::vector<ArchiveRecord>(kMostRecords);
    int next = 0, serial = 0, newest = 0;
    void write(int minute) {
        ArchiveRecord& r = held[size_t(next)];
        next = (next + 1) % kMostRecords;
        r.fill(minute == kErased ? 0xFF : 0);
        if (minute == kErased) return;
        newest = std::max(newest, minute);
        // Months of 28 days from 2024-01-01: every minute a possible moment, in order.
        const int date[] = {2024 >> 8,        2024,       1 + minute / 40320, 1 + minute / 1440 % 28,
                            minute / 60 % 24, minute % 60};
        for (size_t i = 0; i < 6; ++i) r[2 + i] = uint8_t(date[i]);
        for (size_t i = 0, n = ++serial; i < 4; ++i) r[13 + i] = uint8_t(n >> (24 - 8 * i));
    }
    void writeEvenly(int count) {
        for (int i = 0; i < count; ++i) write(newest + 15);
    }
};

// One back-fill; the mark moves on to the last record handed on, and the
// records must be newer than the mark before, in time order.
BackFillResult BackFillOnce(const MeterArchive& m, ArchiveMark& mark, ArchiveImage& known) {
    ArchiveFill fill(1, mark, known);
    while (const std::optional<int> slot = fill.NextSlot()) fill.Read(m.held[size_t(*slot)]);
    BackFillResult r = fill.Take();
    fill.Commit(known);
    for (const std::string& line : r.Records) {
        if (line.substr(0, 19) <= (mark.Date.empty() ? "" : mark.Date + ";" + mark.Time))
            qFatal("not newer than the one before: %s", line.c_str());
        mark = {line.substr(0, 10), line.substr(11, 8)};
    }
    return r;
}

struct Recorder : LineView, BackFillView {
    int64_t now = 0;
    std::vector<BackFillResult> ended;
    int64_t NowMs() override { return now; }
    void ShowReading(uint8_t, const model::MeterReading&, const model::ReadingInUnits&) override {}
    void ReadFailed(uint8_t, const std::string&) override {}
    std::optional<ArchiveMark> Mark(uint8_t) override { return ArchiveMark{}; }
    bool Ended(const BackFillResult& r) override {
        ended.push_back(r);
        return true;
    }
};

} // namespace

class TestBackFill : public QObject {
    Q_OBJECT

private slots:
    // Every round reads every meter, and one archive request at most follows
    // it; a meter whose archive fails is given up after 20 attempts.
    void roundsGoOnDuringABackFill_data() {
        QTest::addColumn<bool>("failing"); // meter 2's archive is silent
        QTest::newRow("archives answer") << false;
        QTest::newRow("meter 2's archive is silent") << true;
    }
    void roundsGoOnDuringABackFill() {
        QFETCH(bool, failing);
        std::map<int, MeterArchive> archives;
        archives[1].writeEvenly(3);
        archives[5].writeEvenly(4);
        ScriptedLink scripts;
        Recorder view;
        LineCycle line(scripts.factory(), view, RecordingView<PollView>::defaultLink().value.value(),
                       {1, 2, 5}, 1000);
        BackFill backFill(view, {1, 2, 5}, 3600000);
        line.SetBetweenRounds(&backFill);
        line.Start();
        QString asked;
        while (line.Rounds() < 40) {
            Script& s = scripts.last();
            const int a = s.request.Link.DeviceAddress;
            view.now += 10;
            if (s.released || (s.request.Archive && a == 2 && failing))
                view.now = *line.NextWakeMs(); // the next round, or the time-out
            else if (!s.request.Archive)
                answerAsMeter(s);
            else {
                const ArchiveRecord& r = archives[a].held[size_t(
                    (s.request.ArchiveFile - 1) * kRecordsPerFile + s.request.ArchiveRecord / kRecordStep)];
                std::copy(r.begin(), r.end(), s.ending.reply.begin() + 5);
                s.finish();
            }
            if (!s.released) asked += s.request.Archive ? QChar('A') : QChar('0' + a);
            line.Wake();
        }
        QVERIFY2(QString(asked).remove("125").remove("A").isEmpty() && !asked.contains("AA"),
                 qPrintable(asked));
        QCOMPARE(scripts.overlaps, 0);
        QCOMPARE(view.ended.size(), size_t{3}); // meters 1, 2, 5: records handed on, given up, requests
        const auto& e = view.ended;
        QCOMPARE(QList<int>({int(e[0].Records.size()), e[1].GaveUp, e[1].Requests, int(e[2].Records.size())}),
                 QList<int>({3, failing, failing ? ArchiveFill::kGiveUpAfter : 1, 4}));
        QCOMPARE(asked.count('A'), 4 + e[1].Requests + 5); // the next back-fill not due yet
    }

    // After a whole first read, a back-fill asks for the slot written last,
    // those written since and one more: the records newer than the mark, in
    // time order, whatever their dates say; a third finds nothing twice.
    void readsOnlyWhatWasWritten_data() {
        QTest::addColumn<int>("before");      // records written before the first back-fill
        QTest::addColumn<QList<int>>("then"); // minutes after the newest (or kErased) written next
        QTest::addColumn<bool>("emptied");    // the archive emptied before them
        QTest::addColumn<QList<int>>("got");  // requests, records handed on, before the mark, impossible
        QTest::newRow("nothing new") << 50 << QList<int>{} << false << QList<int>{2, 0, 0, 0};
        QTest::newRow("round, nothing new")
            << kMostRecords + 3000 << QList<int>{} << false << QList<int>{2, 0, 0, 0};
        QTest::newRow("over the last slot and round")
            << kMostRecords - 2 << QList<int>{15, 30, 45, 60} << false << QList<int>{6, 4, 0, 0};
        QTest::newRow("round, over the oldest")
            << kMostRecords + 3000 << QList<int>{15, 30} << false << QList<int>{4, 2, 0, 0};
        QTest::newRow("clock set back")
            << 50 << QList<int>{-45, -30, -15, 0, 15, 30} << false << QList<int>{8, 2, 4, 0};
        QTest::newRow("an erased one")
            << 50 << QList<int>{15, kErased, 45} << false << QList<int>{5, 2, 0, 1};
        QTest::newRow("emptied: read whole") << 50 << QList<int>{15, 30} << true << QList<int>{4, 2, 0, 0};
    }
    void readsOnlyWhatWasWritten() {
        QFETCH(int, before);
        QFETCH(QList<int>, then);
        QFETCH(bool, emptied);
        QFETCH(QList<int>, got);
        MeterArchive m;
        m.writeEvenly(before);
        ArchiveMark mark;
        ArchiveImage known;
        const BackFillResult first = BackFillOnce(m, mark, known);
        QCOMPARE(first.Requests, std::min(before + 1, kMostRecords));
        QCOMPARE(first.Records.size(), size_t(std::min(before, kMostRecords)));
        const int newest = m.newest;
        if (emptied) m = {};
        for (const int minute : then) m.write(minute == kErased ? kErased : newest + minute);
        const BackFillResult r = BackFillOnce(m, mark, known);
        QCOMPARE(QList<int>({r.Requests, int(r.Records.size()), r.BeforeMark, r.Impossible}), got);
        const BackFillResult third = BackFillOnce(m, mark, known);
        QCOMPARE(QList<int>({third.Requests, int(third.Records.size()), third.BeforeMark}),
                 QList<int>({2, 0, 0}));
    }

    // A whole read counts what was written after the mark's record but dated
    // at or before it, and hands on the newer.
    void wholeReadTellsAClockSetBack() {
        MeterArchive m;
        m.writeEvenly(10); // up to 02:30
        for (const int minute : {100, 115, 130, 165}) m.write(minute);
        ArchiveMark mark{"2024-01-01", "02:30:00"};
        ArchiveImage known;
        const BackFillResult r = BackFillOnce(m, mark, known);
        QCOMPARE(r.BeforeMark, 3);
        QCOMPARE(mark.Time, std::string("02:45:00"));
        QCOMPARE(known.WritePoint, 14);
    }
};

QTEST_APPLESS_MAIN(TestBackFill)
#include "tst_backfill.moc"
