// SPDX-License-Identifier: GPL-3.0-or-later
// A bench's channels in the engineer's own terms: names, units, scaling,
// calibration and limits, read from one small TOML file (docs/setup-file.md).
// A file is taken whole or refused whole: Load and Parse give either a
// complete Setup or one Error that names the file, line, column and field.
#pragma once

#include "channel_scaling.h"
#include "limit_watch.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace mox::setup {

using Limits = vcard::Limits; // one definition, shared with the level watch

struct Calibration {
    vcard::Linear correction;                          // volts -> calibrated volts
    std::string date, due, operatorName, cardIdentity; // ISO dates "YYYY-MM-DD"
};

struct Channel {
    bool given = false;  // named in the file at all
    std::string name;    // "pump_pressure"; defaults to "AI00"/"AO0"
    std::string unit;    // "bar"; defaults to "V"
    vcard::Linear scale; // calibrated volts -> unit
    std::optional<Calibration> calibration;
    Limits limits;
};

struct Setup {
    std::string path, digest;                          // digest: SHA-256 hex of the file's bytes
    std::array<Channel, 32> inputs;                    // AI0..AI31
    std::array<Channel, 4> outputs;                    // AO0..AO3
    std::string calibrationPath;                       // the calibration file it references, if any
    double Engineering(int input, double volts) const; // volts read -> unit
    std::string ColumnName(int input) const;           // "pump_pressure[bar]"
};

struct Error {
    std::string file;
    int line = 0;
    int column = 0;
    std::string field;
    std::string what;
    // "setup.toml:12:3: AI4.scale: the two points are equal"
    std::string Text() const;
};

// Whether a text would break the one line it is written on, or turn the
// text around where it is shown: the rule for every text the file gives
// for a log's header line (operator, card).
bool BreaksLine(std::string_view text);

// Reads a calibration file's text as Load reads the one a setup file
// references, into `setup`'s channels; the fault when it is refused, and
// `setup` then as it was.
std::optional<Error> ParseCalibration(std::string_view text, const std::string& sourceName, Setup& setup);

// Reads, parses and checks a setup file, and loads the calibration file it
// references (relative to the setup file).
std::variant<Setup, Error> Load(const std::string& path);
// The same for a text already read; sourceName is what errors call it. A
// referenced calibration file is not read: calibrationPath says which.
std::variant<Setup, Error> Parse(std::string_view text, const std::string& sourceName);

} // namespace mox::setup
