// What the tests and the program read of the simulated meters while they
// are served: registers, archive records, counters.
#include "sim/Serving.h"

#include <pthread.h>
#include <time.h>

namespace vqtsim {

const std::vector<uint8_t>& Simulator::Addresses() const {
    return impl_->addresses;
}

std::array<uint16_t, 27> Simulator::Registers() const {
    return impl_->slaves.front()->meter.Registers();
}
std::array<uint16_t, 27> Simulator::Registers(uint8_t address) const {
    Slave* s = impl_->Find(address);
    return s ? s->meter.Registers() : std::array<uint16_t, 27>{};
}

void Simulator::SetRegister(int number, uint16_t value) {
    impl_->slaves.front()->meter.SetRegister(number, value);
}
void Simulator::SetRegister(uint8_t address, int number, uint16_t value) {
    if (Slave* s = impl_->Find(address)) s->meter.SetRegister(number, value);
}

void Simulator::SetLive(bool on) {
    for (const auto& s : impl_->slaves) s->meter.SetLive(on);
}

Record Simulator::ArchiveRecord(int file, int index) const {
    return impl_->slaves.front()->meter.ArchiveRecord(file, index);
}
Record Simulator::ArchiveRecord(uint8_t address, int file, int index) const {
    Slave* s = impl_->Find(address);
    return s ? s->meter.ArchiveRecord(file, index) : Record{};
}

uint64_t Simulator::RequestsSeen() const {
    return impl_->slaves.front()->requestsSeen;
}
uint64_t Simulator::RepliesSent() const {
    return impl_->slaves.front()->repliesSent;
}
uint64_t Simulator::WritesApplied() const {
    return impl_->slaves.front()->writesApplied;
}
uint64_t Simulator::RequestsSeen(uint8_t address) const {
    Slave* s = impl_->Find(address);
    return s ? s->requestsSeen.load() : 0;
}
uint64_t Simulator::RepliesSent(uint8_t address) const {
    Slave* s = impl_->Find(address);
    return s ? s->repliesSent.load() : 0;
}
uint64_t Simulator::WritesApplied(uint8_t address) const {
    Slave* s = impl_->Find(address);
    return s ? s->writesApplied.load() : 0;
}

uint64_t Simulator::ConnectionsAccepted() const {
    return impl_->connectionsAccepted;
}

void Simulator::SetTrafficLog(std::function<void(const TrafficEvent&)> log) {
    impl_->log = std::move(log);
}

std::chrono::nanoseconds Simulator::ServingCpuTime() const {
    if (!impl_->server.joinable()) return std::chrono::nanoseconds{0};
    clockid_t id{};
    timespec ts{};
    if (pthread_getcpuclockid(impl_->server.native_handle(), &id) != 0 || clock_gettime(id, &ts) != 0)
        return std::chrono::nanoseconds{0};
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

} // namespace vqtsim
