// SPDX-License-Identifier: GPL-3.0-or-later
// Strict readings of numeric command-line values for the programs that
// serve the card protocol. CLI11's own reading takes 0x, 0b and a leading 0
// (octal) as prefixes, blanks around the digits and "nan" through its
// ranges, so "--port 01234" would listen on 668: a value is taken here only
// when the whole text is a decimal number within its range.
#pragma once

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace mox {

// Decimal integer of type T within [low, high]: digits after an optional
// '-', no blanks, prefixes or exponent.
template <typename T>
std::optional<T> StrictInteger(const std::string& text, T low, T high) {
    T v{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || v < low || v > high) return std::nullopt;
    return v;
}

// Finite decimal number within [low, high]: no blanks, "nan", "inf" or
// hexadecimal.
inline std::optional<double> StrictNumber(const std::string& text, double low, double high) {
    double v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(v) || v < low || v > high)
        return std::nullopt;
    return v;
}

// An option read by StrictInteger into `target` (a T or a std::optional<T>);
// a value that is not one ends the parse with CLI11's validation error,
// naming the option, the text and the range.
template <typename T, typename Target>
CLI::Option* StrictIntegerOption(CLI::App& app, const std::string& name, Target& target, T low, T high,
                                 const std::string& help) {
    auto take = [&target, name, low, high](const std::string& text) {
        const auto v = StrictInteger<T>(text, low, high);
        if (!v) {
            throw CLI::ValidationError(name, "\"" + text + "\" is not a whole number " + std::to_string(low) + ".." +
                                                 std::to_string(high));
        }
        target = *v;
    };
    return app.add_option_function<std::string>(name, take, help);
}

// An option read by StrictNumber; `range` is how the help and the error say
// the range ("0..1").
template <typename Target>
CLI::Option* StrictNumberOption(CLI::App& app, const std::string& name, Target& target, double low, double high,
                                const std::string& range, const std::string& help) {
    auto take = [&target, name, low, high, range](const std::string& text) {
        const auto v = StrictNumber(text, low, high);
        if (!v) throw CLI::ValidationError(name, "\"" + text + "\" is not a number " + range);
        target = *v;
    };
    return app.add_option_function<std::string>(name, take, help);
}

} // namespace mox
