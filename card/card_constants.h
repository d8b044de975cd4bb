// SPDX-License-Identifier: GPL-3.0-or-later
// What every MOX card of this family has and answers, whoever models or
// drives it: channel counts, code ranges, IOCtl commands, the network
// status rules.
#pragma once

#include <array>
#include <cstdint>

namespace vcard {

// Analog inputs, each sampled as a 16-bit code: 32768 is 0 V, the full
// scale is -5 V..+5 V.
constexpr int kChannels = 32;
constexpr double kAdZeroCode = 32768.0;
constexpr double kAdFullScaleVolts = 5.0;

// Analog outputs: 12-bit codes over a span of 10 V, 2048 in the middle
// (0 V in the bipolar range).
constexpr int kDaChannels = 4;
constexpr int kDaMidCode = 2048;
constexpr int kDaMaxCode = 4095;
constexpr double kDaSpanVolts = 10.0;

// Digital outputs: 16 bits in two groups of 8, wired back to the two
// digital input groups.
constexpr int kDoBits = 16;
constexpr int kDoGroups = 2;
constexpr int kDiGroups = 2;

// IOCtl requests, by their first byte: the identity (card number, speed,
// resolution, type) and the network status (the PC's address as the card
// sees it and the seconds the link has been down).
constexpr std::uint8_t kCmdIdentity = 70;
constexpr std::uint8_t kCmdNetStatus = 130;

// The fixed IPv4 address the card is configured to expect for the PC, and
// from how many seconds without contact the link counts as broken.
constexpr std::array<std::uint8_t, 4> kExpectedPcAddress{192, 168, 1, 100};
constexpr unsigned kLinkDownSeconds = 3;

} // namespace vcard
