// The one check of the line's settings, for the window's communication page,
// the settings file VQT540.cfg and the tool alike: the same whole-number
// rule (model::ReadWholeNumber: blanks before, a sign), the same ranges and
// the window's words for the reason, so that a value one of them takes is
// taken by the others too.
#pragma once

#include "modbus/LinkSettings.h"
#include "platform/OrReason.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace model {

// The reply time-outs the tool and the archive download work with; below the
// shortest no reply of the line could come in time.
inline constexpr int32_t kShortestTimeoutMs = 20, kLongestTimeoutMs = 60000;

// The lists of the settings file's lines 1 to 5, in that order; the mode's
// has its one item, "MODBUS RTU".
enum class LinkList : size_t { Port, Speed, Parity, StopBits, Mode };

// A list's item index as the file holds it: the item (nothing for -1, no
// selection), or "pozycja N nie istnieje na liście" for one the list lacks.
// The port's list counts the twelve COM names only: the ports after them
// differ from machine to machine.
platform::OrReason<std::optional<size_t>> CheckListIndex(LinkList list, int32_t index);

// The address field's text: a whole number, 1 … 247.
platform::OrReason<uint8_t> ReadAddress(std::string_view text);

// A whole number within [low, high], such as a time-out or a scan period.
platform::OrReason<int32_t> ReadWholeWithin(std::string_view text, int32_t low, int32_t high);

// The settings of a transaction, or the first reason they cannot make one,
// as "Setting: reason." in the window's words.
platform::OrReason<modbus::LinkSettings> CheckLink(const modbus::LinkChoice& choice);

} // namespace model
