// SPDX-License-Identifier: GPL-3.0-or-later
// A test recipe (docs/recipes.md): outputs set, waits and checks of the
// inputs, in order, read from a short TOML file and resolved into a plan
// before anything reaches the card. Repeats are unrolled, "$v" replaced by
// each value of a sweep and every value turned into the DA code, byte or
// band the card is given or judged by, through the setup's scaling. A file
// is taken whole or refused with one Error naming the file, line, column and
// field, as the setup file is.
#pragma once

#include "setup.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace mox::recipe {

using Error = setup::Error;

// Bounds that keep a recipe a test of minutes, not a program.
constexpr int kMaxDepth = 4;                // repeats inside repeats
constexpr long kMaxRepeat = 10000;          // passes of one repeat
constexpr std::size_t kMaxActions = 100000; // steps once unrolled
constexpr int kMaxReadings = 1000;          // readings of one check
constexpr double kMaxSeconds = 86400;       // one wait or timeout
constexpr double kMaxTotalSeconds = 86400;  // the waits and timeouts of the plan together

enum class OnFail { Stop, Continue };

// One output written: a DA code, a digital output group's byte or one bit.
struct Output {
    enum class Kind { Da, DoGroup, DoBit };
    Kind kind = Kind::Da;
    int channel = 0;  // DA 0..3, group 0..1, bit 1..16 (as the window numbers them)
    int value = 0;    // DA code 0..4095, byte 0..255, level 0..1
    std::string text; // "DA0 = 2.5 V (code C00)"
    bool operator==(const Output& o) const { return kind == o.kind && channel == o.channel && value == o.value; }
};

// What a check or `wait until` judges: an analog input within a band (in
// its unit) over one or several readings, or digital inputs.
struct Condition {
    enum class Kind { Analog, DiBit, DiGroup };
    enum class Over { One, Mean, Min, Max, All };
    Kind kind = Kind::Analog;
    int input = 0;         // AI 0..31; DI bit 1..16; DI group 0..1
    std::string inputName; // "AI0", "pump_pressure", "DI bit 3", "DI group 1"
    std::string unit;      // of an analog input: the setup's, or "V"
    std::optional<double> low, high;
    Over over = Over::One;
    int readings = 1;
    int expected = 0; // the bit's level, or the group's pattern
    int mask = 0xFF;  // the group's bits that count
    // "1.95..2.05 V", "= 1", "= A5 (mask FF)"
    std::string LimitsText() const;
    // Whether a measured value (analog: in the unit; digital: the level or
    // the group's byte) passes.
    bool Passes(double value) const;
    // The value judged of the readings taken (analog): the one reading,
    // their mean, least or greatest; for All the reading farthest out of
    // the band (the one nearest an edge when all are within), so that it
    // passes only when every reading does. NaN when any reading is NaN.
    double Judged(const std::vector<double>& values) const;
};

struct Action {
    enum class Kind { Set, Wait, WaitUntil, Check };
    Kind kind = Kind::Set;
    int line = 0;      // of the step in the recipe
    std::string where; // "step[3].step[1]"
    std::string id;    // checks and waits until: unique in the plan ("loop#2")
    std::string text;  // what the report shows of a check
    OnFail onFail = OnFail::Stop;
    Output output;      // Set
    double seconds = 0; // Wait; WaitUntil: the timeout
    Condition condition;
    std::string Describe() const; // one line of the plan
};

struct Plan {
    std::string path;
    std::string name;
    std::optional<setup::Setup> setup;
    bool bipolar = true; // the DA range of volts and values
    std::vector<Action> actions;
    double plannedSeconds = 0; // the waits and timeouts together, at most kMaxTotalSeconds
    // Written at the end whatever happened: the [safe] table's outputs.
    // Any output the run wrote and these leave out goes back to 0 V / 0.
    std::vector<Output> safe;
    int Checks() const; // checks and waits until: the report's test cases
    bool NeedsAcquisition() const;
};

// The output that takes a written one back to 0 V / 0.
Output Zero(const Output& written, bool bipolar);

// Reads a recipe file and the setup file it names (relative to the recipe).
std::variant<Plan, Error> Load(const std::string& path);
// The same for a text already read; a setup it names is read from the
// folder of sourceName.
std::variant<Plan, Error> Parse(std::string_view text, const std::string& sourceName);

} // namespace mox::recipe
