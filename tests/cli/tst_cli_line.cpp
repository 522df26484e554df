// vqt540 watch over a line of three simulated meters: every meter's readings
// with its address, a silent one backed off and back, and the adapter pulled
// out and plugged in again.
#include "CliRun.h"

#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

std::unique_ptr<vqtsim::Simulator> StartLine(const QString& dir) {
    vqtsim::Options o = testsim::FastMeter(dir);
    o.linkName = "LINE"; // as ./LINE: a path, which no COM name's fallback stands in for when it is gone
    o.addresses = {1, 2, 5};
    return testsim::StartSimulator(o);
}

// The table's rows of one meter that were read, and all of its rows.
int Rows(const QByteArray& out, int address, bool ok) {
    const QRegularExpression row(QStringLiteral("^[^;]+;%1;.*;%2$").arg(address).arg(ok ? "OK" : ".+"),
                                 QRegularExpression::MultilineOption);
    int n = 0;
    for (auto it = row.globalMatch(QString::fromUtf8(out)); it.hasNext(); it.next()) ++n;
    return n;
}

} // namespace

class TestCliLine : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void silentMeterAndAPulledAdapter() {
        auto sim = StartLine(dir.path());
        QProcess tool;
        StartTool(tool, dir.path(),
                  {"watch", "--port", "./LINE", "--address", "1,2,5", "--interval", "100", "--timeout", "150",
                   "--decimal-separator", ","});
        QByteArray out, err;
        const auto pump = [&] {
            out += tool.readAllStandardOutput();
            err += tool.readAllStandardError();
        };
        QTRY_VERIFY_WITH_TIMEOUT((pump(), Rows(out, 5, true) >= 3), kLong);
        QVERIFY(out.startsWith("Czas;Adres;Przepływ chwilowy;"));
        QVERIFY(Rows(out, 1, true) >= 3 && Rows(out, 2, true) >= 3);

        // Meter 2 falls silent: the others keep their rate, 2 is asked less often.
        sim->SetSilent(2, true);
        const uint64_t asked2 = sim->RequestsSeen(2), read1 = Rows(out, 1, true);
        QTRY_VERIFY_WITH_TIMEOUT((pump(), err.contains("meter 2 does not answer")), kLong);
        QTRY_VERIFY_WITH_TIMEOUT((pump(), Rows(out, 1, true) >= int(read1) + 20), kLong);
        // 20 rounds of 1 and 5 cost 2 at most one time-out each, and fewer with back-off.
        QVERIFY2(sim->RequestsSeen(2) - asked2 < 12,
                 qPrintable(QString::number(sim->RequestsSeen(2) - asked2)));
        sim->SetSilent(2, false);
        QTRY_VERIFY_WITH_TIMEOUT((pump(), err.contains("meter 2 answers again")), kLong);

        // The adapter pulled out: the link leads nowhere; then plugged in again.
        sim.reset();
        QTRY_VERIFY_WITH_TIMEOUT((pump(), err.contains("brak takiego urządzenia")), kLong);
        sim = StartLine(dir.path());
        const int before = Rows(out, 5, true);
        QTRY_VERIFY_WITH_TIMEOUT((pump(), err.contains("can be used again")), kLong);
        QTRY_VERIFY_WITH_TIMEOUT((pump(), Rows(out, 5, true) >= before + 3), kLong);
        tool.terminate();
        QVERIFY(tool.waitForFinished(kLong));
        pump();
        // Nothing of one meter under another's address: each keeps its own totaliser.
        for (const QByteArray& line : out.split('\n')) {
            const QList<QByteArray> f = line.split(';');
            if (f.size() < 9 || f[8] != "OK") continue;
            QCOMPARE(f[4], f[1] == "1"   ? QByteArray("12345,6")
                           : f[1] == "2" ? QByteArray("14345,6")
                                         : QByteArray("17345,6"));
        }
    }
};

QTEST_GUILESS_MAIN(TestCliLine)
#include "tst_cli_line.moc"
