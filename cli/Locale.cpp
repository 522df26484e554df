#include "cli/Locale.h"

#include "cli/Platform.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <iterator>

namespace cli {

std::string DecimalSeparatorOfLanguage(std::string_view localeName) {
    // Languages whose numbers are written with a decimal comma.
    static constexpr std::string_view kComma[] = {
        "az", "be", "bg", "bs", "ca", "cs", "da", "de", "el", "es", "et", "eu", "fi", "fo", "fr",
        "gl", "hr", "hu", "id", "is", "it", "ka", "kk", "ky", "lt", "lv", "mk", "nb", "nl", "nn",
        "no", "pl", "pt", "ro", "ru", "sk", "sl", "sq", "sr", "sv", "tr", "uk", "uz", "vi"};
    std::string language(localeName.substr(0, localeName.find_first_of("_.@")));
    std::transform(language.begin(), language.end(), language.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(std::begin(kComma), std::end(kComma), language) != std::end(kComma) ? "," : ".";
}

std::string LocaleDecimalSeparator() {
    if (std::setlocale(LC_NUMERIC, "") != nullptr) {
        const std::string point = std::localeconv()->decimal_point;
        // Everything else (CLI11, JSON) expects the "C" numbers.
        std::setlocale(LC_NUMERIC, "C");
        if (!point.empty()) return point;
    }
    // The locale is not installed: its name still says the language.
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return DecimalSeparatorOfLanguage(value);
    }
    return ".";
}

std::string IsoLocalTimeNow() {
    return IsoTimestamp(LocalTimeNow());
}

} // namespace cli
