// SPDX-License-Identifier: GPL-3.0-or-later
// Telling a restarted card from one that was only out of reach. A network
// driver starts acquisition again by itself when it finds the card stopped,
// often before moxctl sees a reading fail; the card's samples then count
// from that new start. The card driver reports how many samples a mean
// averaged (at most the depth it keeps): a mean over the whole depth that
// comes back short right after the link returns shows a fresh start. A
// driver that does not report the full depth on a card acquiring for long
// enough cannot be asked this way, and the probe says so.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace moxctl {

class RestartProbe {
public:
    using Clock = std::chrono::steady_clock;
    // Acquisition (re)started by moxctl at `t`.
    void Started(Clock::time_point t) { started_ = t; }
    // Called with good readings: once acquisition has run long enough to
    // hold its whole depth, learns whether the driver reports samples.
    void Learn(Clock::time_point now);
    // After the link came back: the samples held when fewer than the depth
    // (a fresh start), nothing otherwise or when the driver cannot tell.
    std::optional<std::int32_t> FreshStart();

private:
    std::optional<Clock::time_point> started_;
    enum class Driver { Unknown, Counts, Silent } driver_ = Driver::Unknown;
};

} // namespace moxctl
