// The options every command shares, the exit codes, the port check done
// before any transaction, and the decimal separator of the user's locale.
#pragma once

#include "modbus/Transaction.h"
#include "platform/OrReason.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class Option;
class Validator;
} // namespace CLI

namespace cli {

// One code per kind of failure, so that a script can tell them apart.
enum ExitCode : int {
    kExitOk = 0,
    kExitInternal = 1,
    kExitUsage = 2,
    kExitNoAnswer = 3, // a read failed, or the download gave up
    kExitFile = 4,     // the export or CSV file cannot be read or written
    kExitInterrupted = 5,
    kExitPortAbsent = 10,
    kExitPortBusy = 11,
    kExitPortNoPermission = 12,
    kExitPortNotTerminal = 13,
    kExitPortOther = 14,
};

// The table of exit codes for the end of every --help.
extern const char* const kExitCodeHelp;

inline constexpr int kLongestTimeoutMs = 60000;
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
// The meters a command reads, from --address (a list, or one).
void ResolveAddresses(CommonOptions& options);
// A site's settings file as command-line arguments ("--key=value") for the
// options of `command` that the command line did not give; or the reason
// ("FILE, line N: …") when the file is no regular file or cannot be read, or
// a line names no option, one given before, or holds a NUL. A leading UTF-8
// byte order mark is skipped; a password in a file every user can read is
// warned of on stderr.
platform::OrReason<std::vector<std::string>> SiteArguments(const std::string& path, const CLI::App& command);
// "1h", "30min", "90s" or "0": seconds.
CLI::Validator Duration();

// "1,2,5" or "1-3,7": each 1 … 247, none twice, in the order given.
platform::OrReason<std::vector<uint8_t>> ParseAddressList(const std::string& text);

// The line's table as the options' choices.
std::vector<uint32_t> SpeedList();
std::vector<std::string> ParityNames();

// A whole decimal number within [low, high]: digits only, with a minus for a
// number below zero, so that "017" is 17 and "0x10" no number at all; the
// reason says which rule the text breaks.
CLI::Validator Whole(int64_t low, int64_t high);
// One of the line's speeds, with the list in the reason.
CLI::Validator LineSpeed();

// The scan period of a command that has one: its option, where it goes and
// its largest value.
struct PeriodFlag {
    CLI::Option* Option = nullptr;
    int* Ms = nullptr;
    int MaxMs = 0;
};

// Takes what the command line left open from the window's settings file,
// so that both programs work with a technician's saved settings. 0, or the
// exit code with the reason on stderr (a value in the file that the option
// would refuse, a file that cannot be read).
int ApplyConfigFile(const CommonFlags& flags, CommonOptions& options, const PeriodFlag& period = {});

// Probes the port before anything is sent. Usable: 0. Otherwise the reason
// goes to stderr and the port's exit code is returned.
int CheckPort(const std::string& port);

// The C library's separator when LC_NUMERIC can be set from the environment,
// else the one of the language named in LC_ALL, LC_NUMERIC or LANG.
std::string LocaleDecimalSeparator();
// "," or "." for a locale name such as "pl_PL.UTF-8".
std::string DecimalSeparatorOfLanguage(std::string_view localeName);

// Local time with milliseconds and the UTC offset, ISO 8601.
std::string IsoLocalTimeNow();

} // namespace cli
