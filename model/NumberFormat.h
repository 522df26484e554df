// The one number format of the program's displays and of the archive lines.
//
// A value is rounded half away from zero to at most `precision` significant
// digits and to no more digits than reach the `decimals`-th decimal. With at
// most `precision` digits before the decimal point it is written in fixed form
// with exactly `decimals` decimals (digits beyond the significant ones as "0");
// with more, in exponent form: first digit, the separator and the remaining
// significant digits without trailing zeros (if any), "E" and the power of ten
// with at least `decimals` digits ("2E007"). No thousands separators; a "-"
// only when the rounded value is not zero; "NAN" and "INF"/"-INF".
#pragma once

#include "platform/OrReason.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace model {

// The rounding works on the exact binary value of `value`.
std::string FormatNumber(double value, int decimals, int precision, std::string_view decimalSeparator);

// numerator / denominator, rounded exactly (no binary error): meter counts
// scaled by 10, 60 or 1000 land on the halves that the rounding rule names.
// A denominator of 0 gives "NAN"/"INF" like a float division would.
std::string FormatRatio(int64_t numerator, int64_t denominator, int decimals, int precision,
                        std::string_view decimalSeparator);

// A whole number as the program reads one typed or stored: leading blanks,
// an optional sign, decimal digits and nothing else ("  1" is 1; "1 ", "1,0",
// "" and "0x10" are not numbers); within 32 bits.
// Otherwise the reason, quoting the text.
platform::OrReason<int32_t> ReadWholeNumber(std::string_view text);

} // namespace model
