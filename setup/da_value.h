// SPDX-License-Identifier: GPL-3.0-or-later
// An output's value in its unit as the DA code the card is given, through
// the setup's scaling and the output's calibration, and refused beyond the
// output's alarm levels: one rule for `moxctl da --value` and the recipes.
#pragma once

#include "setup.h"

#include <optional>
#include <string>

namespace mox::setup {

// The DA code for a value in an output's unit, through its scaling and
// calibration; none with `why` set when the code would lie outside
// 0..4095, the value is not finite or beyond the output's alarm levels.
std::optional<int> DaCodeForValue(const Setup& setup, int output, double value, bool bipolar, std::string& why);
// The value in the output's unit that a code really gives.
double DaValueOfCode(const Setup& setup, int output, int code, bool bipolar);

// Whether what a code really gives on the output (after rounding to a code)
// stays inside the output's alarm levels; `why` says what it gives if not.
bool DaCodeWithinAlarms(const Setup& setup, int output, int code, bool bipolar, std::string& why);

} // namespace mox::setup
