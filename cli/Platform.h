// What the tool needs of the system it runs on; one file per system
// (PlatformPosix.cpp, PlatformWin32.cpp). SignalStop (Loop.h) is
// defined there too.
#pragma once

#include <string>
#include <vector>

namespace cli {

// While it lives, the console shows UTF-8 text and understands the
// progress line's escape sequences (Windows); nothing to do on a POSIX
// terminal. The console's old settings come back at the end.
class ConsoleSession {
public:
    ConsoleSession();
    ~ConsoleSession();
    ConsoleSession(const ConsoleSession&) = delete;
    ConsoleSession& operator=(const ConsoleSession&) = delete;

private:
    unsigned int SavedCodePage = 0; // Windows: the output code page before
    unsigned long SavedMode = 0;    // Windows: the error stream's console mode before
    bool ModeChanged = false;
};

// The command line as UTF-8 texts, argv[0] first. Windows hands a program
// its arguments in the ANSI code page, which has no room for every letter of
// a path; the wide command line has.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Whether stderr is a terminal or console that a person watches.
bool StderrIsTerminal();

// Local time of day with milliseconds and its offset from UTC.
struct LocalTimestamp {
    int Year = 1970, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
    int UtcOffsetMinutes = 0; // east of Greenwich positive
};
LocalTimestamp LocalTimeNow();
// ISO 8601: "2024-06-01T14:00:00.123+02:00".
std::string IsoTimestamp(const LocalTimestamp& time);

} // namespace cli
