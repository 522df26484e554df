#include "model/NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace model {

namespace {

// Sensible bounds only; the program uses 1..4 decimals and 4..10 digits.
constexpr int kMaxDecimals = 30;
constexpr int kMaxPrecision = 30;

// A magnitude d1.d2d3... x 10^exponent with d1 != '0'; no digits means zero.
// The digits held are exact as far as they go, and what lies below them can
// no longer change the rounding (see the two producers).
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// Every finite double has a finite decimal expansion of at most 767
// significant digits, so this is the exact value.
Decimal FromDouble(double value) {
    Decimal d;
    d.negative = std::signbit(value);
    value = std::fabs(value);
    if (value == 0.0) return d;
    char buf[900];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 800);
    const std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
    const size_t e = text.find('e');
    d.digits.assign(1, text[0]);
    if (e > 2) d.digits.append(text.substr(2, e - 2));
    d.exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

__extension__ typedef unsigned __int128 Wide;

// Long division down to one digit below the finest rounding position, which
// is all that half-away-from-zero rounding looks at.
Decimal FromRatio(int64_t numerator, int64_t denominator, int decimals) {
    Decimal d;
    const uint64_t a =
        numerator < 0 ? 0 - static_cast<uint64_t>(numerator) : static_cast<uint64_t>(numerator);
    const uint64_t b =
        denominator < 0 ? 0 - static_cast<uint64_t>(denominator) : static_cast<uint64_t>(denominator);
    d.negative = (numerator < 0) != (denominator < 0);
    const uint64_t q = a / b;
    uint64_t r = a % b;
    std::string all = q == 0 ? std::string() : std::to_string(q);
    const int intDigits = static_cast<int>(all.size());
    for (int i = 0; i <= decimals; ++i) {
        const Wide t = static_cast<Wide>(r) * 10u;
        all += static_cast<char>('0' + static_cast<int>(t / b));
        r = static_cast<uint64_t>(t % b);
    }
    const size_t first = all.find_first_not_of('0');
    if (first == std::string::npos) return d;
    d.digits = all.substr(first);
    d.exponent = intDigits - 1 - static_cast<int>(first);
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

std::string Zeros(int n) {
    return std::string(static_cast<size_t>(std::max(n, 0)), '0');
}

std::string Render(const Decimal& d, int decimals, int precision, std::string_view sep) {
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    precision = std::clamp(precision, 1, kMaxPrecision);
    const auto zero = [&] {
        std::string out = "0";
        if (decimals > 0) out.append(sep).append(Zeros(decimals));
        return out;
    };
    if (d.digits.empty()) return zero();

    // Last kept digit position (power of ten) and the digits kept.
    const int pos = std::max(d.exponent - precision + 1, -decimals);
    const int kept = d.exponent - pos + 1;
    const auto len = static_cast<int>(d.digits.size());
    std::string r;
    if (kept <= 0) {
        if (kept == 0 && d.digits[0] >= '5') r = "1";
    } else {
        r = d.digits.substr(0, static_cast<size_t>(std::min(kept, len))) + Zeros(kept - len);
        if (kept < len && d.digits[static_cast<size_t>(kept)] >= '5') {
            int i = kept - 1;
            while (i >= 0 && r[static_cast<size_t>(i)] == '9') r[static_cast<size_t>(i--)] = '0';
            if (i >= 0) {
                ++r[static_cast<size_t>(i)];
            } else {
                r.insert(r.begin(), '1');
            }
        }
    }
    if (r.empty()) return zero();

    std::string out = d.negative ? "-" : "";
    const int intDigits = static_cast<int>(r.size()) + pos;
    if (intDigits > precision) {
        std::string mantissa = r;
        while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();
        out += mantissa[0];
        if (mantissa.size() > 1) out.append(sep).append(mantissa, 1);
        const std::string power = std::to_string(intDigits - 1);
        out.append("E").append(Zeros(decimals - static_cast<int>(power.size()))).append(power);
        return out;
    }
    std::string s = r + Zeros(pos + decimals); // the value in units of the last decimal
    if (static_cast<int>(s.size()) <= decimals) s = Zeros(decimals + 1 - static_cast<int>(s.size())) + s;
    const size_t point = s.size() - static_cast<size_t>(decimals);
    out.append(s, 0, point);
    if (decimals > 0) out.append(sep).append(s, point);
    return out;
}

std::string NonFinite(double value) {
    if (std::isnan(value)) return "NAN";
    return value < 0 ? "-INF" : "INF";
}

} // namespace

std::string FormatNumber(double value, int decimals, int precision, std::string_view decimalSeparator) {
    if (!std::isfinite(value)) return NonFinite(value);
    return Render(FromDouble(value), decimals, precision, decimalSeparator);
}

std::string FormatRatio(int64_t numerator, int64_t denominator, int decimals, int precision,
                        std::string_view decimalSeparator) {
    if (denominator == 0) {
        return NonFinite(numerator == 0 ? std::nan("") : static_cast<double>(numerator) * HUGE_VAL);
    }
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    return Render(FromRatio(numerator, denominator, decimals), decimals, precision, decimalSeparator);
}

platform::OrReason<int32_t> ReadWholeNumber(std::string_view text) {
    // Built by appending: GCC 12 warns falsely about the copies of a chain of "+".
    const auto fail = [text](std::string_view before, std::string_view after) {
        std::string reason(before);
        reason.append(text);
        reason.append(after);
        return platform::OrReason<int32_t>::Fail(std::move(reason));
    };
    const auto notANumber = [&fail] { return fail("'", "' nie jest poprawną liczbą całkowitą."); };
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return notANumber();
    // Accumulated as a negative number so that -2147483648 fits; saturated
    // past the range, so that a long run of digits is reported as too large.
    constexpr int64_t kBeyond = int64_t{INT32_MIN} - 1;
    int64_t n = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return notANumber();
        n = std::max(n * 10 - (text[i] - '0'), kBeyond);
    }
    if (!negative) n = -n;
    if (n < INT32_MIN || n > INT32_MAX) return fail("Liczba '", "' jest poza zakresem liczb całkowitych.");
    return {static_cast<int32_t>(n), {}};
}

} // namespace model
