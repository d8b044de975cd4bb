// SPDX-License-Identifier: GPL-3.0-or-later
// Texts the acquisition window builds from driver replies. Pure functions,
// so every line can be checked without a window or a driver.
#pragma once

#include "card_io.h"

#include <array>
#include <cstdint>
#include <string>

namespace acq {

// The IPv4 address the card expects the PC to have, as text.
std::string ExpectedPcAddressText();

constexpr int kChannels = mox::kInputChannels;
constexpr int kResultElements = mox::kResultElements;

enum class ReadMode { NewestAD = 0, MeanAD = 1, MeanVoltage = 2 };

// The words of the identity caption and the status text. SourceWords()
// are the interface's own (Chinese); each is also the key of its
// translation in the context "Readouts", so a window passes them through
// its translator for another language.
struct Words {
    std::string cardName, type, speed, kResolution, bits;
    std::string pcAddressIs, setPcAddressTo, linkNormal, linkDownSeconds;

    template <typename Translate>
    Words Translated(Translate translate) const {
        return {translate(cardName),       translate(type),       translate(speed),
                translate(kResolution),    translate(bits),       translate(pcAddressIs),
                translate(setPcAddressTo), translate(linkNormal), translate(linkDownSeconds)};
    }
};
const Words& SourceWords();

// The card identity caption from the reply bytes 0..4 to request 70.
std::string CardInfoText(const std::uint8_t* reply, const Words& words = SourceWords());

// The network status text from the reply bytes 1..6 to request 130.
std::string NetStatusText(const std::uint8_t* reply, const Words& words = SourceWords());

// The 32 result lines for a mode from elements 0..31 of the result array.
std::string ResultText(ReadMode mode, const std::array<float, kResultElements>& results);

} // namespace acq
