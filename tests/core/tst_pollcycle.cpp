// The polling cycle stepped tick by tick (a clock moved by hand) with
// scripted transactions.
#include "ScriptedLink.h"

#include "core/PollCycle.h"

#include <QTest>

using namespace core;
using State = PollCycle::State;
using modbus::Status;

namespace {

const QString kRead = QStringLiteral("Odczyt danych zakończony sukcesem");

QString resultLine(const QString& text, int good, int bad) {
    return text + QStringLiteral("                     Poprawne odpowiedzi : %1         Błędy : %2")
                      .arg(good)
                      .arg(bad);
}
QString timeoutLine(int good, int bad) {
    return QStringLiteral(
               "Timeout odpowiedzi z przepływomierza                     Poprawne odpowiedzi : %1        "
               "Błędy : %2")
        .arg(good)
        .arg(bad);
}

} // namespace

class TestPollCycle : public QObject {
    Q_OBJECT
    std::unique_ptr<LinkState> link;
    std::unique_ptr<ScriptedLink> scripts;
    std::unique_ptr<PollRecorder> view;
    std::unique_ptr<PollCycle> cycle;

    // The tick of the default 1000 ms reply time-out: the cycle is woken on
    // each, as the window's tick timer wakes it.
    static constexpr int64_t kTickMs = 50;
    void tick() {
        view->now += kTickMs;
        cycle->Wake();
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
    // The clock to the end of the pause, if one runs, and the wake there.
    void pauseEnd() {
        if (cycle->state() == State::Pause) view->now = *cycle->NextWakeMs();
        cycle->Wake();
    }
    void connect() {
        cycle->ConnectButton();
        QCOMPARE(cycle->state(), State::Running);
        view->take();
    }
    // What the cycle waits for and how long from now: the time-out while a
    // transaction is watched, the restart after it, the scan period of the
    // pause; nothing off-line.
    void waits(State state, std::optional<int64_t> ms) {
        QCOMPARE(cycle->state(), state);
        const std::optional<int64_t> next = cycle->NextWakeMs();
        QCOMPARE(next ? std::optional<int64_t>(*next - view->now) : std::nullopt, ms);
    }
    void queueBoth() {
        cycle->Slots.LongWritePending = true;
        cycle->Slots.LongWriteRegister = 8;
        cycle->Slots.LongWriteValue = 1000;
        cycle->Slots.ShortWritePending = true;
        cycle->Slots.ShortWriteRegister = 5;
        cycle->Slots.ShortWriteLow = 3;
    }
    using Write = modbus::TransactionRequest::Write;

private slots:
    void init() {
        link = std::make_unique<LinkState>();
        scripts = std::make_unique<ScriptedLink>();
        view = std::make_unique<PollRecorder>();
        cycle = std::make_unique<PollCycle>(*link, scripts->factory(), *view);
    }
    void cleanup() {
        cycle.reset();
        link.reset(); // a transaction still held is given up here
        QCOMPARE(scripts->overlaps, 0);
        for (const auto& s : scripts->started) QVERIFY(s->released);
    }

    void connectStartsAReadAndTheTick() {
        queueBoth(); // pending writes wait for the transactions after the first
        cycle->ConnectButton();
        waits(State::Running, 1000);
        QVERIFY(cycle->Connected() && view->editable);
        QCOMPARE(view->caption, QStringLiteral("Zakończ połączenie z przepływomierzem"));
        QCOMPARE(scripts->started.size(), size_t{1});
        QCOMPARE(scripts->last().request.Staged, Write::None);
        QCOMPARE(scripts->last().request.Link, *view->link.value);
        QVERIFY(cycle->Slots.LongWritePending && cycle->Slots.ShortWritePending);
    }

    void completionSeenOnTick7() {
        connect();
        ticks(6);
        QCOMPARE(view->take(), QStringList());
        scripts->last().finish();
        link->GoodReplies = 4;
        link->BadReplies = 2;
        view->diagnostics = true;
        tick();
        QCOMPARE(view->status, resultLine(kRead, 4, 2)); // the counters before this reply
        QCOMPARE(view->take(), QStringList({"status", "trace", "trace", "decode"}));
        waits(State::Pause, 1000);
        QCOMPARE(view->trace, QStringList({"TX : [01]", "RX : "}));
        QCOMPARE(link->GoodReplies, 5);
        QVERIFY(scripts->last().released && !scripts->last().signalled);
        QCOMPARE(cycle->state(), State::Pause);
        QVERIFY(!link->ActiveRead);

        tick(); // a wake before the pause is over changes nothing
        QCOMPARE(view->take(), QStringList());
        pauseEnd();
        waits(State::Running, 1000);
        QCOMPARE(scripts->started.size(), size_t{2});
        ticks(2);
        scripts->last().finish();
        tick();
        QCOMPARE(view->status, resultLine(kRead, 5, 2));
    }

    void noReplyTimesOutAndRestartsWithoutPause() {
        connect();
        view->diagnostics = true;
        ticks(19);
        QCOMPARE(view->take(), QStringList());
        tick(); // 20
        QCOMPARE(view->take(), QStringList({"status", "trace", "trace"}));
        QCOMPARE(view->status, timeoutLine(0, 0));
        QCOMPARE(link->BadReplies, 1);
        QCOMPARE(view->failed, QStringList{"Timeout odpowiedzi z przepływomierza"});
        QVERIFY(scripts->started.front()->signalled && scripts->started.front()->released);
        waits(State::AfterTimeout, 2 * kTickMs);
        tick(); // 21
        QCOMPARE(view->take(), QStringList());
        QCOMPARE(scripts->started.size(), size_t{1});
        tick(); // 22
        QCOMPARE(scripts->started.size(), size_t{2});
        waits(State::Running, 1000); // counted from the restart
    }

    // Without the window's timers the cycle is woken by the clock: what is
    // due comes at the time NextWakeMs names, the times the ticks would make.
    void wokenByTheClock() {
        using Wake = std::optional<int64_t>;
        view->link.value->TimeoutMs = 200; // a tick of 10 ms
        cycle->ConnectButton();
        QCOMPARE(scripts->last().request.Link.TimeoutMs, 200); // the time-out travels with the request
        QCOMPARE(cycle->NextWakeMs(), Wake(200));
        view->now = 199;
        cycle->Wake();
        QCOMPARE(link->BadReplies, 0);
        view->now = 200;
        cycle->Wake();
        QCOMPARE(link->BadReplies, 1);
        QVERIFY(scripts->last().signalled && scripts->last().released);
        QCOMPARE(cycle->NextWakeMs(), Wake(220)); // the restart, two ticks later
        view->now = 221;
        cycle->Wake();
        QCOMPARE(scripts->count(), size_t{2});
        QCOMPARE(cycle->NextWakeMs(), Wake(421));
        view->now = 250; // a finished read is taken when it wakes the loop, not at a tick
        scripts->last().finish();
        cycle->Wake();
        QCOMPARE(link->GoodReplies, 1);
        QCOMPARE(view->decodes, 1);
        QCOMPARE(view->status, resultLine(kRead, 0, 1));
        QCOMPARE(cycle->NextWakeMs(), Wake(1250)); // the scan period
        view->now = 1249;
        cycle->Wake();
        QCOMPARE(scripts->count(), size_t{2});
        view->now = 1250;
        cycle->Wake();
        QCOMPARE(scripts->count(), size_t{3});
        QCOMPARE(cycle->NextWakeMs(), Wake(1450));
        cycle->ConnectButton();
        QCOMPARE(cycle->NextWakeMs(), Wake());
    }

    void completionOnTick20IsATimeout() {
        connect();
        ticks(19);
        scripts->last().finish();
        tick();
        QCOMPARE(view->status, timeoutLine(0, 0));
        QCOMPARE(link->GoodReplies, 0);
        QCOMPARE(link->BadReplies, 1);
        QCOMPARE(view->decodes, 0);
        ticks(2);
        QCOMPARE(scripts->started.size(), size_t{2});
    }

    void errorAndWriteCompletionsPauseWithoutDecode_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("failed"); // what the cycle reports as the read's failure
        QTest::newRow("write") << true << int(Status::Success) << QString();
        QTest::newRow("crc") << false << int(Status::BadCrc)
                             << QStringLiteral("Błąd sumy kontrolnej w odpowiedzi urządzenia");
        QTest::newRow("exception") << false << int(Status::Exception)
                                   << QStringLiteral("Błędny adres danych w zapytaniu Modbus");
        QTest::newRow("another meter's reply") << false << int(Status::ForeignAddress)
                                               << QStringLiteral("Odpowiedź innego urządzenia (adres 2)");
    }
    void errorAndWriteCompletionsPauseWithoutDecode() {
        QFETCH(bool, write);
        QFETCH(int, status);
        QFETCH(QString, failed);
        if (write) queueBoth();
        connect();
        if (write) { // the write goes with the transaction after the first read
            scripts->last().finish();
            tick();
            pauseEnd();
            view->take();
        }
        const int decodes = view->decodes;
        const int64_t good = link->GoodReplies;
        ticks(3);
        scripts->last().finish(Status(status), 2);
        tick();
        QCOMPARE(view->take(), QStringList({"status"}));
        QVERIFY(view->status.startsWith(scripts->last().text()));
        waits(State::Pause, 1000);
        QCOMPARE(view->decodes, decodes);
        QCOMPARE(view->failed, failed.isEmpty() ? QStringList() : QStringList{failed});
        QCOMPARE(link->GoodReplies, good + 1);
        const size_t before = scripts->started.size();
        // Nothing counts on during the pause; exactly one transaction follows it.
        ticks(19);
        QCOMPARE(scripts->started.size(), before);
        QCOMPARE(link->BadReplies, 0);
        pauseEnd();
        pauseEnd();
        QCOMPARE(scripts->started.size(), before + 1);
    }

