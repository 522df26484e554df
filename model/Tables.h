// The fixed texts of the device page: units, pulse weights, time constants,
// archive periods, the DN table and the range lists of every DN.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

// Index = the code the meter uses.
inline constexpr std::array<std::string_view, 3> FlowUnitTexts = {"[l/h]", "[m3/h]", "[l/min]"};
inline constexpr std::array<std::string_view, 2> TotaliserUnitTexts = {"[m3]", "[l]"};
inline constexpr std::array<std::string_view, 4> PulseWeightTexts = {"1", "10", "100", "X"};
// Index 2 has a point where the others have a comma; that is how the meter's
// list is written.
inline constexpr std::array<std::string_view, 15> TimeConstantTexts = {
    "0,5", "1,0", "1.5",  "2,0",  "2,5",  "3,0",  "3,5", "4,0",
    "4,5", "5,0", "10,0", "15,0", "20,0", "25,0", "30,0"};
inline constexpr std::array<std::string_view, 11> ArchivePeriodTexts = {
    "bez zapisu", "1 min",  "2 min",  "5 min",   "15 min", "30 min",
    "1 godz",     "2 godz", "8 godz", "12 godz", "24 godz"};

inline constexpr size_t kDnCount = 23;
inline constexpr size_t kRangeSlots = 14;

// Nominal diameters by DN index.
inline constexpr std::array<int, kDnCount> DnTable = {3,  4,   6,   8,   10,  15,  20,  25,  32,  40,  50, 65,
                                                      80, 100, 125, 150, 200, 250, 300, 350, 400, 500, 600};

// Range texts in m3/h per DN index, descending, empty slots at the end. The
// texts are shown as they are (their decimals differ) and never parsed.
extern const std::array<std::array<std::string_view, kRangeSlots>, kDnCount> RangeTables;

// The entry of a table, or nothing for a code past its end.
template <typename T, size_t N>
constexpr std::optional<T> TableAt(const std::array<T, N>& table, size_t index) {
    if (index >= N) return std::nullopt;
    return table[index];
}

// The diameter text of a DN index: the diameter in decimal, or an empty text
// for an index the table does not have.
std::string DnText(size_t dnIndex);

// The items that setRange puts into the range box: the 14 slots of the DN's
// list (blank ones included), or none for an index beyond the table.
std::vector<std::string> RangeList(size_t dnIndex);

} // namespace model
