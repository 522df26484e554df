// The port, probed before anything is sent.
#pragma once

#include <string>

namespace cli {

// Usable: 0. Otherwise the reason goes to stderr and the port's exit code is
// returned.
int CheckPort(const std::string& port);

} // namespace cli
