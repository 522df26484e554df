// The Linux side of SimulatorClient.cpp: runs the real simulators that a
// window test under Wine asks for, each linked where Wine's COM1 leads, and
// answers its requests one line for one line.
#pragma once

#include "tests/wine/SimulatorLink.h"

#include <cstdio>
#include <iomanip>
#include <map>
#include <memory>

namespace simlink {

class SimulatorHost {
public:
    // linkDir: the folder of the link that Wine's COM1 names.
    explicit SimulatorHost(std::string linkDir) : LinkDir(std::move(linkDir)) {}

    // The answer (without its line end) to a request line without its prefix.
    std::string Answer(const std::string& request) {
        std::istringstream words(request);
        std::string command;
        int id = 0;
        if (!(words >> command >> id)) return "error no command and meter in '" + request + "'";
        if (command == "new") {
            vqtsim::Options o;
            if (!DecodeOptions(words, o)) return "error options '" + request + "'";
            o.linkDir = LinkDir;
            o.device.clear();
            Sims[id] = std::make_unique<vqtsim::Simulator>(o);
            return "ok";
        }
        const auto found = Sims.find(id);
        if (found == Sims.end()) return "error no meter " + std::to_string(id);
        vqtsim::Simulator& sim = *found->second;
        if (command == "destroy") {
            Sims.erase(found);
            return "ok";
        }
        return Ask(sim, command, words);
    }

    size_t Meters() const { return Sims.size(); }

private:
    static std::string Numbers(const auto& values) {
        std::string text = "ok";
        for (const auto v : values) text += " " + std::to_string(v);
        return text;
    }

    std::string Ask(vqtsim::Simulator& sim, const std::string& command, std::istringstream& words) {
        int a = 0, b = 0, c = 0;
        double x = 0;
        if (command == "start") {
            if (!sim.Start()) return "ok 0 " + sim.Error();
            std::string text = "ok 1 " + sim.DevicePath();
            for (uint8_t address : sim.Addresses()) text += " " + std::to_string(address);
            return text;
        }
        if (command == "stop") return sim.Stop(), "ok";
        if (command == "fault" && words >> a >> b >> c) return sim.SetFault(vqtsim::Fault(a), b, c), "ok";
        if (command == "drop" && words >> x) return sim.SetDropProbability(x), "ok";
        if (command == "share" && words >> x) return sim.SetFaultShare(x), "ok";
        if (command == "wire" && words >> a) return sim.SetWireTiming(a != 0), "ok";
        if (command == "live" && words >> a) return sim.SetLive(a != 0), "ok";
        if (command == "silent" && words >> a >> b) return sim.SetSilent(uint8_t(a), b != 0), "ok";
        if (command == "regs" && words >> a) return Numbers(sim.Registers(uint8_t(a)));
        if (command == "setreg" && words >> a >> b >> c)
            return sim.SetRegister(uint8_t(a), b, uint16_t(c)), "ok";
        if (command == "counters" && words >> a)
            return Numbers(std::array<uint64_t, 3>{sim.RequestsSeen(uint8_t(a)), sim.RepliesSent(uint8_t(a)),
                                                   sim.WritesApplied(uint8_t(a))});
        if (command == "counters")
            return Numbers(
                std::array<uint64_t, 3>{sim.RequestsSeen(), sim.RepliesSent(), sim.WritesApplied()});
        if (command == "archive" && words >> a) {
            std::string hex = "ok ";
            hex.reserve(3 + vqtsim::kArchiveSlots * 44);
            char digits[3];
            for (int slot = 0; slot < vqtsim::kArchiveSlots; ++slot)
                for (uint8_t byte : sim.ArchiveRecord(uint8_t(a), 1 + slot / vqtsim::kRecordsPerFile,
                                                      slot % vqtsim::kRecordsPerFile)) {
                    std::snprintf(digits, sizeof digits, "%02x", byte);
                    hex += digits;
                }
            return hex;
        }
        return "error unknown request '" + command + "'";
    }

    std::string LinkDir;
    std::map<int, std::unique_ptr<vqtsim::Simulator>> Sims;
};

} // namespace simlink
