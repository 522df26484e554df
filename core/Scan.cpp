#include "core/Scan.h"

#include "modbus/Frames.h"
#include "modbus/PortName.h"
#include "model/LinkCheck.h"
#include "model/ParameterBlock.h"
#include "model/Tables.h"

#include <algorithm>

namespace core {

namespace {

// Characters of the parameter read on the wire: its request and its reply.
constexpr int32_t kProbeCharacters = 8 + 59;
// How long a probe told to stop waiting may take to give its verdict.
constexpr int64_t kVerdictGraceMs = 1000;

// A good frame from the probed address that is not a meter's parameter
// read: some other device answers there.
bool OtherDevice(modbus::Status status) {
    switch (status) {
    case modbus::Status::Exception:
    case modbus::Status::BadLength:
    case modbus::Status::ForeignFunction:
    case modbus::Status::BadByteCount:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<uint32_t> ScanSpeeds(uint32_t first) {
    std::vector<uint32_t> speeds{first};
    for (const uint32_t speed : modbus::kSearchSpeeds)
        if (speed != first) speeds.push_back(speed);
    return speeds;
}

std::vector<uint8_t> ScanParities(uint8_t first) {
    std::vector<uint8_t> parities{first};
    for (const modbus::ParityEntry& parity : modbus::kParities)
        if (parity.Code != first) parities.push_back(parity.Code);
    return parities;
}

std::vector<int> ScanAddresses(int first, int lowest, int highest) {
    std::vector<int> addresses;
    if (first >= lowest && first <= highest) addresses.push_back(first);
    for (int a = lowest; a <= highest; ++a)
        if (a != first) addresses.push_back(a);
    return addresses;
}

int32_t ProbeTimeoutMs(uint32_t baud) {
    // 11 bits a character (start, 8 data, parity or a second stop, stop),
    // rounded up; then two characters' time and 40 ms for the meter to turn
    // round, a USB adapter to pass the reply on and a busy PC.
    const int64_t bits = int64_t{kProbeCharacters + 2} * 11 * 1000;
    return static_cast<int32_t>((bits + baud - 1) / baud) + 40;
}

platform::OrReason<ScanPlan> PlanFromPage(const modbus::LinkChoice& page) {
    if (page.Port.empty()) return platform::OrReason<ScanPlan>::Fail("Numer portu: nie wybrano portu.");
    const auto pick = [](const auto& table, std::optional<size_t> index, auto fallback) {
        return index && *index < table.size() ? table[*index] : fallback;
    };
    ScanPlan plan;
    plan.PortName = page.Port;
    plan.StopBits = pick(modbus::kStopBits, page.StopBits, modbus::kStopBits[0]).Code;
    plan.Speeds = ScanSpeeds(pick(modbus::kSpeeds, page.Speed, uint32_t{9600}));
    plan.Parities = ScanParities(pick(modbus::kParities, page.Parity, modbus::kParities[0]).Code);
    const platform::OrReason<uint8_t> address = model::ReadAddress(page.Address);
    plan.Addresses = ScanAddresses(address ? *address : modbus::kLowestAddress);
    FitToGateway(plan);
    return {std::move(plan), {}};
}

void FitToGateway(ScanPlan& plan) {
    if (!modbus::IsGatewayName(plan.PortName)) return;
    if (plan.Speeds.size() > 1) plan.Speeds.erase(plan.Speeds.begin() + 1, plan.Speeds.end());
    if (plan.Parities.size() > 1) plan.Parities.erase(plan.Parities.begin() + 1, plan.Parities.end());
    plan.NetworkMs = kGatewayProbeMs;
}

Scan::Scan(modbus::TransactionFactory factory, ScanView& view) : Factory(std::move(factory)), View(view) {}

Scan::~Scan() {
    Stop();
}

void Scan::Start(ScanPlan plan) {
    Stop();
    Plan = std::move(plan);
    Findings.clear();
    OtherSettings.clear();
    Retry.clear();
    Probed = 0;
    QuietNext = false;
    Tried.assign(Plan.Speeds.size(), std::vector<bool>(Plan.Parities.size() * Plan.Addresses.size(), false));
    At = Sweep = {0, 0, 0};
    Active = !Plan.Speeds.empty() && !Plan.Parities.empty() && !Plan.Addresses.empty();
    if (!Active) {
        View.Finished();
        return;
    }
    StartProbe();
}

modbus::LinkSettings Scan::LinkOf(const Probe& p) const {
    modbus::LinkSettings link;
    link.PortName = Plan.PortName;
    link.BaudRate = Plan.Speeds[p.Speed];
    link.Parity = Plan.Parities[p.Parity];
    link.StopBits = Plan.StopBits;
    link.DeviceAddress = static_cast<uint8_t>(Plan.Addresses[p.Address]);
    return link;
}

void Scan::StartProbe() {
    Tried[At.Speed][At.Parity * Plan.Addresses.size() + At.Address] = true;
    modbus::TransactionRequest request;
    request.Link = LinkOf(At);
    request.Link.TimeoutMs = ProbeTimeoutMs(request.Link.BaudRate) + Plan.NetworkMs;
    // Bytes of a garbled answer may still be coming: the next request waits
    // until the line is quiet.
    request.QuietMs = QuietNext ? static_cast<uint32_t>(ProbeTimeoutMs(request.Link.BaudRate)) : 0;
    request.OnDone = View.CompletionNotifier();
    ProbeStart = View.NowMs() + request.QuietMs;
    Signalled = false;
    Current = Factory(request);
    Report();
}

std::optional<int64_t> Scan::NextWakeMs() const {
    if (!Active || !Current) return std::nullopt;
    const int32_t timeout = ProbeTimeoutMs(Plan.Speeds[At.Speed]) + Plan.NetworkMs;
    return ProbeStart + timeout + (Signalled ? kVerdictGraceMs : 0);
}

void Scan::Wake() {
    if (!Active || !Current) return;
    const int64_t elapsed = View.NowMs() - ProbeStart;
    const int32_t timeout = ProbeTimeoutMs(Plan.Speeds[At.Speed]) + Plan.NetworkMs;
    if (!Current->Done()) {
        if (elapsed < timeout) return;
        // At its time-out the probe is told to stop waiting; it then judges
        // what did arrive at once, and a reply that came just in time counts.
        if (!Signalled) {
            Current->SignalTimeout();
            Signalled = true;
            return;
        }
        if (elapsed < timeout + kVerdictGraceMs) return;
    }
    Judge(!Current->Done());
    if (Active) Next();
}

void Scan::Judge(bool timedOut) {
    ++Probed;
    const modbus::LinkSettings link = LinkOf(At);
    size_t bytes = 0;
    bool found = false;
    QuietNext = false;
    if (timedOut) {
        // No verdict came: what was traced tells whether anything answered.
        bytes = Current->TraceLines().rx.size() > modbus::kRxPrefix.size() ? 1 : 0;
    } else {
        const modbus::Ending& done = Current->Result();
        bytes = done.bytesRead;
        if (done.verdict.status == modbus::Status::Exception &&
            modbus::IsGatewayException(done.verdict.detail)) {
            bytes = 0; // the gateway's word that no meter answers there
        } else if (done.Succeeded()) {
            const model::ParameterBlock block = model::CopyParameterBlock(done.reply.data());
            const std::string dn = model::DnText(block[model::offset::DnIndex]);
            Findings.push_back(
                {link, model::VersionText(block), dn.empty() ? std::string() : "DN " + dn, done.Text()});
            found = true;
        } else if (OtherDevice(done.verdict.status)) {
            Findings.push_back({link, {}, {}, done.Text()});
            found = true;
        }
    }
    if (!found && bytes > 0) {
        if (std::find(OtherSettings.begin(), OtherSettings.end(), link) == OtherSettings.end())
            OtherSettings.push_back(link);
        View.OtherSettingsAnswer(link);
        QuietNext = true;
        // Something is at this address: its other parities at this speed first.
        for (size_t p = 0; p < Plan.Parities.size(); ++p)
            if (!Tried[At.Speed][p * Plan.Addresses.size() + At.Address])
                Retry.push_back({At.Speed, p, At.Address});
    }
    Current.reset();
    if (found) {
        View.Found(Findings.back());
        if (!Plan.All) Finish();
    }
}

void Scan::Next() {
    const auto tried = [this](const Probe& p) {
        return Tried[p.Speed][p.Parity * Plan.Addresses.size() + p.Address];
    };
    while (!Retry.empty()) {
        At = Retry.front();
        Retry.erase(Retry.begin());
        if (!tried(At)) return StartProbe();
    }
    for (;;) {
        if (++Sweep.Address == Plan.Addresses.size()) {
            Sweep.Address = 0;
            if (++Sweep.Parity == Plan.Parities.size()) {
                Sweep.Parity = 0;
                if (++Sweep.Speed == Plan.Speeds.size()) return Finish();
            }
        }
        if (tried(Sweep)) continue;
        At = Sweep;
        return StartProbe();
    }
}

void Scan::Stop() {
    if (!Active) return;
    Current.reset();
    Finish();
}

void Scan::Finish() {
    Active = false;
    Retry.clear();
    View.Finished();
}

void Scan::Report() {
    ScanProgress progress;
    const size_t perSpeed = Plan.Parities.size() * Plan.Addresses.size();
    progress.Total = static_cast<int>(perSpeed * Plan.Speeds.size());
    progress.Probed = Probed;
    progress.Probing = LinkOf(At);
    for (size_t s = At.Speed; s < Plan.Speeds.size(); ++s) {
        const int64_t left = static_cast<int64_t>(std::count(Tried[s].begin(), Tried[s].end(), false)) +
                             (s == At.Speed ? 1 : 0); // the probe starting now
        progress.MsLeft += left * (ProbeTimeoutMs(Plan.Speeds[s]) + Plan.NetworkMs);
    }
    View.ShowProgress(progress);
}

} // namespace core
