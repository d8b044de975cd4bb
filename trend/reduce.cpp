// SPDX-License-Identifier: GPL-3.0-or-later
#include "reduce.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace trend {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Seconds(std::int64_t ms) { return static_cast<double>(ms) / 1000.0; }

// The samples of a span, oldest first, as contiguous runs.
template <typename F>
void ForEachInSpan(const History& history, Span span, F f) {
    const std::size_t first = history.LowerBound(span.fromMs);
    const std::size_t last = history.LowerBound(span.toMs + 1);
    for (const auto& run : history.Runs(first, last))
        for (const Sample& s : run) f(s);
}

// The readings that fell into one pixel column.
struct Column {
    int index = -1;
    std::int64_t firstMs = 0, lastMs = 0;
    float min = 0, max = 0;

    void Start(int column, std::int64_t ms, float v) {
        index = column;
        firstMs = lastMs = ms;
        min = max = v;
    }
    void Add(std::int64_t ms, float v) {
        lastMs = ms;
        min = std::min(min, v);
        max = std::max(max, v);
    }
    void Flush(Envelope& out) const {
        if (index < 0) return;
        out.low.push_back({Seconds(firstMs), min});
        out.high.push_back({Seconds(firstMs), max});
        if (lastMs == firstMs) return;
        out.low.push_back({Seconds(lastMs), min});
        out.high.push_back({Seconds(lastMs), max});
    }
};

} // namespace

Envelope MinMaxColumns(const History& history, int channel, Span span, int columns, std::int64_t gapMs) {
    Envelope out;
    if (channel < 0 || channel >= kChannels || columns <= 0 || span.toMs < span.fromMs) return out;
    const auto ch = static_cast<std::size_t>(channel);
    // Whole-number arithmetic, so a reading on a column's edge always lands
    // in the same column.
    const std::int64_t width = span.toMs - span.fromMs + 1;
    const std::int64_t n = columns;
    out.low.reserve(static_cast<std::size_t>(columns) * 2 + 16);
    out.high.reserve(out.low.capacity());
    Column column;
    std::int64_t columnEndMs = std::numeric_limits<std::int64_t>::min(); // first ms past the current column
    std::int64_t previousMs = 0;
    bool first = true;
    bool failedSince = false; // a failed read since the previous reading
    ForEachInSpan(history, span, [&](const Sample& s) {
        if (!s.read) {
            failedSince = true;
            return;
        }
        const float v = s.volts[ch];
        if (!std::isfinite(v)) return; // not a reading: drawn as missing
        const bool gap = !first && (failedSince || s.ms - previousMs > gapMs);
        failedSince = false;
        if (gap || s.ms >= columnEndMs) {
            // The column is worked out only when a reading leaves the last one.
            const auto c = static_cast<int>((s.ms - span.fromMs) * n / width);
            if (gap || c != column.index) {
                column.Flush(out);
                if (gap) {
                    out.low.push_back({Seconds(previousMs + 1), kNaN});
                    out.high.push_back({Seconds(previousMs + 1), kNaN});
                }
                column.Start(c, s.ms, v);
            } else {
                column.Add(s.ms, v);
            }
            columnEndMs = span.fromMs + ((c + 1) * width + n - 1) / n;
        } else {
            column.Add(s.ms, v);
        }
        previousMs = s.ms;
        first = false;
    });
    column.Flush(out);
    return out;
}

Stats SpanStats(const History& history, int channel, Span span) {
    Stats st;
    st.min = st.max = st.mean = st.stddev = kNaN;
    if (channel < 0 || channel >= kChannels) return st;
    const auto ch = static_cast<std::size_t>(channel);
    // Sums of the readings shifted by the first one: no division per
    // reading, and no loss of precision for a small spread on a large offset.
    double shift = 0, sum = 0, squares = 0;
    ForEachInSpan(history, span, [&](const Sample& s) {
        const double v = s.volts[ch];
        if (!s.read || !std::isfinite(v)) return;
        if (st.count == 0) {
            st.min = st.max = shift = v;
        } else {
            st.min = std::min(st.min, v);
            st.max = std::max(st.max, v);
        }
        ++st.count;
        sum += v - shift;
        squares += (v - shift) * (v - shift);
    });
    if (st.count > 0) {
        const auto n = static_cast<double>(st.count);
        st.mean = shift + sum / n;
        st.stddev = std::sqrt(std::max(0.0, squares / n - (sum / n) * (sum / n)));
    }
    return st;
}

Nearest NearestReading(const History& history, int channel, std::int64_t ms, std::int64_t gapMs) {
    Nearest best;
    if (channel < 0 || channel >= kChannels || history.Empty()) return best;
    const std::size_t i = history.LowerBound(ms);
    std::int64_t bestDistance = gapMs + 1;
    for (std::size_t j : {i - 1, i}) {
        if (j >= history.Size()) continue; // i - 1 wraps when i is 0
        const Sample& s = history.At(j);
        const std::int64_t d = s.ms > ms ? s.ms - ms : ms - s.ms;
        if (d < bestDistance) {
            bestDistance = d;
            // Nearest to a failed read: there is nothing to read off there.
            best = {s.read, s.ms, s.read ? s.volts[static_cast<std::size_t>(channel)] : 0.0f};
        }
    }
    return best;
}

} // namespace trend
