// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup_columns.h"

#include "text.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace moxctl {

namespace {

vcard::Linear Correction(const mox::setup::Channel& c) {
    return c.calibration ? c.calibration->correction : vcard::Linear{};
}

// The level a value is beyond, the alarm before the warning.
const char* LevelPassed(const mox::setup::Limits& l, double v) {
    // A watch that has seen nothing before: the level of this value alone.
    const auto level = vcard::LimitWatch(l).Feed(v);
    return level ? vcard::LevelName(*level).data() : nullptr;
}

std::string CalibrationLine(const std::string& id, const mox::setup::Calibration& c) {
    std::string line = "# calibration: " + id + " " + c.date + ", due " + c.due + ", gain " +
                       mox::ShortestText(c.correction.gain) + ", offset " + mox::ShortestText(c.correction.offset);
    if (!c.operatorName.empty()) line += ", by " + c.operatorName;
    if (!c.cardIdentity.empty()) line += ", card " + c.cardIdentity;
    return line + "\n";
}

} // namespace

std::string SetupColumns(const mox::setup::Setup& setup) {
    std::string columns;
    // Appended piece by piece: GCC 12 at -O3 takes "," + name for an
    // overlapping copy (-Wrestrict) in the Windows build.
    for (int k = 0; k < mox::kInputChannels; ++k) {
        columns += ',';
        columns += setup.ColumnName(k);
    }
    return columns + ",beyond_limits";
}

std::array<double, mox::kInputChannels> EngineeringValues(const mox::setup::Setup& setup, const ReadRequest& request,
                                                          const Reading& reading) {
    std::array<double, mox::kInputChannels> values{};
    for (std::size_t k = 0; k < values.size(); ++k) {
        const float volts = request.volts ? reading.volts[k] : mox::CodeVolts(reading.codes[k]);
        values[k] = setup.Engineering(static_cast<int>(k), static_cast<double>(volts));
    }
    return values;
}

std::string ValueText(double value) {
    if (std::isfinite(value) && std::fabs(value) <= FLT_MAX) return mox::ShortestText(static_cast<float>(value));
    return mox::ShortestText(value);
}

std::string BeyondLimits(const mox::setup::Setup& setup, const std::array<double, mox::kInputChannels>& values) {
    std::string beyond;
    for (std::size_t k = 0; k < values.size(); ++k) {
        const char* level = LevelPassed(setup.inputs[k].limits, values[k]);
        if (level == nullptr) continue;
        if (!beyond.empty()) beyond += ';';
        beyond += setup.inputs[k].name + ":" + level;
    }
    return beyond;
}

std::string SetupHeaderLines(const mox::setup::Setup& setup) {
    // Whole paths: a log is often read far from where it was written.
    const auto whole = [](const std::string& p) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(p, ec);
        return ec ? p : absolute.lexically_normal().string();
    };
    std::string lines = "# setup: " + whole(setup.path) + ", sha256 " + setup.digest + "\n";
    if (!setup.calibrationPath.empty()) lines += "# calibration file: " + whole(setup.calibrationPath) + "\n";
    for (std::size_t k = 0; k < setup.inputs.size(); ++k) {
        if (setup.inputs[k].calibration)
            lines += CalibrationLine("AI" + std::to_string(k), *setup.inputs[k].calibration);
    }
    for (std::size_t k = 0; k < setup.outputs.size(); ++k) {
        if (setup.outputs[k].calibration)
            lines += CalibrationLine("AO" + std::to_string(k), *setup.outputs[k].calibration);
    }
    return lines;
}

std::vector<std::string> OverdueCalibrations(const mox::setup::Setup& setup, const std::string& today) {
    std::vector<std::string> overdue;
    const auto check = [&](const mox::setup::Channel& c, const std::string& id) {
        if (c.calibration && c.calibration->due < today)
            overdue.push_back(id + " calibration was due " + c.calibration->due);
    };
    for (std::size_t k = 0; k < setup.inputs.size(); ++k) check(setup.inputs[k], "AI" + std::to_string(k));
    for (std::size_t k = 0; k < setup.outputs.size(); ++k) check(setup.outputs[k], "AO" + std::to_string(k));
    return overdue;
}

std::optional<int> DaCodeForValue(const mox::setup::Setup& setup, int output, double value, bool bipolar,
                                  std::string& why) {
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
    if (const char* level = LevelPassed({c.limits.alarmLow, {}, {}, c.limits.alarmHigh, 0}, value)) {
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

bool DaCodeWithinAlarms(const mox::setup::Setup& setup, int output, int code, bool bipolar, std::string& why) {
    const auto& c = setup.outputs.at(static_cast<std::size_t>(output));
    const double gives = DaValueOfCode(setup, output, code, bipolar);
    const char* level = LevelPassed({c.limits.alarmLow, {}, {}, c.limits.alarmHigh, 0}, gives);
    if (level == nullptr) return true;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%03X", static_cast<unsigned>(code));
    why = std::string("code ") + hex + " gives " + mox::ShortestText(static_cast<float>(gives)) + " " + c.unit +
          ", beyond " + c.name + "'s " + level + " in " + setup.path;
    return false;
}

double DaValueOfCode(const mox::setup::Setup& setup, int output, int code, bool bipolar) {
    const auto& c = setup.outputs.at(static_cast<std::size_t>(output));
    return vcard::Apply(c.scale, vcard::Apply(Correction(c), vcard::DaVolts(code, bipolar)));
}

} // namespace moxctl
