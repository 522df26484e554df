// The decimal separator of the user's locale, and the local time.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// The C library's separator when LC_NUMERIC can be set from the environment,
// else the one of the language named in LC_ALL, LC_NUMERIC or LANG.
std::string LocaleDecimalSeparator();
// "," or "." for a locale name such as "pl_PL.UTF-8".
std::string DecimalSeparatorOfLanguage(std::string_view localeName);

// Local time with milliseconds and the UTC offset, ISO 8601.
std::string IsoLocalTimeNow();

} // namespace cli
