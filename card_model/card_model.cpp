// SPDX-License-Identifier: GPL-3.0-or-later
#include "card_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

namespace vcard {
namespace {

constexpr double kCodesPerVolt = kDaMaxCode / kDaSpanVolts;
constexpr double kBaseNoiseVolts = 0.005;
constexpr double kNoisyChannelVolts = 0.05;

// A well-mixed 64-bit hash (splitmix64), for repeatable noise.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Uniform noise in [-1, 1) for a channel and a sample index.
double Noise(int ch, std::uint64_t index) {
    const std::uint64_t h = Mix((static_cast<std::uint64_t>(ch) << 56) ^ index);
    return static_cast<double>(h >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

} // namespace

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double SignalVolts(int ch, double t) {
    if (ch < 8) { // DC levels
        static constexpr std::array<double, 4> kLevels{-4.0, -2.0, 2.0, 4.0};
        return kLevels[static_cast<std::size_t>(ch - 4)];
    }
    if (ch < 16) { // slow sines, 0.1 .. 0.8 Hz, 1.0 .. 4.5 V peak
        const double amplitude = 1.0 + 0.5 * (ch - 8);
        const double hz = 0.1 * (ch - 7);
        return amplitude * std::sin(2 * std::numbers::pi * hz * t);
    }
    if (ch < 24) { // sawtooth ramps from -5 V to +5 V, periods 1 .. 8 s
        const double period = ch - 15;
        const double phase = t / period - std::floor(t / period);
        return -kAdFullScaleVolts + 2 * kAdFullScaleVolts * phase;
    }
    return -1.75 + 0.5 * (ch - 24); // DC levels -1.75 .. +1.75 V, noisy
}

double CodeToVolts(double code) { return (code - kAdZeroCode) / kAdZeroCode * kAdFullScaleVolts; }

std::uint16_t VoltsToCode(double volts) {
    const double code = std::nearbyint(volts / kAdFullScaleVolts * kAdZeroCode + kAdZeroCode);
    return static_cast<std::uint16_t>(std::clamp(code, 0.0, 65535.0));
}

VirtualCard::VirtualCard(Clock clock) : clock_(std::move(clock)) {}

std::int32_t VirtualCard::Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
    std::lock_guard lock(mutex_);
    lastError_ = kNoError;
    return 1;
}

std::int32_t VirtualCard::IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) {
    if (!in || !out || inLen < 2 || outLen <= 0) return 0;
    std::array<std::uint8_t, 7> reply{};
    std::size_t size = 0;
    switch (in[0]) {
    case kCmdIdentity:
        std::copy(kIdentity.begin(), kIdentity.end(), reply.begin());
        size = kIdentity.size();
        break;
    case kCmdNetStatus:
        // byte 0 unused; 1..4 the PC address seen; 5, 6 link-down seconds (big-endian)
        std::copy(kExpectedPcAddress.begin(), kExpectedPcAddress.end(), reply.begin() + 1);
        size = 7;
        break;
    default:
        return 0;
    }
    size = std::min(size, static_cast<std::size_t>(outLen));
    std::copy_n(reply.begin(), size, out);
    return static_cast<std::int32_t>(size);
}

std::int32_t VirtualCard::StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                                    std::int32_t depth, std::int32_t gain, std::int16_t trigger) {
    std::lock_guard lock(mutex_);
    std::int32_t error = kNoError;
    if (rate < 1 || rate > 100)
        error = kBadRate;
    else if (block < 1 || block > kMaxDepth)
        error = kBadBlock;
    else if (first < 0 || count < 1 || first + count > kChannels)
        error = kBadChannels;
    else if (depth < 1 || depth > kMaxDepth)
        error = kBadDepth;
    else if (gain != 0)
        error = kBadGain;
    else if (trigger != 0 && trigger != 1)
        error = kBadTrigger;
    lastError_ = error;
    if (error != kNoError) return 0;

    ForgetOldDaChangesLocked(~std::uint64_t{0}); // the new run starts from the present outputs
    running_ = true;
    start_ = clock_();
    rateHz_ = rate * kRateUnitHz / count;
    first_ = first;
    count_ = count;
    depth_ = depth;
    return 1;
}

std::int32_t VirtualCard::StopIntr() {
    std::lock_guard lock(mutex_);
    ForgetOldDaChangesLocked(~std::uint64_t{0});
    running_ = false;
    return 1;
}

std::int32_t VirtualCard::GetLastADError() {
    std::lock_guard lock(mutex_);
    return lastError_;
}

std::uint64_t VirtualCard::SamplesSoFarLocked() const {
    const double elapsed = std::max(0.0, clock_() - start_);
    return static_cast<std::uint64_t>(elapsed * rateHz_) + 1; // sample 0 is taken at the start
}

