// The window's settings file VQT540.cfg as the tool reads it.
#pragma once

#include "cli/CommonOptions.h"

namespace CLI {
class Option;
} // namespace CLI

namespace cli {

// The scan period of a command that has one: its option, where it goes and
// its largest value.
struct PeriodFlag {
    CLI::Option* Option = nullptr;
    int* Ms = nullptr;
    int MaxMs = 0;
};

// Takes what the command line left open from the window's settings file,
// so that both programs work with a technician's saved settings, through
// the check the window uses. 0, or the exit code with the reason on stderr
// (a value in the file that the check refuses, a file that cannot be read).
int ApplyConfigFile(const CommonFlags& flags, CommonOptions& options, const PeriodFlag& period = {});

} // namespace cli
