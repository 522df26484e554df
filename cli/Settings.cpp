#include "cli/Settings.h"
#include "cli/Platform.h"
#include "cli/Say.h"

#include "core/ArchiveCycle.h"
#include "modbus/PortName.h"
#include "modbus/SerialPort.h"
#include "model/ConfigFile.h"
#include "model/NumberFormat.h"
#include "platform/FileIo.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>

namespace cli {

const char* const kExitCodeHelp =
    "Exit codes:\n"
    "  0   success\n"
    "  1   unexpected internal error\n"
    "  2   bad arguments\n"
    "  3   the meter did not answer: the read failed (watch: at least one read failed),\n"
    "      or the download gave up after --retries failed attempts in a row; scan: no\n"
    "      meter found\n"
    "  4   the export or CSV file cannot be created, read or written; archive --new on\n"
    "      an existing file; archive --update of a file without a numbered last line\n"
    "  5   archive, scan: stopped by SIGINT or SIGTERM before the end\n"
    "  10  the port does not exist\n"
    "  11  the port is held by another program\n"
    "  12  no permission to open the port (join the dialout group)\n"
    "  13  the name leads to something that is not a serial port\n"
    "  14  the port cannot be opened for another reason\n"
    "\n"
    "Numbers use the locale's decimal separator (LC_ALL, LC_NUMERIC, LANG), as the\n"
    "window does; --decimal-separator overrides it.\n";

std::vector<uint32_t> SpeedList() {
    return {modbus::kSpeeds.begin(), modbus::kSpeeds.end()};
}

std::vector<std::string> ParityNames() {
    std::vector<std::string> names;
    for (const modbus::ParityEntry& p : modbus::kParities) names.emplace_back(p.Name);
    return names;
}

CLI::Validator Whole(int64_t low, int64_t high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            const bool negative = !text.empty() && text[0] == '-';
            const std::string digits = negative ? text.substr(1) : text;
            if (digits.empty() || digits.size() > 12 ||
                !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return "\"" + text + "\" is not a whole number in decimal digits";
            const int64_t value = (negative ? -1 : 1) * std::stoll(digits);
            if (value < low || value > high)
                return text + " is outside " + std::to_string(low) + " … " + std::to_string(high);
            text = std::to_string(value); // "017" goes on as 17
            return {};
        },
        std::to_string(low) + "…" + std::to_string(high));
}

CLI::Validator LineSpeed() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            std::string speeds;
            for (const uint32_t s : modbus::kSpeeds)
                speeds += (speeds.empty() ? "" : ", ") + std::to_string(s);
            const std::string whole = Whole(0, 1000000)(text);
            if (!whole.empty()) return whole + "; the speeds are " + speeds;
            if (!modbus::SpeedIndex(static_cast<uint32_t>(std::stoul(text))))
                return text + " is not a speed of the line: " + speeds;
            return {};
        },
        "SPEED");
}

modbus::LinkSettings CommonOptions::Link() const {
    modbus::LinkSettings link;
    link.PortName = Port;
    link.BaudRate = Baud;
    link.Parity = modbus::kParities[modbus::ParityIndexOfName(Parity).value_or(0)].Code;
    link.StopBits = StopBits == 2 ? modbus::kTwoStopBits : modbus::kOneStopBit;
    link.DeviceAddress = static_cast<uint8_t>(Address);
    link.TimeoutMs = TimeoutMs;
    return link;
}

std::string CommonOptions::Separator() const {
    return DecimalSeparator.empty() ? LocaleDecimalSeparator() : DecimalSeparator;
}

platform::OrReason<std::vector<uint8_t>> ParseAddressList(const std::string& text) {
    using Result = platform::OrReason<std::vector<uint8_t>>;
    std::vector<uint8_t> addresses;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const std::string part = text.substr(from, comma - from);
        const size_t dash = part.find('-', 1);
        const platform::OrReason<uint8_t> low = modbus::ReadAddress(part.substr(0, dash));
        const platform::OrReason<uint8_t> high =
            dash == std::string::npos ? low : modbus::ReadAddress(part.substr(dash + 1));
        if (!low || !high) return Result::Fail("\"" + part + "\": " + (!low ? low.error : high.error));
        if (*high < *low) return Result::Fail("\"" + part + "\": the range runs backwards");
        for (int a = *low; a <= *high; ++a) {
            if (std::find(addresses.begin(), addresses.end(), a) != addresses.end())
                return Result::Fail("address " + std::to_string(a) + " given twice");
            addresses.push_back(static_cast<uint8_t>(a));
        }
        from = comma + 1;
    }
    return {std::move(addresses), {}};
}

