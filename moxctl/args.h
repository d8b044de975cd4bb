// SPDX-License-Identifier: GPL-3.0-or-later
// Strict readings of command-line values: a value is taken only when the
// whole text is one, so that a typing error is reported instead of being
// read as 0 the way the windows read their boxes.
#pragma once

#include <optional>
#include <string>

namespace moxctl {

// Decimal integer within [low, high]: digits after an optional '-', no
// blanks, prefixes or exponent. 64 bits wide on every platform, for sizes in
// bytes on 32-bit Windows too.
std::optional<long long> IntegerIn(const std::string& text, long long low, long long high);
// Hexadecimal digits (optionally after 0x, 0X, &H or &h) of a value within
// [0, high].
std::optional<unsigned long> HexIn(const std::string& text, unsigned long high);
// Finite decimal number within [low, high]: an optional '-', digits with an
// optional '.' and fraction and an optional exponent; no blanks, no "nan",
// "inf" or hexadecimal.
std::optional<double> NumberIn(const std::string& text, double low, double high);

} // namespace moxctl
