// SPDX-License-Identifier: GPL-3.0-or-later
#include "readouts.h"

#include "conversions.h"

namespace acq {

using mox::HexText;
using mox::NumberText;

std::string ExpectedPcAddressText() {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!text.empty()) text += '.';
        text += std::to_string((kExpectedPcAddress >> shift) & 0xFFu);
    }
    return text;
}

std::string CardInfoText(const std::uint8_t* reply) {
    const int cardNumber = reply[0] * 100 + reply[1];
    return "卡名:" + NumberText(static_cast<double>(cardNumber)) +
           " 类型:" + NumberText(static_cast<double>(reply[4])) +
           "  速度:" + NumberText(static_cast<double>(reply[2] * 10)) +
           "K  精度:" + NumberText(static_cast<double>(reply[3])) + "位";
}

std::string NetStatusText(const std::uint8_t* reply) {
    std::string text;
    const std::uint32_t seen = (static_cast<std::uint32_t>(reply[1]) << 24) |
                               (static_cast<std::uint32_t>(reply[2]) << 16) |
                               (static_cast<std::uint32_t>(reply[3]) << 8) | reply[4];
    if (seen != kExpectedPcAddress) {
        text += "PC的IP地址是：" + NumberText(static_cast<double>(reply[1])) + "." +
                NumberText(static_cast<double>(reply[2])) + "." + NumberText(static_cast<double>(reply[3])) + "." +
                NumberText(static_cast<double>(reply[4])) + "\r\n";
        text += "请设置您的计算机IP地址为" + ExpectedPcAddressText() + "\r\n";
    }
    const unsigned down = reply[5] * 256u + reply[6];
    if (down < kLinkDownSeconds) {
        text += "网络通信正常\r\n";
    } else {
        text += "网络断开时间(秒):" + NumberText(static_cast<double>(down)) + "\r\n";
    }
    return text;
}

namespace {

std::string ChannelLabel(int k) { return {static_cast<char>('0' + k / 10), static_cast<char>('0' + k % 10)}; }

// Hex, decimal and volt texts of an AD code element (modes 0 and 1).
std::string CodeLine(float element) {
    std::string decimal;
    double v = element;
    if (element < 0) {
        v = static_cast<double>(element) + 65536.0; // codes above 32767 arrive negative
        decimal = NumberText(v);
    } else {
        decimal = NumberText(element);
    }
    const float x = mox::ToSingle(v);
    const float volts = mox::ToSingle((static_cast<double>(x) - 32768.0) / 32768.0 * 5.0);
    return HexText(mox::ToInt32(v)) + ":" + decimal + " " + mox::VoltText(volts);
}

} // namespace

std::string ResultText(ReadMode mode, const std::array<float, kResultElements>& results) {
    std::string text;
    text.reserve(std::size_t{kChannels} * 32);
    for (int k = 0; k < kChannels; ++k) {
        const float element = results[static_cast<std::size_t>(k)];
        text += ChannelLabel(k);
        if (mode == ReadMode::MeanVoltage) {
            text += " " + mox::VoltText(element);
        } else {
            text += ":" + CodeLine(element);
        }
        text += "\r\n";
    }
    return text;
}

} // namespace acq
