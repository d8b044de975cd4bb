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

namespace {

// One channel's reduction as the samples go by.
struct Reducer {
    std::size_t ch = 0;
    Envelope out;
    Column column;
    std::int64_t columnEndMs = std::numeric_limits<std::int64_t>::min(); // first ms past the current column
    std::int64_t previousMs = 0;
    bool first = true;
    bool failedSince = false; // a failed read since the previous reading

    // c: the sample's column, endMs: the first ms past it.
    void Add(const Sample& s, int c, std::int64_t endMs, std::int64_t gapMs) {
        const float v = s.volts[ch];
        if (!std::isfinite(v)) return; // not a reading: drawn as missing
        const bool gap = !first && (failedSince || s.ms - previousMs > gapMs);
        failedSince = false;
        if (gap || s.ms >= columnEndMs) {
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
            columnEndMs = endMs;
        } else {
            column.Add(s.ms, v);
        }
        previousMs = s.ms;
        first = false;
    }
};

bool Valid(int channel) { return channel >= 0 && channel < kChannels; }

} // namespace

Envelope MinMaxColumns(const History& history, int channel, Span span, int columns, std::int64_t gapMs) {
    return std::move(MinMaxColumns(history, std::vector<int>{channel}, span, columns, gapMs).front());
}

namespace {

// All channels' reducers fed one sample at a time. While every channel
// read its last sample and the next one stays in the same column, a sample
// only widens each channel's column: that is done on contiguous copies of
// the columns' extremes, written back to the reducers when the run of such
// samples ends.
class Reduction {
public:
    Reduction(const std::vector<int>& channels, Span span, int columns, std::int64_t gapMs)
        : reducers_(channels.size()), span_(span), width_(span.toMs - span.fromMs + 1), n_(columns), gapMs_(gapMs) {
        for (std::size_t i = 0; i < channels.size(); ++i) {
            if (!Valid(channels[i])) continue;
            reducers_[i].ch = static_cast<std::size_t>(channels[i]);
            reducers_[i].out.low.reserve(static_cast<std::size_t>(columns) * 2 + 16);
            reducers_[i].out.high.reserve(reducers_[i].out.low.capacity());
            valid_.push_back(&reducers_[i]);
            chs_.push_back(reducers_[i].ch);
        }
        lows_.resize(chs_.size());
        highs_.resize(chs_.size());
    }

    void Add(const Sample& s) {
        bool finite = s.read;
        for (std::size_t ch : chs_) finite &= std::isfinite(s.volts[ch]);
        if (synced_ && finite && s.ms < syncedEndMs_ && s.ms - syncedMs_ <= gapMs_) {
            for (std::size_t i = 0; i < chs_.size(); ++i) {
                // By value: selects without branches, which noisy data would mispredict.
                const float v = s.volts[chs_[i]], low = lows_[i], high = highs_[i];
                lows_[i] = v < low ? v : low;
                highs_[i] = v > high ? v : high;
            }
            syncedMs_ = s.ms;
            return;
        }
        WriteBack();
        if (!s.read) {
            for (Reducer* r : valid_) r->failedSince = true;
            return;
        }
        // Whole-number arithmetic, so a reading on a column's edge always
        // lands in the same column; worked out once for all channels, and
        // only here: a division per sample would be most of the cost.
        const auto c = static_cast<int>((s.ms - span_.fromMs) * n_ / width_);
        const std::int64_t endMs = span_.fromMs + ((c + 1) * width_ + n_ - 1) / n_;
        for (Reducer* r : valid_) r->Add(s, c, endMs, gapMs_);
        synced_ = finite && !valid_.empty();
        if (!synced_) return;
        syncedMs_ = s.ms;
        syncedEndMs_ = endMs;
        for (std::size_t i = 0; i < valid_.size(); ++i) {
            lows_[i] = valid_[i]->column.min;
            highs_[i] = valid_[i]->column.max;
        }
    }

    std::vector<Envelope> Finish() {
        WriteBack();
        std::vector<Envelope> out;
        out.reserve(reducers_.size());
        for (Reducer& r : reducers_) {
            r.column.Flush(r.out);
            out.push_back(std::move(r.out));
        }
        return out;
    }

private:
    void WriteBack() {
        if (!synced_) return;
        for (std::size_t i = 0; i < valid_.size(); ++i) {
            valid_[i]->column.min = lows_[i];
            valid_[i]->column.max = highs_[i];
            valid_[i]->column.lastMs = valid_[i]->previousMs = syncedMs_;
        }
        synced_ = false;
    }

    std::vector<Reducer> reducers_; // in the order asked for
    std::vector<Reducer*> valid_;   // those of real channels
    std::vector<std::size_t> chs_;  // their channels
    std::vector<float> lows_, highs_;
    Span span_;
    std::int64_t width_, n_, gapMs_;
    bool synced_ = false;
    std::int64_t syncedMs_ = 0, syncedEndMs_ = 0;
};

} // namespace

// One pass over the samples for all channels: a sample's readings lie
// together, so this reads the history once instead of once per channel.
std::vector<Envelope> MinMaxColumns(const History& history, const std::vector<int>& channels, Span span, int columns,
                                    std::int64_t gapMs) {
    if (columns <= 0 || span.toMs < span.fromMs) return std::vector<Envelope>(channels.size());
    Reduction reduction(channels, span, columns, gapMs);
    ForEachInSpan(history, span, [&](const Sample& s) { reduction.Add(s); });
    return reduction.Finish();
}

Stats SpanStats(const History& history, int channel, Span span) {
    return SpanStats(history, std::vector<int>{channel}, span).front();
}

std::vector<Stats> SpanStats(const History& history, const std::vector<int>& channels, Span span) {
    Stats none;
    none.min = none.max = none.mean = none.stddev = kNaN;
    std::vector<Stats> st(channels.size(), none);
    // Sums of the readings shifted by the first one: no division per
    // reading, and no loss of precision for a small spread on a large offset.
    struct Sums {
        double shift = 0, sum = 0, squares = 0;
    };
    std::vector<Sums> sums(channels.size());
    ForEachInSpan(history, span, [&](const Sample& s) {
        if (!s.read) return;
        for (std::size_t i = 0; i < channels.size(); ++i) {
            if (!Valid(channels[i])) continue;
            const double v = s.volts[static_cast<std::size_t>(channels[i])];
            if (!std::isfinite(v)) continue;
            Stats& c = st[i];
            Sums& m = sums[i];
            if (c.count == 0) {
                c.min = c.max = m.shift = v;
            } else {
                const double low = c.min, high = c.max;
                c.min = v < low ? v : low;
                c.max = v > high ? v : high;
            }
            ++c.count;
            m.sum += v - m.shift;
            m.squares += (v - m.shift) * (v - m.shift);
        }
    });
    for (std::size_t i = 0; i < st.size(); ++i) {
        if (st[i].count == 0) continue;
        const auto n = static_cast<double>(st[i].count);
        const Sums& m = sums[i];
        st[i].mean = m.shift + m.sum / n;
        st[i].stddev = std::sqrt(std::max(0.0, m.squares / n - (m.sum / n) * (m.sum / n)));
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