CommonFlags AddCommonOptions(CLI::App& app, CommonOptions& o, bool manyAddresses, bool siteConfig) {
    CommonFlags flags;
    const CLI::Validator portName(
        [](std::string& name) {
            if (modbus::IsGatewayName(name)) {
                const auto gateway = modbus::ParsePortName(name);
                return gateway ? std::string() : "\"" + name + "\": " + gateway.error;
            }
            if (!modbus::ResolveDevice(name).empty()) return std::string();
            return "\"" + name + "\" is no port: " + modbus::kPortNames + kGatewayNames;
        },
        "");
    flags.Port = app.add_option("--port", o.Port, std::string(modbus::kPortNamesHelp) + kGatewayNames)
                     ->check(portName)
                     ->capture_default_str();
    if (manyAddresses)
        flags.Address = app.add_option("--address", o.AddressList,
                                       "slave addresses of the meters on the line: N, or a list such as "
                                       "1,2,5 or 1-3,7 (default 1)")
                            ->check(CLI::Validator(
                                [](std::string& text) { return ParseAddressList(text).error; }, "LIST"));
    else
        flags.Address = app.add_option("--address", o.Address, "slave address of the meter")
                            ->transform(Whole(modbus::kLowestAddress, modbus::kHighestAddress))
                            ->capture_default_str();
    flags.Baud = app.add_option("--baud", o.Baud, "line speed in bit/s")
                     ->transform(LineSpeed())
                     ->capture_default_str();
    flags.Parity = app.add_option("--parity", o.Parity, "parity")
                       ->check(CLI::IsMember(ParityNames()))
                       ->capture_default_str();
    flags.StopBits =
        app.add_option("--stop-bits", o.StopBits, "stop bits")->transform(Whole(1, 2))->capture_default_str();
    flags.Timeout =
        app.add_option("--timeout", o.TimeoutMs,
                       "reply time-out in ms; through a gateway " + std::to_string(kGatewayTimeoutMs) +
                           " unless given, as the network adds its own delay")
            ->transform(Whole(core::kShortestTimeoutMs, kLongestTimeoutMs))
            ->each([&o](const std::string&) { o.TimeoutSet = true; })
            ->capture_default_str();
    app.add_option("--decimal-separator", o.DecimalSeparator,
                   "decimal separator of the numbers shown and written (default: the locale's)")
        ->check(CLI::IsMember({",", "."}));
    if (siteConfig) {
        // The site's own file: "key = value" lines named as the options.
        flags.Config = app.add_option("--config", o.ConfigPath,
                                      "a site's settings file: one 'key = value' a line, the keys the "
                                      "options' names without the dashes, '#' starting a comment line; "
                                      "options given on the command line win");
        return flags;
    }
    flags.Config =
        app.add_option("--config", o.ConfigPath,
                       "the window's settings file, for what the options above leave open (default: "
                       "VQT540.cfg in the working directory, when there is one)");
    return flags;
}

namespace {

// A value of the file that the command line did not give, and its check.
struct FromFile {
    const model::ConfigLines& Lines;
    const std::string& Path;
    std::string Error;

    // Line `number` (1-based) as a list index below `count`.
    std::optional<int32_t> Index(size_t number, int32_t count) {
        const std::optional<int32_t>& index = Lines.Lists[number - 1];
        if (!index || *index == -1) return std::nullopt; // no selection: the tool's default
        if (*index >= 0 && *index < count) return index;
        Refuse(number, "pozycja " + std::to_string(*index) + " nie istnieje na liście.");
        return std::nullopt;
    }
    // Line `number` as a whole number within [low, high].
    std::optional<int32_t> Number(size_t number, int32_t low, int32_t high) {
        const std::optional<std::string>& text = Lines.Texts[number - 1 - Lines.Lists.size()];
        if (!text) return std::nullopt;
        const platform::OrReason<int32_t> value = model::ReadWholeNumber(*text);
        if (value && *value >= low && *value <= high) return *value;
        Refuse(number, value ? "wartość " + std::to_string(*value) + " poza zakresem " + std::to_string(low) +
                                   " … " + std::to_string(high) + "."
                             : value.error);
        return std::nullopt;
    }
    void Refuse(size_t number, const std::string& reason) {
        if (Error.empty()) Error = Path + ", wiersz " + std::to_string(number) + ": " + reason;
    }
};

bool Given(const CLI::Option* option) {
    return option != nullptr && option->count() > 0;
}

} // namespace

