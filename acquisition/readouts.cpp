// SPDX-License-Identifier: GPL-3.0-or-later
#include "readouts.h"

#include "card_io.h"
#include "conversions.h"

namespace acq {

using mox::HexText;
using mox::NumberText;

std::string ExpectedPcAddressText() { return mox::AddressText(mox::kExpectedPcAddress); }

std::string CardInfoText(const std::uint8_t* reply) {
    const mox::CardIdentity id = mox::DecodeIdentity(reply);
    return "卡名:" + NumberText(static_cast<double>(id.number)) + " 类型:" + NumberText(static_cast<double>(id.type)) +
           "  速度:" + NumberText(static_cast<double>(id.speedK)) +
           "K  精度:" + NumberText(static_cast<double>(id.resolution)) + "位";
}

std::string NetStatusText(const std::uint8_t* reply) {
    std::string text;
    const mox::NetStatus status = mox::DecodeNetStatus(reply);
    const auto& seen = status.pcAddress;
    if (seen != mox::kExpectedPcAddress) {
        text += "PC的IP地址是：" + NumberText(static_cast<double>(seen[0])) + "." +
                NumberText(static_cast<double>(seen[1])) + "." + NumberText(static_cast<double>(seen[2])) + "." +
                NumberText(static_cast<double>(seen[3])) + "\r\n";
        text += "请设置您的计算机IP地址为" + ExpectedPcAddressText() + "\r\n";
    }
    const unsigned down = status.downSeconds;
    if (down < mox::kLinkDownSeconds) {
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
    const double v = mox::CorrectedCode(element);
    // A corrected code is written as the double it became, an element as
    // the single-precision value it is.
    const std::string decimal = element < 0 ? NumberText(v) : NumberText(element);
    return HexText(mox::ToInt32(v)) + ":" + decimal + " " + mox::VoltText(mox::CodeVolts(v));
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
