#include "Progress.h"

namespace archive {

std::string DurationText(int64_t ms) {
    const int64_t seconds = (ms + 999) / 1000;
    return seconds >= 60 ? std::to_string((seconds + 59) / 60) + " min" : std::to_string(seconds) + " s";
}

} // namespace archive
