// SPDX-License-Identifier: GPL-3.0-or-later
// When rows are taken, for read and log alike: due at a fixed interval from
// the first, never made up in a burst after a stall, ended before a
// duration; how long a mean needs before its first row; and rows that keep
// repeating because the link serves them slower than they are asked for.
#pragma once

#include "card.h"

#include <chrono>
#include <deque>
#include <optional>

namespace moxctl {

class RowSchedule {
public:
    using Clock = std::chrono::steady_clock;

    // Rows are due at start + firstDelay + k * interval; with a duration, no
    // row is due at or after start + duration.
    RowSchedule(Clock::time_point start, Clock::duration interval,
                std::optional<std::chrono::duration<double>> duration = std::nullopt,
                Clock::duration firstDelay = Clock::duration::zero());

    Clock::time_point Due() const { return origin_ + slot_ * interval_; }
    bool Over() const { return EndsBy(Due()); }
    // Whether the duration is over at `t`.
    bool EndsBy(Clock::time_point t) const { return end_ && t >= *end_; }
    // A row was taken at `now`: the next one is due at the first slot at
    // least half an interval after it, so that rows missed in a stall or an
    // outage are not made up back to back with one reading.
    void Taken(Clock::time_point now);
    // No row before `now + wait` (acquisition started again, its mean must
    // fill up); later rows keep the interval from there.
    void Delay(Clock::time_point now, Clock::duration wait);

private:
    Clock::time_point origin_;
    Clock::duration interval_;
    std::optional<Clock::time_point> end_;
    long long slot_ = 0;
};

// Points a mean of `mean` can cover on the card as moxctl starts it (the
// card keeps `depth` samples per channel), 1 for the newest sample.
int MeanPoints(int mean);
// How long after the start of acquisition those points have been taken.
std::chrono::steady_clock::duration MeanFillTime(int mean);

// Notices readings identical in every channel to the one before: a live
// card's noise makes that all but impossible, so a few of them among the
// last rows show a link answering from a reading it already had.
class RepeatWatch {
public:
    explicit RepeatWatch(int limit = 3, int window = 10) : limit_(limit), window_(window) {}
    // True once, for the reading that makes `limit` repeats among the last
    // `window` readings.
    bool Repeated(const Reading& r);

private:
    int limit_;
    int window_;
    std::deque<bool> recent_;
    bool said_ = false;
    std::optional<Reading> last_;
};

} // namespace moxctl
