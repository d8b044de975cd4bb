// SPDX-License-Identifier: GPL-3.0-or-later
#include "csv.h"

#include <charconv>
#include <cstdio>

namespace trend {

namespace {

// Days since 1970-01-01 to a civil date (H. Hinnant's algorithm): no time
// zone or locale of the machine takes part.
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

std::string ChannelName(int k) {
    char name[8];
    std::snprintf(name, sizeof name, "AI%02d", k);
    return name;
}

// The shortest text that reads back as the same float.
std::string FloatText(float v) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return {text, result.ptr};
}

} // namespace

std::string IsoTimeUtc(std::int64_t ms) {
    const std::int64_t days = FloorDiv(ms, 86400000);
    const std::int64_t inDay = ms - days * 86400000;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<long long>(y), m, d,
                  static_cast<int>(inDay / 3600000), static_cast<int>(inDay / 60000 % 60),
                  static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000));
    return text;
}

std::string CsvText(const History& history, const std::vector<int>& channels, Span span,
                    const std::array<std::string, 3>& modeNames) {
    const std::size_t first = history.LowerBound(span.fromMs);
    std::size_t last = first;
    std::array<bool, 3> seen{};
    while (last < history.Size() && history.At(last).ms <= span.toMs) {
        if (history.At(last).read) seen[history.At(last).mode % 3] = true;
        ++last;
    }
    std::string text = "# read mode:";
    const char* separator = " ";
    for (std::size_t m = 0; m < seen.size(); ++m) {
        if (!seen[m]) continue;
        text += separator;
        text += modeNames[m];
        separator = ", ";
    }
    text += "\ntime_utc";
    for (int k : channels) {
        if (k < 0 || k >= kChannels) continue;
        text += ',';
        text += ChannelName(k);
    }
    text += '\n';
    for (std::size_t i = first; i < last; ++i) {
        const Sample& s = history.At(i);
        text += IsoTimeUtc(s.wallMs);
        for (int k : channels) {
            if (k < 0 || k >= kChannels) continue;
            text += ',';
            if (s.read) text += FloatText(s.volts[static_cast<std::size_t>(k)]);
        }
        text += '\n';
    }
    return text;
}

} // namespace trend
