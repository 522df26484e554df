// The options every command shares.
#pragma once

#include "modbus/LinkSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace cli {

// The reply time-out through a gateway when none is given.
inline constexpr int kGatewayTimeoutMs = 2000;
// For the port's help: the gateway forms besides the serial names.
inline constexpr const char* kGatewayNames =
    ", rtu+tcp://HOST:PORT (RTU through a serial server) or tcp://HOST[:PORT] (MODBUS TCP, port 502 "
    "unless given)";

// The window's defaults.
struct CommonOptions {
    std::string Port = "COM1";
    int Address = 1;
    uint32_t Baud = 9600;
    std::string Parity = "none";
    int StopBits = 1;
    int TimeoutMs = 1000;
    bool TimeoutSet = false;      // by the command line or a settings file
    std::string DecimalSeparator; // empty: the locale's
    std::string ConfigPath;       // empty: VQT540.cfg in the working directory, if there is one
    // Several meters on the line (watch, publish): "1,2,5" or "1-3,7";
    // empty: the one at Address.
    std::vector<uint8_t> Addresses;
    std::string AddressList;

    modbus::LinkSettings Link() const;
    // The given separator, else the locale's.
    std::string Separator() const;
};

// The options of one command, to tell which the command line gave.
struct CommonFlags {
    CLI::Option* Port = nullptr;
    CLI::Option* Address = nullptr;
    CLI::Option* Baud = nullptr;
    CLI::Option* Parity = nullptr;
    CLI::Option* StopBits = nullptr;
    CLI::Option* Timeout = nullptr;
    CLI::Option* Config = nullptr;
};

// manyAddresses: --address takes a list of meters on the line; siteConfig:
// --config names a site's "key = value" file instead of the window's.
CommonFlags AddCommonOptions(CLI::App& app, CommonOptions& options, bool manyAddresses = false,
                             bool siteConfig = false);

} // namespace cli
