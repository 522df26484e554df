// The tool's timer loop: which event comes next, whatever the clock says in
// between. Intervals are far apart, so that no scheduling delay can change
// the order being checked.
#include "cli/TimerLoop.h"

#include <QTest>

#include <thread>

using cli::TimerId;
using cli::TimerLoop;
using Event = TimerLoop::Event;
using namespace std::chrono_literals;

class TestTimerLoop : public QObject {
    Q_OBJECT
private slots:
    void earliestDueFirstAndRepeating() {
        TimerLoop loop;
        loop.Start(TimerId::Timer2, 400);
        loop.Start(TimerId::Timer1, 20);
        loop.Start(TimerId::Timer4, 5000);
        loop.Stop(TimerId::Timer4);
        // Timer1 fires again one interval after each tick, until Timer2 is due.
        int ticks = 0;
        Event e;
        while ((e = loop.Next()) == Event::Timer1) ++ticks;
        QCOMPARE(e, Event::Timer2);
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        // A restart with another interval counts from now.
        loop.Stop(TimerId::Timer1);
        loop.Start(TimerId::Timer3, 10);
        loop.Start(TimerId::Timer2, 2000);
        QCOMPARE(loop.Next(), Event::Timer3);
        // Started without an interval: the one set last.
        loop.Stop(TimerId::Timer3);
        loop.SetInterval(TimerId::Timer1, 10);
        loop.Start(TimerId::Timer1, -1);
        QCOMPARE(loop.Next(), Event::Timer1);
    }

    void stopBeforeWakeBeforeTimers() {
        TimerLoop loop;
        loop.Start(TimerId::Timer1, 0); // due at once
        loop.Wake()->Notify();
        QCOMPARE(loop.Next(), Event::Woken);
        QCOMPARE(loop.Next(), Event::Timer1);
        loop.Wake()->Notify();
        loop.Wake()->RequestStop();
        QCOMPARE(loop.Next(), Event::Stop);
        QCOMPARE(loop.Next(), Event::Stop); // a stop stays
    }

    void anotherThreadWakesAnIdleLoop() {
        TimerLoop loop; // no timer runs: only the wake ends the wait
        std::thread waker([wake = loop.Wake()] {
            std::this_thread::sleep_for(20ms);
            wake->Notify();
        });
        QCOMPARE(loop.Next(), Event::Woken);
        waker.join();
    }

    void lateTicksAreNotMadeUp() {
        TimerLoop loop;
        loop.Start(TimerId::Timer1, 50);
        loop.Start(TimerId::Timer2, 400);
        std::this_thread::sleep_for(300ms); // six intervals pass unseen
        QCOMPARE(loop.Next(), Event::Timer1);
        // The next tick is a whole interval away, so Timer2 comes before a burst of Timer1.
        int more = 0;
        while (loop.Next() == Event::Timer1) ++more;
        QVERIFY2(more <= 2, qPrintable(QString::number(more)));
    }
};

QTEST_GUILESS_MAIN(TestTimerLoop)
#include "tst_timerloop.moc"
