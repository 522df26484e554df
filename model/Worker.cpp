#include "Worker.h"

#include <algorithm>

namespace model {

void StageLongWrite(modbus::ModbusRead& worker, uint8_t reg, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    uint8_t* data = worker.RxBuffer + modbus::kWriteDataOffset;
    data[0] = static_cast<uint8_t>(v >> 24);
    data[1] = static_cast<uint8_t>(v >> 16);
    data[2] = static_cast<uint8_t>(v >> 8);
    data[3] = static_cast<uint8_t>(v);
    worker.WriteRegister = reg;
    worker.WriteCount = 2;
    worker.WriteRequested = -1;
}

void StageShortWrite(modbus::ModbusRead& worker, uint8_t reg, uint8_t high, uint8_t low) {
    uint8_t* data = worker.RxBuffer + modbus::kWriteDataOffset;
    data[0] = high;
    data[1] = low;
    worker.WriteRegister = reg;
    worker.WriteCount = 1;
    worker.WriteRequested = -1;
}

ParameterBlock CopyParameterBlock(const modbus::ModbusRead& worker) {
    static_assert(sizeof worker.RxBuffer >= std::tuple_size_v<ParameterBlock>);
    return CopyParameterBlock(worker.RxBuffer);
}

ParameterBlock CopyParameterBlock(const uint8_t* reply) {
    ParameterBlock block{};
    std::copy_n(reply, block.size(), block.begin());
    return block;
}

WorkerTransaction::WorkerTransaction(std::shared_ptr<modbus::ModbusRead> worker) : Worker(std::move(worker)) {}

WorkerTransaction::~WorkerTransaction() {
    if (!Worker) return;
    Worker->SignalTimeout(-1);
    Worker->Release();
}

bool WorkerTransaction::Done() const {
    return Worker && Worker->TransactionDoneFlag() != 0;
}

std::string WorkerTransaction::Result() const {
    return Worker ? Worker->Result() : std::string();
}

const uint8_t* WorkerTransaction::Reply() const {
    return Worker->RxBuffer;
}

modbus::Transaction::Trace WorkerTransaction::TraceLines() const {
    if (!Worker) return {};
    auto lines = Worker->TraceLines();
    return Trace{std::move(lines.tx), std::move(lines.rx)};
}

void WorkerTransaction::ClearDone() {
    if (Worker) Worker->ClearTransactionDone();
}

void WorkerTransaction::SignalTimeout() {
    if (Worker) Worker->SignalTimeout(-1);
}

void WorkerTransaction::Release() {
    if (!Worker) return;
    Worker->Release();
    Worker.reset();
}

std::unique_ptr<modbus::Transaction> StartWorker(const modbus::TransactionRequest& request) {
    auto worker = modbus::ModbusRead::Create();
    const modbus::LinkSettings& link = request.Link;
    worker->SetPortSettings(link.PortName, link.BaudRate, 8, link.StopBits, link.Parity);
    worker->DeviceAddress = link.DeviceAddress;
    switch (request.Staged) {
    case modbus::TransactionRequest::Write::Long:
        StageLongWrite(*worker, request.WriteRegister, request.LongValue);
        break;
    case modbus::TransactionRequest::Write::Short:
        StageShortWrite(*worker, request.WriteRegister, request.ShortHigh, request.ShortLow);
        break;
    case modbus::TransactionRequest::Write::None:
        break;
    }
    if (request.Archive) {
        worker->ArchiveFile = request.ArchiveFile;
        worker->ArchiveRecord = request.ArchiveRecord;
        worker->ArchiveRequested = -1;
    }
    worker->QuietMs = request.QuietMs;
    worker->OnDone = request.OnDone;
    worker->Start();
    return std::make_unique<WorkerTransaction>(std::move(worker));
}

} // namespace model
