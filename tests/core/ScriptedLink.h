// Scripted transactions, a clock the test moves and a view that records what
// a cycle shows, for stepping the shared cycles by hand: no thread, timer or
// port decides a test's outcome.
#pragma once

#include "core/CycleView.h"
#include "core/PollCycle.h"
#include "modbus/Frames.h"
#include "modbus/Transaction.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the test scripts for one transaction and what the cycle did with it.
// It outlives the transaction object, which the cycle drops to finish it.
struct Script {
    modbus::TransactionRequest request;
    bool done = false;
    modbus::Ending ending;
    std::string tx = "TX : [01]";
    std::string rx = "RX : ";
    bool signalled = false;  // told to stop waiting
    bool released = false;   // dropped by its cycle
    std::string portTrouble; // why its port could not be opened

    modbus::Kind kind() const {
        if (request.Staged != modbus::TransactionRequest::Write::None) return modbus::Kind::WriteRegisters;
        return request.Archive ? modbus::Kind::ReadFileRecord : modbus::Kind::ReadRegisters;
    }
    // Ends the transaction with this verdict; ending.reply holds what the
    // test put there.
    void finish(modbus::Status status = modbus::Status::Success, uint8_t detail = 0) {
        ending.kind = kind();
        ending.verdict = {status, detail};
        ending.trace = {tx, rx};
        done = true;
    }
    QString text() const { return QString::fromStdString(ending.Text()); }
};

class ScriptedTransaction final : public modbus::Transaction {
public:
    explicit ScriptedTransaction(std::shared_ptr<Script> script) : S(std::move(script)) {}
    // As a worker's handle: dropped while running, it is told to stop waiting.
    ~ScriptedTransaction() override {
        if (!S->done) S->signalled = true;
        S->released = true;
    }
    bool Done() const override { return S->done; }
    const modbus::Ending& Result() const override { return S->ending; }
    modbus::Trace TraceLines() const override { return {S->tx, S->rx}; }
    void SignalTimeout() override { S->signalled = true; }
    std::string PortTrouble() const override { return S->portTrouble; }

private:
    std::shared_ptr<Script> S;
};

// Hands out scripted transactions and checks that a new one starts only
// after every earlier one has been finished.
struct ScriptedLink {
    std::vector<std::shared_ptr<Script>> started;
    int overlaps = 0; // transactions started while an earlier one was not finished

    modbus::TransactionFactory factory() {
        return [this](const modbus::TransactionRequest& request) {
            // The one started last is enough: an earlier one not finished
            // was counted when that one started.
            if (!started.empty() && !started.back()->released) ++overlaps;
            auto script = std::make_shared<Script>();
            script->request = request;
            started.push_back(script);
            return std::make_unique<ScriptedTransaction>(script);
        };
    }
    Script& last() { return *started.back(); }
    size_t count() const { return started.size(); }
};

// A meter's good parameter read: version "V1.02", DN index 13 (DN 100).
inline void answerAsMeter(Script& s) {
    s.ending.reply.fill(0);
    const uint8_t head[] = {s.request.Link.DeviceAddress, 0x03, 54};
    std::copy(std::begin(head), std::end(head), s.ending.reply.begin());
    s.ending.reply[4] = 13;
    const char version[] = "V1.02";
    std::copy(std::begin(version), std::end(version) - 1, s.ending.reply.begin() + 47);
    modbus::AppendCrc(s.ending.reply.data(), 57);
    s.ending.bytesRead = 59;
    s.rx = modbus::TraceLine(modbus::kRxPrefix, s.ending.reply.data(), 59);
    s.finish();
}

// Records what a cycle asks of the window: the texts it shows and the events
// in order (status, trace, decode, error, ...). Base is the cycle's view
// interface.
template <class Base> class RecordingView : public Base {
public:
    QStringList log;
    QString status;
    QStringList trace;
    QStringList errors;
    bool diagnostics = false;
    int64_t now = 0;
    platform::OrReason<modbus::LinkSettings> link = defaultLink();
    platform::OrReason<int32_t> period{1000, {}};

    static platform::OrReason<modbus::LinkSettings> defaultLink() {
        modbus::LinkSettings l;
        l.PortName = "COM1";
        l.BaudRate = 9600;
        l.DeviceAddress = 1;
        return {l, {}};
    }

    int64_t NowMs() override { return now; }
    void SetStatus(const std::string& text) override {
        status = QString::fromStdString(text);
        log << QStringLiteral("status");
    }
    bool DiagnosticsOn() const override { return diagnostics; }
    void AppendTrace(const std::string& line) override {
        trace << QString::fromStdString(line);
        log << QStringLiteral("trace");
    }
    void ShowError(const std::string& text) override {
        errors << QString::fromStdString(text);
        log << QStringLiteral("error");
    }
    platform::OrReason<modbus::LinkSettings> ReadLink() override { return link; }
    platform::OrReason<int32_t> ReadPeriod() override { return period; }
    std::string DecimalSeparator() override { return ","; }
    // The log since the last call.
    QStringList take() {
        QStringList out;
        out.swap(log);
        return out;
    }
};

// The polling cycle's view, recording as RecordingView does.
class PollRecorder : public RecordingView<core::PollView> {
public:
    int decodes = 0;
    model::DeviceView decoded; // what the last decode showed
    model::CachedIndexes restored{9, 9, 9, 9, 9, 9};
    QString caption;
    bool editable = false;
    QStringList failed;                         // what TransactionFailed was told
    QString pending;                            // what the window would show as waiting
    QString dropped;                            // what it would show of dropped writes
    std::optional<model::DeviceView> givenBack; // the texts of the last give-back
    std::vector<uint8_t> givenBackRegisters;
    bool current = false;     // the values shown are the meter's now
    QString meter;            // "COM1 9600 1", empty off-line
    QStringList portProblems; // every port problem said, in order

    void ShowParameters(const model::DeviceView& d, const model::MeterReading&,
                        const model::ParameterBlock&) override {
        ++decodes;
        decoded = d;
        log << QStringLiteral("decode");
    }
    void TransactionFailed(const std::string& why) override { failed << QString::fromStdString(why); }
    void SetConnectCaption(const std::string& c) override { caption = QString::fromStdString(c); }
    void SetListsEditable(bool e) override { editable = e; }
    void RestoreSelections(const model::CachedIndexes& i) override {
        restored = i;
        log << QStringLiteral("restore");
    }
    void ShowPendingWrites(const std::string& text) override { pending = QString::fromStdString(text); }
    void ShowDroppedWrites(const std::string& text) override { dropped = QString::fromStdString(text); }
    void GiveBack(const model::DeviceView& again, const std::vector<uint8_t>& registers) override {
        givenBack = again;
        givenBackRegisters = registers;
    }
    void ValuesCurrent(bool c) override { current = c; }
    void ShowMeter(const std::optional<modbus::LinkSettings>& l) override {
        meter = l ? QStringLiteral("%1 %2 %3")
                        .arg(QString::fromStdString(l->PortName))
                        .arg(l->BaudRate)
                        .arg(l->DeviceAddress)
                  : QString();
    }
    void ShowPortProblem(const std::string& text) override { portProblems << QString::fromStdString(text); }
};
