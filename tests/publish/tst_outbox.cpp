// The outbox file: order and counts across a reopen under each cap, states
// that replace what was not sent yet, marks, one process at a time, and a
// child killed right after its pushes.
#include "publish/Outbox.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace publish;

namespace {
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
