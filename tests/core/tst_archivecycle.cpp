// The archive download stepped by hand: scripted transactions, a clock the
// test moves, the export file in a temporary folder.
#include "ScriptedLink.h"

#include "core/ArchiveCycle.h"
#include "core/ExportFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <deque>

using namespace core;
using core::LinkState;
using core::PollCycle;

namespace {

const int64_t kNowMinute = core::CivilMinute(2024, 6, 1, 12, 0);

class ArchiveRecorder : public RecordingView<core::ArchiveView> {
public:
    std::deque<bool> answers;          // the user's answers to the stop questions
    std::function<void()> whileAsking; // what happens while a question is open
    QStringList questions;
    QStringList infos;
    QString caption;
    bool enabled = true;
    int exportShown = 0;

    void SetArchiveCaption(const std::string& c) override { caption = QString::fromStdString(c); }
    void SetSettingControlsEnabled(bool e) override { enabled = e; }
    void ShowExportWindow() override { ++exportShown; }
    bool Ask(const std::string& q) override {
        questions << QString::fromStdString(q);
        if (whileAsking) whileAsking();
        const bool answer = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
    void ShowInformation(const std::string& text) override { infos << QString::fromStdString(text); }
    int64_t LocalMinuteNow() override { return kNowMinute; }
    std::optional<int> ArchivePeriodCode() override { return periodCode; }
    std::optional<int> periodCode; // of the meter's last good read
    void ShowProgress(const DownloadProgress& p) override { progress = p; }
    DownloadProgress progress;
    std::string ChooseOtherFile(const std::string&) override { return {}; }
    void DeliverRecords(const std::vector<std::string>& lines) override { delivered = lines; }
    std::vector<std::string> delivered;
};

// A good reply carrying a record dated as given; year 65535 stands for an
// erased record, all bytes 0xFF.
void putRecord(Script& s, int year, int month, int day, int hour, int minute, int second) {
    s.ending.reply.fill(0);
    uint8_t* r = s.ending.reply.data() + 5;
    if (year == 65535) {
        std::fill_n(r, 22, uint8_t{0xFF});
        s.finish();
        return;
    }
    r[2] = static_cast<uint8_t>(year >> 8);
    r[3] = static_cast<uint8_t>(year);
    r[4] = static_cast<uint8_t>(month);
    r[5] = static_cast<uint8_t>(day);
    r[6] = static_cast<uint8_t>(hour);
    r[7] = static_cast<uint8_t>(minute);
    r[8] = static_cast<uint8_t>(second);
    s.finish();
}

} // namespace

class TestArchiveCycle : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<LinkState> link;
    std::unique_ptr<ScriptedLink> scripts;
    std::unique_ptr<PollRecorder> pollView;
    std::unique_ptr<PollCycle> poll;
    std::unique_ptr<ArchiveRecorder> view;
    std::unique_ptr<core::ArchiveCycle> cycle;

