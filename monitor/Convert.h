// Text-to-number conversions of the window's handlers.
//
// A text that is not a number throws ConvertError with a Polish message; the
// handler stops there and the application's error handler shows the message.
#pragma once

#include "core/PollCycle.h"

#include <QLocale>
#include <QString>

#include <cstdint>
#include <stdexcept>

namespace monitor {

class ConvertError : public std::runtime_error {
public:
    explicit ConvertError(const QString& message);
};

// Whole number: leading blanks, an optional sign, decimal digits, nothing
// else ("  1" is 1; "1 ", "1,0", "" and "0x10" are errors). Must fit 32 bits.
int32_t StrToInt(const QString& text);

// Decimal number with the locale's decimal separator and no group separators;
// blanks around it, a sign and an exponent ("1,5E3") are allowed.
double StrToFloat(const QString& text, const QLocale& locale = QLocale());

// Tick of the polling timer for a reply time-out (the polling cycle's rule).
using core::TickInterval;

} // namespace monitor
