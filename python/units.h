// SPDX-License-Identifier: GPL-3.0-or-later
// What a setup file adds to a card opened from Python: each input in its
// unit, the levels a reading is beyond, and an output's value in its unit
// as a DA code, by the setup module's rules that moxctl applies too. Pure
// functions; a value the setup refuses is refused before the card is asked.
#pragma once

#include "card_constants.h"
#include "setup.h"

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace moxcard {

// A setup file that cannot be read or is refused (SetupError, a ValueError
// in Python); the text names the file, line, column and field.
struct SetupFailure : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// Reads and checks a setup file whole, with the calibration it references.
mox::setup::Setup LoadSetup(const std::string& path);

enum class Mode { Volts, Codes, Units };
// "volts", "codes", or "units" (which needs a setup).
Mode ReadMode(const std::string& mode, const mox::setup::Setup* setup);

using Inputs = std::array<double, vcard::kChannels>;
// Each input in its unit from the volts read (calibration, then scaling).
Inputs InUnits(const mox::setup::Setup& setup, const Inputs& volts);

// The DA code for `value` in output `channel`'s unit ("bipolar" or
// "unipolar" range); refused (BadArgument) where moxctl da --value refuses.
std::int16_t DaCodeInUnits(const mox::setup::Setup& setup, int channel, double value, const std::string& range);
// Refuses (BadArgument) a code whose output would lie beyond the output's
// alarm levels; nothing to check without a setup.
void CheckDaAlarms(const mox::setup::Setup* setup, int channel, std::int16_t code, const std::string& range);

// The code for DA `channel` from exactly one of volts, a code, or a value
// in the output's unit (which needs a setup); with a setup, refused where
// the output would lie beyond its alarm levels.
std::int16_t DaCodeFor(const mox::setup::Setup* setup, int channel, std::optional<double> volts,
                       std::optional<long long> code, std::optional<double> value, const std::string& range);

// (input name, "warn_low" | "warn_high" | "alarm_low" | "alarm_high") for
// every input strictly beyond a level, the alarm named when both are
// passed; each reading judged on its own. NaN is no value.
std::vector<std::pair<std::string, std::string>> LevelsPassed(const mox::setup::Setup& setup, const Inputs& values);

} // namespace moxcard
