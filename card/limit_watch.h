// SPDX-License-Identifier: GPL-3.0-or-later
// A channel's limits and the level its values are at, with hysteresis, so
// that a noisy signal resting on a threshold is one crossing and not a
// stream of them. Plain values, no clock: whoever reads the card feeds the
// samples in and reports the changes.
//
// Thresholds are strict both ways, so a value exactly on a threshold never
// moves the level: it enters a level only past the threshold
// (value > warn_high, value < warn_low, ...) and leaves it only once it is
// back inside by more than the hysteresis (value < warn_high - hysteresis,
// value > warn_low + hysteresis, ...).
#pragma once

#include <cmath>
#include <optional>
#include <string_view>

namespace vcard {

// All in the channel's unit. A level not given never trips; a hysteresis
// below zero (or not a number) counts as none.
struct Limits {
    std::optional<double> alarmLow, warnLow, warnHigh, alarmHigh;
    double hysteresis = 0;
};

inline bool HasLevels(const Limits& l) { return l.alarmLow || l.warnLow || l.warnHigh || l.alarmHigh; }

enum class Level { Normal, WarnLow, WarnHigh, AlarmLow, AlarmHigh };

// The names the setup file's fields use, for messages and lines a script reads.
constexpr std::string_view LevelName(Level level) {
    switch (level) {
    case Level::WarnLow:
        return "warn_low";
    case Level::WarnHigh:
        return "warn_high";
    case Level::AlarmLow:
        return "alarm_low";
    case Level::AlarmHigh:
        return "alarm_high";
    case Level::Normal:
        break;
    }
    return "normal";
}

constexpr bool IsAlarm(Level level) { return level == Level::AlarmLow || level == Level::AlarmHigh; }

class LimitWatch {
public:
    explicit LimitWatch(const Limits& limits) : limits_(limits) {
        if (!(limits_.hysteresis > 0)) limits_.hysteresis = 0;
    }

    // The new level when this sample changed it. A NaN is no value: it
    // neither enters nor leaves anything.
    std::optional<Level> Feed(double value) {
        if (std::isnan(value)) return std::nullopt;
        const Level next = LevelOf(value);
        if (next == level_) return std::nullopt;
        level_ = next;
        return next;
    }

    Level Current() const { return level_; }
    const Limits& Thresholds() const { return limits_; }

private:
    // The most severe level the value puts the channel in: one it has gone
    // past, or one at least as severe on the same side as the present level
    // that it has not yet come back from. Alarms are looked at before
    // warnings, so a jump past both is a single change.
    Level LevelOf(double v) const {
        if (High(limits_.alarmHigh, Level::AlarmHigh, v)) return Level::AlarmHigh;
        if (Low(limits_.alarmLow, Level::AlarmLow, v)) return Level::AlarmLow;
        if (High(limits_.warnHigh, Level::WarnHigh, v)) return Level::WarnHigh;
        if (Low(limits_.warnLow, Level::WarnLow, v)) return Level::WarnLow;
        return Level::Normal;
    }

    bool High(const std::optional<double>& threshold, Level level, double v) const {
        if (!threshold) return false;
        if (v > *threshold) return true;
        const bool holding = level_ == level || (level_ == Level::AlarmHigh && level == Level::WarnHigh);
        return holding && v >= *threshold - limits_.hysteresis;
    }

    bool Low(const std::optional<double>& threshold, Level level, double v) const {
        if (!threshold) return false;
        if (v < *threshold) return true;
        const bool holding = level_ == level || (level_ == Level::AlarmLow && level == Level::WarnLow);
        return holding && v <= *threshold + limits_.hysteresis;
    }

    Limits limits_;
    Level level_ = Level::Normal;
};

} // namespace vcard