    void slotOrder_data() {
        QTest::addColumn<bool>("afterTimeout");
        QTest::addColumn<int>("firstRegister");
        QTest::addColumn<int>("secondRegister");
        QTest::newRow("end of pause: slot A first") << false << 8 << 5;
        QTest::newRow("restart after a time-out: slot B first") << true << 5 << 8;
    }
    void slotOrder() {
        QFETCH(bool, afterTimeout);
        QFETCH(int, firstRegister);
        QFETCH(int, secondRegister);
        connect();
        queueBoth();
        const auto next = [&] {
            if (afterTimeout) {
                ticks(22);
            } else {
                scripts->last().finish();
                tick();
                pauseEnd();
            }
            return scripts->last().request;
        };
        const auto first = next();
        QCOMPARE(int(first.WriteRegister), firstRegister);
        const auto second = next();
        QCOMPARE(int(second.WriteRegister), secondRegister);
        const auto slotA = firstRegister == 8 ? first : second;
        QCOMPARE(slotA.Staged, Write::Long);
        QCOMPARE(slotA.LongValue, 1000);
        const auto slotB = firstRegister == 5 ? first : second;
        QCOMPARE(slotB.Staged, Write::Short);
        QCOMPARE(int(slotB.ShortLow), 3);
        QCOMPARE(next().Staged, Write::None);
    }

