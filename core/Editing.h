// The values that the editing handlers of the device page queue. Each
// handler reads its control, calls one of these, and at most moves the focus.
// A value that cannot be written queues nothing: the slot keeps what it held.
#pragma once

#include "model/Decode.h"
#include "model/ParameterBlock.h"
#include "platform/OrReason.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Registers that the editing writes (1-based).
namespace reg {
inline constexpr uint8_t Flags = 2;
inline constexpr uint8_t Cutoff = 4;
inline constexpr uint8_t TimeConstant = 5;
inline constexpr uint8_t Range = 6;
inline constexpr uint8_t Alarm1 = 8;
inline constexpr uint8_t Alarm2 = 10;
inline constexpr uint8_t ForwardTotaliser = 18;
inline constexpr uint8_t ReverseTotaliser = 20;
inline constexpr uint8_t ArchivePeriod = 22;
} // namespace reg

// The lists whose choice is written.
enum class ListSetting { Range, FlowUnit, TotaliserUnit, PulseWeight, TimeConstant, ArchivePeriod };

// The user's choice in a list: the item index, -1 for typed text that is no
// item, itemCount the items the list holds. False, and nothing queued, when
// the index names no item the meter knows.
bool QueueListChoice(model::WriteSlots& slots, const model::CachedIndexes& cached, ListSetting setting,
                     int index, int itemCount);

// A totaliser reset: 0 into the two registers from `reg`.
void QueueTotaliserReset(model::WriteSlots& slots, uint8_t firstRegister);

// Alarm 1 or 2: `value` in the unit of its list (0 l/h, 1 m3/h, 2 l/min),
// written in l/h rounded half to even. Clears the alarm's editing flag.
// Queues nothing when it cannot be written, and says why.
platform::Outcome QueueAlarmThreshold(model::WriteSlots& slots, model::EditingFlags& editing, int alarm,
                                      double value, int unitIndex);

// The cut-off in percent, written in tenths rounded half to even; the meter
// keeps one byte, so only 0,0 ... 25,5 % can be written. Clears the editing
// flag. Queues nothing when it cannot be written, and says why; the
// separator is the one the message shows.
platform::Outcome QueueCutoff(model::WriteSlots& slots, model::EditingFlags& editing, double percent,
                              std::string_view decimalSeparator);

// What a write of the register changes, as the user knows it.
std::string_view WriteName(uint8_t firstRegister);
// The writes waiting in the slots, for the window to show: empty when none,
// else "Czeka na zapis: próg odcięcia, zakres pomiarowy".
std::string PendingWritesText(const model::WriteSlots& slots);

// Nearest integer, halves to even, when it fits 32 bits.
std::optional<int32_t> RoundHalfEven(double value);

} // namespace core
