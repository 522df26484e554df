#include "cli/SiteSettings.h"

#include "cli/Say.h"

#include "platform/FileIo.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <map>

namespace cli {

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

} // namespace cli
