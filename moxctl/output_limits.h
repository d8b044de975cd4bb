// SPDX-License-Identifier: GPL-3.0-or-later
// The ranges of the values moxctl and the Python module hand to the card's
// outputs and readings, written once: both refuse a value outside them,
// whether it came as text on a command line or as a number from Python.
#pragma once

#include "card_constants.h"

namespace moxctl::limits {

struct Whole {
    long long low, high;
};
struct Real {
    double low, high;
};

inline constexpr Whole kDaChannel{0, vcard::kDaChannels - 1};
inline constexpr Whole kDaCode{0, vcard::kDaMaxCode};
inline constexpr Whole kDoGroup{0, vcard::kDoGroups - 1};
inline constexpr Whole kDoByte{0, 0xFF};
inline constexpr Whole kDoBit{1, vcard::kDoBits}; // numbered as the digital I/O window numbers them
inline constexpr Whole kBitValue{0, 1};
inline constexpr Whole kMean{1, 65536};          // samples in a mean reading
inline constexpr Whole kIntervalMs{10, 3600000}; // between rows

// The DA's two output ranges: bipolar -5..+5 V, unipolar 0..10 V.
constexpr Real DaVolts(bool bipolar) { return bipolar ? Real{-5, 5} : Real{0, 10}; }

} // namespace moxctl::limits