namespace {
int ApplyConfigLines(const CommonFlags& flags, CommonOptions& o, const PeriodFlag& period);
}

int ApplyConfigFile(const CommonFlags& flags, CommonOptions& o, const PeriodFlag& period) {
    const int code = ApplyConfigLines(flags, o, period);
    ResolveAddresses(o);
    return code;
}

void ResolveAddresses(CommonOptions& o) {
    // The meters the command reads: the list given, else the one address.
    if (o.AddressList.empty())
        o.Addresses = {static_cast<uint8_t>(o.Address)};
    else
        o.Addresses = *ParseAddressList(o.AddressList);
    o.Address = o.Addresses.front();
    // A gateway's network hop and its own wait come on top of the meter's.
    if (!o.TimeoutSet && modbus::IsGatewayName(o.Port)) o.TimeoutMs = kGatewayTimeoutMs;
}

namespace {

// Only a regular file: opening a FIFO would wait for a writer, and no signal
// would end that wait.
std::string NotAFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) return path + ": " + error.message();
    if (!std::filesystem::is_regular_file(status)) return path + ": not a regular file";
    return {};
}

// A password in a file that every user of the machine can read.
void WarnIfReadable(const std::string& path) {
#ifndef _WIN32
    std::error_code error;
    const auto permissions = std::filesystem::status(path, error).permissions();
    if (!error && (permissions & std::filesystem::perms::others_read) != std::filesystem::perms::none)
        Say(path + " holds the broker's password and every user of this machine can read it: chmod 600 " +
            path);
#else
    (void)path;
#endif
}

} // namespace

platform::OrReason<std::vector<std::string>> SiteArguments(const std::string& path, const CLI::App& command) {
    using Result = platform::OrReason<std::vector<std::string>>;
    constexpr size_t kLongestSiteFile = 16384;
    if (const std::string why = NotAFile(path); !why.empty()) return Result::Fail(why);
    platform::OrReason<std::string> bytes = platform::ReadWholeFile(path, kLongestSiteFile);
    if (!bytes) return Result::Fail(bytes.error);
    // Windows' editors start a UTF-8 file with a byte order mark.
    if (bytes->rfind("\xEF\xBB\xBF", 0) == 0) bytes.value->erase(0, 3);
    std::vector<std::string> arguments;
    std::map<std::string, size_t> seen; // key -> its line
    const auto trim = [](std::string s) {
        const size_t first = s.find_first_not_of(" \t\r");
        if (first == std::string::npos) return std::string();
        return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
    };
    size_t number = 0;
    for (size_t from = 0; from < bytes->size(); ++number) {
        const size_t end = std::min(bytes->find('\n', from), bytes->size());
        const std::string line = trim(bytes->substr(from, end - from));
        from = end + 1;
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        const std::string where = path + ", line " + std::to_string(number + 1) + ": ";
        if (equals == std::string::npos) return Result::Fail(where + "no 'key = value'");
        // An argument ends at a NUL: the value would be cut short unseen.
        if (line.find('\0') != std::string::npos) return Result::Fail(where + "a NUL character");
        const std::string key = trim(line.substr(0, equals));
        // The value as it stands: a '#' or ';' in a password is the password's.
        std::string value = trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (key == "config") return Result::Fail(where + "a settings file names no other");
        const CLI::Option* option = nullptr;
        try {
            option = command.get_option("--" + key);
        } catch (const CLI::OptionNotFound&) {
        }
        if (!option)
            return Result::Fail(where + "\"" + key + "\" is no option of vqt540 " + command.get_name());
        if (const auto [first, added] = seen.emplace(key, number + 1); !added)
            return Result::Fail(where + "\"" + key + "\" is given on line " + std::to_string(first->second) +
                                " already");
        if (key == "password") WarnIfReadable(path);
        if (option->count() == 0) arguments.push_back("--" + key + "=" + value);
    }
    return {std::move(arguments), {}};
}

CLI::Validator Duration() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            size_t digits = 0;
            while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
            const std::string unit = text.substr(digits);
            const int64_t scale = unit.empty() || unit == "s" ? 1
                                  : unit == "min"             ? 60
                                  : unit == "h"               ? 3600
                                                              : 0;
            if (digits == 0 || digits > 7 || scale == 0)
                return "\"" + text +
                       "\" is no duration: a whole number with s, min or h, such as 1h or 30min";
            text = std::to_string(std::stoll(text.substr(0, digits)) * scale);
            return {};
        },
        "DURATION");
}

