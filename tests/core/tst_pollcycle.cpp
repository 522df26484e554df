// The polling cycle stepped tick by tick with scripted transactions.
#include "ScriptedLink.h"

#include "core/PollCycle.h"
#include "modbus/Frames.h"

#include <QTest>

using namespace core;
using State = PollCycle::State;

namespace {

const QString kRead = QString::fromUtf8(modbus::kReadSuccess.data(), qsizetype(modbus::kReadSuccess.size()));

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

    void ticks(int n) {
        for (int i = 0; i < n; ++i) cycle->Tick();
    }
    void connect() {
        cycle->ConnectButton();
        QCOMPARE(cycle->state(), State::Running);
        view->take();
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
        for (const auto& s : scripts->started) {
            QVERIFY(s->released);
            QVERIFY(!s->calls.join(',').contains(QStringLiteral("AFTER RELEASE")));
        }
    }

    void connectStartsAReadAndTheTick() {
        queueBoth(); // pending writes wait for the transactions after the first
        cycle->ConnectButton();
        QCOMPARE(view->take(), QStringList({"editable", "stop Timer2", "start Timer1", "caption"}));
        QVERIFY(cycle->Connected());
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
        scripts->last().finish(modbus::kReadSuccess);
        link->GoodReplies = 4;
        link->BadReplies = 2;
        view->diagnostics = true;
        cycle->Tick();
        QCOMPARE(view->status, resultLine(kRead, 4, 2)); // the counters before this reply
        QCOMPARE(view->take(),
                 QStringList({"status", "stop Timer1", "trace", "trace", "decode", "start Timer2 1000ms"}));
        QCOMPARE(view->trace, QStringList({"TX : [01]", "RX : "}));
        QCOMPARE(link->GoodReplies, 5);
        QCOMPARE(cycle->PollTicks, 0);
        QCOMPARE(scripts->last().calls, QStringList({"clear", "release"}));
        QCOMPARE(cycle->state(), State::Pause);
        QVERIFY(!link->ActiveRead);

        cycle->Tick(); // a stray tick of the stopped timer changes nothing
        QCOMPARE(view->take(), QStringList());
        cycle->PauseEnd();
        QCOMPARE(view->take(), QStringList({"start Timer1", "stop Timer2"}));
        QCOMPARE(scripts->started.size(), size_t{2});
        ticks(2);
        scripts->last().finish(modbus::kReadSuccess);
        cycle->Tick();
        QCOMPARE(view->status, resultLine(kRead, 5, 2));
    }

    void noReplyTimesOutAndRestartsWithoutPause() {
        connect();
        view->diagnostics = true;
        ticks(19);
        QCOMPARE(view->take(), QStringList());
        cycle->Tick(); // 20
        QCOMPARE(view->take(), QStringList({"stop Timer1", "status", "trace", "trace", "start Timer1"}));
        QCOMPARE(view->status, timeoutLine(0, 0));
        QCOMPARE(link->BadReplies, 1);
        QCOMPARE(scripts->started.front()->calls, QStringList({"timeout", "release"}));
        QCOMPARE(cycle->state(), State::AfterTimeout);
        cycle->Tick(); // 21
        QCOMPARE(view->take(), QStringList());
        cycle->Tick(); // 22
        QCOMPARE(view->take(), QStringList({"stop Timer1", "start Timer1"}));
        QCOMPARE(scripts->started.size(), size_t{2});
        QCOMPARE(cycle->PollTicks, 0);
        QCOMPARE(cycle->state(), State::Running);
    }

    void completionOnTick20IsATimeout() {
        connect();
        ticks(19);
        scripts->last().finish(modbus::kReadSuccess);
        cycle->Tick();
        QCOMPARE(view->status, timeoutLine(0, 0));
        QCOMPARE(link->GoodReplies, 0);
        QCOMPARE(link->BadReplies, 1);
        QCOMPARE(view->decodes, 0);
        ticks(2);
        QCOMPARE(scripts->started.size(), size_t{2});
    }

