// The outbox file: order and seqs across a reopen, the cap that drops the
// oldest and counts them, states that replace what was not sent yet, marks,
// one process at a time, and a child killed right after its pushes.
#include "publish/Outbox.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace publish;

namespace {
std::vector<std::string> Payloads(const Outbox& box, int64_t after = 0) {
    std::vector<std::string> out;
    const auto rows = box.Peek(1000, after);
    for (const auto& row : *rows.value) out.push_back(row.Content.Payload);
    return out;
}
std::vector<std::string> Numbers(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i) out.push_back(std::to_string(i));
    return out;
}
} // namespace

class TestOutbox : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::string File(const char* name) { return dir.filePath(name).toStdString(); }

private slots:
    void orderAndSeqsSurviveAReopen() {
        const std::string path = File("order.db");
        const std::string binary("a\0b\xff", 4);
        int64_t last = 0;
        {
            auto box = Outbox::Open(path);
            QVERIFY2(box, box.error.c_str());
            auto& b = *box.value;
            for (const auto& payload : {std::string("1"), binary, std::string("3")})
                last = *b.Push({"t/" + payload, payload, payload == "3"});
            QVERIFY(b.Remove(last)); // the newest: its seq must not come back
            QVERIFY(b.Remove(last)); // twice is no error
            QVERIFY(b.SetMark("archive/com1-1", "2024-05-01 12:15:00"));
        }
        auto box = Outbox::Open(path);
        QVERIFY2(box, box.error.c_str());
        auto& b = *box.value;
        QCOMPARE(Payloads(b), (std::vector<std::string>{"1", binary}));
        const auto rows = *b.Peek(10);
        QCOMPARE(rows[1].Content.Topic, "t/" + binary);
        QVERIFY(rows[0].Seq < rows[1].Seq && rows[0].CreatedMs > 0);
        QVERIFY(*b.Push({"t", "4"}) > last);
        QCOMPARE(Payloads(b, rows[0].Seq), (std::vector<std::string>{binary, "4"}));
        QCOMPARE(b.Count(), 3);
        QCOMPARE(**b.GetMark("archive/com1-1"), std::string("2024-05-01 12:15:00"));
        QVERIFY(!b.GetMark("archive/other")->has_value());
    }

    void capDropsTheOldestAndCounts() {
        const struct {
            const char* name;
            OutboxLimits first, reopened;
            std::vector<std::string> kept;
            int64_t dropped;
        } rows[] = {
            {"rows", {3, 1 << 20}, {3, 1 << 20}, {"4", "5", "6"}, 3},
            {"bytes", {100, 6}, {100, 6}, {"4", "5", "6"}, 3}, // topic "t" + one digit: 2 bytes a row
            {"lower cap on reopen", {100, 1 << 20}, {2, 1 << 20}, {"5", "6"}, 4},
        };
        for (const auto& r : rows) {
            const std::string path = File(r.name);
            {
                auto box = Outbox::Open(path, r.first);
                for (int i = 1; i <= 6; ++i) QVERIFY(box.value->Push({"t", std::to_string(i)}));
            }
            auto box = Outbox::Open(path, r.reopened);
            QVERIFY2(box, box.error.c_str());
            QCOMPARE(Payloads(*box), r.kept);
            QCOMPARE(box->Dropped(), r.dropped);
            QCOMPARE(box->Count(), int64_t(r.kept.size()));
        }
        auto small = Outbox::Open(File("small"), {10, 8});
        const auto tooBig = small.value->Push({"t", "123456789"});
        QVERIFY(!tooBig && QString::fromStdString(tooBig.error).contains("does not fit"));
        QCOMPARE(small->Count(), 0);
    }

    // Only rows after handedUpTo give way to a newer state of their topic.
    void stateReplacesWhatWasNotSent() {
        auto box = Outbox::Open(File("state"));
        auto& b = *box.value;
        const int64_t sent = *b.Push({"a", "online", true});
        b.Push({"a", "offline", true});
        b.Push({"r", "reading"});
        b.Push({"a", "online", true});
        QVERIFY(b.PushState({"a", "offline", true}, sent));
        QCOMPARE(Payloads(b), (std::vector<std::string>{"online", "reading", "offline"}));
        QVERIFY(b.PushWithMark({"arch", "record"}, "archive/m", "2024-05-01 12:30:00"));
        QCOMPARE(**b.GetMark("archive/m"), std::string("2024-05-01 12:30:00"));
    }

    void oneProcessAtATime() {
        const std::string path = File("busy");
        auto first = Outbox::Open(path);
        QVERIFY(first);
        const auto second = Outbox::Open(path);
        QVERIFY(!second);
        QCOMPARE(QString::fromStdString(second.error),
                 QString::fromStdString("The outbox " + path + " is in use by another process."));
        first = Outbox::Open(File("other"));
        QVERIFY2(Outbox::Open(path), "free again once closed");
    }

    // A child pushes and tells which push has returned; killed at once, it
    // must have left every one of them behind.
    void killedRightAfterPush() {
        const std::string path = File("killed");
        int pipeFds[2];
        QVERIFY(pipe(pipeFds) == 0);
        const pid_t child = fork();
        if (child == 0) {
            close(pipeFds[0]);
            auto box = Outbox::Open(path);
            for (int i = 1; box; ++i) {
                if (!box.value->Push({"t", std::to_string(i)})) _exit(3);
                if (write(pipeFds[1], &i, sizeof i) != sizeof i) _exit(4);
            }
            _exit(2);
        }
        close(pipeFds[1]);
        int reported = 0;
        while (reported < 40 && read(pipeFds[0], &reported, sizeof reported) == sizeof reported) {
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(pipeFds[0]);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(reported, 40);
        auto box = Outbox::Open(path);
        QVERIFY2(box, box.error.c_str());
        const auto kept = Payloads(*box);
        QVERIFY(kept.size() >= 40); // and perhaps some it had no time to report
        QCOMPARE(kept, Numbers(1, int(kept.size())));
    }
};

QTEST_GUILESS_MAIN(TestOutbox)
#include "tst_outbox.moc"