namespace {
int ApplyConfigLines(const CommonFlags& flags, CommonOptions& o, const PeriodFlag& period) {
    const bool named = !o.ConfigPath.empty();
    const std::string path = named ? o.ConfigPath : std::string(model::kConfigFileName);
    const platform::OrReason<std::optional<model::ConfigLines>> loaded = model::LoadConfig(path);
    if (!loaded || (named && !*loaded)) {
        Say((loaded ? path + ": no such settings file" : loaded.error));
        return kExitFile;
    }
    if (!*loaded) return kExitOk;
    const model::ConfigLines& lines = **loaded;
    if (!lines.Stopped.empty()) {
        Say(lines.Stopped);
        return kExitUsage;
    }
    FromFile file{lines, path, {}};
    if (!Given(flags.Port)) {
        // A port beyond the twelve is named by the ninth line, line 1 being -1.
        if (lines.PortName)
            o.Port = *lines.PortName;
        else if (const auto i = file.Index(1, modbus::kPortCount))
            o.Port = "COM" + std::to_string(*i + 1);
    }
    if (!Given(flags.Baud))
        if (const auto i = file.Index(2, static_cast<int32_t>(modbus::kSpeeds.size())))
            o.Baud = modbus::kSpeeds[size_t(*i)];
    if (!Given(flags.Parity))
        if (const auto i = file.Index(3, static_cast<int32_t>(modbus::kParities.size())))
            o.Parity = modbus::kParities[size_t(*i)].Name;
    if (!Given(flags.StopBits))
        if (const auto i = file.Index(4, static_cast<int32_t>(modbus::kStopBits.size()))) o.StopBits = *i + 1;
    if (!Given(flags.Address))
        if (const auto a = file.Number(6, modbus::kLowestAddress, modbus::kHighestAddress)) o.Address = *a;
    if (period.Ms && !Given(period.Option))
        if (const auto ms = file.Number(7, 0, period.MaxMs)) *period.Ms = *ms;
    if (!Given(flags.Timeout))
        if (const auto ms = file.Number(8, core::kShortestTimeoutMs, kLongestTimeoutMs)) {
            o.TimeoutMs = *ms;
            o.TimeoutSet = true;
        }
    if (!file.Error.empty()) {
        Say(file.Error);
        return kExitUsage;
    }
    return kExitOk;
}

} // namespace

int CheckPort(const std::string& port) {
    using State = modbus::PortProbe::State;
    // A gateway is tried by the transactions themselves, which say why not.
    if (modbus::IsGatewayName(port)) return kExitOk;
    const modbus::PortProbe probe = modbus::ProbePort(port);
    int code = kExitOk;
    switch (probe.state) {
    case State::Usable:
        return kExitOk;
    case State::Absent:
        code = kExitPortAbsent;
        break;
    case State::Busy:
        code = kExitPortBusy;
        break;
    case State::NoPermission:
        code = kExitPortNoPermission;
        break;
    case State::NotATerminal:
        code = kExitPortNotTerminal;
        break;
    case State::BadName:
        code = kExitUsage;
        break;
    case State::OtherError:
        code = kExitPortOther;
        break;
    }
    Say(modbus::DescribeProbe(probe));
    return code;
}

std::string DecimalSeparatorOfLanguage(std::string_view localeName) {
    // Languages whose numbers are written with a decimal comma.
    static constexpr std::string_view kComma[] = {
        "az", "be", "bg", "bs", "ca", "cs", "da", "de", "el", "es", "et", "eu", "fi", "fo", "fr",
        "gl", "hr", "hu", "id", "is", "it", "ka", "kk", "ky", "lt", "lv", "mk", "nb", "nl", "nn",
        "no", "pl", "pt", "ro", "ru", "sk", "sl", "sq", "sr", "sv", "tr", "uk", "uz", "vi"};
    std::string language(localeName.substr(0, localeName.find_first_of("_.@")));
    std::transform(language.begin(), language.end(), language.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(std::begin(kComma), std::end(kComma), language) != std::end(kComma) ? "," : ".";
}

std::string LocaleDecimalSeparator() {
    if (std::setlocale(LC_NUMERIC, "") != nullptr) {
        const std::string point = std::localeconv()->decimal_point;
        // Everything else (CLI11, JSON) expects the "C" numbers.
        std::setlocale(LC_NUMERIC, "C");
        if (!point.empty()) return point;
    }
    // The locale is not installed: its name still says the language.
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return DecimalSeparatorOfLanguage(value);
    }
    return ".";
}

std::string IsoLocalTimeNow() {
    return IsoTimestamp(LocalTimeNow());
}

} // namespace cli
