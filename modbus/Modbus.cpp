#include "modbus/Modbus.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace modbus {

namespace {
// Never destroyed: a worker may still be leaving its destructor while the
// program's static objects are torn down.
struct LiveCount {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
};
LiveCount& Live() {
    static auto* live = new LiveCount;
    return *live;
}

// This program's workers take turns on a port: one that was given up on may
// still be closing it when the next one starts, and the port's exclusive
// lock would refuse the next one as if another program held the port.
struct PortTurns {
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<std::string> held;

    // False when the earlier worker has not let go within the limit; the
    // open then tells what it finds.
    bool Take(const std::string& port, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        const auto free = [&] { return std::find(held.begin(), held.end(), port) == held.end(); };
        if (!freed.wait_for(lock, limit, free)) return false;
        held.push_back(port);
        return true;
    }
    bool Held(const std::string& port) {
        std::lock_guard lock(mutex);
        return std::find(held.begin(), held.end(), port) != held.end();
    }
    void Give(const std::string& port) {
        std::lock_guard lock(mutex);
        held.erase(std::find(held.begin(), held.end(), port));
        freed.notify_all();
    }
};
PortTurns& Turns() {
    static auto* turns = new PortTurns;
    return *turns;
}
constexpr std::chrono::milliseconds kTurnLimit{1000};

// The threads the workers run on. Each worker still runs on a thread of its
// own, alone, from its start to its release, but the thread outlives it and
// takes the next one: a new thread for every transaction costs little on
// Linux and more than the reply's wire time under Wine (3.6 ms against
// 0.05 ms). A thread left without work for a while ends.
class WorkerThreads {
public:
    void Run(std::function<void()> job) {
        std::lock_guard lock(Mutex);
        Jobs.push_back(std::move(job));
        if (Idle > Jobs.size() - 1) {
            Arrived.notify_one();
            return;
        }
        std::thread([this] { Serve(); }).detach();
    }

private:
    static constexpr std::chrono::seconds kIdleLimit{10};

    void Serve() {
        std::unique_lock lock(Mutex);
        for (;;) {
            ++Idle;
            const bool given = Arrived.wait_for(lock, kIdleLimit, [&] { return !Jobs.empty(); });
            --Idle;
            if (!given) return;
            std::function<void()> job = std::move(Jobs.front());
            Jobs.pop_front();
            lock.unlock();
            job(); // the worker's own reference goes with the job
            job = nullptr;
            lock.lock();
        }
    }

    std::mutex Mutex;
    std::condition_variable Arrived;
    std::deque<std::function<void()>> Jobs;
    size_t Idle = 0; // threads waiting for a job
};
WorkerThreads& Threads() {
    static auto* threads = new WorkerThreads;
    return *threads;
}
} // namespace

std::shared_ptr<ModbusRead> ModbusRead::Create() {
    return std::shared_ptr<ModbusRead>(new ModbusRead());
}

ModbusRead::ModbusRead() {
    LiveCount& live = Live();
    std::lock_guard lock(live.mutex);
    ++live.count;
}

ModbusRead::~ModbusRead() {
    Port.Close();
    LiveCount& live = Live();
    std::lock_guard lock(live.mutex);
    --live.count;
    live.changed.notify_all();
}

int ModbusRead::LiveWorkers() {
    LiveCount& live = Live();
    std::lock_guard lock(live.mutex);
    return live.count;
}

bool ModbusRead::WaitForAllWorkers(std::chrono::milliseconds limit) {
    LiveCount& live = Live();
    std::unique_lock lock(live.mutex);
    return live.changed.wait_for(lock, limit, [&] { return live.count == 0; });
}

