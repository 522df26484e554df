// The tool's messages on stderr. Texts that come from files or from the
// command line may hold control characters (NUL, CR, ESC) that would drive
// the terminal: they are shown escaped.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// Control characters as \xHH (a tab and a line end too: a message is one line).
std::string Escaped(std::string_view text);
// "vqt540: " and the escaped text, one line on stderr.
void Say(std::string_view text);

} // namespace cli
