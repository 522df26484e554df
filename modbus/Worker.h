// The real transactions behind the cycles' seam: ModbusRead workers, with a
// request staged into each suspended worker before it starts.
#pragma once

#include "modbus/Modbus.h"
#include "modbus/Transaction.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace modbus {

// Turn a created, not yet started worker into a function-16 write. The data
// go to RxBuffer from byte 256 on, high byte first.
void StageLongWrite(ModbusRead& worker, uint8_t reg, int32_t value);
void StageShortWrite(ModbusRead& worker, uint8_t reg, uint8_t high, uint8_t low);

// A ModbusRead worker behind the cycles' seam. The handle owns the caller's
// reference: dropping it lets the worker end (a running worker is told to
// stop waiting first), so that no worker is ever left waiting.
class WorkerTransaction final : public Transaction {
public:
    explicit WorkerTransaction(std::shared_ptr<ModbusRead> worker);
    ~WorkerTransaction() override;

    bool Done() const override;
    const Ending& Result() const override;
    Trace TraceLines() const override;
    void SignalTimeout() override;
    std::string PortTrouble() const override;

private:
    std::shared_ptr<ModbusRead> Worker;
    mutable std::optional<Ending> Taken; // copied once, after TransactionDone
};

// Sets a suspended worker's port settings, address and reply deadline,
// stages the write or the archive request, and starts it.
std::unique_ptr<Transaction> StartWorker(std::shared_ptr<ModbusRead> worker,
                                         const TransactionRequest& request);

} // namespace modbus
