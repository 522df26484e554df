// vqt540 scan: looks for the meter at every address and the common speeds
// and parities, when it does not answer at the settings given.
#include "cli/CommandView.h"
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/Platform.h"
#include "cli/Say.h"

#include "core/Progress.h"
#include "core/Scan.h"
#include "modbus/Link.h"
#include "modbus/PortName.h"
#include "model/NumberFormat.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <iostream>

namespace cli {

namespace {

using core::ScanFinding;

constexpr auto kProgressEvery = std::chrono::milliseconds(250);

std::string ParityName(uint8_t code) {
    return std::string(modbus::kParities[modbus::ParityIndex(code).value_or(0)].Name);
}

std::string Settings(const modbus::LinkSettings& l) {
    // Through a gateway only the address is the scan's: the line is the gateway's.
    if (modbus::IsGatewayName(l.PortName))
        return "address " + std::to_string(l.DeviceAddress) + " via the gateway";
    return "address " + std::to_string(l.DeviceAddress) + ", " + std::to_string(l.BaudRate) + " bit/s, " +
           (l.Parity == modbus::kNoParity ? std::string("no") : ParityName(l.Parity)) + " parity";
}

class ScanTerminal final : public LoopView<core::ScanView> {
public:
    explicit ScanTerminal(Loop& loop) : LoopView(loop), Terminal(StderrIsTerminal()) {}

    void ShowProgress(const core::ScanProgress& p) override {
        if (!Terminal) return;
        const auto now = std::chrono::steady_clock::now();
        if (Shown && now - LastShown < kProgressEvery) return;
        LastShown = now;
        Shown = true;
        std::cerr << "\r\033[Kvqt540: " << Settings(p.Probing) << " (" << p.Probed + 1 << " of " << p.Total
                  << "), at most " << core::DurationText(p.MsLeft) << " left" << std::flush;
    }
    void Finished() override {
        if (Shown) std::cerr << "\r\033[K" << std::flush;
        Shown = false;
    }

private:
    const bool Terminal;
    bool Shown = false;
    std::chrono::steady_clock::time_point LastShown;
};

void PrintJson(const CommonOptions& common, const core::Scan& scan) {
    nlohmann::ordered_json j;
    j["port"] = common.Port;
    nlohmann::ordered_json& found = j["found"] = nlohmann::ordered_json::array();
    for (const ScanFinding& f : scan.Findings)
        found.push_back({{"address", f.Link.DeviceAddress},
                         {"baud", f.Link.BaudRate},
                         {"parity", ParityName(f.Link.Parity)},
                         {"stopBits", f.Link.StopBits == modbus::kTwoStopBits ? 2 : 1},
                         {"version", f.Version},
                         {"diameter", f.Diameter},
                         {"answer", f.Answer}});
    nlohmann::ordered_json& other = j["otherSettings"] = nlohmann::ordered_json::array();
    for (const modbus::LinkSettings& l : scan.OtherSettings)
        other.push_back(
            {{"address", l.DeviceAddress}, {"baud", l.BaudRate}, {"parity", ParityName(l.Parity)}});
    std::cout << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

} // namespace

std::optional<std::pair<int, int>> ParseAddressRange(const std::string& text) {
    const size_t dash = text.find('-');
    const platform::OrReason<int32_t> low = model::ReadWholeNumber(text.substr(0, dash));
    const platform::OrReason<int32_t> high =
        dash == std::string::npos ? low : model::ReadWholeNumber(text.substr(dash + 1));
    if (!low || !high || !modbus::IsDeviceAddress(*low) || !modbus::IsDeviceAddress(*high) || *low > *high)
        return std::nullopt;
    return std::pair<int, int>{*low, *high};
}

int RunScan(const CommonOptions& common, const ScanOptions& options, Loop& loop, modbus::Link& meters) {
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    const modbus::LinkSettings page = common.Link();
    core::ScanPlan plan;
    plan.PortName = page.PortName;
    plan.StopBits = page.StopBits;
    plan.Speeds = options.Speeds.empty() ? core::ScanSpeeds(page.BaudRate) : options.Speeds;
    plan.Parities = core::ScanParities(page.Parity);
    plan.Addresses = core::ScanAddresses(page.DeviceAddress, options.LowestAddress, options.HighestAddress);
    plan.All = options.All;
    core::FitToGateway(plan);

    ScanTerminal view(loop);
    core::Scan scan(meters.Factory(), view);
    bool interrupted = false;
    scan.Start(plan);
    while (scan.Running()) {
        if (loop.WaitUntil(scan.NextWakeMs()) == Loop::Event::Stop) {
            scan.Stop();
            interrupted = true;
            break;
        }
        scan.Wake();
    }

    if (options.Json) {
        PrintJson(common, scan);
    } else {
        for (const ScanFinding& f : scan.Findings) {
            std::cout << Settings(f.Link);
            if (!f.Version.empty())
                std::cout << ": " << f.Version << (f.Diameter.empty() ? "" : ", " + f.Diameter);
            else
                std::cout << ": another device (" << f.Answer << ")";
            std::cout << '\n';
        }
    }
    if (scan.Findings.empty()) {
        for (const modbus::LinkSettings& l : scan.OtherSettings)
            Say("something answers at " + Settings(l) + ", with other settings");
        if (!interrupted) Say("no meter answered on " + common.Port);
    }
    std::cout.flush();
    if (interrupted) return kExitInterrupted;
    return scan.Findings.empty() ? kExitNoAnswer : kExitOk;
}

} // namespace cli
