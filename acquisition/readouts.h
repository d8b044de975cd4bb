// SPDX-License-Identifier: GPL-3.0-or-later
// Texts the acquisition window builds from driver replies. Pure functions,
// so every line can be checked without a window or a driver.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace acq {

// The IPv4 address the card expects the PC to have, as a 32-bit number
// (first dotted component in the most significant byte) and as text.
constexpr std::uint32_t kExpectedPcAddress = (192u << 24) | (168u << 16) | (1u << 8) | 100u;
std::string ExpectedPcAddressText();

// Link-down seconds from which the link counts as broken.
constexpr unsigned kLinkDownSeconds = 3;

constexpr int kChannels = 32;
constexpr int kResultElements = 34;

enum class ReadMode { NewestAD = 0, MeanAD = 1, MeanVoltage = 2 };

// The card identity caption from the reply bytes 0..4 to request 70.
std::string CardInfoText(const std::uint8_t* reply);

// The network status text from the reply bytes 1..6 to request 130.
std::string NetStatusText(const std::uint8_t* reply);

// The 32 result lines for a mode from elements 0..31 of the result array.
std::string ResultText(ReadMode mode, const std::array<float, kResultElements>& results);

} // namespace acq
