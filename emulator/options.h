// SPDX-License-Identifier: GPL-3.0-or-later
// The emulator's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace emu {

struct Options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 7710;
    // Faults in force from the start, as the commands of the same names.
    std::optional<std::string> pcAddress;
    std::optional<double> drop;
    std::optional<double> delayMs;
    std::optional<double> silentSeconds;
    std::optional<std::uint64_t> seed; // of the drop decisions; random by default
    // A recording (moxctl log or trend export) played on the inputs, from
    // the start, looping unless replayOnce.
    std::optional<std::string> replay;
    bool replayOnce = false;
    bool trace = false;
    bool exitWithStdin = false;
};

struct ParsedOptions {
    std::optional<Options> options; // nothing: end with exitCode, printing text
    int exitCode = 0;               // 0 for --help and --version, 2 for a usage error
    std::string text;               // help, version, or the error with a hint
};

// Parses the arguments after the program name. --trace and --exit-with-stdin
// are flags; their older spellings with a value ("--trace 1", "--trace 0")
// still work.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

} // namespace emu
