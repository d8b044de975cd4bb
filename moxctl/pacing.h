// SPDX-License-Identifier: GPL-3.0-or-later
// When rows are taken, for read and log alike: due at a fixed interval from
// the first, numbered by their due times, never made up in a burst after a
// stall, ended before a duration; how long a mean needs before its first
// row; and rows whose reading is no newer than the previous row's because
// the link serves readings slower than they are asked for.
#pragma once

#include "card.h"

#include <chrono>
#include <cstdint>
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
    // The number of the row due next among every due time from the start
    // (0 for the first): rows not taken leave their numbers out.
    long long Seq() const { return base_ + slot_; }
    bool Over() const { return EndsBy(Due()); }
    // Whether the duration is over at `t`.
    bool EndsBy(Clock::time_point t) const { return end_ && t >= *end_; }
    // A row was taken at `now`: the next one is due at the first slot at
    // least half an interval after it, so that rows missed in a stall or an
    // outage are not made up back to back with one reading. Returns the
    // row's number: that of the due time nearest to `now`, and never one
    // already given.
    long long Taken(Clock::time_point now);
    // No row before `now + wait` (acquisition started again, its mean must
    // fill up); later rows keep the interval from there, and their numbers
    // go on after those of the due times that pass meanwhile.
    void Delay(Clock::time_point now, Clock::duration wait);

private:
    Clock::time_point origin_;
    Clock::duration interval_;
    std::optional<Clock::time_point> end_;
    long long slot_ = 0;
    long long base_ = 0; // due times counted before origin_
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

// Rows from readings newer than the previous row's, where the driver tells
// when each reading was asked of the card (a network driver keeps readings
// and answers from them): a reading asked no later than the previous row's
// is the same reading, or an older one.
class FreshRows {
public:
    // Whether a reading asked at `askedUs` (the driver's clock) is newer
    // than the last one taken; it is taken when it is.
    bool Newer(std::int64_t askedUs);
    long long LeftOut() const { return leftOut_; }
    // The mean time between the readings taken, in microseconds: how often
    // the link gives a new one; 0 before two.
    std::int64_t MeanSpacingUs() const { return spacings_ > 0 ? spacingSum_ / spacings_ : 0; }

private:
    std::optional<std::int64_t> last_;
    long long leftOut_ = 0;
    std::int64_t spacingSum_ = 0;
    std::int64_t spacings_ = 0;
};

} // namespace moxctl