    std::string path(const char* name = "export.csv") const { return dir->filePath(name).toStdString(); }
    QByteArray file(const char* name = "export.csv") const {
        QFile f(dir->filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void startNew() {
        cycle->ArchiveButton();
        QCOMPARE(cycle->CreateExportFile(path()).error, std::string());
        view->take();
    }
    // Answers the request in flight with a record and wakes the cycle; the
    // next request follows, after the pacing if there is one.
    void answer(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
        putRecord(scripts->last(), year, month, day, hour, minute, second);
        view->now += 5;
        cycle->Wake();
        if (cycle->state() == ArchiveCycle::State::Pacing) pacingEnd();
    }
    void pacingEnd() {
        view->now = std::max(view->now, cycle->NextWakeMs().value_or(view->now));
        cycle->Wake();
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        link = std::make_unique<LinkState>();
        scripts = std::make_unique<ScriptedLink>();
        pollView = std::make_unique<PollRecorder>();
        poll = std::make_unique<PollCycle>(*link, scripts->factory(), *pollView);
        view = std::make_unique<ArchiveRecorder>();
        view->period = {0, {}};
        cycle = std::make_unique<core::ArchiveCycle>(*link, scripts->factory(), *view,
                                                     [this] { poll->StopForArchive(); });
    }
    void cleanup() {
        cycle.reset();
        link.reset();
        QCOMPARE(scripts->overlaps, 0);
        for (const auto& s : scripts->started) QVERIFY(s->released);
    }

    void archiveButtonTwiceBeforeAFileIsChosen() {
        poll->ConnectButton();
        cycle->ArchiveButton();
        QVERIFY(!poll->Connected());
        QCOMPARE(pollView->status, QStringLiteral("Przepływomierz nie podłączony - praca w trybie off-line"));
        cycle->ArchiveButton();
        QCOMPARE(view->exportShown, 2);
        QCOMPARE(view->caption, QStringLiteral("Zakończ zapis danych z archiwum"));
        QVERIFY(!view->enabled && !cycle->ArchiveRunning());
        QCOMPARE(scripts->started.size(), size_t{1}); // only the poll that was given up
        cycle->ExportWindowHidden();
        QCOMPARE(view->caption, QStringLiteral("Zapisz dane z archiwum do pliku"));
        QVERIFY(view->enabled);
    }

    void unusableSettingsStartNothing() {
        view->link = {std::nullopt, "Numer portu: nie wybrano portu."};
        cycle->ArchiveButton();
        QCOMPARE(cycle->CreateExportFile(path()).error, std::string("Numer portu: nie wybrano portu."));
        QVERIFY(!cycle->ArchiveRunning() && !QFile::exists(dir->filePath("export.csv")));
        QVERIFY(scripts->started.empty());
    }

    void timeoutsRetryAfterSilence_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("below the minimum") << 5 << 20;
        QTest::newRow("default") << 1000 << 1000;
    }
    void timeoutsRetryAfterSilence() {
        QFETCH(int, field);
        QFETCH(int, timeoutMs);
        view->link.value->TimeoutMs = field;
        view->diagnostics = true;
        startNew();
        QCOMPARE(scripts->last().request.QuietMs, 0u);
        view->now += timeoutMs - 1;
        cycle->Wake();
        QCOMPARE(link->BadReplies, 0);
        // The reply arrives on the very tick of the time-out: a time-out.
        putRecord(scripts->last(), 2024, 5, 1, 0, 0, 0);
        view->now += 1;
        cycle->Wake();
        QCOMPARE(link->BadReplies, 1);
        QCOMPARE(view->trace, QStringList({"TX : [01]", "RX : "}));
        QCOMPARE(scripts->started.size(), size_t{1});
        cycle->Wake(); // the retry: the same record, after the line has been quiet
        QCOMPARE(scripts->started.size(), size_t{2});
        QCOMPARE(scripts->last().request.ArchiveRecord, 0);
        QCOMPARE(scripts->last().request.QuietMs, uint32_t(timeoutMs));
        // The wait for silence does not eat into the reply time-out.
        view->now += 2 * timeoutMs - 10;
        answer(2024, 5, 1);
        QCOMPARE(cycle->lineCount(), size_t{1});
        QCOMPARE(scripts->last().request.QuietMs, 0u);
        QCOMPARE(scripts->last().request.ArchiveRecord, 11);
        QCOMPARE(view->trace.mid(2), QStringList({"RX : ", "TX : [01]"})); // reply line first
    }

    void rejectedReplyIsAskedAgainAfterThePacing() {
        view->period = {1000, {}}; // 100 ms between requests
        startNew();
        view->now += 30;
        scripts->last().finish(modbus::Status::BadCrc);
        cycle->Wake();
        QCOMPARE(link->BadReplies, 1);
        QCOMPARE(cycle->state(), ArchiveCycle::State::Pacing);
        // Why the record failed, with the count, until the next good reply.
        QCOMPARE(QString::fromStdString(view->progress.Failures),
                 QStringLiteral("1 × Błąd sumy kontrolnej w odpowiedzi urządzenia"));
        QCOMPARE(cycle->NextWakeMs(), std::optional<int64_t>(view->now + 70));
        pacingEnd();
        QCOMPARE(scripts->last().request.ArchiveRecord, 0);
        QVERIFY(scripts->last().request.QuietMs > 0);
        view->period = {19, {}}; // below 20: the next request at once
        answer(2024, 5, 1);
        QCOMPARE(scripts->started.size(), size_t{3});
        QVERIFY(view->progress.Failures.empty());
        QCOMPARE(cycle->state(), ArchiveCycle::State::Waiting);
    }

    void endMarkersAndTheLastRecord_data() {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<bool>("ends");
        QTest::newRow("1999-01-01") << 1999 << 1 << 1 << true;
        QTest::newRow("1990-01-01") << 1990 << 1 << 1 << true;
        QTest::newRow("all zero, 0-00-00") << 0 << 0 << 0 << true;
        QTest::newRow("1999-01-02") << 1999 << 1 << 2 << false;
        QTest::newRow("erased, 65535-255-255") << 65535 << 255 << 255 << false;
    }
    void endMarkersAndTheLastRecord() {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(bool, ends);
        startNew();
        answer(year, month, day, year == 0 ? 0 : 12);
        QCOMPARE(cycle->ArchiveRunning(), !ends);
        if (ends) {
            QCOMPARE(view->infos, QStringList{"Zapis archiwum do pliku zakończony."});
            QCOMPARE(file(), QByteArray("Nr logu;Data;Czas;Przep\xB3yw chwilowy [m3/h];Licznik w prz\xF3"
                                        "d L+;Licznik w ty\xB3 L-;Zdarzenia\r\n"));
            return;
        }
        answer(2024, 1, 1);
        answer(1999, 1, 1);
        QVERIFY(!cycle->ArchiveRunning());
        // An erased record names no moment: left out, and said so.
        if (year == 65535) {
            QCOMPARE(file().count("\r\n"), 2);
            QVERIFY(file().contains("\r\n0;2024-01-01;12:00:00;"));
            QCOMPARE(view->infos.last(),
                     QStringLiteral("Zapis archiwum do pliku zakończony.\nPominięto rekordy "
                                    "z niemożliwą datą lub godziną (np. skasowane): 1."));
        } else {
            QCOMPARE(file().count("\r\n"), 3);
            QVERIFY(file().contains("\r\n0;1999-01-02;12:00:00;"));
            QVERIFY(file().contains("\r\n1;2024-01-01;12:00:00;"));
        }
    }

    // Every record of the four files in turn; the good reply for the last
    // record of file 4 is stored and ends the download.
    void recordsAdvanceOverTheFourFiles() {
        startNew();
        for (int i = 0; i < core::kRecordsPerFile; ++i) answer(2024, 1, 1);
        QCOMPARE(int(cycle->fileNumber()), 2);
        QCOMPARE(cycle->recordNumber(), 0);
        QCOMPARE(int(scripts->last().request.ArchiveFile), 2);
        QCOMPARE(view->progress.RecordsRead, core::kRecordsPerFile);
        for (int i = core::kRecordsPerFile; i < core::kMostRecords - 1; ++i) answer(2024, 1, 1);
        QCOMPARE(int(scripts->last().request.ArchiveFile), 4);
        QCOMPARE(scripts->last().request.ArchiveRecord, core::kLastRecord);
        answer(2024, 1, 2);
        QVERIFY(!cycle->ArchiveRunning());
        QCOMPARE(scripts->count(), size_t(core::kMostRecords));
        QVERIFY(file().endsWith("\r\n12899;2024-01-02;12:00:00;0,000;0,0 [m3];0,0 [m3];\r\n"));
    }

    void updateTakesOnlyNewerRecords() {
        QFile f(dir->filePath("export.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Nr logu;Data;Czas\r\n41;2024-05-01;12:00:00;1,000;0,0 [m3];0,0 [m3];");
        f.close();
        cycle->ArchiveButton();
        QCOMPARE(cycle->OpenExportFileForUpdate(path()).error, std::string());
        answer(2024, 5, 1, 12, 0, 1);  // one second later: taken
        answer(2024, 4, 30, 23, 0, 0); // earlier, after a newer one in reading order: not taken
        answer(2024, 5, 1, 12, 0, 0);  // the same date and time: not taken
        answer(2024, 5, 2, 0, 0, 0);   // a later day: taken
        answer(1999, 1, 1);            // end
        QCOMPARE(cycle->lineCount(), size_t{2});
        const QByteArray content = file();
        QVERIFY(
            content.startsWith("Nr logu;Data;Czas\r\n41;2024-05-01;12:00:00;1,000;0,0 [m3];0,0 [m3];\r\n"));
        QVERIFY(content.endsWith("\r\n42;2024-05-01;12:00:01;0,000;0,0 [m3];0,0 [m3];\r\n"
                                 "43;2024-05-02;00:00:00;0,000;0,0 [m3];0,0 [m3];\r\n"));
    }

    // Without a file: the records newer than a moment, in time order, to the view.
    void recordsAfterAMoment() {
        QCOMPARE(cycle->DownloadRecordsAfter("2024-05-01", "12:00:00").error, std::string());
        answer(2024, 5, 2, 0, 0, 0);  // newer: taken
        answer(2024, 4, 30, 0, 0, 0); // older: not
        answer(2024, 5, 1, 12, 0, 1); // one second newer, after a newer one in reading order: first
        answer(1999, 1, 1);           // end
        QCOMPARE(view->delivered.size(), size_t{2});
        QVERIFY(view->delivered[0].starts_with("2024-05-01;12:00:01;"));
        QVERIFY(view->delivered[1].starts_with("2024-05-02;00:00:00;"));
        QVERIFY(QDir(dir->path()).entryList(QDir::Files).isEmpty());
        QVERIFY(view->infos.isEmpty());
    }

    void userStop_data() {
        QTest::addColumn<bool>("update");
        QTest::addColumn<bool>("save");
        QTest::newRow("new, not saved") << false << false;
        QTest::newRow("new, saved") << false << true;
        QTest::newRow("update, not saved") << true << false;
    }
    void userStop() {
        QFETCH(bool, update);
        QFETCH(bool, save);
        const QByteArray old("Nr logu\r\n7;2020-01-01;00:00:00;\r\n");
        if (update) {
            QFile f(dir->filePath("export.csv"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
            f.close();
            cycle->ArchiveButton();
            QCOMPARE(cycle->OpenExportFileForUpdate(path()).error, std::string());
        } else {
            startNew();
        }
        answer(2024, 1, 1);
        view->answers = {false}; // "NIE": the download goes on
        cycle->ArchiveButton();
        QVERIFY(cycle->ArchiveRunning());
        view->answers = {true, save};
        cycle->ArchiveButton();
        QCOMPARE(view->questions, QStringList({"Zakończyć odczyt danych ?", "Zakończyć odczyt danych ?",
                                               "Zapisać odczytane dane do pliku ?"}));
        QVERIFY(!cycle->ArchiveRunning());
        QVERIFY(scripts->last().signalled); // the request in flight given up
        QCOMPARE(view->caption, QStringLiteral("Zapisz dane z archiwum do pliku"));
        if (update)
            QCOMPARE(file(), old);
        else if (save)
            QVERIFY(file().endsWith("\r\n0;2024-01-01;12:00:00;0,000;0,0 [m3];0,0 [m3];\r\n"));
        else
            QVERIFY(!QFile::exists(dir->filePath("export.csv")));
    }

    void endReachedWhileAQuestionIsOpen() {
        startNew();
        view->whileAsking = [this] {
            if (cycle->ArchiveRunning()) answer(1999, 1, 1);
        };
        view->answers = {true, false};
        cycle->ArchiveButton();
        // The end wrote the file; the answer to the first question changed nothing.
        QCOMPARE(view->questions.size(), 1);
        QCOMPARE(view->infos.size(), 1);
        QVERIFY(QFile::exists(dir->filePath("export.csv")));
    }

    // What is left is told from the records' dates: one archive period apart,
    // the newest about now; in a ring buffer up to the one before the first.
    void progressEstimate_data() {
        QTest::addColumn<QList<int>>("ages"); // minutes before now of each record, in reading order
        QTest::addColumn<int>("read");        // how many are read when the estimate is taken
        QTest::addColumn<int>("periodCode");  // of the last good read; -1: none
        QTest::addColumn<int>("fileLast");    // an update: minutes before now of its last line; -1: new
        QTest::addColumn<int>("left");        // -1: no estimate
        QTest::addColumn<int>("newExpected"); // -1: none
        const auto evenly = [](int count, int period, int newest = 0) {
            QList<int> ages;
            for (int i = count - 1; i >= 0; --i) ages << newest + i * period;
            return ages;
        };
        QTest::newRow("new, 15 min") << evenly(300, 15) << 100 << 4 << -1 << 200 << -1;
        QTest::newRow("period from the records") << evenly(300, 15) << 100 << -1 << -1 << 200 << -1;
        QTest::newRow("one record, no period") << evenly(300, 15) << 1 << -1 << -1 << -1 << -1;
        // Nothing recorded now: the newest is no longer about now.
        QTest::newRow("no recording: only the end tells") << evenly(300, 15) << 50 << 0 << -1 << -1 << -1;
        QList<int> ring = evenly(300, 15);
        ring = ring.mid(270) + ring.mid(0, 270); // the newest 30 first
        QTest::newRow("went round") << ring << 40 << 4 << -1 << 260 << -1;
        QTest::newRow("update, few new records") << evenly(300, 15) << 100 << 4 << 45 << 200 << 3;
        QTest::newRow("period changed to 15 min")
            << evenly(100, 60, 100 * 15) + evenly(100, 15) << 150 << 4 << -1 << 50 << -1;
        QTest::newRow("meter's clock ahead") << evenly(10, 15, -120) << 10 << 4 << -1 << 0 << -1;
        // Up to now would be more than the archive holds: the newest is old.
        QTest::newRow("newest far older than now: only the end tells")
            << evenly(10, 1, 100000) << 10 << 1 << -1 << -1 << -1;
    }
    void progressEstimate() {
        QFETCH(QList<int>, ages);
        QFETCH(int, read);
        QFETCH(int, periodCode);
        QFETCH(int, fileLast);
        QFETCH(int, left);
        QFETCH(int, newExpected);
        if (periodCode >= 0) view->periodCode = periodCode;
        const auto dated = [](int age) {
            const std::time_t t = static_cast<std::time_t>(kNowMinute - age) * 60;
            std::tm c{};
            gmtime_r(&t, &c);
            return c;
        };
        cycle->ArchiveButton();
        if (fileLast >= 0) {
            const std::tm c = dated(fileLast);
            char line[64];
            std::snprintf(line, sizeof line, "Nr logu\r\n0;%04d-%02d-%02d;%02d:%02d:00;", c.tm_year + 1900,
                          c.tm_mon + 1, c.tm_mday, c.tm_hour, c.tm_min);
            QFile f(dir->filePath("export.csv"));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(line) > 0);
            f.close();
            QCOMPARE(cycle->OpenExportFileForUpdate(path()).error, std::string());
        } else {
            QCOMPARE(cycle->CreateExportFile(path()).error, std::string());
        }
        for (int i = 0; i < read; ++i) {
            const std::tm c = dated(ages[i]);
            answer(c.tm_year + 1900, c.tm_mon + 1, c.tm_mday, c.tm_hour, c.tm_min);
        }
        const ProgressEstimate& e = view->progress.Estimate;
        QVERIFY(view->progress.Running);
        QCOMPARE(view->progress.RecordsRead, read);
        QCOMPARE(e.RecordsLeft.value_or(-1), left);
        QCOMPARE(e.NewExpected.value_or(-1), newExpected);
        // At the rate so far: 5 ms a record here.
        if (left >= 0) QCOMPARE(e.MsLeft.value_or(-1), int64_t{5} * left);
        cycle->Stop(false);
    }
};

QTEST_APPLESS_MAIN(TestArchiveCycle)
#include "tst_archivecycle.moc"
