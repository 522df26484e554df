// The times the tool's options take: --archive-every's seconds and --period's
// milliseconds, each unit scaled as its option says, and no text half read.
#include "cli/MeterPeriodOption.h"
#include "cli/Validators.h"

#include <CLI/CLI.hpp>
#include <QTest>

class TestOptions : public QObject {
    Q_OBJECT
private slots:
    void times_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("seconds"); // of Duration(); -1: refused
        QTest::addColumn<qint64>("ms");      // of a --period item; -1: refused
        QTest::newRow("bare") << "90" << 90LL << 90LL;
        QTest::newRow("s") << "90s" << 90LL << 90000LL;
        QTest::newRow("min") << "15min" << 900LL << 900000LL;
        QTest::newRow("h") << "2h" << 7200LL << 7200000LL;
        QTest::newRow("ms") << "250ms" << -1LL << 250LL;
        QTest::newRow("no digits") << "min" << -1LL << -1LL;
        QTest::newRow("sign") << "-5s" << -1LL << -1LL;
        QTest::newRow("unit in the middle") << "1h30min" << -1LL << -1LL;
        QTest::newRow("eight digits") << "12345678" << -1LL << 12345678LL;
        QTest::newRow("ten digits") << "1234567890" << -1LL << -1LL;
        QTest::newRow("past a day") << "25h" << 90000LL << -1LL;
    }
    void times() {
        QFETCH(QString, text);
        QFETCH(qint64, seconds);
        QFETCH(qint64, ms);
        std::string duration = text.toStdString();
        const std::string refused = cli::Duration()(duration);
        QCOMPARE(refused.empty() ? std::stoll(duration) : -1LL, seconds);
        const auto periods = cli::ReadMeterPeriods({"5:" + text.toStdString()}, {5});
        QCOMPARE(periods ? periods->at(5) : -1LL, ms);
    }
};

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
