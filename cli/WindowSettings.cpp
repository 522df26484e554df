#include "cli/WindowSettings.h"

#include "cli/AddressList.h"
#include "cli/ExitCodes.h"
#include "cli/Say.h"

#include "model/ConfigFile.h"
#include "model/LinkCheck.h"

#include <CLI/CLI.hpp>

#include <optional>

namespace cli {

namespace {

// The values of the file that the command line did not give, through the
// window's check; the first refusal, with its line.
struct FromFile {
    const model::ConfigLines& Lines;
    const std::string& Path;
    std::string Error;

    // The item of list line `number` (1-based); none for no selection.
    std::optional<size_t> Item(size_t number) {
        const std::optional<int32_t>& index = Lines.Lists[number - 1];
        if (!index) return std::nullopt;
        const auto item = model::CheckListIndex(model::LinkList(number - 1), *index);
        if (!item) Refuse(number, item.error + ".");
        return item ? *item : std::nullopt;
    }
    // Text line `number` through `check`.
    template <class Check> auto Text(size_t number, Check check) -> decltype(check(std::string()).value) {
        const std::optional<std::string>& text = Lines.Texts[number - 1 - Lines.Lists.size()];
        if (!text) return std::nullopt;
        auto checked = check(*text);
        if (!checked) Refuse(number, checked.error);
        return checked.value;
    }
    void Refuse(size_t number, const std::string& reason) {
        if (Error.empty()) Error = Path + ", wiersz " + std::to_string(number) + ": " + reason;
    }
};

bool Given(const CLI::Option* option) {
    return option != nullptr && option->count() > 0;
}

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
        else if (const auto i = file.Item(1))
            o.Port = "COM" + std::to_string(*i + 1);
    }
    if (!Given(flags.Baud))
        if (const auto i = file.Item(2)) o.Baud = modbus::kSpeeds[*i];
    if (!Given(flags.Parity))
        if (const auto i = file.Item(3)) o.Parity = modbus::kParities[*i].Name;
    if (!Given(flags.StopBits))
        if (const auto i = file.Item(4)) o.StopBits = int(*i) + 1;
    if (!Given(flags.Address))
        if (const auto a = file.Text(6, [](const std::string& t) { return model::ReadAddress(t); }))
            o.Address = *a;
    if (period.Ms && !Given(period.Option))
        if (const auto ms = file.Text(
                7, [&period](const std::string& t) { return model::ReadWholeWithin(t, 0, period.MaxMs); }))
            *period.Ms = *ms;
    if (!Given(flags.Timeout))
        if (const auto ms = file.Text(8, [](const std::string& t) {
                return model::ReadWholeWithin(t, model::kShortestTimeoutMs, model::kLongestTimeoutMs);
            })) {
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

int ApplyConfigFile(const CommonFlags& flags, CommonOptions& o, const PeriodFlag& period) {
    const int code = ApplyConfigLines(flags, o, period);
    ResolveAddresses(o);
    return code;
}

} // namespace cli