    void errorAndWriteCompletionsPauseWithoutDecode_data() {
        QTest::addColumn<QString>("result");
        QTest::newRow("write") << QString::fromUtf8(modbus::kWriteSuccess.data(),
                                                    qsizetype(modbus::kWriteSuccess.size()));
        QTest::newRow("crc") << QStringLiteral("Błąd CRC");
        QTest::newRow("exception") << QStringLiteral("Niedozwolona funkcja");
    }
    void errorAndWriteCompletionsPauseWithoutDecode() {
        QFETCH(QString, result);
        connect();
        ticks(3);
        scripts->last().finish(result.toStdString());
        cycle->Tick();
        QCOMPARE(view->take(), QStringList({"status", "stop Timer1", "start Timer2 1000ms"}));
        QCOMPARE(view->decodes, 0);
        QCOMPARE(link->GoodReplies, 1);
        // Nothing counts on during the pause; exactly one transaction follows it.
        ticks(25);
        QCOMPARE(scripts->started.size(), size_t{1});
        QCOMPARE(link->BadReplies, 0);
        cycle->PauseEnd();
        cycle->PauseEnd();
        QCOMPARE(scripts->started.size(), size_t{2});
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
                scripts->last().finish(modbus::kWriteSuccess);
                cycle->Tick();
                cycle->PauseEnd();
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
        QCOMPARE(view->take(),
                 QStringList({"caption", "status", "stop Timer2", "stop Timer1", "restore", "pick-only"}));
        QCOMPARE(scripts->last().calls, QStringList({"timeout", "release"}));
        QCOMPARE(view->status, QStringLiteral("Przepływomierz nie podłączony - praca w trybie off-line"));
        QCOMPARE(view->caption, QStringLiteral("Połącz z przepływomierzem"));
        QCOMPARE(link->GoodReplies, 0);
        QCOMPARE(link->BadReplies, 0);
        QVERIFY(view->restored == cycle->Cached);
        QVERIFY(!cycle->Connected() && !link->ActiveRead);
        ticks(30);
        cycle->PauseEnd();
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
        QCOMPARE(view->errors.first().left(5), QString(badLink ? "Adres" : "Okres"));
        QVERIFY(scripts->started.empty() && !cycle->Connected());

        view->link = RecordingView<PollView>::defaultLink();
        view->period = {1000, {}};
        cycle->Slots.LongWritePending = true;
        connect();
        refuse(); // the setting goes bad while connected: shown once, then off-line
        scripts->last().finish(modbus::kReadSuccess);
        cycle->Tick();
        if (badLink) cycle->PauseEnd();
        QCOMPARE(view->errors.size(), 2);
        QCOMPARE(view->log.last(), QStringLiteral("error"));
        QCOMPARE(cycle->state(), State::Offline);
        QVERIFY(!cycle->Connected());
        QCOMPARE(scripts->started.size(), size_t{1});
        QVERIFY(cycle->Slots.LongWritePending); // the write waits for the next connect
        ticks(25);
        cycle->PauseEnd();
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
                scripts->last().finish(modbus::kReadSuccess);
                cycle->Tick();
                cycle->PauseEnd();
            }
            if (step == "address") view->link.value->DeviceAddress = 2;
            if (step == "port") view->link.value->PortName = "COM2";
            if (step == "check") {
                cycle->CheckWriteTargets();
                QVERIFY(view->status.startsWith(QStringLiteral("Nie zapisano (próg odcięcia)")));
            }
        }
        // Left, the field is the polling's again, whether something was queued or not.
        if (list.contains("leave")) QVERIFY(!cycle->Editing.CutoffEditing);
        if (list.contains("offline")) cycle->ConnectButton();
        // The transaction after the next pause carries what waits.
        scripts->last().finish(modbus::kReadSuccess);
        cycle->Tick();
        cycle->PauseEnd();
        const auto& request = scripts->last().request;
        QCOMPARE(request.Staged == Write::None ? QStringLiteral("-") : QString::number(request.WriteRegister),
                 sent);
        // Dropped writes are told beside the status text, which the next result overwrites.
        QVERIFY2(shown.isEmpty() ? view->pending.isEmpty() : view->pending.startsWith(shown),
                 qPrintable(view->pending));
    }
};

QTEST_APPLESS_MAIN(TestPollCycle)
#include "tst_pollcycle.moc"
