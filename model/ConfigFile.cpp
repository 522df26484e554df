#include "model/ConfigFile.h"

#include "model/Cp1250.h"
#include "model/NumberFormat.h"
#include "platform/FileIo.h"

namespace model {

ConfigLines ParseConfig(std::string_view bytes, std::string_view path) {
    ConfigLines lines;
    constexpr size_t kPortNameLine = 8; // counted from 0
    for (size_t number = 0; number <= kPortNameLine && !bytes.empty(); ++number) {
        const size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        std::string text = Cp1250ToUtf8(line);
        if (number == kPortNameLine) {
            if (lines.Lists[0] == -1 && !text.empty()) lines.PortName = std::move(text);
            break;
        }
        if (number >= lines.Lists.size()) {
            lines.Texts[number - lines.Lists.size()] = std::move(text);
            continue;
        }
        const platform::OrReason<int32_t> index = ReadWholeNumber(text);
        if (!index) {
            // Say where: the user has to find the line to mend it.
            lines.Stopped = std::string(path) + ", wiersz " + std::to_string(number + 1) + ": " + index.error;
            break;
        }
        lines.Lists[number] = *index;
    }
    return lines;
}

std::string FormatConfig(const ConfigValues& values) {
    std::string text;
    const ConfigLists& l = values.Lists;
    const int32_t port = values.PortName.empty() ? l.Port : -1;
    for (const int32_t index : {port, l.Speed, l.Parity, l.StopBits, l.Mode})
        text += std::to_string(index) + "\r\n";
    for (const std::string* field : {&values.Address, &values.Period, &values.Timeout})
        text += *field + "\r\n";
    if (!values.PortName.empty()) text += values.PortName + "\r\n";
    return Utf8ToCp1250(text);
}

platform::OrReason<std::optional<ConfigLines>> LoadConfig(const std::string& path) {
    if (!platform::FileExists(path)) return {std::optional<ConfigLines>(), {}};
    // Nine short lines: anything much longer is no settings file.
    constexpr size_t kLongestSettingsFile = 4096;
    const platform::OrReason<std::string> bytes = platform::ReadWholeFile(path, kLongestSettingsFile);
    if (!bytes) return platform::OrReason<std::optional<ConfigLines>>::Fail(bytes.error);
    return {ParseConfig(*bytes, path), {}};
}

platform::Outcome SaveConfig(const std::string& path, const ConfigValues& values) {
    return platform::ReplaceWholeFile(path, FormatConfig(values));
}

} // namespace model
