// SPDX-License-Identifier: GPL-3.0-or-later
// What the trend plot draws and states, computed from the history without
// a window: each pixel column reduced to its lowest and highest reading, and
// per-channel figures over the visible span.
#pragma once

#include "history.h"

#include <cstdint>
#include <vector>

namespace trend {

// Times here are the history's monotonic milliseconds (Sample::ms); the
// window turns them into wall-clock times for its axis.
struct Point {
    double key;   // monotonic seconds
    double value; // volts; NaN breaks the curve
};

struct Span {
    std::int64_t fromMs; // first monotonic millisecond shown
    std::int64_t toMs;   // last monotonic millisecond shown
};

// Two readings further apart than this are not joined: the list was not
// read in between (query off, acquisition stopped, the program busy).
constexpr std::int64_t kGapMs = 1000;

// The curve of one channel over a span drawn across `columns` pixel columns,
// as the band between its lowest and its highest readings: per column one
// point in each of `low` and `high` at the column's first reading's time and,
// if it had more, one at its last reading's time. Where readings are more
// than gapMs apart, or a failed read lies between them, both get a NaN
// point, which breaks the band; failed reads are never drawn. Drawn as a
// filled band, it covers the same pixels as the full curve, at a fraction of
// the points and with horizontal spans instead of vertical strokes.
struct Envelope {
    std::vector<Point> low, high;
};
Envelope MinMaxColumns(const History& history, int channel, Span span, int columns, std::int64_t gapMs = kGapMs);
// The same for several channels in one pass, in the order given (an
// invalid channel gets an empty envelope).
std::vector<Envelope> MinMaxColumns(const History& history, const std::vector<int>& channels, Span span, int columns,
                                    std::int64_t gapMs = kGapMs);

struct Stats {
    std::size_t count = 0;
    double min = 0, max = 0, mean = 0, stddev = 0; // NaN when count is 0
};

// Figures of one channel over all readings inside the span (failed reads
// are not readings).
Stats SpanStats(const History& history, int channel, Span span);
// The same for several channels in one pass, in the order given.
std::vector<Stats> SpanStats(const History& history, const std::vector<int>& channels, Span span);

// The reading of a channel nearest in time to ms, if one lies within gapMs
// of it and no failed read lies nearer.
struct Nearest {
    bool found = false;
    std::int64_t ms = 0;
    float volts = 0;
};
Nearest NearestReading(const History& history, int channel, std::int64_t ms, std::int64_t gapMs = kGapMs);

} // namespace trend
