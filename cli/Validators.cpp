#include "cli/Validators.h"

#include "modbus/LinkSettings.h"
#include "model/LinkCheck.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <limits>

namespace cli {

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

namespace {
// Whole()'s digits, then `check`'s verdict on the number.
template <class Check> CLI::Validator Checked(Check check, const std::string& range) {
    return CLI::Validator(
        [check](std::string& text) -> std::string {
            const std::string whole =
                Whole(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max())(text);
            if (!whole.empty()) return whole;
            const auto checked = check(text);
            return checked ? std::string() : text + ": " + checked.error;
        },
        range);
}
} // namespace

CLI::Validator Address() {
    return Checked([](const std::string& text) { return model::ReadAddress(text); },
                   std::to_string(modbus::kLowestAddress) + "…" + std::to_string(modbus::kHighestAddress));
}

CLI::Validator Timeout() {
    return Checked(
        [](const std::string& text) {
            return model::ReadWholeWithin(text, model::kShortestTimeoutMs, model::kLongestTimeoutMs);
        },
        std::to_string(model::kShortestTimeoutMs) + "…" + std::to_string(model::kLongestTimeoutMs));
}

CLI::Validator Duration() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const auto seconds = ScaledWhole(text, {{"", 1}, {"s", 1}, {"min", 60}, {"h", 3600}}, 7);
            if (!seconds)
                return "\"" + text +
                       "\" is no duration: a whole number with s, min or h, such as 1h or 30min";
            text = std::to_string(*seconds);
            return {};
        },
        "DURATION");
}

std::optional<int64_t> ScaledWhole(const std::string& text, UnitScales units, size_t mostDigits) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > mostDigits) return std::nullopt;
    const std::string_view unit = std::string_view(text).substr(digits);
    for (const auto& [name, scale] : units)
        if (unit == name) return std::stoll(text.substr(0, digits)) * scale;
    return std::nullopt;
}

} // namespace cli
