// SPDX-License-Identifier: GPL-3.0-or-later
// The recent readings of the 32 inputs, in volts: a ring of fixed capacity
// (one hour at the acquisition tick), so memory stays flat however long the
// program runs.
#pragma once

#include "card_io.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace trend {

constexpr int kChannels = mox::kInputChannels;
// One hour of 200 ms ticks.
constexpr std::size_t kCapacity = 18000;

using Volts = std::array<float, kChannels>;

struct Sample {
    std::int64_t ms = 0;   // wall-clock time, milliseconds since 1970 UTC
    std::uint8_t mode = 0; // the read mode the values came from (0..2)
    Volts volts{};
};

class History {
public:
    explicit History(std::size_t capacity = kCapacity);

    // Adds the newest sample, dropping the oldest once full. Times never run
    // backwards in the ring: a clock set back is held at the last time, so
    // the searches below stay valid.
    void Append(std::int64_t ms, std::uint8_t mode, const Volts& volts);
    void Clear();

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }
    bool Empty() const { return size_ == 0; }
    // i = 0 is the oldest sample kept.
    const Sample& At(std::size_t i) const { return ring_[(head_ + i) % capacity_]; }
    const Sample& Newest() const { return At(size_ - 1); }
    // The index of the first sample at or after ms (Size() if none).
    std::size_t LowerBound(std::int64_t ms) const;
    // Samples first .. last-1 as at most two runs of contiguous memory, for
    // loops over many samples that should not pay a division per sample.
    std::array<std::span<const Sample>, 2> Runs(std::size_t first, std::size_t last) const;

private:
    std::size_t capacity_;
    std::vector<Sample> ring_; // grows to capacity_, then is overwritten in place
    std::size_t head_ = 0;     // index of the oldest sample in ring_
    std::size_t size_ = 0;
};

} // namespace trend
