// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules.h"

#include "card_io.h"
#include "output_limits.h"

#include <cmath>
#include <cstdio>

namespace moxcard {

namespace {

std::string Plain(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

namespace limits = moxctl::limits;

long long Within(long long v, limits::Whole range, const std::string& what) {
    if (v < range.low || v > range.high) throw BadArgument(what + " " + std::to_string(v) + " is out of range");
    return v;
}

} // namespace

std::int16_t DaChannel(long long channel) {
    return static_cast<std::int16_t>(Within(channel, limits::kDaChannel, "channel: a DA channel 0..3;"));
}

bool Bipolar(const std::string& range) {
    if (range != "bipolar" && range != "unipolar")
        throw BadArgument("range: \"" + range + "\" is not bipolar (-5..+5 V) or unipolar (0..10 V)");
    return range == "bipolar";
}

std::int16_t DaCode(std::optional<double> volts, std::optional<long long> code, const std::string& range) {
    const bool bipolar = Bipolar(range);
    if (volts.has_value() == code.has_value()) throw BadArgument("give either volts= or code=, and only one");
    if (code) return static_cast<std::int16_t>(Within(*code, limits::kDaCode, "code: a DA code 0..0xFFF;"));
    const double low = limits::DaVolts(bipolar).low;
    const double high = limits::DaVolts(bipolar).high;
    // NaN fails both comparisons: it is refused by the first test.
    if (!(*volts >= low && *volts <= high))
        throw BadArgument("volts: " + Plain(*volts) + " is not a voltage " + Plain(low) + ".." + Plain(high) + " (" +
                          range + ")");
    return mox::DaCodeFromVolts(*volts, bipolar);
}

std::int16_t DoGroup(long long group) {
    return static_cast<std::int16_t>(Within(group, limits::kDoGroup, "group: an output group 0 or 1;"));
}

std::int16_t DoByte(long long byte) {
    return static_cast<std::int16_t>(Within(byte, limits::kDoByte, "byte: a byte 0..0xFF;"));
}

std::int16_t DoBitIndex(long long bit) {
    // Numbered 1..16 as in the window; the driver counts from 0.
    return static_cast<std::int16_t>(Within(bit, limits::kDoBit, "bit: an output 1..16;") - 1);
}

std::int16_t DoBitValue(long long value) {
    return static_cast<std::int16_t>(Within(value, limits::kBitValue, "value: 0 or 1;"));
}

int Mean(long long mean) {
    return static_cast<int>(mean == 0 ? 0 : Within(mean, limits::kMean, "mean: 0 (newest sample) or 1..65536;"));
}

double Interval(double seconds) {
    return NumberIn(seconds, static_cast<double>(limits::kIntervalMs.low) / 1000,
                    static_cast<double>(limits::kIntervalMs.high) / 1000, "interval (seconds)");
}

double NumberIn(double v, double low, double high, const std::string& what) {
    // NaN fails both comparisons.
    if (!(v >= low && v <= high))
        throw BadArgument(what + ": " + Plain(v) + " is not a number " + Plain(low) + ".." + Plain(high));
    return v;
}

} // namespace moxcard
