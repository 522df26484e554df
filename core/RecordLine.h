// One archive record (22 bytes, big-endian fields) as its text line:
//   year-month-day;hour:minute:second;flow;L+ unit;L- unit;events
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

inline constexpr size_t kRecordSize = 22;
using ArchiveRecord = std::array<uint8_t, kRecordSize>;

// Where the record starts in a good function-0x14 reply (after address,
// function, response length, file response length and reference type).
inline constexpr size_t kRecordReplyOffset = 5;
// Reply bytes 5..26; the caller passes the complete 29-byte reply.
ArchiveRecord RecordFromReply(const uint8_t* reply);

// The whole line, UTF-8; a pure function of the bytes and the separator.
std::string BuildRecordLine(const ArchiveRecord& record, std::string_view decimalSeparator);

// Field formatters by record offset. An offset whose field would reach past
// the record gives an empty text.
std::string FormatRecordYear(const ArchiveRecord& record, size_t offset); // offset 2
std::string FormatTwoDigits(const ArchiveRecord& record, size_t offset);  // offsets 4..8
std::string FormatRecordFlow(const ArchiveRecord& record, size_t offset,  // offset 9
                             std::string_view decimalSeparator);
std::string FormatRecordTotaliser(const ArchiveRecord& record, size_t offset, // offsets 13, 17
                                  std::string_view decimalSeparator);
std::string_view TotaliserUnitText(const ArchiveRecord& record); // bit 0 of byte 21, with its leading blank
std::string EventsText(const ArchiveRecord& record);             // bits 2..7 of byte 21

// True when bit `bit` (0 = least significant) of `value` is set; false for a
// bit number above 7.
bool TestBit(uint8_t value, unsigned bit);

// The date field (before the first ";") and the time field (between the first
// and the second ";") of a line; empty where the line has no such field.
std::string_view RecordDateField(std::string_view line);
std::string_view RecordTimeField(std::string_view line);

} // namespace core
