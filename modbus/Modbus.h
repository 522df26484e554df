// One MODBUS transaction on a thread of its own.
//
// Life of a worker: Create() (suspended) -> the caller fills the parameter
// fields -> Start() -> the worker runs exactly one transaction, sets
// TransactionDone and waits for Release() -> it ends and frees itself.
// The caller holds a shared_ptr until it releases the worker and then drops
// it; the running thread holds its own reference, so the object lives until
// both are gone and a dropped pointer never dangles.
#pragma once

#include "modbus/Frames.h"
#include "platform/Wake.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace modbus {

class LinkCore;
class Line;

class ModbusRead : public std::enable_shared_from_this<ModbusRead> {
public:
    // Made by its Link (Link::CreateWorker), whose lines and threads it uses.
    static std::shared_ptr<ModbusRead> Create(std::shared_ptr<LinkCore> link);
    ~ModbusRead();
    ModbusRead(const ModbusRead&) = delete;
    ModbusRead& operator=(const ModbusRead&) = delete;

    // Parameters: written by the caller before Start() only.
    void SetPortSettings(std::string portName, uint32_t baudRate, uint8_t dataBits, uint8_t stopBits,
                         uint8_t parity);
    uint8_t DeviceAddress = 0;
    uint8_t WriteRegister = 0;
    uint8_t WriteCount = 0;
    int32_t WriteRequested = 0;
    int32_t ArchiveRequested = 0;
    uint8_t ArchiveFile = 0;
    int32_t ArchiveRecord = 0;
    // Before the request goes out, wait until the line has been silent this
    // long, dropping what arrives: a reply that came after its requester gave
    // up must not be taken for this request's reply. 0: no wait.
    uint32_t QuietMs = 0;
    uint32_t QuietUs = 0; // the same to the microsecond; the longer one holds
    // The longest wait for the reply, counted from the request's sending
    // (-1: until TimedOut). A backstop: the caller declares its own
    // time-out earlier and signals it.
    int32_t ReplyDeadlineMs = -1;
    // Called on the worker's thread right after TransactionDone is set, so
    // that the caller can look at once instead of at its next tick.
    std::function<void()> OnDone;
    // Bytes 256.. carry write data (caller, before Start); bytes 0.. the reply
    // (worker; read by the caller only after TransactionDone).
    uint8_t RxBuffer[kRxBufferSize] = {};

    // Starts the thread; call once.
    void Start();

    // Ends the wait for the reply (value -1 by convention).
    void SignalTimeout(int32_t value);
    // Lets the worker end; the caller must not touch the object afterwards.
    void Release();

    // -1 once ResultText, TxLine, RxLine and RxBuffer are final (acquire load).
    int32_t TransactionDoneFlag() const { return TransactionDone.load(std::memory_order_acquire); }
    void ClearTransactionDone() { TransactionDone.store(0, std::memory_order_release); }

    // Valid only after TransactionDone has been seen set.
    const std::string& Result() const { return ResultText; }
    Verdict Judgement() const { return Judged; }
    Kind TransactionKind() const { return Performed; }
    size_t BytesReadCount() const { return BytesRead; }

    // Consistent copies of the two trace lines; safe while the worker runs.
    Trace TraceLines() const;
    // Why the port could not be opened, in the probe's words; empty when it
    // could (or before the worker has tried). Safe while the worker runs.
    std::string PortTrouble() const;

private:
    explicit ModbusRead(std::shared_ptr<LinkCore> link);
    void RunTransaction();
    void Exchange(Kind kind);
    size_t BuildRequest(Kind kind);
    void WaitForReply(Kind kind, Line* line);
    void WaitForRelease();
    void SetTx(std::string line);
    void SetRx(std::string line);
    void AppendRx(const std::vector<uint8_t>& wire);
    void ReadWaiting(Line& line, bool hinted);

    std::shared_ptr<LinkCore> Core;
    std::optional<std::chrono::steady_clock::time_point> Deadline; // by when it will have ended
    uint8_t TxBuffer[kTxBufferSize] = {};
    std::atomic<int32_t> TimedOut{0};
    mutable std::mutex TraceMutex; // TxLine and RxLine are copied by the caller at a time-out
    std::string TxLine;
    std::string RxLine;
    std::string PortProblem; // under TraceMutex
    std::string ResultText;
    Verdict Judged;
    Kind Performed = Kind::ReadRegisters;
    bool DeadlinePassed = false; // the wait ended at ReplyDeadlineMs
    std::atomic<int32_t> Released{0};
    std::atomic<int32_t> TransactionDone{0};
    size_t BytesRead = 0;

    uint32_t BaudRate = 0;
    uint8_t DataBits = 0;
    uint8_t StopBits = 0;
    uint8_t Parity = 0;
    std::string PortName;

    platform::Wake WakeUp; // SignalTimeout and Release wake the blocked worker
    bool Started = false;
};

} // namespace modbus
