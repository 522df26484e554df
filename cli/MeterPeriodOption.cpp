#include "cli/MeterPeriodOption.h"
#include "cli/Settings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <utility>

namespace cli {

namespace {

struct Item {
    std::vector<uint8_t> Addresses;
    int64_t Ms = 0;
};

// "60000" (ms), "90s", "15min" or "1h", within 1 ms … a day.
platform::OrReason<int64_t> ReadTime(const std::string& text) {
    // Nine digits are past a day in any unit and far from overflowing.
    const auto read = ScaledWhole(text, {{"", 1}, {"ms", 1}, {"s", 1000}, {"min", 60000}, {"h", 3600000}}, 9);
    if (!read)
        return platform::OrReason<int64_t>::Fail("\"" + text +
                                                 "\" is no time: ms, or a whole number with s, "
                                                 "min or h, such as 60000 or 15min");
    const int64_t ms = *read;
    if (ms < 1 || ms > kLongestMeterPeriodMs)
        return platform::OrReason<int64_t>::Fail("\"" + text + "\" is outside 1 ms … 24 h");
    return {ms, {}};
}

platform::OrReason<Item> ReadItem(const std::string& text) {
    using Result = platform::OrReason<Item>;
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return Result::Fail("\"" + text + "\" is no ADDRESSES:TIME, such as 5:60000 or 3-4:15min");
    const auto addresses = ParseAddressList(text.substr(0, colon));
    if (!addresses) return Result::Fail("\"" + text + "\": " + addresses.error);
    const auto ms = ReadTime(text.substr(colon + 1));
    if (!ms) return Result::Fail(ms.error);
    return {Item{*addresses, *ms}, {}};
}

} // namespace

CLI::Option* AddMeterPeriodOption(CLI::App& app, std::vector<std::string>& items) {
    return app
        .add_option("--period", items,
                    "meters read less often than every round, as ADDRESSES:TIME, such as 5:60000 (meter 5 "
                    "every 60000 ms) or 3-4:15min; several separated by commas")
        ->delimiter(',')
        ->type_name("ADDRESSES:TIME")
        ->check(CLI::Validator([](std::string& text) { return ReadItem(text).error; }, ""));
}

platform::OrReason<std::map<uint8_t, int64_t>> ReadMeterPeriods(const std::vector<std::string>& items,
                                                                const std::vector<uint8_t>& line) {
    using Result = platform::OrReason<std::map<uint8_t, int64_t>>;
    std::map<uint8_t, int64_t> periods;
    for (const std::string& text : items) {
        const platform::OrReason<Item> item = ReadItem(text);
        if (!item) return Result::Fail("--period " + item.error);
        for (const uint8_t a : item->Addresses) {
            // A typo would otherwise leave the meter meant read every round, unsaid.
            if (std::find(line.begin(), line.end(), a) == line.end())
                return Result::Fail("--period \"" + text + "\": meter " + std::to_string(a) +
                                    " is not one of --address");
            if (!periods.emplace(a, item->Ms).second)
                return Result::Fail("--period \"" + text + "\": meter " + std::to_string(a) +
                                    " has a period already");
        }
    }
    return {std::move(periods), {}};
}

} // namespace cli