bool ModbusRead::PortTaken(const std::string& portName) {
    return Turns().Held(portName);
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
    // The thread's own reference keeps the object alive until the
    // transaction is over and the worker has been released.
    Threads().Run([self = shared_from_this()] { self->RunTransaction(); });
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

void ModbusRead::AppendRx(const uint8_t* bytes, size_t n) {
    std::lock_guard lock(TraceMutex);
    AppendTraceGroups(RxLine, bytes, n);
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
    // An unusable port leaves every later step without effect: the wait then
    // ends only by TimedOut and the verdict is the time-out text.
    const bool turn = Turns().Take(PortName, kTurnLimit);
    const bool opened = Port.Open(PortName);
    if (!opened) {
        // Counted as a time-out all the same; the probe's words say why.
        std::lock_guard lock(TraceMutex);
        PortProblem = DescribeProbe(ProbePort(PortName));
    }
    TransactionDone.store(0, std::memory_order_release);
    const uint8_t stopBits = kind == Kind::WriteRegisters ? StopBits : kTwoStopBits;
    Port.SetTimeouts(Params(kind).readTimeoutMs, Params(kind).writeTimeoutMs);
    Port.Configure(BaudRate, DataBits, Parity, stopBits);
    if (QuietMs > 0 && Port.IsOpen()) WaitForQuiet();

    size_t length = 0;
    switch (kind) {
    case Kind::ReadRegisters:
        length = BuildReadRequest(TxBuffer, DeviceAddress, 1, 27);
        break;
    case Kind::ReadFileRecord:
        length = BuildFileRecordRequest(TxBuffer, DeviceAddress, ArchiveFile, ArchiveRecord);
        break;
    case Kind::WriteRegisters:
        length = BuildWriteRequest(TxBuffer, DeviceAddress, WriteRegister, WriteCount,
                                   RxBuffer + kWriteDataOffset);
        break;
    }
    SetTx(TraceLine(kTxPrefix, TxBuffer, length));
    Port.Write(TxBuffer, length);

    BytesRead = 0;
    SetRx(std::string(kRxPrefix));
    WaitForReply(kind);

    const bool timedOut = TimedOut.load(std::memory_order_acquire) != 0 || DeadlinePassed;
    Judged = Judge(kind, BytesRead, timedOut, RxBuffer, DeviceAddress);
    // A wait that ended without a byte and without a time-out keeps the text.
    if (Judged.status != Status::NoReply) ResultText = modbus::ResultText(kind, Judged);
    Port.Close();
    if (turn) Turns().Give(PortName);
    TransactionDone.store(-1, std::memory_order_release);
    if (OnDone) OnDone();
}

void ModbusRead::WaitForQuiet() {
    uint8_t dropped[256];
    for (;;) {
        if (TimedOut.load(std::memory_order_acquire) != 0) return;
        const SerialPort::WaitResult seen = Port.WaitForInput(WakeUp, static_cast<int>(QuietMs));
        if (seen.readable) {
            while (Port.Read(dropped, sizeof dropped) > 0) {
            }
        } else if (!seen.woken) {
            return; // silent long enough, or a hung-up line that brings nothing more
        }
    }
}

void ModbusRead::ReadWaiting(bool pollSaidReadable) {
    while (BytesRead < kRxBufferSize) {
        const size_t room = kRxBufferSize - BytesRead;
        const size_t waiting = Port.InputCount();
        // Some drivers report readiness before the count catches up: then try a read anyway.
        const size_t want = waiting > 0 ? std::min(waiting, room) : (pollSaidReadable ? room : 0);
        if (want == 0) return;
        const size_t got = Port.Read(RxBuffer + BytesRead, want);
        if (got == 0) return;
        AppendRx(RxBuffer + BytesRead, got);
        BytesRead += got;
        pollSaidReadable = false;
    }
}

void ModbusRead::WaitForReply(Kind kind) {
    const size_t expected = Params(kind).expectedLength;
    const auto start = std::chrono::steady_clock::now();
    // -1 while there is no deadline; else what is left of it, at least 0.
    const auto left = [&]() -> int {
        if (ReplyDeadlineMs < 0) return -1;
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return static_cast<int>(std::max<int64_t>(0, ReplyDeadlineMs - spent.count()));
    };
    bool watchPort = Port.IsOpen();
    bool readable = watchPort;
    for (;;) {
        if (watchPort) ReadWaiting(readable);
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
        if (!watchPort) {
            WakeUp.Wait(wait);
            continue;
        }
        const SerialPort::WaitResult seen = Port.WaitForInput(WakeUp, wait);
        readable = seen.readable;
        // A hung-up line brings nothing more: wait for TimedOut alone.
        if (seen.hungUp) watchPort = false;
    }
}

void ModbusRead::WaitForRelease() {
    while (Released.load(std::memory_order_acquire) == 0) WakeUp.Wait(-1);
}

} // namespace modbus
