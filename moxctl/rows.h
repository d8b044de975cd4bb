// SPDX-License-Identifier: GPL-3.0-or-later
// Rows of readings as CSV or JSON lines, with their times. The CSV columns
// and the time text are the ones the trend window exports (common/text.h).
#pragma once

#include "card.h"
#include "setup.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace moxctl {

enum class Format { Csv, Json };

// When a reading was taken: wall-clock time (written as UTC ISO-8601 with
// milliseconds) and time on a monotonic clock since the program started.
struct Stamp {
    std::chrono::system_clock::time_point utc;
    std::int64_t monotonicMs = 0;
};
Stamp Now();
// A note among the rows: "# 2026-12-07T11:30:00.000Z link down: ...".
std::string NoteLine(std::chrono::system_clock::time_point t, const std::string& text);

// The CSV column line: utc,monotonic_s,AI00,...; with codes and volts
// side by side, AI00_code,AI00_volts,... With a setup, then each input in
// its unit and beyond_limits (setup_columns.h). A log's rows carry their
// number among the due times (pacing.h) in a column "seq" after the times.
std::string CsvHeader(const ReadRequest& request, const mox::setup::Setup* setup = nullptr, bool seq = false);
std::string CsvRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading,
                   const mox::setup::Setup* setup = nullptr, std::optional<long long> seq = std::nullopt);
// The column of a row's number, and the column line without it: the
// columns of a log written before rows were numbered.
constexpr const char* kSeqColumn = "seq";
std::string WithoutSeq(const std::string& columns);
// {"utc":...,"monotonic_s":...,"codes":[...],"volts":[...]}, with a setup
// then "pump_pressure[bar]":...,"beyond_limits":"..."
std::string JsonRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading,
                    const mox::setup::Setup* setup = nullptr);

} // namespace moxctl
