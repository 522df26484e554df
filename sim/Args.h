// The command line of vqt540-sim, read into what the program sets up.
#pragma once

#include "sim/Simulator.h"

#include <optional>
#include <string>
#include <vector>

namespace vqtsim {

struct Config {
    Options options;
    Fault fault = Fault::None;
    int faultCode = 0;
    int faultDelayMs = 0;
    double drop = 0.0;
    double faultShare = 1.0;
    bool live = true;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// The text of --help.
const char* Usage();

// Fills c from the arguments (without the program's name); an error text
// when they are not valid.
std::optional<std::string> ParseArgs(const std::vector<std::string>& args, Config& c);

} // namespace vqtsim
