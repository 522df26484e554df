// The outbox file: order and counts across a reopen under each cap, states
// that replace what was not sent yet, marks, one process at a time, a child
// killed right after its pushes; a damaged file moved aside, a deleted one
// made anew, a log that stays small and a file that shrinks once drained,
// and a disk that runs full.
#include "publish/Outbox.h"
#include "tests/publish/SmallDisk.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace publish;

namespace {
bool Contains(const std::vector<std::string>& notes, const std::string& text) {
    return std::any_of(notes.begin(), notes.end(),
                       [&](const std::string& n) { return n.find(text) != std::string::npos; });
}
// Removes every row, as the broker's acknowledgements do.
bool Drain(Outbox& box) {
    for (auto rows = box.Peek(500); rows && !rows->empty(); rows = box.Peek(500))
        for (const OutboxRow& row : *rows)
            if (!box.Remove(row.Seq)) return false;
    return box.Count() == 0;
}
std::vector<std::string> Payloads(const Outbox& box) {
    std::vector<std::string> out;
    const auto rows = box.Peek(1000);
    for (const auto& row : *rows.value) out.push_back(row.Content.Payload);
    return out;
}
} // namespace

class TestOutbox : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::string File(const char* name) { return dir.filePath(name).toStdString(); }

private slots:
    // Six pushes, the third removed (twice is no error), then reopened.
    void capDropsTheOldestAndCounts() {
        const struct {
            const char* name;
            OutboxLimits first, reopened;
            std::vector<std::string> kept;
            int64_t dropped;
        } rows[] = {
            {"no cap reached", {}, {}, {"1", "2", "4", "5", "6"}, 0},
            {"rows", {3, 1 << 20}, {3, 1 << 20}, {"4", "5", "6"}, 3},
            {"bytes", {100, 6}, {100, 6}, {"4", "5", "6"}, 3}, // topic "t" and one digit: 2 bytes a row
            {"lower cap on reopen", {}, {2, 1 << 20}, {"5", "6"}, 3},
        };
        for (const auto& r : rows) {
            int64_t last = 0;
            {
                auto box = Outbox::Open(File(r.name), r.first);
                for (int i = 1; i <= 6; ++i) last = *box.value->Push({"t", std::to_string(i)});
                QVERIFY(box.value->Remove(last - 3) && box.value->Remove(last - 3));
            }
            auto box = Outbox::Open(File(r.name), r.reopened);
            QVERIFY2(box, box.error.c_str());
            QCOMPARE(Payloads(*box), r.kept);
            QCOMPARE(box->Dropped(), r.dropped);
            QCOMPARE(box->Count(), int64_t(r.kept.size()));
            QVERIFY(*box.value->Push({"t", "7"}) > last); // seqs are never reused
        }
        auto small = Outbox::Open(File("small"), {10, 8});
        QCOMPARE(small.value->Push({"t", "123456789"}).error,
                 "A message of 9 bytes does not fit into the outbox " + File("small") + ".");
    }

    // Only rows after handedUpTo give way to a newer state of their topic.
    void statesAndMarks() {
        auto box = Outbox::Open(File("state"));
        auto& b = *box.value;
        const int64_t sent = *b.Push({"a", "online", true});
        for (const char* p : {"offline", "reading", "online"}) b.Push({*p == 'r' ? "r" : "a", p, true});
        QVERIFY(b.PushState({"a", "offline", true}, sent));
        QCOMPARE(Payloads(b), (std::vector<std::string>{"online", "reading", "offline"}));
        QVERIFY(b.PushWithMark({"arch", "record"}, "archive/m", "2024-05-01 12:30:00"));
        QCOMPARE(**b.GetMark("archive/m"), std::string("2024-05-01 12:30:00"));
        QVERIFY(!b.GetMark("archive/other")->has_value());
    }

    void oneProcessAtATime() {
        auto first = Outbox::Open(File("busy"));
        QVERIFY(first);
        QCOMPARE(Outbox::Open(File("busy")).error,
                 "The outbox " + File("busy") + " is in use by another process.");
        first = Outbox::Open(File("other"));
        QVERIFY2(Outbox::Open(File("busy")), "free again once closed");
    }

    // Each damage opens as a new file, the old one kept aside under a name
    // that says so, told once.
    void damagedFileMovedAside_data() {
        QTest::addColumn<qint64>("at");
        QTest::addColumn<QByteArray>("garbage"); // empty: the file cut there
        QTest::newRow("garbage in the middle") << qint64(-2) << QByteArray(2048, '\xa5');
        QTest::newRow("cut short") << qint64(-2) << QByteArray();
        QTest::newRow("damaged header") << qint64(0) << QByteArray(100, 'x');
    }
    void damagedFileMovedAside() {
        QFETCH(qint64, at);
        QFETCH(QByteArray, garbage);
        const QString path = dir.filePath(QTest::currentDataTag());
        {
            auto box = Outbox::Open(path.toStdString());
            for (int i = 0; i < 100; ++i)
                QVERIFY(box.value->Push({"t", std::string(1600, char('a' + i % 26))}));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 offset = at < 0 ? file.size() / -at : at;
        QVERIFY(garbage.isEmpty() ? file.resize(offset) : file.seek(offset) && file.write(garbage) > 0);
        const qint64 damagedSize = file.size();
        file.close();
        auto box = Outbox::Open(path.toStdString());
        QVERIFY2(box, box.error.c_str());
        const auto notes = box.value->TakeNotes();
        QCOMPARE(notes.size(), size_t(1));
        QVERIFY2(Contains(notes, "was damaged") && Contains(notes, "moved aside"), notes[0].c_str());
        QStringList aside = QDir(dir.path()).entryList({QFileInfo(path).fileName() + ".damaged-*"});
        aside.removeIf([](const QString& name) { return name.endsWith("-wal"); }); // its log goes along
        QCOMPARE(aside.size(), 1);
        QCOMPARE(QFileInfo(dir.filePath(aside[0])).size(), damagedSize);
        QCOMPARE(box->Count(), 0);
        QVERIFY(box.value->Push({"t", "new"}) && Payloads(*box) == std::vector<std::string>{"new"});
        QVERIFY(box.value->TakeNotes().empty());
    }

    // Deleted while open: what it held and what came after are in the new
    // file at the next start, numbered on.
    void deletedWhileOpenIsMadeAnew() {
        const std::string path = File("deleted");
        auto box = Outbox::Open(path);
        int64_t last = 0;
        for (const char* p : {"1", "2", "3"}) last = *box.value->Push({"t", p});
        QVERIFY(box.value->Remove(last - 2));
        QVERIFY(std::filesystem::remove(path));
        for (const char* p : {"4", "5"}) QVERIFY(*box.value->Push({"t", p}) > last);
        QVERIFY(std::filesystem::exists(path));
        QVERIFY(Contains(box.value->TakeNotes(), "was deleted while in use"));
        box = Outbox::Open(File("other"));
        auto again = Outbox::Open(path);
        QCOMPARE(Payloads(*again), (std::vector<std::string>{"2", "3", "4", "5"}));
    }

    // A backlog keeps the log near 1 MiB (SQLite's default let it reach 4);
    // drained, the file gives its pages back and the log is emptied.
    void logStaysSmallAndFileShrinks() {
        const std::string path = File("backlog");
        auto box = Outbox::Open(path);
        qint64 largestLog = 0;
        for (int i = 0; i < 250; ++i) {
            QVERIFY(box.value->Push({"t", std::string(8000, 'r')}));
            largestLog = std::max(largestLog, QFileInfo(QString::fromStdString(path + "-wal")).size());
        }
        QVERIFY2(largestLog <= 1100 * 1024, qPrintable(QString::number(largestLog)));
        QVERIFY(QFileInfo(QString::fromStdString(path)).size() > 1500 * 1024);
        QVERIFY(Drain(*box.value));
        QVERIFY(QFileInfo(QString::fromStdString(path)).size() < 64 * 1024);
        QCOMPARE(QFileInfo(QString::fromStdString(path + "-wal")).size(), 0);
        QVERIFY(box.value->Push({"t", "after"}) && Payloads(*box) == std::vector<std::string>{"after"});
    }

    // Near a full disk the outbox keeps to its size, the newest taking the
    // oldest's place; filled to the last byte by another file, it stores
    // again by itself once there is room.
    void nearlyFullDisk() {
        brokertest::SmallDisk disk;
        if (const QString skip = disk.Mount(dir.filePath("tmpfs"), "4m"); !skip.isEmpty())
            QSKIP(qPrintable(skip));
        OutboxLimits limits;
        limits.KeepFreeBytes = 1024 * 1024;
        auto box = Outbox::Open(disk.Path("box.db"), limits);
        QVERIFY2(box, box.error.c_str());
        int failed = 0;
        for (int i = 1; i <= 8000; ++i)
            failed += !box.value->Push({"t", std::to_string(i) + std::string(1000, ' ')});
        QCOMPARE(failed, 0);
        QVERIFY(box->Dropped() > 0);
        QVERIFY(Contains(box.value->TakeNotes(), "take the place of the oldest"));
        QCOMPARE(box.value->Peek(100000)->back().Content.Payload.substr(0, 4), std::string("8000"));
        QVERIFY(std::filesystem::space(disk.Where.toStdString()).available > 256 * 1024);

        const auto oldest = *box.value->Peek(20);
        QVERIFY(disk.Fill());
        for (const OutboxRow& row : oldest) { // either may fail now: neither may be lost for good
            box.value->Push({"t", "while full"});
            box.value->Remove(row.Seq);
        }
        disk.Unfill();
        QVERIFY(box.value->Push({"t", "room again"}));
        QVERIFY(Drain(*box.value));
        QVERIFY(box.value->Push({"t", "last"}) && Payloads(*box) == std::vector<std::string>{"last"});
    }

    // A child pushes and tells which push has returned; killed at once, it
    // must have left every one of them behind.
    void killedRightAfterPush() {
        int fds[2];
        QVERIFY(pipe(fds) == 0);
        const pid_t child = fork();
        if (child == 0) {
            auto box = Outbox::Open(File("killed"));
            for (int i = 1; box && box.value->Push({"t", std::to_string(i)}); ++i)
                if (write(fds[1], &i, sizeof i) != sizeof i) break;
            _exit(2);
        }
        close(fds[1]);
        int reported = 0;
        while (reported < 40 && read(fds[0], &reported, sizeof reported) == sizeof reported) {
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(fds[0]);
        QVERIFY(WIFSIGNALED(status) && reported == 40);
        auto box = Outbox::Open(File("killed"));
        const auto kept = Payloads(*box);
        QVERIFY(kept.size() >= 40); // and perhaps some it had no time to report
        for (size_t i = 0; i < kept.size(); ++i) QCOMPARE(kept[i], std::to_string(i + 1));
    }
};

QTEST_GUILESS_MAIN(TestOutbox)
#include "tst_outbox.moc"
