// SPDX-License-Identifier: GPL-3.0-or-later
// The output arguments of the moxcard module, checked before anything
// reaches the card: moxctl's limits (da, do, dobit) applied to values that
// come as numbers instead of text. A value out of range is refused with a
// message naming the argument, never clipped. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace moxcard {

// An argument out of range or of the wrong kind (ValueError in Python).
struct BadArgument : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// DA channel 0..3.
std::int16_t DaChannel(long long channel);
// Whether a DA range is "bipolar" (-5..+5 V) rather than "unipolar" (0..10 V).
bool Bipolar(const std::string& range);
// The DA code for either a code 0..0xFFF or a voltage within the range
// ("bipolar": -5..+5 V, "unipolar": 0..10 V), converted as moxctl and the
// analog output window convert it; exactly one of the two is given.
std::int16_t DaCode(std::optional<double> volts, std::optional<long long> code, const std::string& range);
// Digital output group 0 or 1, byte 0..0xFF.
std::int16_t DoGroup(long long group);
std::int16_t DoByte(long long byte);
// Output bit 1..16 as the digital I/O window numbers it, as the driver's
// index 0..15; its value 0 or 1.
std::int16_t DoBitIndex(long long bit);
std::int16_t DoBitValue(long long value);
// Samples in a mean: 0 (the newest sample) or 1..65536 as moxctl's --mean.
int Mean(long long mean);
// Seconds between rows of a stream: 0.01..3600 as moxctl's --interval.
double Interval(double seconds);
// A finite number within [low, high], named `what` in the refusal.
double NumberIn(double v, double low, double high, const std::string& what);

} // namespace moxcard
