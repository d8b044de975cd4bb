// SPDX-License-Identifier: GPL-3.0-or-later
// The visible span of the trend as CSV, in the columns moxctl log writes:
// UTC time, seconds since the program started, then one column per shown
// channel, in volts written exactly enough to read back the same value.
#pragma once

#include "history.h"
#include "reduce.h"
#include "setup.h"

#include <array>
#include <string>
#include <vector>

namespace trend {

// Header lines: "# read mode: <names of the modes read in the span>",
// then "utc,monotonic_s,AI00,AI05,..."; then one row per sample in the span,
// in the order taken, with the wall time at which it was taken (so after the
// clock was set back, times step back too) and its monotonic time. A failed
// read is a row with its times and every value cell empty. modeNames are the
// names of modes 0..2 as the window shows them.
//
// With a setup, the volts' columns stay as they are and each shown channel
// gets a second column after them, its value in its unit, named as moxctl
// names it ("pump_pressure[bar]"); a "# setup: PATH, sha256 DIGEST" line
// joins the header, and under the column names a unit row, "#unit,s,V,...,bar",
// one cell per column so that it lines up with the names (its first cell
// starts with '#', so readers that skip comments skip it too).
std::string CsvText(const History& history, const std::vector<int>& channels, Span span,
                    const std::array<std::string, 3>& modeNames, const mox::setup::Setup* setup = nullptr);

// The column names' line and the unit row, without line feeds.
std::string CsvColumns(const std::vector<int>& channels, const mox::setup::Setup* setup);
std::string CsvUnitRow(const std::vector<int>& channels, const mox::setup::Setup& setup);

} // namespace trend
