// The seam between the window's cycles and the worker: a started
// transaction as the cycles see it. The program's transactions are ModbusRead
// workers (see Worker.h); the cycles' tests hand out scripted ones, so
// that no thread or timer decides a test's outcome.
#pragma once

#include "modbus/Frames.h"
#include "modbus/LinkSettings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace modbus {

// How long a worker waits for its reply at most: well past its cycle's own
// time-out (which comes at the end of the tick on which it falls), so that
// the cycle always decides while it runs.
constexpr int32_t WorkerDeadlineMs(int32_t timeoutMs) {
    return 2 * (timeoutMs > 0 ? timeoutMs : 0) + 500;
}

// What a new transaction is to do: the parameter read unless a write is
// staged (slot A: two registers, slot B: one) or an archive record is asked for.
struct TransactionRequest {
    enum class Write { None, Long, Short };

    LinkSettings Link;
    Write Staged = Write::None;
    uint8_t WriteRegister = 0; // 1-based
    int32_t LongValue = 0;
    uint8_t ShortHigh = 0;
    uint8_t ShortLow = 0;
    bool Archive = false;
    uint8_t ArchiveFile = 0;
    int32_t ArchiveRecord = 0;
    // Silence the line must keep before the request goes out, counted from
    // its last byte (0: none): QuietMs after a failure, QuietUs for the gap
    // between frames; the longer one holds.
    uint32_t QuietMs = 0;
    uint32_t QuietUs = 0;
    // Called from the transaction's own thread once it is done.
    std::function<void()> OnDone;
};

// What a finished transaction hands its cycle: how it ended, the reply's
// bytes and the two trace lines.
struct Ending {
    Kind kind = Kind::ReadRegisters;
    Verdict verdict;
    std::array<uint8_t, kRxBufferSize> reply{}; // from byte 0
    size_t bytesRead = 0;
    Trace trace;

    bool Succeeded() const { return verdict.status == Status::Success; }
    std::string Text() const { return ResultText(kind, verdict); }
};

// A started transaction. Done() publishes Result(), which is read only after
// Done() returned true; TraceLines() may be taken at any time (a time-out
// takes them from a running worker). Dropping the object finishes the
// transaction: a done one is released, a running one is told to stop
// waiting and released, and it then ends on its own.
class Transaction {
public:
    virtual ~Transaction() = default;
    virtual bool Done() const = 0;
    virtual const Ending& Result() const = 0;
    virtual Trace TraceLines() const = 0;
    // Ends the wait for the reply; the transaction then finishes on its own.
    virtual void SignalTimeout() = 0;
    // Why the port could not be used, in the words of its probe ("… brak
    // takiego urządzenia"); empty while it could. May be asked at any time.
    virtual std::string PortTrouble() const { return {}; }
};

// Creates and starts one transaction.
using TransactionFactory = std::function<std::unique_ptr<Transaction>(const TransactionRequest&)>;

} // namespace modbus
