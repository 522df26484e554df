// What passes between the data model and a ModbusRead worker: the two write
// slots, staged into a suspended worker, and the reply copied out of a
// finished one.
#pragma once

#include "ParameterBlock.h"

#include <Modbus.h>
#include <Transaction.h>

#include <cstdint>

namespace model {

// Pending writes of the main window. Slot A carries two registers, slot B one;
// the polling cycle hands at most one slot to each new worker.
struct WriteSlots {
    bool LongWritePending = false;
    int32_t LongWriteValue = 0;
    uint8_t LongWriteRegister = 0; // first of the two registers, 1-based
    bool ShortWritePending = false;
    uint8_t ShortWriteHigh = 0;
    uint8_t ShortWriteLow = 0;
    uint8_t ShortWriteRegister = 0; // 1-based
};

// Turn a created, not yet started worker into a function-16 write. The data
// go to RxBuffer from byte 256 on, high byte first.
void StageLongWrite(modbus::ModbusRead& worker, uint8_t reg, int32_t value);
void StageShortWrite(modbus::ModbusRead& worker, uint8_t reg, uint8_t high, uint8_t low);

// The first 256 bytes of a finished read's reply buffer.
ParameterBlock CopyParameterBlock(const modbus::ModbusRead& worker);
ParameterBlock CopyParameterBlock(const uint8_t* reply);

// A ModbusRead worker behind the cycles' seam. The handle owns the caller's
// reference: Release() lets the worker end and drops it, and a handle
// destroyed without Release() gives the worker up (time-out, then release),
// so that no worker is ever left waiting.
class WorkerTransaction final : public modbus::Transaction {
public:
    explicit WorkerTransaction(std::shared_ptr<modbus::ModbusRead> worker);
    ~WorkerTransaction() override;

    bool Done() const override;
    std::string Result() const override;
    const uint8_t* Reply() const override;
    Trace TraceLines() const override;
    void ClearDone() override;
    void SignalTimeout() override;
    void Release() override;

private:
    std::shared_ptr<modbus::ModbusRead> Worker;
};

// Creates a suspended worker, sets its port settings and address, stages the
// write or the archive request, and starts it.
std::unique_ptr<modbus::Transaction> StartWorker(const modbus::TransactionRequest& request);

} // namespace model
