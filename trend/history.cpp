// SPDX-License-Identifier: GPL-3.0-or-later
#include "history.h"

#include "text.h"

#include <algorithm>
#include <chrono>

namespace trend {

Stamp Now() {
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    return {mox::SinceStart().count(), std::chrono::floor<std::chrono::milliseconds>(wall).count()};
}

History::History(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void History::Append(Stamp at, std::uint8_t mode, const Volts& volts) {
    Push({at.steadyMs, at.wallMs, mode, true, volts});
}

void History::AppendGap(Stamp at, std::uint8_t mode) { Push({at.steadyMs, at.wallMs, mode, false, {}}); }

void History::Push(Sample sample) {
    ++appended_;
    if (size_ > 0) sample.ms = std::max(sample.ms, Newest().ms);
    if (ring_.size() < capacity_) {
        // Filled as samples come, so a short run never holds the whole hour.
        ring_.push_back(sample);
        ++size_;
        return;
    }
    ring_[(head_ + size_) % capacity_] = sample;
    if (size_ == capacity_) {
        head_ = (head_ + 1) % capacity_;
    } else {
        ++size_;
    }
}

void History::Clear() {
    ring_.clear();
    head_ = 0;
    size_ = 0;
}

std::size_t History::LowerBound(std::int64_t ms) const {
    std::size_t lo = 0;
    std::size_t hi = size_;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (At(mid).ms < ms) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

std::array<std::span<const Sample>, 2> History::Runs(std::size_t first, std::size_t last) const {
    last = std::min(last, size_);
    if (first >= last) return {};
    const std::size_t begin = (head_ + first) % capacity_;
    const std::size_t count = last - first;
    const std::size_t toEnd = ring_.size() - begin;
    const std::span<const Sample> all(ring_);
    if (count <= toEnd) return {all.subspan(begin, count), {}};
    return {all.subspan(begin, toEnd), all.subspan(0, count - toEnd)};
}

} // namespace trend
