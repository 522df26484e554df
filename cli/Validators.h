// The checks of the options' texts, in the tool's words.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace CLI {
class Validator;
} // namespace CLI

namespace cli {

// The line's table as the options' choices.
std::vector<uint32_t> SpeedList();
std::vector<std::string> ParityNames();

// A whole decimal number within [low, high]: digits only, with a minus for a
// number below zero, so that "017" is 17 and "0x10" no number at all; the
// reason says which rule the text breaks.
CLI::Validator Whole(int64_t low, int64_t high);
// One of the line's speeds, with the list in the reason.
CLI::Validator LineSpeed();
// The meter's address and the reply time-out: the digits as Whole() wants
// them, then the check the window and its settings file go through.
CLI::Validator Address();
CLI::Validator Timeout();
// "1h", "30min", "90s" or "0": seconds.
CLI::Validator Duration();

// Whole digits and one of `units` after them ("" for none), as the number
// times the unit's scale; nothing without digits, with more than `mostDigits`
// or with another unit.
using UnitScales = std::initializer_list<std::pair<std::string_view, int64_t>>;
std::optional<int64_t> ScaledWhole(const std::string& text, UnitScales units, size_t mostDigits);

} // namespace cli
