#include "Convert.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace monitor {

ConvertError::ConvertError(const QString& message) : std::runtime_error(message.toStdString()) {}

namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

int32_t StrToInt(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ') ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == n) throw ConvertError(QStringLiteral("'%1' nie jest poprawną liczbą całkowitą.").arg(text));
    // Accumulate as a negative number so that -2147483648 fits.
    int64_t value = 0;
    for (; i < n; ++i) {
        if (!isDigit(text[i]))
            throw ConvertError(QStringLiteral("'%1' nie jest poprawną liczbą całkowitą.").arg(text));
        value = value * 10 - (text[i].unicode() - u'0');
        if (value < std::numeric_limits<int32_t>::min() - int64_t{1})
            value = std::numeric_limits<int32_t>::min() - int64_t{1}; // saturate, report below
    }
    if (!negative) value = -value;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw ConvertError(QStringLiteral("Liczba '%1' jest poza zakresem liczb całkowitych.").arg(text));
    return static_cast<int32_t>(value);
}

double StrToFloat(const QString& text, const QLocale& locale) {
    const auto fail = [&text]() {
        return ConvertError(QStringLiteral("'%1' nie jest poprawną liczbą.").arg(text));
    };
    const QString separator = locale.decimalPoint();
    const QString trimmed = text.trimmed();
    // Rebuild the number with '.' for from_chars, accepting only the plain form.
    std::string plain;
    qsizetype i = 0;
    const qsizetype n = trimmed.size();
    if (i < n && (trimmed[i] == u'+' || trimmed[i] == u'-')) {
        if (trimmed[i] == u'-') plain += '-';
        ++i;
    }
    int digits = 0;
    while (i < n && isDigit(trimmed[i])) {
        plain += static_cast<char>(trimmed[i].unicode());
        ++digits;
        ++i;
    }
    if (i < n && QStringView(trimmed).mid(i).startsWith(separator)) {
        plain += '.';
        i += separator.size();
        while (i < n && isDigit(trimmed[i])) {
            plain += static_cast<char>(trimmed[i].unicode());
            ++digits;
            ++i;
        }
    }
    if (digits == 0) throw fail();
    if (i < n && (trimmed[i] == u'e' || trimmed[i] == u'E')) {
        plain += 'e';
        ++i;
        if (i < n && (trimmed[i] == u'+' || trimmed[i] == u'-')) {
            plain += static_cast<char>(trimmed[i].unicode());
            ++i;
        }
        int exponentDigits = 0;
        while (i < n && isDigit(trimmed[i])) {
            plain += static_cast<char>(trimmed[i].unicode());
            ++exponentDigits;
            ++i;
        }
        if (exponentDigits == 0) throw fail();
    }
    if (i != n) throw fail();
    double value = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value))
        throw ConvertError(QStringLiteral("Liczba '%1' jest poza zakresem.").arg(text));
    return value;
}

int32_t RoundToInt32(double value) {
    const double rounded = std::nearbyint(value); // default mode: halves to even
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
        throw ConvertError(QStringLiteral("Wartość %1 jest poza zakresem liczb całkowitych 32-bitowych.")
                               .arg(QLocale().toString(value, 'g', 17)));
    return static_cast<int32_t>(rounded);
}

int TickInterval(int32_t timeoutMs) {
    if (timeoutMs <= 20) return 1; // quotient not above 1
    const int32_t whole = timeoutMs / 20;
    const int32_t rest = timeoutMs % 20;
    if (rest > 10 || (rest == 10 && whole % 2 == 1)) return whole + 1;
    return whole;
}

} // namespace monitor
