// SPDX-License-Identifier: GPL-3.0-or-later
#include "pacing.h"

#include <algorithm>

namespace moxctl {

namespace {

// StartIntr's rate counts in 10 kHz, shared by the channels scanned.
constexpr double kRateUnitHz = 10000.0;

} // namespace

RowSchedule::RowSchedule(Clock::time_point start, Clock::duration interval,
                         std::optional<std::chrono::duration<double>> duration, Clock::duration firstDelay)
    : origin_(start + firstDelay), interval_(interval) {
    if (duration) end_ = start + std::chrono::duration_cast<Clock::duration>(*duration);
}

long long RowSchedule::Taken(Clock::time_point now) {
    const long long nearest = (now - origin_ + interval_ / 2) / interval_;
    const long long slot = std::max(slot_, nearest);
    slot_ = slot + 1;
    return base_ + slot;
}

void RowSchedule::Delay(Clock::time_point now, Clock::duration wait) {
    const auto resume = now + wait;
    // Due times before the new start are rows not taken: counted, so that
    // the numbers show them missing.
    const long long passed = resume <= origin_ ? 0 : (resume - origin_ + interval_ - Clock::duration(1)) / interval_;
    base_ += std::max(slot_, passed);
    origin_ = resume;
    slot_ = 0;
}

bool FreshRows::Newer(std::int64_t askedUs) {
    if (last_ && askedUs <= *last_) {
        ++leftOut_;
        return false;
    }
    if (last_) {
        spacingSum_ += askedUs - *last_;
        ++spacings_;
    }
    last_ = askedUs;
    return true;
}

int MeanPoints(int mean) {
    const mox::StartParameters p;
    return std::clamp(mean, 1, static_cast<int>(p.depth));
}

std::chrono::steady_clock::duration MeanFillTime(int mean) {
    if (mean <= 0) return std::chrono::steady_clock::duration::zero();
    const mox::StartParameters p;
    const double perChannelHz = p.rate * kRateUnitHz / p.count;
    // The first sample is taken at the start, so n points take n - 1
    // periods: a whole n periods leave a margin for the card's own clock.
    const std::chrono::duration<double> fill(MeanPoints(mean) / perChannelHz);
    return std::chrono::round<std::chrono::steady_clock::duration>(fill);
}

bool RepeatWatch::Repeated(const Reading& r) {
    recent_.push_back(last_ && last_->codes == r.codes && last_->volts == r.volts);
    if (static_cast<int>(recent_.size()) > window_) recent_.pop_front();
    last_ = r;
    if (said_ || std::count(recent_.begin(), recent_.end(), true) < limit_) return false;
    said_ = true;
    return true;
}

} // namespace moxctl
