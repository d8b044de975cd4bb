// SPDX-License-Identifier: GPL-3.0-or-later
#include "rows.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace moxctl {

namespace {

const auto kStart = std::chrono::steady_clock::now();

// Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) on chains of
// std::string + when optimising for 32-bit Windows.
void AddChannel(std::string& line, std::size_t k, const char* suffix) {
    line += ",ch";
    line += static_cast<char>('0' + k / 10);
    line += static_cast<char>('0' + k % 10);
    line += suffix;
}

template <typename T>
std::string Shortest(T v) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("nan");
}

// Codes come from the driver in single precision: written as such.
std::string CodeText(double code) { return Shortest(static_cast<float>(code)); }

} // namespace

Stamp Now() {
    return {std::chrono::system_clock::now(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - kStart).count()};
}

std::tm UtcFields(std::time_t seconds) {
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &seconds);
#else
    gmtime_r(&seconds, &tm);
#endif
    return tm;
}

std::string IsoUtc(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::tm tm = UtcFields(static_cast<std::time_t>(ms / 1000));
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return buf;
}

std::string NoteLine(std::chrono::system_clock::time_point t, const std::string& text) {
    return "# " + IsoUtc(t) + " " + text + "\n";
}

std::string ValueText(double v) { return Shortest(v); }
std::string ValueText(float v) { return Shortest(v); }

std::string CsvHeader(const ReadRequest& request) {
    std::string line = "utc,monotonic_s";
    for (std::size_t k = 0; k < mox::kInputChannels; ++k) {
        if (request.codes && request.volts) {
            AddChannel(line, k, "_code");
            AddChannel(line, k, "_volts");
        } else {
            AddChannel(line, k, "");
        }
    }
    return line + "\n";
}

std::string CsvRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading) {
    char mono[32];
    std::snprintf(mono, sizeof mono, "%.3f", stamp.monotonicSeconds);
    std::string line = IsoUtc(stamp.utc) + "," + mono;
    for (std::size_t k = 0; k < mox::kInputChannels; ++k) {
        if (request.codes) {
            line += ',';
            line += CodeText(reading.codes[k]);
        }
        if (request.volts) {
            line += ',';
            line += ValueText(reading.volts[k]);
        }
    }
    return line + "\n";
}

std::string JsonRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading) {
    nlohmann::ordered_json row;
    row["utc"] = IsoUtc(stamp.utc);
    row["monotonic_s"] = std::round(stamp.monotonicSeconds * 1000) / 1000;
    if (request.codes) {
        row["codes"] = nlohmann::ordered_json::array();
        for (double code : reading.codes) row["codes"].push_back(static_cast<float>(code));
    }
    if (request.volts) row["volts"] = reading.volts;
    return row.dump() + "\n";
}

} // namespace moxctl
