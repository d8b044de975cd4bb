// SPDX-License-Identifier: GPL-3.0-or-later
#include "text.h"

#include <charconv>
#include <cstdio>
#include <vector>

namespace mox {

namespace {

// Taken while the program loads, before any reading: the origin of every
// monotonic time it writes.
const auto kStart = std::chrono::steady_clock::now();

struct Civil {
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int ms = 0;
};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// Days since 1970-01-01 to a date of the proleptic Gregorian calendar
// (H. Hinnant's civil_from_days), exact for every day of the int64 range
// that reaches here.
Civil FromMs(std::int64_t ms) {
    const std::int64_t days = FloorDiv(ms, 86'400'000);
    const auto inDay = static_cast<int>(ms - days * 86'400'000);
    const std::int64_t z = days + 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const auto doe = static_cast<unsigned>(z - era * 146'097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    Civil c;
    c.day = doy - (153 * mp + 2) / 5 + 1;
    c.month = mp < 10 ? mp + 3 : mp - 9;
    c.year = static_cast<std::int64_t>(yoe) + era * 400 + (c.month <= 2 ? 1 : 0);
    c.hour = inDay / 3'600'000;
    c.minute = inDay / 60'000 % 60;
    c.second = inDay / 1000 % 60;
    c.ms = inDay % 1000;
    return c;
}

std::int64_t MsOf(std::chrono::system_clock::time_point t) {
    return std::chrono::floor<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

template <typename T>
std::string Shortest(T v) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("nan");
}

// Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) on chains of
// std::string + when optimising for 32-bit Windows.
void AddColumn(std::string& line, int channel, const char* suffix) {
    line += ',';
    line += ChannelName(channel);
    line += suffix;
}

} // namespace

std::string IsoUtc(std::int64_t msSinceEpoch) {
    const Civil c = FromMs(msSinceEpoch);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<long long>(c.year), c.month,
                  c.day, c.hour, c.minute, c.second, c.ms);
    return text;
}

std::string IsoUtc(std::chrono::system_clock::time_point t) { return IsoUtc(MsOf(t)); }

std::string CompactUtc(std::chrono::system_clock::time_point t) {
    const Civil c = FromMs(MsOf(t));
    char text[48];
    std::snprintf(text, sizeof text, "%04lld%02u%02uT%02d%02d%02dZ", static_cast<long long>(c.year), c.month, c.day,
                  c.hour, c.minute, c.second);
    return text;
}

std::chrono::milliseconds SinceStart() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - kStart);
}

std::string SecondsText(std::int64_t ms) {
    // Integer arithmetic: a double would round some thousandths the wrong way.
    const std::uint64_t magnitude = ms < 0 ? 0 - static_cast<std::uint64_t>(ms) : static_cast<std::uint64_t>(ms);
    char text[32];
    std::snprintf(text, sizeof text, "%s%llu.%03u", ms < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 1000), static_cast<unsigned>(magnitude % 1000));
    return text;
}

std::string ShortestText(float v) { return Shortest(v); }
std::string ShortestText(double v) { return Shortest(v); }

std::string IdentityText(const CardIdentity& id) {
    return "card " + std::to_string(id.number) + ", type " + std::to_string(id.type) + ", speed " +
           std::to_string(id.speedK) + "K, resolution " + std::to_string(id.resolution) + " bits";
}

std::string ChannelName(int channel) {
    char name[16];
    std::snprintf(name, sizeof name, "AI%02d", channel);
    return name;
}

std::string ReadingsColumns(std::span<const int> channels, bool codes, bool volts) {
    std::string line = "utc,monotonic_s";
    for (const int k : channels) {
        if (k < 0 || k >= kInputChannels) continue;
        if (codes && volts) {
            AddColumn(line, k, "_code");
            AddColumn(line, k, "_volts");
        } else {
            AddColumn(line, k, "");
        }
    }
    return line;
}

std::string ReadingsColumns(bool codes, bool volts) {
    std::vector<int> all(kInputChannels);
    for (int k = 0; k < kInputChannels; ++k) all[static_cast<std::size_t>(k)] = k;
    return ReadingsColumns(all, codes, volts);
}

std::string XmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += (u < 0x20 && ch != '\t' && ch != '\n' && ch != '\r') ? '?' : ch;
        }
    }
    return out;
}

} // namespace mox
