// The meters a command reads: one address, or a list of them on the line.
#pragma once

#include "cli/CommonOptions.h"
#include "platform/OrReason.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// "1,2,5" or "1-3,7": each 1 … 247, none twice, in the order given.
platform::OrReason<std::vector<uint8_t>> ParseAddressList(const std::string& text);
// The meters a command reads, from --address (a list, or one); and the
// gateway's longer time-out when none was given.
void ResolveAddresses(CommonOptions& options);

} // namespace cli
