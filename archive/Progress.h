// How a download's progress is told, the same in the window and the tool.
#pragma once

#include <cstdint>
#include <string>

namespace archive {

// A time left as a person reads it: whole seconds up to a minute, then whole
// minutes, both rounded up ("45 s", "3 min").
std::string DurationText(int64_t ms);

} // namespace archive
