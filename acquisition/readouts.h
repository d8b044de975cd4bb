// SPDX-License-Identifier: GPL-3.0-or-later
// Texts the acquisition window builds from driver replies. Pure functions,
// so every line can be checked without a window or a driver.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace acq {

// The IPv4 address the card expects the PC to have, as text.
std::string ExpectedPcAddressText();

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
