// --period of watch and publish: meters of the line read less often than
// every round. Each item is ADDRESSES:TIME, the addresses one or a range
// ("5", "3-4"), the time in ms or with s, min or h ("60000", "15min");
// several items are separated by commas or given as several options.
#pragma once

#include "platform/OrReason.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace cli {

inline constexpr int64_t kLongestMeterPeriodMs = 86400000;

// The option on `app`; its items go to `items`.
CLI::Option* AddMeterPeriodOption(CLI::App& app, std::vector<std::string>& items);

// The period of each meter named, in ms; or the reason: an item that is no
// ADDRESSES:TIME, a meter that is not on the line, or one named twice.
platform::OrReason<std::map<uint8_t, int64_t>> ReadMeterPeriods(const std::vector<std::string>& items,
                                                                const std::vector<uint8_t>& line);

} // namespace cli
