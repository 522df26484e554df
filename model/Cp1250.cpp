#include "model/Cp1250.h"

#include <array>
#include <cstdint>

namespace model {

namespace {

constexpr char32_t kNone = 0xFFFD;

// Code points of the bytes 0x80..0xFF; below 0x80 the code page is ASCII.
constexpr std::array<char32_t, 128> kHigh = {
    0x20AC, kNone,  0x201A, kNone,  0x201E, 0x2026, 0x2020, 0x2021, // 80
    kNone,  0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179, // 88
    kNone,  0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    kNone,  0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9, // F8
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        // Every code point of the table lies in the basic plane.
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char EncodeOne(char32_t c) {
    if (c < 0x80) return static_cast<char>(c);
    if (c == kNone) return '?';
    for (size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// Decodes one well-formed sequence at s[i]; returns its length, or 0 when the
// bytes there are not one (overlong forms and surrogates included).
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& c) {
    const auto b0 = static_cast<uint8_t>(s[i]);
    size_t n = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        n = 2, c = b0 & 0x1Fu, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, c = b0 & 0x0Fu, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, c = b0 & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < n) return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<uint8_t>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return n;
}

} // namespace

std::string Cp1250ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        AppendUtf8(out, b < 0x80 ? char32_t{b} : kHigh[b - 0x80u]);
    }
    return out;
}

std::string Utf8ToCp1250(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        char32_t c = 0;
        const size_t n = DecodeUtf8(utf8, i, c);
        if (n == 0) {
            out += '?';
            ++i;
        } else {
            out += EncodeOne(c);
            i += n;
        }
    }
    return out;
}

} // namespace model
