// The words between a window test running under Wine and the simulator that
// the Linux side runs for it (the simulator needs pseudo-terminals, which
// Windows programs cannot make): one request a line on the test's stdout,
// one answer a line on its stdin. Plain C++, for both sides.
#pragma once

#include "sim/Simulator.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace simlink {

// Every request starts with this, so that anything else a program prints
// on its stdout cannot pass for one.
inline constexpr const char* kRequest = "@vqtsim ";

// Options as words, and back. The link's folder is not among them: the
// Linux side links every meter where Wine's COM1 leads.
inline std::string EncodeOptions(const vqtsim::Options& o) {
    std::ostringstream s;
    s << "address=" << int(o.address) << " baud=" << o.baudRate << " wire=" << o.wireTiming
      << " name=" << o.linkName << " records=" << o.archiveRecords << " wrapped=" << o.archiveWrapped
      << " now=" << static_cast<long long>(o.archiveNow) << " erased=" << o.archiveDamage.erasedBefore
      << " seed=" << o.seed << " parity=" << o.parity << " strict=" << o.strictLine << " addresses=";
    for (uint8_t a : o.addresses) s << int(a) << ',';
    s << " dates=";
    for (const vqtsim::BadDate& d : o.archiveDamage.badDates) s << d.slot << ':' << int(d.fault) << ',';
    s << " silences=";
    for (const vqtsim::SilentSpell& p : o.silences)
        s << int(p.address) << ':' << p.after << ':' << p.duration << ',';
    return s.str();
}

// The numbers of a comma-separated list of colon-separated fields.
inline std::vector<std::vector<double>> Fields(const std::string& list) {
    std::vector<std::vector<double>> items;
    std::stringstream entries(list);
    for (std::string entry; std::getline(entries, entry, ',');) {
        if (entry.empty()) continue;
        std::vector<double> fields;
        std::stringstream parts(entry);
        for (std::string part; std::getline(parts, part, ':');) fields.push_back(std::stod(part));
        items.push_back(fields);
    }
    return items;
}

// False when a word is unknown or a value no number.
inline bool DecodeOptions(std::istream& words, vqtsim::Options& o) {
    try {
        for (std::string word; words >> word;) {
            const size_t equals = word.find('=');
            if (equals == std::string::npos) return false;
            const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
            if (key == "address")
                o.address = static_cast<uint8_t>(std::stoi(value));
            else if (key == "baud")
                o.baudRate = static_cast<uint32_t>(std::stoul(value));
            else if (key == "wire")
                o.wireTiming = value == "1";
            else if (key == "name")
                o.linkName = value;
            else if (key == "records")
                o.archiveRecords = std::stoi(value);
            else if (key == "wrapped")
                o.archiveWrapped = value == "1";
            else if (key == "now")
                o.archiveNow = static_cast<std::time_t>(std::stoll(value));
            else if (key == "erased")
                o.archiveDamage.erasedBefore = std::stoi(value);
            else if (key == "seed")
                o.seed = static_cast<uint32_t>(std::stoul(value));
            else if (key == "parity")
                o.parity = std::stoi(value);
            else if (key == "strict")
                o.strictLine = value == "1";
            else if (key == "addresses")
                for (const auto& f : Fields(value)) o.addresses.push_back(static_cast<uint8_t>(f.at(0)));
            else if (key == "dates")
                for (const auto& f : Fields(value))
                    o.archiveDamage.badDates.push_back({int(f.at(0)), vqtsim::DateFault(int(f.at(1)))});
            else if (key == "silences")
                for (const auto& f : Fields(value))
                    o.silences.push_back({static_cast<uint8_t>(f.at(0)), f.at(1), f.at(2)});
            else
                return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

} // namespace simlink
