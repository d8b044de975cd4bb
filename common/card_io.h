// SPDX-License-Identifier: GPL-3.0-or-later
// What the programs send to a card and read from it, as plain values:
// the acquisition start, the identity and network status replies, AD codes
// and volts, and the conversions the output windows apply to their boxes.
// One implementation for the windows and for moxctl. Pure functions.
#pragma once

#include "card_constants.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mox {

// StartIntr as the acquisition window calls it: rate 10 (x 10 kHz), block
// 300, channels 0..31, depth 1000, gain 0, trigger 1.
struct StartParameters {
    std::int16_t rate = 10;
    std::int32_t block = 300;
    std::int16_t first = 0;
    std::int16_t count = 32;
    std::int32_t depth = 1000;
    std::int32_t gain = 0;
    std::int16_t trigger = 1;
};

constexpr int kInputChannels = vcard::kChannels;
// Elements of the result array passed to ADResult_DV; the first 32 are filled.
constexpr int kResultElements = 34;
constexpr std::int32_t kIoLength = 100;
using vcard::kCmdIdentity;
using vcard::kCmdNetStatus;
constexpr std::uint8_t kRequestByte1 = 64;

// Reply to request 70.
struct CardIdentity {
    int number = 0;     // 7710
    int type = 0;       // 1
    int speedK = 0;     // 100
    int resolution = 0; // bits, 16
};
CardIdentity DecodeIdentity(const std::uint8_t* reply);

// Reply to request 130: the PC's address as the card sees it and the
// seconds the link has been down.
struct NetStatus {
    std::array<std::uint8_t, 4> pcAddress{};
    unsigned downSeconds = 0;
};
NetStatus DecodeNetStatus(const std::uint8_t* reply);

// The address the card expects the PC to have, and from how many seconds
// without contact the link counts as broken.
using vcard::kExpectedPcAddress;
using vcard::kLinkDownSeconds;
std::string AddressText(const std::array<std::uint8_t, 4>& address);

// An AD code element as the driver delivers it (codes above 32767 may come
// negative) made 0..65535, and the volts it stands for: -5 V..+5 V with
// 32768 as 0 V, computed in double and kept in single precision as the
// acquisition window shows them.
double CorrectedCode(float element);
float CodeVolts(double code);

// ---- The output windows' rules ----

// Analog outputs: DA channel from a box (at most 3, no lower bound); code
// from a hexadecimal box (12 bits kept); code from a voltage in the bipolar
// (-5..+5 V) or unipolar (0..10 V) range (at most 4095, no lower bound).
std::int16_t DaChannel(std::string_view text);
std::int16_t DaCodeFromHex(std::string_view hexDigits);
std::int16_t DaCodeFromVolts(std::string_view voltsText, bool bipolar);
// The same from a voltage already read (moxctl reads its arguments itself).
std::int16_t DaCodeFromVolts(double volts, bool bipolar);

// Digital outputs: group (at most 1, no lower bound); byte from a
// hexadecimal box (8 bits kept); bit value (0 stays 0, anything else is 1);
// bit number 1..16 as the driver's bit index 0..15 (0 and below count as 1).
std::int16_t DoGroup(std::string_view text);
std::int16_t DoByteFromHex(std::string_view hexDigits);
std::int16_t DoBitValue(std::string_view text);
std::int16_t DoBitIndex(std::string_view bitNumberText);

} // namespace mox
