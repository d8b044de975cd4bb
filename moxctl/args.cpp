// SPDX-License-Identifier: GPL-3.0-or-later
#include "args.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace moxctl {

std::optional<long long> IntegerIn(const std::string& text, long long low, long long high) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || v < low || v > high) return std::nullopt;
    return v;
}

std::optional<unsigned long> HexIn(const std::string& text, unsigned long high) {
    std::string digits = text;
    for (const char* prefix : {"0x", "0X", "&H", "&h"}) {
        if (digits.rfind(prefix, 0) == 0) {
            digits.erase(0, 2);
            break;
        }
    }
    unsigned long v = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, v, 16);
    if (digits.empty() || ec != std::errc() || ptr != end || v > high) return std::nullopt;
    return v;
}

std::optional<double> NumberIn(const std::string& text, double low, double high) {
    double v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(v) || v < low || v > high) {
        return std::nullopt;
    }
    return v;
}

} // namespace moxctl
