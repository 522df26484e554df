// The tool's loop: what ends a wait, whatever the clock says in between.
// Times are far apart, so that no scheduling delay can change the order
// being checked.
#include "cli/Loop.h"

#include <QTest>

#include <thread>

using cli::Loop;
using Event = Loop::Event;
using namespace std::chrono_literals;

class TestLoop : public QObject {
    Q_OBJECT
private slots:
    void dueTimeEndsTheWaitNotBefore() {
        Loop loop;
        const int64_t start = Loop::NowMs();
        QCOMPARE(loop.WaitUntil(start + 40), Event::Due);
        QVERIFY(Loop::NowMs() >= start + 40);
        QCOMPARE(loop.WaitUntil(start - 1000), Event::Due); // already past: at once
    }

    void stopBeforeWakeBeforeDue() {
        Loop loop;
        loop.Wake()->Notify();
        QCOMPARE(loop.WaitUntil(Loop::NowMs()), Event::Woken);
        QCOMPARE(loop.WaitUntil(Loop::NowMs()), Event::Due); // a wake is taken once
        loop.Notifier()();
        loop.Wake()->RequestStop();
        QCOMPARE(loop.WaitUntil(Loop::NowMs()), Event::Stop);
        QCOMPARE(loop.WaitUntil(std::nullopt), Event::Stop); // a stop stays
    }

    void anotherThreadWakesALoopWithoutDeadline() {
        Loop loop; // nothing is due: only the wake ends the wait
        std::thread waker([notify = loop.Notifier()] {
            std::this_thread::sleep_for(20ms);
            notify();
        });
        QCOMPARE(loop.WaitUntil(std::nullopt), Event::Woken);
        waker.join();
        // A wake that comes before a far deadline ends the wait early.
        std::thread early([wake = loop.Wake()] {
            std::this_thread::sleep_for(20ms);
            wake->RequestStop();
        });
        QCOMPARE(loop.WaitUntil(Loop::NowMs() + 60000), Event::Stop);
        early.join();
    }
};

QTEST_GUILESS_MAIN(TestLoop)
#include "tst_loop.moc"
