#include "cli/Say.h"

#include <iostream>

namespace cli {

std::string Escaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

void Say(std::string_view text) {
    // One write, so that a line said from a worker's thread stays whole.
    std::cerr << ("vqt540: " + Escaped(text) + '\n') << std::flush;
}

} // namespace cli
