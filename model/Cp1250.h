// Windows-1250 <-> UTF-8. The meter's version text, the export file and the
// configuration file are Windows-1250; the program works in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace model {

// Bytes 0x81, 0x83, 0x88, 0x90 and 0x98 have no character in the code page
// and become U+FFFD.
std::string Cp1250ToUtf8(std::string_view bytes);

// Characters outside the code page, and malformed UTF-8 (one per bad byte),
// become '?'.
std::string Utf8ToCp1250(std::string_view utf8);

} // namespace model
