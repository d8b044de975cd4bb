// SPDX-License-Identifier: GPL-3.0-or-later
#include "da_value.h"

#include "text.h"

#include <cmath>
#include <cstdio>

namespace mox::setup {

namespace {

vcard::Linear Correction(const Channel& c) { return c.calibration ? c.calibration->correction : vcard::Linear{}; }

// The alarm level a value is beyond, or none.
const char* AlarmPassed(const Channel& c, double v) {
    // A watch that has seen nothing before: the level of this value alone.
    const auto level = vcard::LimitWatch({c.limits.alarmLow, {}, {}, c.limits.alarmHigh, 0}).Feed(v);
    return level ? vcard::LevelName(*level).data() : nullptr;
}

} // namespace

std::optional<int> DaCodeForValue(const Setup& setup, int output, double value, bool bipolar, std::string& why) {
    if (output < 0 || output >= vcard::kDaChannels) {
        why = "there is no output AO" + std::to_string(output);
        return std::nullopt;
    }
    const auto& c = setup.outputs[static_cast<std::size_t>(output)];
    const std::string what = mox::ShortestText(value) + " " + c.unit;
    if (!std::isfinite(value)) {
        why = "the value is not a finite number";
        return std::nullopt;
    }
    if (const char* level = AlarmPassed(c, value)) {
        why = what + " is beyond " + c.name + "'s " + level + " in " + setup.path;
        return std::nullopt;
    }
    const auto volts = vcard::VoltsForEngineering(value, Correction(c), c.scale);
    const auto code = volts ? vcard::DaCodeForVolts(*volts, bipolar) : std::nullopt;
    if (!code) {
        why = what + (volts ? " needs " + mox::ShortestText(*volts) + " V" : std::string(" has no voltage")) +
              ", which the output cannot give in the " + (bipolar ? "bipolar (-5..+5 V)" : "unipolar (0..10 V)") +
              " range (codes 0..4095)";
        return std::nullopt;
    }
    if (!DaCodeWithinAlarms(setup, output, *code, bipolar, why)) return std::nullopt;
    return code;
}

bool DaCodeWithinAlarms(const Setup& setup, int output, int code, bool bipolar, std::string& why) {
    const auto& c = setup.outputs.at(static_cast<std::size_t>(output));
    const double gives = DaValueOfCode(setup, output, code, bipolar);
    const char* level = AlarmPassed(c, gives);
    if (level == nullptr) return true;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%03X", static_cast<unsigned>(code));
    why = std::string("code ") + hex + " gives " + mox::ShortestText(static_cast<float>(gives)) + " " + c.unit +
          ", beyond " + c.name + "'s " + level + " in " + setup.path;
    return false;
}

double DaValueOfCode(const Setup& setup, int output, int code, bool bipolar) {
    const auto& c = setup.outputs.at(static_cast<std::size_t>(output));
    return vcard::Apply(c.scale, vcard::Apply(Correction(c), vcard::DaVolts(code, bipolar)));
}

} // namespace mox::setup
