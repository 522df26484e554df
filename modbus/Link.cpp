#include "modbus/Link.h"
#include "modbus/LinkCore.h"
#include "modbus/Modbus.h"
#include "modbus/Worker.h"

#include <algorithm>

namespace modbus {

std::unique_ptr<Line> MakeLine(const std::string& portName) {
    const auto address = ParsePortName(portName);
    if (!address) return nullptr;
    switch (address->Form) {
    case PortForm::Serial:
        return MakeSerialLine(portName);
    case PortForm::RtuOverTcp:
        return MakeRtuOverTcpLine(*address);
    case PortForm::ModbusTcp:
        return MakeModbusTcpLine(*address);
    }
    return nullptr;
}

LinkCore::LinkCore(bool keepSerialOpen, std::chrono::milliseconds idleClose,
                   std::function<void(const std::string&, LineEvent)> notice)
    : KeepSerialOpen(keepSerialOpen), IdleClose(idleClose), OnNotice(std::move(notice)) {}

LinkCore::~LinkCore() {
    Shutdown(true);
}

void LinkCore::Born() {
    std::lock_guard lock(Mutex);
    ++Count;
}

void LinkCore::Started(Clock::time_point deadline) {
    std::lock_guard lock(Mutex);
    Deadlines.push_back(deadline);
}

void LinkCore::Died(std::optional<Clock::time_point> deadline) {
    std::lock_guard lock(Mutex);
    --Count;
    if (deadline) {
        const auto it = std::find(Deadlines.begin(), Deadlines.end(), *deadline);
        if (it != Deadlines.end()) Deadlines.erase(it);
    }
    Changed.notify_all();
}

int LinkCore::Live() const {
    std::lock_guard lock(Mutex);
    return Count;
}

bool LinkCore::WaitForAll() {
    std::unique_lock lock(Mutex);
    // A worker past its deadline, or never started, ends as soon as it is
    // released: that much is waited for in any case.
    const Clock::time_point released = Clock::now() + kTurnLimit;
    for (;;) {
        if (Count == 0) return true;
        const Clock::time_point bound =
            Deadlines.empty() ? released
                              : std::max(released, *std::max_element(Deadlines.begin(), Deadlines.end()));
        if (Clock::now() >= bound) return false;
        Changed.wait_until(lock, bound);
    }
}

LineLease LinkCore::Take(const std::string& port) {
    LineLease lease{port, nullptr, false};
    {
        std::unique_lock lock(Mutex);
        const auto free = [&] { return std::find(Busy.begin(), Busy.end(), port) == Busy.end(); };
        lease.Turn = Changed.wait_for(lock, kTurnLimit, free);
        if (lease.Turn) {
            Busy.push_back(port);
            if (const auto kept = Lines.find(port); kept != Lines.end()) {
                lease.Held = std::move(kept->second.line);
                Lines.erase(kept);
            }
        }
    }
    if (!lease.Held) lease.Held = MakeLine(port);
    return lease;
}

void LinkCore::Give(LineLease lease) {
    Line* line = lease.Held.get();
    // A gateway's line is kept even when its peer has just closed it: it
    // remembers that, to say so when it connects again.
    const bool keep = lease.Turn && line && (line->IsNetwork() || (KeepSerialOpen && line->IsOpen()));
    if (line && !keep) line->Close();
    std::lock_guard lock(Mutex);
    if (keep) {
        Lines[lease.Port] = Kept{std::move(lease.Held), Clock::now()};
        if (!Janitor.joinable() && !Stopping) Janitor = std::thread([this] { Tidy(); });
    }
    if (lease.Turn) Busy.erase(std::find(Busy.begin(), Busy.end(), lease.Port));
    Changed.notify_all();
}

bool LinkCore::Held(const std::string& port) const {
    std::lock_guard lock(Mutex);
    return std::find(Busy.begin(), Busy.end(), port) != Busy.end();
}

size_t LinkCore::KeptCount() const {
    std::lock_guard lock(Mutex);
    return Lines.size();
}

void LinkCore::Notice(const std::string& port, LineEvent event) const {
    if (OnNotice) OnNotice(port, event);
}

void LinkCore::Tidy() {
    std::unique_lock lock(Mutex);
    while (!Stopping) {
        std::vector<std::unique_ptr<Line>> idle;
        auto next = Clock::time_point::max();
        const auto now = Clock::now();
        for (auto it = Lines.begin(); it != Lines.end();) {
            const auto due = it->second.lastUsed + IdleClose;
            if (due <= now) {
                idle.push_back(std::move(it->second.line));
                it = Lines.erase(it);
            } else {
                next = std::min(next, due);
                ++it;
            }
        }
        if (!idle.empty()) {
            lock.unlock();
            idle.clear(); // closes them
            lock.lock();
            continue;
        }
        if (next == Clock::time_point::max())
            Changed.wait(lock);
        else
            Changed.wait_until(lock, next);
    }
}

void LinkCore::Run(std::function<void()> job) {
    std::lock_guard lock(Mutex);
    Jobs.push_back(std::move(job));
    // A thread for every transaction costs more than the reply's wire time
    // under Wine; kept threads wait for the next one instead.
    if (Idle > Jobs.size() - 1) {
        Changed.notify_all();
        return;
    }
    // The thread keeps the core alive: it may be let go at the end while a
    // worker past its deadline still runs on it.
    Threads.emplace_back([self = shared_from_this()] { self->Serve(); });
}

void LinkCore::Serve() {
    std::unique_lock lock(Mutex);
    for (;;) {
        ++Idle;
        Changed.wait(lock, [&] { return !Jobs.empty() || Stopping; });
        --Idle;
        if (Jobs.empty()) return; // stopping
        std::function<void()> job = std::move(Jobs.front());
        Jobs.pop_front();
        lock.unlock();
        job(); // the worker's own reference goes with the job
        job = nullptr;
        lock.lock();
    }
}

void LinkCore::Shutdown(bool joinThreads) {
    std::vector<std::thread> threads;
    std::thread janitor;
    {
        std::lock_guard lock(Mutex);
        Stopping = true;
        threads.swap(Threads);
        janitor.swap(Janitor);
        Changed.notify_all();
    }
    if (janitor.joinable()) janitor.join();
    for (std::thread& t : threads) {
        if (joinThreads)
            t.join();
        else
            t.detach(); // a worker past its deadline: the program ends without it
    }
    std::lock_guard lock(Mutex);
    Lines.clear();
}

Link::Link() : Link(Options{}) {}

Link::Link(Options options)
    : Core(std::make_shared<LinkCore>(options.KeepSerialOpen, options.IdleClose, std::move(options.Notice))) {
}

Link::~Link() {
    Core->Shutdown(WaitForWorkers());
}

std::unique_ptr<Transaction> Link::Start(const TransactionRequest& request) {
    return StartWorker(CreateWorker(), request);
}

TransactionFactory Link::Factory() {
    return [this](const TransactionRequest& request) { return Start(request); };
}

std::shared_ptr<ModbusRead> Link::CreateWorker() {
    return ModbusRead::Create(Core);
}

bool Link::PortHeld(const std::string& portName) const {
    return Core->Held(portName);
}

size_t Link::KeptLines() const {
    return Core->KeptCount();
}

int Link::LiveWorkers() const {
    return Core->Live();
}

bool Link::WaitForWorkers() {
    return Core->WaitForAll();
}

} // namespace modbus
