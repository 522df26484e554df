#include "cli/ExitCodes.h"

namespace cli {

std::string ExitCodeHelp() {
    constexpr size_t kWidth = 80, kIndent = 6;
    std::string help = "Exit codes:\n";
    for (const ExitCodeEntry& e : kExitCodes) {
        std::string text(e.Commands);
        if (!text.empty()) text += ": ";
        text += e.Meaning;
        std::string line = "  " + std::to_string(e.Code);
        line.resize(kIndent, ' ');
        // Word by word into lines of at most kWidth, the next ones indented.
        for (size_t from = 0; from < text.size();) {
            const size_t end = std::min(text.find(' ', from), text.size());
            const std::string word = text.substr(from, end - from);
            if (line.size() > kIndent && line.size() + 1 + word.size() > kWidth) {
                // An option goes down with the word before it ("archive
                // --update"): a line of --help that begins with an option
                // reads as one of the command's own.
                std::string carried;
                const size_t space = line.rfind(' ');
                if (word.starts_with("--") && space != std::string::npos && space > kIndent) {
                    carried = line.substr(space + 1);
                    line.resize(space);
                }
                help += line + "\n";
                line = std::string(kIndent, ' ') + carried;
            }
            line += (line.size() > kIndent ? " " : "") + word;
            from = end + 1;
        }
        help += line + "\n";
    }
    return help + "\n"
                  "Numbers use the locale's decimal separator (LC_ALL, LC_NUMERIC, LANG), as the\n"
                  "window does; --decimal-separator overrides it.\n";
}

} // namespace cli
