// The tool's exit codes: one table, from which --help is made and against
// which a test reads the manual page.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace cli {

// One code per kind of failure, so that a script can tell them apart.
enum ExitCode : int {
    kExitOk = 0,
    kExitInternal = 1,
    kExitUsage = 2,
    kExitNoAnswer = 3,
    kExitFile = 4,
    kExitInterrupted = 5,
    kExitPortAbsent = 10,
    kExitPortBusy = 11,
    kExitPortNoPermission = 12,
    kExitPortNotTerminal = 13,
    kExitPortOther = 14,
};

struct ExitCodeEntry {
    ExitCode Code;
    // The commands that alone end with it (empty: any command); the help
    // and the manual name them.
    std::string_view Commands;
    std::string_view Meaning;
};

inline constexpr std::array<ExitCodeEntry, 11> kExitCodes = {{
    {kExitOk, "", "success"},
    {kExitInternal, "", "unexpected internal error"},
    {kExitUsage, "", "bad arguments, or a value in the settings file that the option would refuse"},
    {kExitNoAnswer, "",
     "the meter did not answer: the read failed (watch: at least one read failed), or the download gave up "
     "after --retries failed attempts in a row; scan: no meter found"},
    {kExitFile, "",
     "the export, CSV or settings file cannot be created, read or written, or a settings file is of another "
     "format or a newer version; report of a file without an archive record; archive --new on an existing "
     "file; archive --update of a file without a numbered last line; a --config file that is not there"},
    {kExitInterrupted, "read, archive, scan", "stopped by SIGINT or SIGTERM before the end"},
    {kExitPortAbsent, "", "the port does not exist"},
    {kExitPortBusy, "", "the port is held by another program"},
    {kExitPortNoPermission, "", "no permission to open the port (join the dialout group)"},
    {kExitPortNotTerminal, "", "the name leads to something that is not a serial port"},
    {kExitPortOther, "", "the port cannot be opened for another reason"},
}};

// The end of every --help: the table, and where the numbers' separator
// comes from.
std::string ExitCodeHelp();

} // namespace cli
