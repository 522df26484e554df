// Scripted transactions and a recording view for stepping the window's
// cycles by hand: no thread, timer or port decides a test's outcome.
#pragma once

#include "core/CycleView.h"
#include "core/PollCycle.h"
#include "modbus/Transaction.h"

#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <string>
#include <vector>

// What the test scripts for one transaction and what the cycle did with it.
// It outlives the transaction object, which the cycle drops on release.
struct Script {
    modbus::TransactionRequest request;
    bool done = false;
    std::string result;
    std::array<uint8_t, 512> reply{};
    std::string tx = "TX : [01]";
    std::string rx = "RX : ";
    // What the cycle did, in order ("timeout", "clear", "release"), and any
    // call after the release (which must never happen).
    QStringList calls;
    bool released = false;
    bool destroyed = false;

    void finish(std::string_view text) {
        result = std::string(text);
        done = true;
    }
};

class ScriptedTransaction final : public modbus::Transaction {
public:
    explicit ScriptedTransaction(std::shared_ptr<Script> script) : S(std::move(script)) {}
    ~ScriptedTransaction() override { S->destroyed = true; }
    bool Done() const override { return S->done; }
    std::string Result() const override { return S->result; }
    const uint8_t* Reply() const override { return S->reply.data(); }
    modbus::Trace TraceLines() const override { return {S->tx, S->rx}; }
    void ClearDone() override {
        note("clear");
        S->done = false;
    }
    void SignalTimeout() override { note("timeout"); }
    void Release() override {
        note("release");
        S->released = true;
    }

private:
    void note(const char* what) {
        S->calls << (S->released ? QStringLiteral("AFTER RELEASE ") : QString()) + what;
    }
    std::shared_ptr<Script> S;
};

// Hands out scripted transactions and checks that a new one starts only
// after every earlier one has been released.
struct ScriptedLink {
    std::vector<std::shared_ptr<Script>> started;
    int overlaps = 0; // transactions started while an earlier one was not released

    modbus::TransactionFactory factory() {
        return [this](const modbus::TransactionRequest& request) {
            for (const auto& s : started)
                if (!s->released) ++overlaps;
            auto script = std::make_shared<Script>();
            script->request = request;
            started.push_back(script);
            return std::make_unique<ScriptedTransaction>(script);
        };
    }
    Script& last() { return *started.back(); }
};

// Records what a cycle asks of the window, one text per call. Base is the
// cycle's view interface.
template <class Base> class RecordingView : public Base {
public:
    QStringList log;
    QString status;
    QStringList trace;
    QStringList errors;
    bool diagnostics = false;
    platform::Reading<modbus::LinkSettings> link = defaultLink();
    platform::Reading<int32_t> period{1000, {}};

    static platform::Reading<modbus::LinkSettings> defaultLink() {
        modbus::LinkSettings l;
        l.PortName = "COM1";
        l.BaudRate = 9600;
        l.DeviceAddress = 1;
        return {l, {}};
    }
    static QString name(core::TimerId id) { return QStringLiteral("Timer%1").arg(static_cast<int>(id) + 1); }

    void SetStatus(const std::string& text) override {
        status = QString::fromStdString(text);
        log << QStringLiteral("status");
    }
    bool DiagnosticsOn() const override { return diagnostics; }
    void AppendTrace(const std::string& line) override {
        trace << QString::fromStdString(line);
        log << QStringLiteral("trace");
    }
    void StartTimer(core::TimerId id, int ms) override {
        log << (ms < 0 ? QStringLiteral("start %1").arg(name(id))
                       : QStringLiteral("start %1 %2ms").arg(name(id)).arg(ms));
    }
    void StopTimer(core::TimerId id) override { log << QStringLiteral("stop %1").arg(name(id)); }
    void ShowError(const std::string& text) override {
        errors << QString::fromStdString(text);
        log << QStringLiteral("error");
    }
    platform::Reading<modbus::LinkSettings> ReadLink() override { return link; }
    platform::Reading<int32_t> ReadPeriod() override { return period; }
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

    void ShowParameters(const model::DeviceView& d, const model::ParameterBlock&) override {
        ++decodes;
        decoded = d;
        log << QStringLiteral("decode");
    }
    void SetConnectCaption(const std::string& c) override {
        caption = QString::fromStdString(c);
        log << QStringLiteral("caption");
    }
    void SetListsEditable(bool e) override {
        editable = e;
        log << (e ? QStringLiteral("editable") : QStringLiteral("pick-only"));
    }
    void RestoreSelections(const model::CachedIndexes& i) override {
        restored = i;
        log << QStringLiteral("restore");
    }
    void ShowPendingWrites(const std::string& text) override { pending = QString::fromStdString(text); }
    QString pending; // what the window would show as waiting
};
