// SPDX-License-Identifier: GPL-3.0-or-later
// What `moxctl calibrate` makes of a loopback's readings, apart from the
// card: the straight line through the points of one DA -> AI pair, whether
// it is fit to be a calibration, the errors before and after it, and the
// calibration file's text.
//
// A loopback measures the pair, never one end alone, so one end is trusted:
// an input is calibrated against its output's nominal volts (what the DA
// code stands for); an output against its input's readings corrected by the
// input's calibration in force.
#pragma once

#include "setup.h"

#include <optional>
#include <string>
#include <vector>

namespace moxctl {

// One point of a loop: the volts the DA code stands for and the volts the
// input read (its mean, before any calibration).
struct LoopPoint {
    double commanded = 0;
    double read = 0;
};

// Which end of the loop is calibrated, and what is trusted.
struct Loop {
    bool output = false; // false: the input, against the DA's nominal volts
    // Outputs only: the input's calibration in force, which turns its
    // readings into the volts that really appear.
    vcard::Linear inputCalibration;
};

// When a fit is not taken as a calibration.
struct FitLimits {
    double maxResidual = 0.01; // volts off the straight line, at any point
    double minGain = 0.9;
    double maxGain = 1.1;
    double maxOffset = 0.5;        // volts
    double saturationVolts = 4.99; // a mean read this far out has clipped
    double minSlope = 0.5;         // below it the input does not follow the output
};

struct ChannelFit {
    vcard::Linear correction; // as the setup file applies it
    double residual = 0;      // largest distance from the line, volts
    std::string refusal;      // why the fit is not a calibration; empty when it is
};

// The least-squares line through the loop's points as the calibration of
// its end, judged against the limits. `pair` names the loop in a refusal
// ("AI1/DA1").
ChannelFit FitLoop(const Loop& loop, const std::vector<LoopPoint>& points, const FitLimits& limits,
                   const std::string& pair);

// The largest error at the points of a calibration of the loop's end (the
// identity for none): for an input, calibrated reading minus the DA's
// nominal volts; for an output, the volts that appear minus those the
// calibration promises for the code.
double MaxError(const Loop& loop, const vcard::Linear& calibration, const std::vector<LoopPoint>& points);

// The set points of a calibration: `count` volts evenly over -span..+span.
std::vector<double> SetPoints(int count, double span);
// The points half way between neighbouring set points, measured again to
// check a calibration on readings it was not fitted to.
std::vector<double> CheckPoints(const std::vector<double>& setPoints);

// One channel's table in the calibration file.
struct CalibrationEntry {
    bool output = false;
    int channel = 0;
    mox::setup::Calibration calibration;
    std::string note; // one comment line above the table: what was trusted
};

// The first line of every calibration file moxctl writes: a file whose
// first line is anything else is not ours to replace.
extern const char* const kCalibrationMarker;
bool WrittenByCalibrate(const std::string& text);

// The whole file: the marker, version = 1 and one table per entry, inputs
// then outputs by number, numbers written so that they read back exactly.
std::string CalibrationFileText(std::vector<CalibrationEntry> entries);

// A text in TOML's quotes, its quote marks and backslashes escaped. Control
// characters are refused before any text gets here.
std::string TomlString(const std::string& text);

// "YYYY-MM-DD" `days` after the date `date` ("YYYY-MM-DD"); none when the
// date is not one or the result is beyond 9999.
std::optional<std::string> DateAfter(const std::string& date, int days);

} // namespace moxctl
