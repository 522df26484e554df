#include "monitor/Convert.h"

#include "core/Editing.h"
#include "model/NumberFormat.h"

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
    const platform::OrReason<int32_t> number = model::ReadWholeNumber(text.toStdString());
    if (!number) throw ConvertError(QString::fromStdString(number.error));
    return *number;
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

} // namespace monitor
