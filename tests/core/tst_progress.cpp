// The download's and the search's time left as the window and the tool show
// it, and the bar's texts.
#include "core/Progress.h"

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
};

QTEST_APPLESS_MAIN(TestProgress)
#include "tst_progress.moc"
