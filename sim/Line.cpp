// The line side of the simulator as the program and the tests start it:
// the serving thread's start and stop, and the faults set while it serves.
#include "sim/Serving.h"

#include <algorithm>
#include <unistd.h>

namespace vqtsim {

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start() {
    Impl& d = *impl_;
    if (d.server.joinable()) return true;
    d.error.clear();
    for (size_t i = 0; i < d.addresses.size(); ++i) {
        const uint8_t a = d.addresses[i];
        if (a < 1 || a > 247) return d.error = "slave address must be 1..247", false;
        if (std::find(d.addresses.begin(), d.addresses.begin() + static_cast<ptrdiff_t>(i), a) !=
            d.addresses.begin() + static_cast<ptrdiff_t>(i))
            return d.error = "slave address " + std::to_string(a) + " twice on the line", false;
    }
    if (d.options.baudRate == 0) return d.error = "speed must be above 0", false;
    const Options& o = d.options;
    for (const int port : {o.rtuTcpPort, o.modbusTcpPort})
        if (port < -1 || port > 65535)
            return d.error = "TCP port must be 1..65535, or -1 for any free one", false;
    if (o.rtuTcpPort != 0 && o.modbusTcpPort != 0)
        return d.error = "serve RTU over TCP or MODBUS TCP, not both", false;
    if (d.mode != Mode::Line && !o.device.empty())
        return d.error = "a gateway on TCP serves no serial device", false;
    for (const SilentSpell& s : d.options.silences)
        if (!d.Find(s.address))
            return d.error = "no meter at address " + std::to_string(s.address) + " to fall silent", false;
    d.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wake < 0) return d.error = SysError("cannot create an eventfd"), false;
    const bool usePty = o.device.empty();
    if (d.mode != Mode::Line) {
        if (!d.listener.Listen(d.mode == Mode::RtuTcp ? o.rtuTcpPort : o.modbusTcpPort)) {
            d.error = d.listener.Error();
            d.CloseAll();
            return false;
        }
    } else if (!(usePty ? d.port.OpenPty(o.baudRate) : d.port.OpenDevice(o.device, o.baudRate, o.parity)) ||
               (usePty && !o.linkDir.empty() && !d.port.CreateLink(o.linkDir, o.linkName))) {
        d.error = d.port.Error();
        d.CloseAll();
        return false;
    }
    d.started = Clock::now();
    d.server = std::thread([&d] { d.Serve(); });
    return true;
}

void Simulator::Stop() {
    Impl& d = *impl_;
    if (!d.server.joinable()) return;
    const uint64_t one = 1;
    if (write(d.wake, &one, sizeof one) < 0) {
        // An eventfd write fails only when its counter would overflow; it is readable then anyway.
    }
    d.server.join();
    d.port.RemoveLink();
    d.CloseAll();
}

const std::string& Simulator::Error() const {
    return impl_->error;
}
const std::string& Simulator::DevicePath() const {
    return impl_->port.DevicePath();
}
const std::string& Simulator::LinkPath() const {
    return impl_->port.LinkPath();
}
uint16_t Simulator::TcpPort() const {
    return impl_->listener.Port();
}

void Simulator::SetFault(Fault fault, int code, int delayMs) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->fault = fault;
    impl_->faultCode = code;
    impl_->faultDelayMs = delayMs;
}

void Simulator::SetDropProbability(double p) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->dropProbability = std::isfinite(p) ? std::clamp(p, 0.0, 1.0) : 0.0;
}

void Simulator::SetFaultShare(double share) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->faultShare = std::isfinite(share) ? std::clamp(share, 0.0, 1.0) : 1.0;
}

void Simulator::SetDropAfter(int requests) {
    impl_->dropAfter = std::max(0, requests);
}

void Simulator::SetSilent(uint8_t address, bool silent) {
    if (Slave* s = impl_->Find(address)) s->silent = silent;
}

void Simulator::SetWireTiming(bool on) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->wireTiming = on;
}

} // namespace vqtsim
