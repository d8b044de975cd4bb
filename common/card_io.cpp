// SPDX-License-Identifier: GPL-3.0-or-later
#include "card_io.h"

#include "conversions.h"

#include <string>

namespace mox {

namespace {

constexpr std::int16_t kMaxDaChannel = vcard::kDaChannels - 1;
constexpr std::int32_t kDaCodeMask = 0xFFF;
constexpr std::int16_t kMaxDaCode = vcard::kDaMaxCode;
constexpr double kDaBipolarOffset = vcard::kDaMidCode;
constexpr std::int16_t kMaxDoGroup = vcard::kDoGroups - 1;
constexpr std::int32_t kDoByteMask = 0xFF;

std::int16_t Number16(std::string_view text) { return ToInt16(TextToNumber(text)); }

std::int32_t Hex32(std::string_view digits) { return ToInt32(TextToNumber("&H" + std::string(digits))); }

} // namespace

CardIdentity DecodeIdentity(const std::uint8_t* reply) {
    return {reply[0] * 100 + reply[1], reply[4], reply[2] * 10, reply[3]};
}

NetStatus DecodeNetStatus(const std::uint8_t* reply) {
    return {{reply[1], reply[2], reply[3], reply[4]}, reply[5] * 256u + reply[6]};
}

std::string AddressText(const std::array<std::uint8_t, 4>& address) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

double CorrectedCode(float element) {
    return element < 0 ? static_cast<double>(element) + 65536.0 : static_cast<double>(element);
}

float CodeVolts(double code) {
    const float x = ToSingle(code);
    return ToSingle((static_cast<double>(x) - vcard::kAdZeroCode) / vcard::kAdZeroCode * vcard::kAdFullScaleVolts);
}

std::int16_t DaChannel(std::string_view text) {
    const std::int16_t channel = Number16(text);
    return channel > kMaxDaChannel ? kMaxDaChannel : channel;
}

std::int16_t DaCodeFromHex(std::string_view hexDigits) {
    return static_cast<std::int16_t>(Hex32(hexDigits) & kDaCodeMask);
}

std::int16_t DaCodeFromVolts(std::string_view voltsText, bool bipolar) {
    return DaCodeFromVolts(TextToNumber(voltsText), bipolar);
}

std::int16_t DaCodeFromVolts(double voltsValue, bool bipolar) {
    // Kept in single precision first, as the window's box value is.
    const float volts = ToSingle(voltsValue);
    double t = static_cast<double>(volts) * vcard::kDaMaxCode / vcard::kDaSpanVolts;
    if (bipolar) t += kDaBipolarOffset;
    const std::int16_t code = ToInt16(t);
    return code > kMaxDaCode ? kMaxDaCode : code;
}

std::int16_t DoGroup(std::string_view text) {
    const std::int16_t group = Number16(text);
    return group > kMaxDoGroup ? kMaxDoGroup : group;
}

std::int16_t DoByteFromHex(std::string_view hexDigits) {
    return static_cast<std::int16_t>(Hex32(hexDigits) & kDoByteMask);
}

std::int16_t DoBitValue(std::string_view text) { return Number16(text) != 0 ? 1 : 0; }

std::int16_t DoBitIndex(std::string_view bitNumberText) {
    const std::int16_t n = Number16(bitNumberText);
    return static_cast<std::int16_t>((n <= 0 ? 1 : n) - 1);
}

} // namespace mox
