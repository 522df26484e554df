// The archive's records read back from the texts the program writes: an
// export file, or the lines of a download or a back-fill. Lines that are no
// record are counted and told, never fatal: a file edited in a spreadsheet,
// cut short or damaged is read as far as it goes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// A moment on the meter's own clock: its wall time (the date and time a
// record carries, no zone, no daylight saving) as seconds from 1970-01-01
// 00:00:00 of that clock.
using WallSeconds = int64_t;
WallSeconds WallFromCivil(int year, int month, int day, int hour, int minute, int second);
struct Civil {
    int Year = 1970, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
};
Civil CivilFromWall(WallSeconds moment);
// "2024-05-01 12:15:00"
std::string WallText(WallSeconds moment);

// The record's events (bits 2 to 7 of its flags byte) as bits 0 to 5, in
// the order of the record line's texts.
inline constexpr int kEventKinds = 6;
// The event's text as the record line has it (UTF-8): "Zanik napięcia zasilania".
std::string_view EventText(int kind);

struct ArchiveSample {
    WallSeconds Moment = 0;
    double Flow = 0;    // m3/h; NaN when the record's flow is no number
    double Forward = 0; // m3, whatever the record's unit
    double Reverse = 0; // m3
    double Step = 0;    // m3: the last digit of the totalisers as written (their resolution)
    uint8_t Events = 0; // bit k: EventText(k)
    bool Litres = false;
    int Line = 0; // 1-based: the file's line, or the place among the lines given
};

struct ExportRead {
    std::vector<ArchiveSample> Samples; // in the order of the file
    int Malformed = 0;                  // lines that are no record line
    int Impossible = 0;                 // record lines whose date or time cannot be (erased, damaged)
    std::vector<std::string> Problems;  // the first few of both: "line 12: …", in English
};

// An export file's bytes (Windows-1250; CR LF, LF or CR; the header line and
// blank lines skipped): "number;date;time;flow;L+ unit;L- unit;events".
// Either decimal separator, "," or ".", is taken.
ExportRead ReadExport(std::string_view content);
// Record lines without the log number, Windows-1250, as a download keeps
// them and a back-fill hands them on: "date;time;flow;L+ unit;L- unit;events".
ExportRead ReadRecordLines(const std::vector<std::string>& lines);

} // namespace core
