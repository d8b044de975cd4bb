// SPDX-License-Identifier: GPL-3.0-or-later
// A software MOX card: the model behind the virtual card driver library.
//
// Acquisition needs no thread and keeps no sample history: sample i of a
// channel is a pure function of i (its time), of the channel's signal and of
// the DA output in effect at that time, and is computed only when a result
// asks for it. A stopped card therefore costs no CPU, and a result costs the
// samples it averages, however long ago the previous one was asked for.
// Every member is safe to call from any thread.
#pragma once

#include "card_api.h"
#include "card_constants.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace vcard {

// Seconds on a monotonic clock.
using Clock = std::function<double()>;
double SteadySeconds();

// Identity reply to request 70: card 7710, 100K, 16 bits, type 1.
constexpr std::array<std::uint8_t, 5> kIdentity{77, 10, 10, 16, 1};

// GetLastADError codes.
enum AdError : std::int32_t {
    kNoError = 0,
    kBadRate = 1,
    kBadChannels = 2,
    kBadDepth = 3,
    kBadGain = 4,
    kBadTrigger = 5,
    kBadBlock = 6,
};

constexpr std::int32_t kMaxDepth = 65536;
// DA changes remembered per channel while acquiring (older ones are folded
// into the value in effect before them).
constexpr std::size_t kMaxDaChanges = 256;
constexpr double kRateUnitHz = 10000.0;

// Input voltage (before quantisation and noise) of channel `ch` at time t
// seconds after the start, for channels 4..31; channels 0..3 carry DA0..DA3.
double SignalVolts(int ch, double t);

// Voltage an AD code stands for, and the code for a voltage (clipped).
double CodeToVolts(double code);
std::uint16_t VoltsToCode(double volts);

// Volts that stand in for input `ch`'s own voltage at `seconds` on the
// card's clock (a recording played back), or NaN to leave the input to the
// card. Called with the card's lock held, for every sample averaged: it
// must be quick and must not call the card.
using InputOverride = std::function<double(int ch, double seconds)>;

class VirtualCard final : public CardApi {
public:
    explicit VirtualCard(Clock clock = SteadySeconds);

    MOX_CARD_OVERRIDES

    bool Acquiring();
    // DA changes remembered for samples that can still be averaged.
    std::size_t DaChangesHeld();
    // Inputs given by `override` where it gives a value, exactly: no noise
    // is added (the recording holds the card's noise already), and on
    // inputs 0..3 it wins over the DA loopback. Empty: the card's own inputs.
    void SetInputOverride(InputOverride override);

private:
    std::uint64_t SamplesSoFarLocked() const; // per channel, since the start
    void ForgetOldDaChangesLocked(std::uint64_t samples);
    double DaVoltsAtLocked(int ch, std::uint64_t index) const;
    std::uint16_t SampleCodeLocked(int ch, std::uint64_t index) const;

    Clock clock_;
    InputOverride override_;
    std::mutex mutex_;
    std::int32_t lastError_ = kNoError;
    // Output voltage of each DA channel before its remembered changes, and
    // the changes: (first sample index with the new value, volts).
    std::array<double, kDaChannels> daVolts_{};
    std::array<std::deque<std::pair<std::uint64_t, double>>, kDaChannels> daChanges_;
    std::uint16_t outputs_ = 0; // DO bits 0..15, wired back to DI

    bool running_ = false;
    double start_ = 0;
    double rateHz_ = 0; // per channel
    int first_ = 0;
    int count_ = 0;
    std::int32_t depth_ = 0;
};

} // namespace vcard
