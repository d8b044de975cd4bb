// SPDX-License-Identifier: GPL-3.0-or-later
#include "restart_probe.h"

#include "DllDef.h"
#include "card_io.h"
#include "pacing.h"

#include <array>

namespace moxctl {

namespace {

// The samples a mean over the whole depth of channel 0 averaged; 0 when
// the reading failed.
std::int32_t SamplesHeld() {
    std::array<float, mox::kResultElements> results{};
    const mox::StartParameters p;
    return DllDef::ADResult_DV(0, 1, 0, 1, static_cast<float>(p.depth), results.data());
}

} // namespace

void RestartProbe::Learn(Clock::time_point now) {
    if (driver_ != Driver::Unknown || !started_) return;
    const mox::StartParameters p;
    // Twice the fill time: the depth is surely held, whatever the card's clock.
    if (now - *started_ < 2 * MeanFillTime(p.depth)) return;
    const std::int32_t held = SamplesHeld();
    if (held <= 0) return; // no answer: asked again with the next reading
    driver_ = held == p.depth ? Driver::Counts : Driver::Silent;
}

std::optional<std::int32_t> RestartProbe::FreshStart() {
    if (driver_ != Driver::Counts) return std::nullopt;
    const std::int32_t held = SamplesHeld();
    const mox::StartParameters p;
    if (held > 0 && held < p.depth) return held;
    return std::nullopt;
}

} // namespace moxctl
