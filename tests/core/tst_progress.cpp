// The download's and the search's time left as the window and the tool show
// it, and the bar's texts.
#include "core/Progress.h"

#include "core/ArchiveCycle.h" // kMostRecords

#include <QTest>

using namespace core;

class TestProgress : public QObject {
    Q_OBJECT

private slots:
    // To the nearest, never up: a second under a minute, five seconds under
    // ten minutes, a minute after that.
    void durationText_data() {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("half a second up") << qint64(500) << "1 s";
        QTest::newRow("just under a minute") << qint64(59499) << "59 s";
        QTest::newRow("a minute") << qint64(59500) << "1 min";
        QTest::newRow("123 s to the nearest five") << qint64(123000) << "2 min 5 s";
        QTest::newRow("195 s") << qint64(195000) << "3 min 15 s";
        QTest::newRow("599 s rounds to ten minutes") << qint64(599000) << "10 min";
        QTest::newRow("10 min 30 s") << qint64(630000) << "11 min";
        QTest::newRow("past an hour, still minutes") << qint64(90 * 60000 + 10000) << "90 min";
    }
    void durationText() {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(DurationText(ms)), text);
    }

    // The bar's own text and the details beside it say together what its
    // tooltip says: read and expected, time left, file, speed, end, new records.
    void barTextAndDetails_data() {
        QTest::addColumn<int>("left"); // -1: no estimate yet
        QTest::addColumn<bool>("update");
        QTest::addColumn<QString>("bar");
        QTest::addColumn<QString>("details");
        QTest::newRow("no estimate") << -1 << false << "3 · plik 1/4"
                                     << "plik 1 z 4, 2,5 rekordu/s";
        QTest::newRow("update")
            << 298 << true << "3/~301 ~1 min 55 s"
            << "plik 1 z 4, 2,5 rekordu/s, koniec około 14:34, nowych dla pliku 2 z około 40";
    }
    void barTextAndDetails() {
        QFETCH(int, left);
        QFETCH(bool, update);
        QFETCH(QString, bar);
        QFETCH(QString, details);
        DownloadProgress p;
        p.Running = true;
        p.RecordsRead = 3;
        p.File = 1;
        p.RecordsPerSecond = 2.5;
        p.NowMinute = CivilMinute(2024, 5, 6, 14, 32);
        p.Update = update;
        p.NewRecords = 2;
        if (left >= 0) {
            p.Estimate.RecordsLeft = left;
            p.Estimate.MsLeft = 115000;
            if (update) p.Estimate.NewExpected = 40;
        }
        QCOMPARE(QString::fromStdString(ProgressBarText(p)), bar);
        QCOMPARE(QString::fromStdString(ProgressDetails(p, ",")), details);
    }

    // Only from what the download will read: up to the end record. Where the
    // newest record cannot be about now there is no count, and the sentence
    // says why; an update gains what lies after its file's last line.
    void estimateFromWhatIsRead_data() {
        QTest::addColumn<int>("lastAge");  // minutes before now of the record read last
        QTest::addColumn<int>("period");   // the meter's, in minutes; 0: "bez zapisu"
        QTest::addColumn<bool>("round");   // the archive went round, its first read 150 min ago
        QTest::addColumn<int>("fileLast"); // an update: minutes before now of its last line; -1: new
        QTest::addColumn<int>("left");     // -1: none
        QTest::addColumn<int>("newExpected");
        QTest::addColumn<QString>("why");
        const QString early = "Ile zostało, wiadomo po dwóch rekordach";
        const QString old = "Najnowszy rekord nie jest z ostatnich chwil";
        const QString off = "Przepływomierz nie zapisuje archiwum";
        QTest::newRow("up to now") << 600 << 15 << false << -1 << 40 << -1 << "";
        QTest::newRow("newest half a year old: not ~12900")
            << 180 * 1440 << 15 << false << -1 << -1 << -1 << old;
        QTest::newRow("all the archive holds, exactly")
            << (kMostRecords - 100) * 15 << 15 << false << -1 << kMostRecords - 100 << -1 << "";
        QTest::newRow("not recording") << 600 << 0 << false << -1 << -1 << -1 << off;
        QTest::newRow("went round: known, recording or not") << 600 << 0 << true << -1 << 29 << -1 << "";
        QTest::newRow("update, its line still ahead") << 600 << 15 << false << 150 << 40 << 12 << "";
        QTest::newRow("update, past its line") << 600 << 15 << false << 900 << 40 << 42 << "";
        QTest::newRow("update, newest old") << 180 * 1440 << 15 << false << 60 << -1 << -1 << old;
        QTest::newRow("no period yet") << 600 << -1 << false << -1 << -1 << -1 << early;
    }
    void estimateFromWhatIsRead() {
        QFETCH(int, lastAge);
        QFETCH(int, period);
        QFETCH(bool, round);
        QFETCH(int, fileLast);
        QFETCH(int, left);
        QFETCH(int, newExpected);
        QFETCH(QString, why);
        DownloadFacts f;
        f.NowMinute = CivilMinute(2024, 5, 6, 14, 30);
        f.RecordsRead = 100;
        f.NewRecords = 2;
        f.ElapsedMs = 10000;
        f.FirstMinute = f.NowMinute - (round ? 150 : lastAge + 99 * 15);
        f.LastMinute = f.NowMinute - lastAge;
        f.WentRound = round;
        if (period > 0) f.PeriodMinutes = period;
        if (period == 0) f.LastGapMinutes = 15; // the gap stands in for the period
        f.NotRecording = period == 0;
        if (fileLast >= 0) f.FileLastMinute = f.NowMinute - fileLast;
        const ProgressEstimate e = EstimateProgress(f);
        QCOMPARE(e.RecordsLeft.value_or(-1), left);
        QCOMPARE(e.NewExpected.value_or(-1), newExpected);
        if (left >= 0) QCOMPARE(e.MsLeft.value_or(-1), int64_t{100} * left); // 100 ms a record so far

        DownloadProgress p;
        p.Running = true;
        p.RecordsRead = f.RecordsRead;
        p.File = 1;
        p.Estimate = e;
        const QString sentence = QString::fromStdString(ProgressSentence(p, ","));
        if (why.isEmpty())
            QVERIFY2(sentence.contains(QStringLiteral("Zostało około %1 rekordów").arg(left)),
                     qPrintable(sentence));
        else
            QVERIFY2(sentence.contains(why), qPrintable(sentence));
        // The bar's text claims no total that is not known.
        QCOMPARE(QString::fromStdString(ProgressBarText(p)).contains('~'), left >= 0);
    }
};

QTEST_APPLESS_MAIN(TestProgress)
#include "tst_progress.moc"
