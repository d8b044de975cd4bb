// SPDX-License-Identifier: GPL-3.0-or-later
// Text and number conversions shared by every window.
//
// All functions are pure, locale-independent and defined for every input:
// no text of any length or content makes them crash, hang or overflow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mox {

// The numeric value at the start of a text.
//  * Blanks, tabs and line feeds are skipped wherever they stand.
//  * "&H" (either case) starts a hexadecimal number: digits up to the first
//    non-hex character. One to four digits are a 16-bit two's-complement
//    value ("&HFFFF" is -1), five to eight digits a 32-bit one. More than
//    eight digits give the plain (non-negative) value of all digits; the
//    integer conversions below then saturate it.
//  * Otherwise: optional sign, digits, optional "." and fraction digits,
//    optional exponent (E or e, optional sign, digits). "." is the decimal
//    point whatever the locale.
//  * A text with no number at its start gives 0.
//  * The result is always finite: a value beyond the double range saturates
//    to +/-DBL_MAX, one too small to represent becomes 0.
double TextToNumber(std::string_view text);

// Nearest integer, a half to the even neighbour (2.5 -> 2, 3.5 -> 4,
// -0.5 -> 0). Values beyond the type's range saturate to its ends; NaN is 0.
int16_t ToInt16(double x);
int32_t ToInt32(double x);

// Rounds a double to single precision, saturating at +/-FLT_MAX instead of
// becoming infinite. NaN is 0.
float ToSingle(double x);

// Decimal text with the sign position always present: a leading blank for
// zero and positive values, "-" for negative ones. Whole values are written
// without a point; others with the fraction and no trailing zeros, with at
// most 7 significant digits (float) or 15 (double). Values between -1 and 1
// get a 0 before the point. Very large or very small magnitudes use an
// exponent ("1E+15"). Non-finite values give " Inf", "-Inf" and " NaN".
std::string NumberText(double x);
std::string NumberText(float x);

// Uppercase hexadecimal digits without leading zeros (0, A5, FFFF). A
// negative value is written as its 32-bit two's complement (-1 -> FFFFFFFF).
std::string HexText(int32_t n);

// The "0.000V" pattern: "-" for negative values, at least one digit before
// the point, exactly three decimals rounded to nearest, then "V".
// Non-finite values give "InfV", "-InfV" and "NaNV".
std::string VoltText(double volts);

} // namespace mox
