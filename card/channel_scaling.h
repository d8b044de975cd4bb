// SPDX-License-Identifier: GPL-3.0-or-later
// A channel's chain from the card's code to the engineer's unit and back:
// code -> volts (the card's fixed rule) -> calibrated volts (the channel's
// calibration) -> value in its unit (the channel's scaling). The inverse for
// the analog outputs refuses what the card cannot be given, rather than
// clipping it: a clipped setpoint is a different setpoint.
#pragma once

#include "card_constants.h"

#include <cmath>
#include <optional>

namespace vcard {

// y = gain * x + offset.
struct Linear {
    double gain = 1.0;
    double offset = 0.0;
};

inline double Apply(const Linear& l, double x) { return l.gain * x + l.offset; }

// x for a given y; none when the line is flat (every x or none gives y) or
// when the answer is not a finite number.
inline std::optional<double> Invert(const Linear& l, double y) {
    if (l.gain == 0.0 || !std::isfinite(l.gain) || !std::isfinite(l.offset) || !std::isfinite(y)) return std::nullopt;
    const double x = (y - l.offset) / l.gain;
    if (!std::isfinite(x)) return std::nullopt;
    return x;
}

// An AD code 0..65535 as volts: 32768 is 0 V, +-32768 codes are +-5 V.
inline double AdVolts(double code) { return (code - kAdZeroCode) / kAdZeroCode * kAdFullScaleVolts; }

// Volts read on an input as the value in the channel's unit.
inline double EngineeringFromVolts(double volts, const Linear& calibration, const Linear& scale) {
    return Apply(scale, Apply(calibration, volts));
}

inline double EngineeringFromCode(double code, const Linear& calibration, const Linear& scale) {
    return EngineeringFromVolts(AdVolts(code), calibration, scale);
}

// The volts a DA code gives: 4095 codes over 10 V, 2048 at 0 V in the
// bipolar range, 0 at 0 V in the unipolar one.
inline double DaVolts(int code, bool bipolar) {
    return (code - (bipolar ? kDaMidCode : 0)) * kDaSpanVolts / kDaMaxCode;
}

// The DA code nearest to a voltage (a half to the even neighbour), or none
// when it lies outside 0..4095 or the voltage is not finite.
inline std::optional<int> DaCodeForVolts(double volts, bool bipolar) {
    if (!std::isfinite(volts)) return std::nullopt;
    const double exact = volts * kDaMaxCode / kDaSpanVolts + (bipolar ? kDaMidCode : 0);
    const double code = std::nearbyint(exact);
    if (!(code >= 0.0 && code <= kDaMaxCode)) return std::nullopt;
    return static_cast<int>(code);
}

// The volts an output must be commanded for a value in its unit: the
// scaling undone, then the calibration (which maps commanded volts to the
// volts that really appear) undone.
inline std::optional<double> VoltsForEngineering(double value, const Linear& calibration, const Linear& scale) {
    const auto calibrated = Invert(scale, value);
    if (!calibrated) return std::nullopt;
    return Invert(calibration, *calibrated);
}

inline std::optional<int> DaCodeForEngineering(double value, const Linear& calibration, const Linear& scale,
                                               bool bipolar) {
    const auto volts = VoltsForEngineering(value, calibration, scale);
    if (!volts) return std::nullopt;
    return DaCodeForVolts(*volts, bipolar);
}

} // namespace vcard
