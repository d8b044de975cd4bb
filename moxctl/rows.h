// SPDX-License-Identifier: GPL-3.0-or-later
// Rows of readings as CSV or JSON lines, with their times.
#pragma once

#include "card.h"

#include <chrono>
#include <ctime>
#include <string>

namespace moxctl {

enum class Format { Csv, Json };

// When a reading was taken: wall-clock time (written as UTC ISO-8601 with
// milliseconds) and seconds on a monotonic clock since the program started.
struct Stamp {
    std::chrono::system_clock::time_point utc;
    double monotonicSeconds = 0;
};
Stamp Now();
std::string IsoUtc(std::chrono::system_clock::time_point t);
// A note among the rows: "# 2026-12-07T11:30:00.000Z link down: ...".
std::string NoteLine(std::chrono::system_clock::time_point t, const std::string& text);
// The calendar fields of a time in UTC.
std::tm UtcFields(std::time_t seconds);

// The CSV column line: utc,monotonic_s,ch00,...; with codes and volts
// side by side, ch00_code,ch00_volts,...
std::string CsvHeader(const ReadRequest& request);
std::string CsvRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading);
// {"utc":...,"monotonic_s":...,"codes":[...],"volts":[...]}
std::string JsonRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading);

// Shortest text that reads back as the same value.
std::string ValueText(double v);
std::string ValueText(float v);

} // namespace moxctl