    void disconnectGivesUpTheTransaction() {
        connect();
        link->GoodReplies = 3;
        link->BadReplies = 1;
        cycle->Cached = {1, 1, 1, 2, 3, 4};
        ticks(5);
        cycle->ConnectButton();
        waits(State::Offline, std::nullopt);
        QVERIFY(!view->editable);
        QVERIFY(scripts->last().signalled && scripts->last().released);
        QCOMPARE(view->status, QStringLiteral("Przepływomierz nie podłączony - praca w trybie off-line"));
        QCOMPARE(view->caption, QStringLiteral("Połącz z przepływomierzem"));
        QCOMPARE(link->GoodReplies, 0);
        QCOMPARE(link->BadReplies, 0);
        QVERIFY(view->restored == cycle->Cached);
        QVERIFY(!cycle->Connected() && !link->ActiveRead);
        ticks(30);
        pauseEnd();
        QCOMPARE(scripts->started.size(), size_t{1});
    }

    void unusableSettings_data() {
        QTest::addColumn<bool>("badLink");
        QTest::newRow("address") << true;
        QTest::newRow("scan period") << false;
    }
    void unusableSettings() {
        QFETCH(bool, badLink);
        auto refuse = [&] {
            if (badLink)
                view->link = {std::nullopt, "Adres przepływomierza: 'x' nie jest poprawną liczbą całkowitą."};
            else
                view->period = {std::nullopt,
                                "Okres skanowania [ms]: 'x' nie jest poprawną liczbą całkowitą."};
        };
        refuse();
        cycle->ConnectButton(); // refused: nothing starts
        QCOMPARE(view->take(), QStringList({"error"}));
        waits(State::Offline, std::nullopt);
        QCOMPARE(view->errors.first().left(5), QString(badLink ? "Adres" : "Okres"));
        QVERIFY(scripts->started.empty() && !cycle->Connected());

        view->link = RecordingView<PollView>::defaultLink();
        view->period = {1000, {}};
        cycle->Slots.LongWritePending = true;
        connect();
        refuse(); // the setting goes bad while connected: shown once, then off-line
        scripts->last().finish();
        tick();
        if (badLink) pauseEnd();
        QCOMPARE(view->errors.size(), 2);
        QCOMPARE(view->log.last(), QStringLiteral("error"));
        QCOMPARE(cycle->state(), State::Offline);
        QVERIFY(!cycle->Connected());
        waits(State::Offline, std::nullopt);
        QCOMPARE(scripts->started.size(), size_t{1});
        QVERIFY(cycle->Slots.LongWritePending); // the write waits for the next connect
        ticks(25);
        pauseEnd();
        QCOMPARE(view->errors.size(), 2);
    }

