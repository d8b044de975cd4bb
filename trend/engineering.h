// SPDX-License-Identifier: GPL-3.0-or-later
// What a setup file changes in the trend window, computed without a window:
// channel names and units, values in the channel's unit, the axis, the
// figures' texts, the limit lines and the level each channel is at. The
// history stays in volts; every value in a unit is computed from it here,
// and a gap (NaN) stays a gap. With no setup (a null pointer) every text is
// the one the window shows without one.
#pragma once

#include "history.h"
#include "reduce.h"
#include "setup.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace trend {

using mox::setup::Setup;

// The channel picker's box: "07", or with a setup that gives the channel
// "07 pump_pressure [bar]" (a long name shortened with "…").
QString PickerText(const Setup* setup, int channel);
// The figures table's channel cell: "AI07", or the channel's name.
QString ChannelLabel(const Setup* setup, int channel);
// "V" without a setup or for a channel the setup leaves out.
QString UnitText(const Setup* setup, int channel);

// The unit every shown channel shares, when there is a setup and at least
// one channel: then the plot is in that unit, otherwise in volts.
std::optional<std::string> SharedUnit(const Setup* setup, const std::vector<int>& channels);
// "电压 (V)" in volts, "数值 (bar)" in a shared unit.
QString AxisLabel(const std::optional<std::string>& sharedUnit);

// The figures table's headers: with a setup the figures are in each
// channel's own unit, named in a column of their own, and the level the
// channel is at is said in words in the last column.
enum StatsColumn { kColChannel, kColUnit, kColCursor, kColMin, kColMax, kColMean, kColStd, kColLevel, kStatsColumns };
QStringList StatsHeaders(bool withSetup);

// One row of figures from the volts' figures: in the channel's unit with a
// setup (the scaling is linear, so the figures of the values are the
// scaled figures; a falling scale swaps the lowest and the highest).
std::array<QString, kStatsColumns> StatsTexts(const Setup* setup, int channel, const Stats& volts,
                                              const Nearest& cursor, vcard::Level level = vcard::Level::Normal);
QString Figure(double value); // "1.2345", "—" for no value

// A channel's band of volts as its values in the unit, gaps kept; under a
// falling scale the low list still holds each column's lowest value.
Envelope InUnit(const Setup& setup, int channel, Envelope band);

// The value axis' fixed range: the inputs' span (±5 V and a margin) through
// each shown channel's scaling when the plot is in a unit.
struct Range {
    double lower, upper;
};
Range FixedRange(const Setup* setup, const std::vector<int>& channels, bool inUnit);

// The lines of a channel's levels on the plot: at the level in its unit
// when the axis is in the unit, else at the volts that read as that level.
// A level whose volts cannot be found (a flat scaling) is left out.
struct LimitLine {
    vcard::Level level;
    double value; // in the channel's unit
    double axis;  // where it is drawn
};
std::vector<LimitLine> LimitLines(const Setup& setup, int channel, bool axisInUnit);
// "预警上限 8 bar"
QString LimitLabel(const Setup& setup, int channel, const LimitLine& line);

// The level's name as the window says it ("报警上限"), empty for normal.
QString LevelText(vcard::Level level);
// A row's background: amber for a warning, red for an alarm, none (an
// invalid colour) when normal; and the text that goes with it.
QColor LevelBackground(vcard::Level level);
QColor LevelForeground(vcard::Level level);

// Every input's level, followed sample by sample through the history with
// hysteresis, by the same watch moxctl watch uses. Failed reads are not fed.
class LevelFollower {
public:
    explicit LevelFollower(const Setup& setup);
    // Feeds the samples appended since the last call (all kept, the first time).
    void Follow(const History& history, const Setup& setup);
    vcard::Level Current(int channel) const;

private:
    std::vector<vcard::LimitWatch> watches_;
    std::uint64_t fed_ = 0;
};

// --setup FILE or --setup=FILE among the program's arguments.
struct SetupArgument {
    bool given = false;
    QString path; // empty when the option has no file
};
SetupArgument RequestedSetup(const QStringList& arguments);

} // namespace trend
