// vqt540 ports: the serial ports of this machine, so that the technician
// finds the adapter's name for --port without guessing at /dev.
#include "cli/Commands.h"
#include "cli/Say.h"
#include "cli/Table.h"

#include "platform/SerialPorts.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>

namespace cli {

namespace {

using platform::SerialPortInfo;

// What a terminal shows of the text: one column per character, not per byte.
size_t Columns(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(
        utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The cells of a port: its name, then what is known of it. A USB descriptor
// is the device's own text and may hold control characters: shown escaped.
std::vector<std::string> Cells(const SerialPortInfo& p) {
    return {Escaped(p.Name),    p.Device == p.Name ? std::string() : "-> " + Escaped(p.Device),
            Escaped(p.Driver),  Escaped(p.Maker),
            Escaped(p.Product), Escaped(p.Serial)};
}

// Aligned columns; a column no port has anything in takes no room.
std::vector<std::string> Lines(const std::vector<SerialPortInfo>& ports) {
    std::vector<std::vector<std::string>> rows;
    for (const SerialPortInfo& p : ports) rows.push_back(Cells(p));
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Columns(row[c]));
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            if (widths[c] == 0) continue;
            if (!line.empty()) line += "  ";
            line += row[c] + std::string(widths[c] - Columns(row[c]), ' ');
        }
        lines.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
    }
    return lines;
}

int PrintJson(const std::vector<SerialPortInfo>& ports) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const SerialPortInfo& p : ports)
        list.push_back({{"name", p.Name},
                        {"device", p.Device},
                        {"driver", p.Driver},
                        {"maker", p.Maker},
                        {"product", p.Product},
                        {"serial", p.Serial}});
    std::cout << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    std::cout.flush();
    return std::cout ? kExitOk : kExitFile;
}

} // namespace

int RunPorts(const PortsOptions& options) {
    const std::vector<SerialPortInfo> ports = platform::ListSerialPorts(options.Root);
    if (ports.empty()) Say("no serial port found");
    // An empty list is still a list for a script reading the JSON.
    if (options.Json) return PrintJson(ports);
    if (ports.empty()) return kExitOk;
    Table table;
    std::string error = table.Open("", "");
    for (const std::string& line : Lines(ports))
        if (error.empty()) error = table.Write(line);
    if (error.empty()) return kExitOk;
    Say(error);
    return kExitFile;
}

} // namespace cli
