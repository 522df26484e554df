// The real transactions behind the cycles' seam: ModbusRead workers, with a
// request staged into each suspended worker before it starts.
#pragma once

#include "modbus/Modbus.h"
#include "modbus/Transaction.h"

#include <cstdint>
#include <memory>

namespace modbus {

// Turn a created, not yet started worker into a function-16 write. The data
// go to RxBuffer from byte 256 on, high byte first.
void StageLongWrite(ModbusRead& worker, uint8_t reg, int32_t value);
void StageShortWrite(ModbusRead& worker, uint8_t reg, uint8_t high, uint8_t low);

// A ModbusRead worker behind the cycles' seam. The handle owns the caller's
// reference: Release() lets the worker end and drops it, and a handle
// destroyed without Release() gives the worker up (time-out, then release),
// so that no worker is ever left waiting.
class WorkerTransaction final : public Transaction {
public:
    explicit WorkerTransaction(std::shared_ptr<ModbusRead> worker);
    ~WorkerTransaction() override;

    bool Done() const override;
    std::string Result() const override;
    const uint8_t* Reply() const override;
    Trace TraceLines() const override;
    void ClearDone() override;
    void SignalTimeout() override;
    void Release() override;

private:
    std::shared_ptr<ModbusRead> Worker;
};

// Creates a suspended worker, sets its port settings and address, stages the
// write or the archive request, and starts it.
std::unique_ptr<Transaction> StartWorker(const TransactionRequest& request);

} // namespace modbus
