// UTF-8 texts at the Win32 calls, which take and give wide characters.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
// The system's words for an error code (in the user's language), without
// the final full stop and line end.
std::string SystemErrorText(unsigned long code);

} // namespace platform
