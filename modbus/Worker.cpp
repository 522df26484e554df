#include "modbus/Worker.h"

#include <algorithm>

namespace modbus {

void StageLongWrite(ModbusRead& worker, uint8_t reg, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    uint8_t* data = worker.RxBuffer + kWriteDataOffset;
    data[0] = static_cast<uint8_t>(v >> 24);
    data[1] = static_cast<uint8_t>(v >> 16);
    data[2] = static_cast<uint8_t>(v >> 8);
    data[3] = static_cast<uint8_t>(v);
    worker.WriteRegister = reg;
    worker.WriteCount = 2;
    worker.WriteRequested = -1;
}

void StageShortWrite(ModbusRead& worker, uint8_t reg, uint8_t high, uint8_t low) {
    uint8_t* data = worker.RxBuffer + kWriteDataOffset;
    data[0] = high;
    data[1] = low;
    worker.WriteRegister = reg;
    worker.WriteCount = 1;
    worker.WriteRequested = -1;
}

WorkerTransaction::WorkerTransaction(std::shared_ptr<ModbusRead> worker) : Worker(std::move(worker)) {}

WorkerTransaction::~WorkerTransaction() {
    if (!Worker) return;
    if (Worker->TransactionDoneFlag() != 0)
        Worker->ClearTransactionDone();
    else
        Worker->SignalTimeout(-1);
    Worker->Release();
}

bool WorkerTransaction::Done() const {
    return Worker && Worker->TransactionDoneFlag() != 0;
}

const Ending& WorkerTransaction::Result() const {
    if (!Taken) {
        Ending e;
        e.kind = Worker->TransactionKind();
        e.verdict = Worker->Judgement();
        e.bytesRead = std::min(Worker->BytesReadCount(), kRxBufferSize);
        std::copy(Worker->RxBuffer, Worker->RxBuffer + kRxBufferSize, e.reply.begin());
        e.trace = Worker->TraceLines();
        Taken = std::move(e);
    }
    return *Taken;
}

Trace WorkerTransaction::TraceLines() const {
    if (!Worker) return {};
    return Worker->TraceLines();
}

std::string WorkerTransaction::PortTrouble() const {
    return Worker ? Worker->PortTrouble() : std::string();
}

void WorkerTransaction::SignalTimeout() {
    if (Worker) Worker->SignalTimeout(-1);
}

std::unique_ptr<Transaction> StartWorker(std::shared_ptr<ModbusRead> worker,
                                         const TransactionRequest& request) {
    const LinkSettings& link = request.Link;
    worker->SetPortSettings(link.PortName, link.BaudRate, 8, link.StopBits, link.Parity);
    worker->DeviceAddress = link.DeviceAddress;
    switch (request.Staged) {
    case TransactionRequest::Write::Long:
        StageLongWrite(*worker, request.WriteRegister, request.LongValue);
        break;
    case TransactionRequest::Write::Short:
        StageShortWrite(*worker, request.WriteRegister, request.ShortHigh, request.ShortLow);
        break;
    case TransactionRequest::Write::None:
        break;
    }
    if (request.Archive) {
        worker->ArchiveFile = request.ArchiveFile;
        worker->ArchiveRecord = request.ArchiveRecord;
        worker->ArchiveRequested = -1;
    }
    worker->QuietMs = request.QuietMs;
    worker->QuietUs = request.QuietUs;
    worker->ReplyDeadlineMs = WorkerDeadlineMs(link.TimeoutMs);
    worker->OnDone = request.OnDone;
    worker->Start();
    return std::make_unique<WorkerTransaction>(std::move(worker));
}

} // namespace modbus
