// SPDX-License-Identifier: GPL-3.0-or-later
// The loopback self-test: with DA0..3 wired to inputs 0..3 and each digital
// output group wired to the input group of the same number (the virtual
// card's wiring, or a loopback plug on a real card), it checks the identity,
// the link, each analog loop over a sweep of voltages and every digital
// line with walking ones and zeros, and names what it finds wrong.
#pragma once

#include "card.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace moxctl {

struct SelfTestOptions {
    double toleranceVolts = 0.05;  // largest error of an analog loop
    double noiseLimitVolts = 0.05; // largest standard deviation of an input
    std::chrono::milliseconds settle{100};
    std::vector<double> setPoints{-4, -2, 0, 2, 4}; // volts, bipolar range
    int mean = 50;                                  // samples averaged per point
};

struct Check {
    std::string name;
    bool passed = false;
    std::string detail;
    std::vector<std::string> faults; // what is wrong, one sentence each
    double seconds = 0;
    std::vector<std::pair<std::string, double>> metrics;
};

struct Report {
    std::string program;
    std::string started; // UTC
    std::vector<Check> checks;
    bool Passed() const;
};

Report RunSelfTest(Card& card, const SelfTestOptions& options);

// ---- Analysis, kept apart from the card so that it can be checked alone ----

// One analog loop: the DA voltages set and the input's readings of them.
struct AnalogPoint {
    double setVolts = 0;
    double measuredVolts = 0;
};
Check AnalyseAnalog(int channel, const std::vector<AnalogPoint>& points, double noiseVolts,
                    const SelfTestOptions& options);

// The digital loop: the 16 output bits written and the 16 input bits read
// back, for each pattern; the faults found (stuck bits, shorted pairs,
// other wrong readings), bits numbered 1..16 as the digital I/O window does.
using DigitalSample = std::pair<std::uint16_t, std::uint16_t>;
std::vector<std::uint16_t> DigitalPatterns(); // all 0, all 1, walking ones, walking zeros
std::vector<std::string> AnalyseDigital(const std::vector<DigitalSample>& samples);

std::string ReportTable(const Report& report);
std::string ReportJson(const Report& report);
std::string ReportJUnit(const Report& report);

} // namespace moxctl