void VirtualCard::ForgetOldDaChangesLocked(std::uint64_t samples) {
    // Changes that took effect before the oldest sample still averageable
    // are folded into the base value, as are the oldest beyond the limit.
    const std::uint64_t oldest = samples > static_cast<std::uint64_t>(depth_) ? samples - depth_ : 0;
    for (std::size_t ch = 0; ch < kDaChannels; ++ch) {
        auto& changes = daChanges_[ch];
        while (!changes.empty() && (changes.front().first <= oldest || changes.size() > kMaxDaChanges)) {
            daVolts_[ch] = changes.front().second;
            changes.pop_front();
        }
    }
}

double VirtualCard::DaVoltsAtLocked(int ch, std::uint64_t index) const {
    const auto& changes = daChanges_[static_cast<std::size_t>(ch)];
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        if (it->first <= index) return it->second;
    }
    return daVolts_[static_cast<std::size_t>(ch)];
}

std::uint16_t VirtualCard::SampleCodeLocked(int ch, std::uint64_t index) const {
    const double t = static_cast<double>(index) / rateHz_;
    if (override_) {
        const double given = override_(ch, start_ + t);
        if (!std::isnan(given)) return VoltsToCode(given);
    }
    const double noise = ch >= 24 ? kNoisyChannelVolts : kBaseNoiseVolts;
    const double volts = ch < kDaChannels ? DaVoltsAtLocked(ch, index) : SignalVolts(ch, t);
    return VoltsToCode(volts + noise * Noise(ch, index));
}

std::int32_t VirtualCard::ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode,
                                      float n, float* results) {
    std::lock_guard lock(mutex_);
    if (!results || !running_) return 0;
    if (first < first_ || count < 1 || count > count_ || first - first_ > count_ - count) return 0;
    if ((unit != 0 && unit != 1) || (mode != 0 && mode != 1)) return 0;

    const std::uint64_t samples = SamplesSoFarLocked();
    ForgetOldDaChangesLocked(samples);
    const std::uint64_t available = std::min(samples, static_cast<std::uint64_t>(depth_));
    std::uint64_t points = 1;
    if (mode == 1) {
        // Points to average: N rounded, at least 1, at most what is held.
        const double wanted = std::isfinite(n) ? std::nearbyint(static_cast<double>(n)) : 1.0;
        points = wanted < 1 ? 1 : static_cast<std::uint64_t>(std::min(wanted, static_cast<double>(available)));
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const int ch = first + i;
        double sum = 0;
        for (std::uint64_t k = samples - points; k < samples; ++k) sum += SampleCodeLocked(ch, k);
        const double code = sum / static_cast<double>(points);
        const double value = unit == 1 ? CodeToVolts(code) : (code > 32767 ? code - 65536 : code);
        results[i] = static_cast<float>(value);
    }
    return static_cast<std::int32_t>(points);
}

std::int32_t VirtualCard::Mox_DA(std::int16_t channel, std::int16_t code) {
    std::lock_guard lock(mutex_);
    if (channel < 0 || channel >= kDaChannels) return 0;
    const int clipped = std::clamp<int>(code, 0, kDaMaxCode);
    const double volts = (clipped - kDaMidCode) / kCodesPerVolt;
    const auto ch = static_cast<std::size_t>(channel);
    if (running_) {
        // Samples taken so far keep the old output voltage.
        const std::uint64_t samples = SamplesSoFarLocked();
        daChanges_[ch].emplace_back(samples, volts);
        ForgetOldDaChangesLocked(samples);
    } else {
        daVolts_[ch] = volts;
    }
    return 1;
}

std::int32_t VirtualCard::Mox_DO(std::int16_t group, std::int16_t value) {
    std::lock_guard lock(mutex_);
    if (group < 0 || group >= kDoGroups) return 0;
    const int shift = 8 * group;
    outputs_ = static_cast<std::uint16_t>((outputs_ & ~(0xFF << shift)) | ((value & 0xFF) << shift));
    return 1;
}

std::int32_t VirtualCard::Mox_DOBit(std::int16_t bit, std::int16_t value) {
    std::lock_guard lock(mutex_);
    if (bit < 0 || bit >= kDoBits) return 0;
    const auto mask = static_cast<std::uint16_t>(1u << bit);
    outputs_ = static_cast<std::uint16_t>(value ? (outputs_ | mask) : (outputs_ & ~mask));
    return 1;
}

std::int32_t VirtualCard::Mox_DI(std::int32_t count, std::int16_t* inputs) {
    std::lock_guard lock(mutex_);
    if (!inputs || count < 1 || count > kDiGroups) return 0;
    inputs[0] = static_cast<std::int16_t>(outputs_ & 0xFF);
    if (count == 2) inputs[1] = static_cast<std::int16_t>(outputs_ >> 8);
    return 1;
}

bool VirtualCard::Acquiring() {
    std::lock_guard lock(mutex_);
    return running_;
}

void VirtualCard::SetInputOverride(InputOverride override) {
    std::lock_guard lock(mutex_);
    override_ = std::move(override);
}

std::size_t VirtualCard::DaChangesHeld() {
    std::lock_guard lock(mutex_);
    std::size_t held = 0;
    for (const auto& changes : daChanges_) held += changes.size();
    return held;
}

} // namespace vcard
