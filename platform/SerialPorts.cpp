#include "platform/SerialPorts.h"

namespace platform {

bool NaturalLess(std::string_view a, std::string_view b) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (!digit(a[i]) || !digit(b[j])) {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i, ++j;
            continue;
        }
        // Leading zeros do not make a number larger.
        while (i + 1 < a.size() && a[i] == '0' && digit(a[i + 1])) ++i;
        while (j + 1 < b.size() && b[j] == '0' && digit(b[j + 1])) ++j;
        size_t endA = i, endB = j;
        while (endA < a.size() && digit(a[endA])) ++endA;
        while (endB < b.size() && digit(b[endB])) ++endB;
        const std::string_view numberA = a.substr(i, endA - i), numberB = b.substr(j, endB - j);
        if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
        if (numberA != numberB) return numberA < numberB;
        i = endA, j = endB;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b; // equal but for leading zeros: still one order
}

} // namespace platform
