#include "modbus/Modbus.h"
#include "modbus/Line.h"
#include "modbus/LinkCore.h"
#include "modbus/PortName.h"

#include <algorithm>
#include <string>

namespace modbus {

namespace {
// How long a worker may take from its start to its end, beyond its reply
// deadline: the wait for its turn on the port, a gateway's connect, the
// quiet before the request, and a little to close and hand over.
std::chrono::milliseconds Allowance(const std::string& port, uint32_t quietMs, int32_t replyDeadlineMs) {
    constexpr int32_t kWithoutDeadlineMs = 10000; // a worker driven by hand is told to stop
    const int32_t reply = replyDeadlineMs >= 0 ? replyDeadlineMs : kWithoutDeadlineMs;
    const int32_t connect = IsGatewayName(port) ? kConnectTimeoutMs + 1000 : 0; // and one resend
    return LinkCore::kTurnLimit + std::chrono::milliseconds(connect + int64_t{quietMs} + reply + 500);
}
} // namespace

std::shared_ptr<ModbusRead> ModbusRead::Create(std::shared_ptr<LinkCore> link) {
    return std::shared_ptr<ModbusRead>(new ModbusRead(std::move(link)));
}

ModbusRead::ModbusRead(std::shared_ptr<LinkCore> link) : Core(std::move(link)) {
    Core->Born();
}

ModbusRead::~ModbusRead() {
    Core->Died(Deadline);
}

void ModbusRead::SetPortSettings(std::string portName, uint32_t baudRate, uint8_t dataBits, uint8_t stopBits,
                                 uint8_t parity) {
    PortName = std::move(portName);
    BaudRate = baudRate;
    DataBits = dataBits;
    StopBits = stopBits;
    Parity = parity;
}

void ModbusRead::Start() {
    if (Started) return;
    Started = true;
    Deadline = std::chrono::steady_clock::now() +
               Allowance(PortName, QuietMs + (QuietUs + 999) / 1000, ReplyDeadlineMs);
    Core->Started(*Deadline);
    // The thread's own reference keeps the object alive until the
    // transaction is over and the worker has been released.
    Core->Run([self = shared_from_this()] { self->RunTransaction(); });
}

void ModbusRead::SignalTimeout(int32_t value) {
    TimedOut.store(value, std::memory_order_release);
    WakeUp.Set();
}

void ModbusRead::Release() {
    Released.store(-1, std::memory_order_release);
    WakeUp.Set();
}

Trace ModbusRead::TraceLines() const {
    std::lock_guard lock(TraceMutex);
    return Trace{TxLine, RxLine};
}

std::string ModbusRead::PortTrouble() const {
    std::lock_guard lock(TraceMutex);
    return PortProblem;
}

void ModbusRead::SetTx(std::string line) {
    std::lock_guard lock(TraceMutex);
    TxLine = std::move(line);
}

void ModbusRead::SetRx(std::string line) {
    std::lock_guard lock(TraceMutex);
    RxLine = std::move(line);
}

void ModbusRead::AppendRx(const std::vector<uint8_t>& wire) {
    if (wire.empty()) return;
    std::lock_guard lock(TraceMutex);
    AppendTraceGroups(RxLine, wire.data(), wire.size());
}

void ModbusRead::RunTransaction() {
    Kind kind = Kind::ReadRegisters;
    if (WriteRequested != 0) {
        WriteRequested = 0;
        kind = Kind::WriteRegisters;
    } else if (ArchiveRequested != 0) {
        ArchiveRequested = 0;
        kind = Kind::ReadFileRecord;
    }
    Performed = kind;
    Exchange(kind);
    WaitForRelease();
}

void ModbusRead::Exchange(Kind kind) {
    // An unusable line leaves every later step without effect: the wait then
    // ends only by TimedOut and the verdict is the time-out text.
    LineLease lease = Core->Take(PortName);
    Line* line = lease.Held.get();
    const bool opened = line != nullptr && line->Open(WakeUp);
    if (!opened) {
        // Counted as a time-out all the same; the line's own words say why.
        std::string why = line != nullptr ? line->Trouble() : std::string(ParsePortName(PortName).error);
        std::lock_guard lock(TraceMutex);
        PortProblem = std::move(why);
    }
    if (line != nullptr && line->TakeReopened()) Core->Notice(PortName, LineEvent::Reopened);
    TransactionDone.store(0, std::memory_order_release);
    if (opened) {
        const uint8_t stopBits = kind == Kind::WriteRegisters ? StopBits : kTwoStopBits;
        line->Configure(LinkSettings{PortName, BaudRate, Parity, stopBits, DeviceAddress}, kind, stopBits);
        line->Quiet(WakeUp,
                    std::max<std::chrono::microseconds>(std::chrono::microseconds(QuietUs),
                                                        std::chrono::milliseconds(QuietMs)),
                    TimedOut);
    }

    const size_t length = BuildRequest(kind);
    std::vector<uint8_t> wire(TxBuffer, TxBuffer + length);
    if (opened) line->Send(TxBuffer, length, wire);
    SetTx(TraceLine(kTxPrefix, wire.data(), wire.size()));

    BytesRead = 0;
    SetRx(std::string(kRxPrefix));
    WaitForReply(kind, opened ? line : nullptr);
    // A connection dropped as the request went out is made anew and the
    // request sent again: said as well.
    if (line != nullptr && line->TakeReopened()) Core->Notice(PortName, LineEvent::Reopened);

    const bool timedOut = TimedOut.load(std::memory_order_acquire) != 0 || DeadlinePassed;
    Judged = Judge(kind, BytesRead, timedOut, RxBuffer, DeviceAddress);
    // A wait that ended without a byte and without a time-out keeps the text.
    if (Judged.status != Status::NoReply) ResultText = modbus::ResultText(kind, Judged);
    Core->Give(std::move(lease));
    TransactionDone.store(-1, std::memory_order_release);
    if (OnDone) OnDone();
}

size_t ModbusRead::BuildRequest(Kind kind) {
    switch (kind) {
    case Kind::ReadRegisters:
        return BuildReadRequest(TxBuffer, DeviceAddress, 1, 27);
    case Kind::ReadFileRecord:
        return BuildFileRecordRequest(TxBuffer, DeviceAddress, ArchiveFile, ArchiveRecord);
    case Kind::WriteRegisters:
        return BuildWriteRequest(TxBuffer, DeviceAddress, WriteRegister, WriteCount,
                                 RxBuffer + kWriteDataOffset);
    }
    return 0;
}

void ModbusRead::ReadWaiting(Line& line, bool hinted) {
    if (BytesRead >= kRxBufferSize) return;
    std::vector<uint8_t> wire;
    BytesRead += line.Read(RxBuffer + BytesRead, kRxBufferSize - BytesRead, hinted, wire);
    AppendRx(wire);
}

void ModbusRead::WaitForReply(Kind kind, Line* line) {
    const size_t expected = Params(kind).expectedLength;
    const auto start = std::chrono::steady_clock::now();
    // -1 while there is no deadline; else what is left of it, at least 0.
    const auto left = [&]() -> int {
        if (ReplyDeadlineMs < 0) return -1;
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return static_cast<int>(std::max<int64_t>(0, ReplyDeadlineMs - spent.count()));
    };
    bool readable = line != nullptr;
    for (;;) {
        if (line != nullptr) ReadWaiting(*line, readable);
        if (BytesRead >= expected) return;
        if (TimedOut.load(std::memory_order_acquire) != 0) return;
        // Only a whole exception reply ends the wait early; a longer reply
        // seen at its fifth byte (slow line, bursty adapter) is waited for.
        if (IsCompleteException(kind, RxBuffer, BytesRead)) return;
        const int wait = left();
        if (wait == 0) {
            DeadlinePassed = true;
            return;
        }
        if (line == nullptr) {
            WakeUp.Wait(wait);
            continue;
        }
        const Line::WaitResult seen = line->WaitForInput(WakeUp, wait);
        readable = seen.readable;
        // A hung-up line brings nothing more: wait for TimedOut alone, and
        // let the next transaction open it anew (an adapter plugged back in).
        if (seen.gone) {
            line->Close();
            line = nullptr;
        }
    }
}

void ModbusRead::WaitForRelease() {
    while (Released.load(std::memory_order_acquire) == 0) WakeUp.Wait(-1);
}

} // namespace modbus
