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

// When a sample was taken, on two clocks. The monotonic one orders and
// places samples: a wall clock set back or forward (by hand, or by time
// synchronisation) must not reorder or hide them. The wall one is what the
// operator reads: axis labels and exported times.
struct Stamp {
    std::int64_t steadyMs = 0; // monotonic milliseconds; Now() counts from the program's start
    std::int64_t wallMs = 0;   // milliseconds since 1970 UTC, as the clock said then
};

// Both clocks now. The monotonic one is the one moxctl writes too (from the
// program's start), so an export gives the same monotonic_s column as a log.
Stamp Now();

struct Sample {
    std::int64_t ms = 0;     // monotonic time (Stamp::steadyMs): all searches use it
    std::int64_t wallMs = 0; // the wall time at which it was taken
    std::uint8_t mode = 0;   // the read mode the values came from, or were asked for (0..2)
    bool read = true;        // false: the driver reported a failed read, and volts mean nothing
    Volts volts{};
};

class History {
public:
    explicit History(std::size_t capacity = kCapacity);

    // Adds the newest sample, dropping the oldest once full. Monotonic times
    // never run backwards in the ring (a later stamp earlier than the last is
    // held at the last), so the searches below stay valid.
    void Append(Stamp at, std::uint8_t mode, const Volts& volts);
    // A read the driver reported as failed: a gap, never data.
    void AppendGap(Stamp at, std::uint8_t mode);
    void Clear();

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }
    bool Empty() const { return size_ == 0; }
    // Samples appended since construction, Clear() or not: whoever follows
    // the history sample by sample knows from it which ones are new.
    std::uint64_t Appended() const { return appended_; }
    // i = 0 is the oldest sample kept.
    const Sample& At(std::size_t i) const { return ring_[(head_ + i) % capacity_]; }
    const Sample& Newest() const { return At(size_ - 1); }
    // The index of the first sample at or after monotonic ms (Size() if none).
    std::size_t LowerBound(std::int64_t ms) const;
    // Samples first .. last-1 as at most two runs of contiguous memory, for
    // loops over many samples that should not pay a division per sample.
    std::array<std::span<const Sample>, 2> Runs(std::size_t first, std::size_t last) const;

private:
    void Push(Sample sample);

    std::size_t capacity_;
    std::vector<Sample> ring_; // grows to capacity_, then is overwritten in place
    std::size_t head_ = 0;     // index of the oldest sample in ring_
    std::size_t size_ = 0;
    std::uint64_t appended_ = 0;
};

} // namespace trend
