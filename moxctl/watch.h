// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl watch: the inputs a setup file gives limits for, read at an
// interval, and one line each time one of them changes level.
#pragma once

#include "limit_watch.h"
#include "setup.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace moxctl {

struct WatchOptions {
    std::string setupPath;
    std::chrono::milliseconds interval{200};
    // Readings due before it are taken; until stopped without it.
    std::optional<std::chrono::duration<double>> duration;
};

// 0 no input reached an alarm level, 1 one did (or the card gave no reading
// at all, so nothing was watched), 2 the setup file is unusable.
int Watch(const WatchOptions& o);

// An input with limits and the level its values are at.
struct WatchedInput {
    int input = 0;
    std::string name, unit;
    vcard::LimitWatch watch;
};

// The inputs of a setup that have at least one level, in channel order.
std::vector<WatchedInput> WatchedInputs(const mox::setup::Setup& setup);

// "2026-12-08T10:00:01.234Z AI02 pump_pressure 10.4 bar warn_high" (with a
// line feed): the value to single precision, the precision of the volts it
// comes from.
std::string LevelLine(std::chrono::system_clock::time_point t, const WatchedInput& in, double value,
                      vcard::Level level);

} // namespace moxctl
