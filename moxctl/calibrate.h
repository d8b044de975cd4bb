// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl calibrate: with the loopback wiring (DA0..3 -> AI0..3), the gain
// and offset of each chosen input against its output's nominal volts, or of
// each output against its input as already calibrated; a calibration file
// the setup file references, written whole or not at all.
#pragma once

#include "calibration_fit.h"

#include <chrono>
#include <string>
#include <vector>

namespace moxctl {

struct CalibrateOptions {
    std::string out;          // the calibration file to write
    std::string operatorName; // who calibrated
    std::string setupPath;    // the calibration in force (before errors; outputs' reference)
    bool outputs = false;     // calibrate DA0..3 against AI0..3 instead of the inputs
    std::vector<int> channels{0, 1, 2, 3};
    int points = 9;
    double span = 4.5; // volts either side of 0
    int mean = 500;    // samples averaged per point
    std::chrono::milliseconds settle{50};
    int validDays = 365;
    FitLimits limits;
};

// 0 every chosen channel calibrated and written; 1 a channel refused (the
// others still written), the card failed or the run was stopped; 2 a bad
// argument or file, found before the card is touched.
int Calibrate(const CalibrateOptions& o);

// "0,2,3" -> {0, 2, 3}: pair numbers 0..3, each once; none for anything else.
std::optional<std::vector<int>> ChannelList(const std::string& text);

} // namespace moxctl
