// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup_columns.h"

#include "da_value.h"
#include "text.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace moxctl {

namespace {

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

// One rule with the recipes: the setup module holds it.
std::optional<int> DaCodeForValue(const mox::setup::Setup& setup, int output, double value, bool bipolar,
                                  std::string& why) {
    return mox::setup::DaCodeForValue(setup, output, value, bipolar, why);
}

bool DaCodeWithinAlarms(const mox::setup::Setup& setup, int output, int code, bool bipolar, std::string& why) {
    return mox::setup::DaCodeWithinAlarms(setup, output, code, bipolar, why);
}

double DaValueOfCode(const mox::setup::Setup& setup, int output, int code, bool bipolar) {
    return mox::setup::DaValueOfCode(setup, output, code, bipolar);
}

} // namespace moxctl
