// The export file: a semicolon-separated table in Windows-1250 with CR LF
// line ends, a header line, and one numbered line per archive record.
//
// Lines here are Windows-1250 bytes, as the file holds them: the cycle's
// comparisons of dates, times and whole lines are byte comparisons.
#pragma once

#include "platform/OrReason.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// The header line, Windows-1250, without its line end.
std::string ExportHeader();

// What an update takes from an export's last line.
struct LastExportLine {
    int32_t LogNumber = 0; // the text before the first ";"
    std::string Date;      // the second field
    std::string Time;      // the third field
};

// The last line of an export's bytes: lines end in CR LF, LF or CR, and a
// final line end starts no further line. Nothing when that line does not
// begin with a whole number before its first ";" (an empty file, a header,
// an empty last line), or when the number leaves no room for the next one.
std::optional<LastExportLine> ReadLastExportLine(std::string_view content);

// A record's date ("2024-05-01") and time ("12:15:00") name a moment that
// can be: a year of the meter's (1999 … 2099), a month, a day of that month,
// an hour, a minute and a second within their ranges. An erased record
// (all 0xFF, "65535-255-255") or a damaged one cannot.
bool IsPossibleMoment(std::string_view date, std::string_view time);

// What an update goes on from: the last line's number, and the date and time
// of the last line whose moment can be (a line that cannot be is never the
// anchor: records newer than it would never be taken). Nothing as for
// ReadLastExportLine; Date and Time empty when no line has a possible moment.
std::optional<LastExportLine> ReadUpdateAnchor(std::string_view content);

// One pass of the time-order step: the first place where a line compares
// greater than the next one splits the store, and the part after it moves to
// the front. Nothing changes when the lines are in order.
void RotateArchiveLines(std::vector<std::string>& lines);
// The store in time order as the file gets it: two passes.
void PutInTimeOrder(std::vector<std::string>& lines);

// The numbered data lines, each "number;line" and CR LF.
std::string NumberedLines(const std::vector<std::string>& lines, int32_t firstNumber);

// Creates or empties the file and writes the header. The other operations
// on it are the file layer's (FileIo.h).
platform::Outcome CreateExportFile(const std::string& path);

} // namespace core
