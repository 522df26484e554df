// The parts of Platform.h that are the same on every system.
#include "cli/Platform.h"

#include <cstdio>

namespace cli {

std::string IsoTimestamp(const LocalTimestamp& t) {
    const int offset = t.UtcOffsetMinutes < 0 ? -t.UtcOffsetMinutes : t.UtcOffsetMinutes;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.Year, t.Month, t.Day,
                  t.Hour, t.Minute, t.Second, t.Millisecond, t.UtcOffsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return text;
}

} // namespace cli
