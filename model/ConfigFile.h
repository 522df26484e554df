// The settings file VQT540.cfg in the working directory: eight lines, each
// ended by CR LF, in Windows-1250. Lines 1-5 are the item indexes of the
// port, speed, parity, stop-bits and mode lists (-1: no selection); lines
// 6-8 the texts of the address, scan-period and time-out fields, exactly as
// typed. A port beyond COM1 ... COM12 (an adapter's device, a gateway) is a
// ninth line holding its name, with line 1 at -1: a reader of eight lines
// still reads the rest and takes the port as none chosen. The window and the
// tool read it alike.
#pragma once

#include "platform/OrReason.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace model {

inline constexpr std::string_view kConfigFileName = "VQT540.cfg";

struct ConfigLists {
    int32_t Port = 0;
    int32_t Speed = 3; // 9600
    int32_t Parity = 0;
    int32_t StopBits = 0;
    int32_t Mode = 0;
};

// A whole settings file, as saved; the defaults are those of a missing file.
struct ConfigValues {
    ConfigLists Lists;
    std::string Address = "  1"; // UTF-8
    std::string Period = "1000";
    std::string Timeout = "1000";
    // A port beyond the twelve (UTF-8); when set, line 1 is written -1
    // whatever Lists.Port says.
    std::string PortName;
};

// What a file holds: the lines it has, in their order. Reading stops at the
// first list line that is not a whole number; the lines before it stay.
struct ConfigLines {
    std::array<std::optional<int32_t>, 5> Lists;     // port, speed, parity, stop bits, mode
    std::array<std::optional<std::string>, 3> Texts; // address, period, time-out (UTF-8)
    // The ninth line's port (UTF-8), taken only when line 1 is -1 and the
    // line is not empty: beside a real index it is stale.
    std::optional<std::string> PortName;
    // Set when reading stopped at a line: "path, wiersz N: reason".
    std::string Stopped;
};

// The bytes of a file: lines end in LF, CR LF counts as LF; at most nine
// lines are read. `path` names the file in the stop message.
ConfigLines ParseConfig(std::string_view bytes, std::string_view path);
// The 32 bytes of the defaults, and any other settings alike.
std::string FormatConfig(const ConfigValues& values);

// The file, or nothing when there is none; a file that cannot be read is an error.
platform::OrReason<std::optional<ConfigLines>> LoadConfig(const std::string& path);
// Replaces the file whole, so that a failed write leaves the old settings.
platform::Outcome SaveConfig(const std::string& path, const ConfigValues& values);

} // namespace model
