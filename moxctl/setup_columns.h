// SPDX-License-Identifier: GPL-3.0-or-later
// What a setup file adds to moxctl's rows and logs: each input in its unit,
// the channels beyond a warn or alarm level, the setup and calibrations a
// log was taken with; and an output's value in its unit as a DA code.
#pragma once

#include "card.h"
#include "setup.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace moxctl {

// ",pump_pressure[bar],...,AI31[V],beyond_limits": after the raw columns,
// one per input (volts for an input the file does not give) and the last.
std::string SetupColumns(const mox::setup::Setup& setup);

// Each input in its unit, from the volts the reading shows, or with codes
// alone from the volts the codes stand for (the card's one rule).
std::array<double, mox::kInputChannels> EngineeringValues(const mox::setup::Setup& setup, const ReadRequest& request,
                                                          const Reading& reading);

// A value in its unit as a row shows it: to single precision, the
// precision of the volts it comes from.
std::string ValueText(double value);

// "pump_pressure:alarm_high;coil_current:warn_low": each input strictly
// beyond a level, the alarm level named when both are passed; empty when
// none is. A row is judged on its own: hysteresis is for watching crossings.
std::string BeyondLimits(const mox::setup::Setup& setup, const std::array<double, mox::kInputChannels>& values);

// '#' lines for a log: the setup's path and SHA-256, each calibration's
// date and due date.
std::string SetupHeaderLines(const mox::setup::Setup& setup);

// "AI3 calibration was due 2026-11-01" for each calibration due before
// `today` ("YYYY-MM-DD").
std::vector<std::string> OverdueCalibrations(const mox::setup::Setup& setup, const std::string& today);

// mox::setup's (da_value.h), under the names moxctl's commands use.
// The DA code for a value in an output's unit, through its scaling and
// calibration; none with `why` set when the code would lie outside
// 0..4095, the value is not finite or beyond the output's alarm levels.
std::optional<int> DaCodeForValue(const mox::setup::Setup& setup, int output, double value, bool bipolar,
                                  std::string& why);
// The value in the output's unit that a code really gives.
double DaValueOfCode(const mox::setup::Setup& setup, int output, int code, bool bipolar);

// Whether what a code really gives on the output (after rounding to a code)
// stays inside the output's alarm levels; `why` says what it gives if not.
bool DaCodeWithinAlarms(const mox::setup::Setup& setup, int output, int code, bool bipolar, std::string& why);

} // namespace moxctl