    // A write goes out only when the user typed it, and only to the meter it
    // was made for: the port and address it was queued with.
    void pendingWrites_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("sent");  // the register written by the next transaction, or "-"
        QTest::addColumn<QString>("shown"); // beside the status text afterwards
        QTest::newRow("left untyped") << "leave"
                                      << "-"
                                      << "";
        QTest::newRow("typed and left") << "type leave"
                                        << "4"
                                        << "";
        QTest::newRow("typed, then the meter's value shown") << "type decode leave"
                                                             << "-"
                                                             << "";
        QTest::newRow("typed, queued, left again") << "type leave leave"
                                                   << "4"
                                                   << "";
        QTest::newRow("another address") << "type leave address"
                                         << "-"
                                         << "Nie zapisano (próg odcięcia)";
        QTest::newRow("another port, seen as the page is left") << "type leave port check"
                                                                << "-"
                                                                << "Nie zapisano (próg odcięcia)";
        QTest::newRow("off-line, then the same meter") << "offline type leave"
                                                       << "4"
                                                       << "";
        QTest::newRow("off-line, then another meter") << "offline type leave address"
                                                      << "-"
                                                      << "Nie zapisano (próg odcięcia)";
    }
    void pendingWrites() {
        QFETCH(QString, steps);
        QFETCH(QString, sent);
        QFETCH(QString, shown);
        const QStringList list = steps.split(' ');
        if (!list.contains("offline")) connect();
        cycle->Editing.CutoffEditing = true; // the user is in the field
        for (const QString& step : list) {
            if (step == "type") cycle->FieldTyped(PollCycle::Field::Cutoff);
            if (step == "leave" && cycle->LeaveField(PollCycle::Field::Cutoff)) {
                QVERIFY(cycle->QueueCutoff(12.5, ","));
                QCOMPARE(view->pending, QStringLiteral("Czeka na zapis: próg odcięcia"));
            }
            if (step == "decode") {
                cycle->Editing.CutoffEditing =
                    false; // the field was left with an error: the read shows the meter's value
                scripts->last().finish();
                tick();
                pauseEnd();
            }
            if (step == "address") view->link.value->DeviceAddress = 2;
            if (step == "port") view->link.value->PortName = "COM2";
            if (step == "check") {
                const QString status = view->status;
                cycle->CheckWriteTargets();
                QVERIFY(view->dropped.startsWith(QStringLiteral("Nie zapisano (próg odcięcia)")));
                QCOMPARE(view->status, status); // the result line keeps its counters
            }
        }
        // Left, the field is the polling's again, whether something was queued or not.
        if (list.contains("leave")) QVERIFY(!cycle->Editing.CutoffEditing);
        if (list.contains("offline")) cycle->ConnectButton();
        // The transaction after the next pause carries what waits.
        scripts->last().finish();
        tick();
        pauseEnd();
        const auto& request = scripts->last().request;
        QCOMPARE(request.Staged == Write::None ? QStringLiteral("-") : QString::number(request.WriteRegister),
                 sent);
        // Dropped writes are told beside the result line, and nothing waits any more.
        QVERIFY2(shown.isEmpty() ? view->dropped.isEmpty() : view->dropped.startsWith(shown),
                 qPrintable(view->dropped));
        QVERIFY(view->pending.isEmpty());
    }

    // A dropped write gives its control back to the meter's last value, and
    // its message goes with the next write that succeeds.
    void droppedWriteGivesTheFieldBack_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("readFirst"); // a good read before the write was queued
        QTest::addColumn<QString>("shown");  // the given-back text of its control, "-": none given back
        QTest::newRow("cut-off") << "cutoff" << true << "0,0";
        QTest::newRow("alarm 1") << "alarm1" << true << "0";
        QTest::newRow("before any read: nothing known") << "cutoff" << false << "-";
    }
    void droppedWriteGivesTheFieldBack() {
        QFETCH(QString, what);
        QFETCH(bool, readFirst);
        QFETCH(QString, shown);
        connect();
        if (readFirst) {
            answerAsMeter(scripts->last());
            tick();
        }
        // The user edits and is back in the field as the write is dropped.
        cycle->Editing.CutoffEditing = cycle->Editing.Alarm1Editing = true;
        if (what == "cutoff") QVERIFY(cycle->QueueCutoff(12.5, ","));
        if (what == "alarm1") QVERIFY(cycle->QueueAlarm(1, 900, 0));
        cycle->Editing.CutoffEditing = cycle->Editing.Alarm1Editing = true;
        view->link.value->DeviceAddress = 2;
        cycle->CheckWriteTargets();
        QVERIFY(view->dropped.startsWith(QStringLiteral("Nie zapisano (")));
        QCOMPARE(view->givenBack.has_value(), shown != "-");
        if (view->givenBack) {
            const model::DeviceView& v = *view->givenBack;
            const auto& text = what == "cutoff" ? v.Cutoff : v.Alarm1;
            QCOMPARE(QString::fromStdString(text.value_or("<kept>")), shown);
            // The field given back is the polling's again; the other stays the user's.
            QCOMPARE(cycle->Editing.CutoffEditing, what != "cutoff");
            QCOMPARE(cycle->Editing.Alarm1Editing, what != "alarm1");
        }
        // A write for the meter now named goes through: the message goes.
        if (readFirst) {
            pauseEnd();
        }
        cycle->QueueTotaliserReset(reg::ReverseTotaliser);
        scripts->last().finish();
        tick();
        pauseEnd();
        QCOMPARE(scripts->last().request.WriteRegister, reg::ReverseTotaliser);
        QVERIFY(!view->dropped.isEmpty());
        scripts->last().finish();
        tick();
        QCOMPARE(view->dropped, QString());
    }

    // A port that cannot be opened is said once when the polling starts
    // failing on it and again when what a look at it finds changes; the
    // values shown are not current from the first failure to the next read.
    void portProblemsAndCurrentValues_data() {
        QTest::addColumn<QString>(
            "steps"); // g good read, s silent meter, u:X port unusable and X found, d disconnect
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<bool>("current"); // afterwards
        QTest::newRow("adapter unplugged after a read")
            << "g u:absent u:absent u:absent" << QStringList{"absent"} << false;
        QTest::newRow("what is found changes, then the meter answers")
            << "u:absent u:busy u:busy g" << QStringList{"absent", "busy", ""} << true;
        QTest::newRow("a silent meter on a port that opens") << "g s s" << QStringList() << false;
        QTest::newRow("port opens again, meter silent") << "u:absent s" << QStringList{"absent", ""} << false;
        QTest::newRow("disconnected") << "u:absent d" << QStringList{"absent", ""} << false;
    }
    void portProblemsAndCurrentValues() {
        QFETCH(QString, steps);
        QFETCH(QStringList, said);
        QFETCH(bool, current);
        QVERIFY(!view->current); // the window's start is no read
        connect();
        QCOMPARE(view->meter, QStringLiteral("COM1 9600 1"));
        for (const QString& step : steps.split(' ')) {
            if (step == "d") {
                cycle->ConnectButton();
                QCOMPARE(view->meter, QString());
                continue;
            }
            if (step == "g") {
                answerAsMeter(scripts->last());
                tick();
                QVERIFY(view->current);
                pauseEnd();
                continue;
            }
            scripts->last().portTrouble = step.startsWith("u:") ? step.mid(2).toStdString() : std::string();
            ticks(20); // the reply time-out
            QVERIFY(!view->current);
            ticks(2); // the next transaction
        }
        QCOMPARE(view->portProblems, said);
        QCOMPARE(view->current, current);
    }
};

QTEST_APPLESS_MAIN(TestPollCycle)
#include "tst_pollcycle.moc"
