// SPDX-License-Identifier: GPL-3.0-or-later
#include "readouts.h"

#include "card_io.h"
#include "conversions.h"

namespace acq {

using mox::HexText;
using mox::NumberText;

std::string ExpectedPcAddressText() { return mox::AddressText(mox::kExpectedPcAddress); }

// Marks the words for the translation tools; this file needs no Qt.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

const Words& SourceWords() {
    static const Words words{QT_TRANSLATE_NOOP("Readouts", "卡名:"),
                             QT_TRANSLATE_NOOP("Readouts", " 类型:"),
                             QT_TRANSLATE_NOOP("Readouts", "  速度:"),
                             QT_TRANSLATE_NOOP("Readouts", "K  精度:"),
                             QT_TRANSLATE_NOOP("Readouts", "位"),
                             QT_TRANSLATE_NOOP("Readouts", "PC的IP地址是："),
                             QT_TRANSLATE_NOOP("Readouts", "请设置您的计算机IP地址为"),
                             QT_TRANSLATE_NOOP("Readouts", "网络通信正常"),
                             QT_TRANSLATE_NOOP("Readouts", "网络断开时间(秒):")};
    return words;
}

std::string CardInfoText(const std::uint8_t* reply, const Words& words) {
    const mox::CardIdentity id = mox::DecodeIdentity(reply);
    return words.cardName + NumberText(static_cast<double>(id.number)) + words.type +
           NumberText(static_cast<double>(id.type)) + words.speed + NumberText(static_cast<double>(id.speedK)) +
           words.kResolution + NumberText(static_cast<double>(id.resolution)) + words.bits;
}

std::string NetStatusText(const std::uint8_t* reply, const Words& words) {
    std::string text;
    const mox::NetStatus status = mox::DecodeNetStatus(reply);
    const auto& seen = status.pcAddress;
    if (seen != mox::kExpectedPcAddress) {
        text += words.pcAddressIs + NumberText(static_cast<double>(seen[0])) + "." +
                NumberText(static_cast<double>(seen[1])) + "." + NumberText(static_cast<double>(seen[2])) + "." +
                NumberText(static_cast<double>(seen[3])) + "\r\n";
        text += words.setPcAddressTo + ExpectedPcAddressText() + "\r\n";
    }
    const unsigned down = status.downSeconds;
    if (down < mox::kLinkDownSeconds) {
        text += words.linkNormal + "\r\n";
    } else {
        text += words.linkDownSeconds + NumberText(static_cast<double>(down)) + "\r\n";
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
