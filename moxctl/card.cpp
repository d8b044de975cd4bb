// SPDX-License-Identifier: GPL-3.0-or-later
#include "card.h"

#include "DllDef.h"
#include "card_model.h"
#include "endpoint.h"

#include <cstdlib>
#include <thread>

namespace moxctl {

std::string Describe(const ReadRequest& request) {
    std::string text = request.mean > 0 ? "mean of " + std::to_string(request.mean) + " samples" : "newest sample";
    if (request.codes && request.volts) return text + ", codes and volts";
    return text + (request.volts ? ", volts" : ", codes");
}

namespace {

std::string CardAddress() {
    const char* value = std::getenv("MOX_CARD_ADDRESS");
    return value != nullptr ? value : "";
}

} // namespace

std::string InputName(int channel) {
    std::string name = channel < 10 ? "AI0" : "AI";
    name += std::to_string(channel);
    return name;
}

std::string OutputName(int channel) { return "AO" + std::to_string(channel); }

std::string DigitalOutputName(int driverBit) { return "DO" + std::to_string(driverBit + 1); }

bool SendsToAddress() { return !CardAddress().empty() && DllDef::Loaded().builtHere; }

std::string CardName() {
    if (SendsToAddress()) return "the card at " + CardAddress() + " (MOX_CARD_ADDRESS)";
    const DllDef::LoadedLibrary loaded = DllDef::Loaded();
    if (loaded.builtHere) return "the virtual card (" + loaded.path + ")";
    return "the card behind " + loaded.path;
}

std::string NoAnswerAdvice() {
    if (SendsToAddress()) {
        return "check that mox-card-emulator or mox-driver-bridge is running and printed \"listening on " +
               CardAddress() + "\", and that the port in MOX_CARD_ADDRESS is the one it listens on";
    }
    if (DllDef::Loaded().builtHere) return "the virtual card always answers: this driver may be damaged";
    std::string advice = "check that the card is powered and cabled, and that this PC has the address the card "
                         "expects (";
    advice += mox::AddressText(mox::kExpectedPcAddress);
    advice += ')';
    return advice;
}

std::string DriverErrorText(std::int32_t error) {
    std::string text = "driver error " + std::to_string(error);
    const char* meaning = nullptr;
    switch (error) {
    case kNoReplyError:
        meaning = "no reply from the card in time";
        break;
    case vcard::kBadRate:
        meaning = "sampling rate refused";
        break;
    case vcard::kBadChannels:
        meaning = "input range AI00..AI31 refused";
        break;
    case vcard::kBadDepth:
        meaning = "averaging depth refused";
        break;
    case vcard::kBadGain:
        meaning = "input gain refused";
        break;
    case vcard::kBadTrigger:
        meaning = "trigger mode refused";
        break;
    case vcard::kBadBlock:
        meaning = "block size refused";
        break;
    default:
        break;
    }
    if (meaning == nullptr || !DllDef::Loaded().builtHere)
        return text + ": the card driver's own number, see its manual";
    return text + ": " + meaning;
}

Card::Card() {
    if (const std::string address = CardAddress(); !address.empty() && DllDef::Loaded().builtHere) {
        std::string why;
        if (!vnet::ParseAddress(address, &why)) {
            throw BadCardAddress("MOX_CARD_ADDRESS=\"" + address + "\": " + why +
                                 "; set it to the emulator's or driver bridge's ADDRESS:PORT, e.g. "
                                 "MOX_CARD_ADDRESS=127.0.0.1:7710, or unset it for the virtual card");
        }
    }
    DllDef::Initial(0, 0, 0, 0);
}

namespace {

// One IOCtl request with the window's buffers; the reply, or null when the
// driver reports that nothing came.
const std::uint8_t* Request(std::uint8_t command) {
    DllDef::InBuf[0] = command;
    DllDef::InBuf[1] = mox::kRequestByte1;
    DllDef::InBuf[2] = 0;
    DllDef::OutBuf.fill(0);
    const std::int32_t got = DllDef::IOCtl(mox::kIoLength, DllDef::InBuf.data(), mox::kIoLength, DllDef::OutBuf.data());
    return got > 0 ? DllDef::OutBuf.data() : nullptr;
}

} // namespace

std::optional<mox::CardIdentity> Card::Identity() {
    const std::uint8_t* reply = Request(mox::kCmdIdentity);
    if (reply == nullptr) return std::nullopt;
    return mox::DecodeIdentity(reply);
}

std::optional<mox::NetStatus> Card::Status() {
    const std::uint8_t* reply = Request(mox::kCmdNetStatus);
    if (reply == nullptr) return std::nullopt;
    return mox::DecodeNetStatus(reply);
}

bool Card::StartAcquisition(std::int32_t& error) {
    // The first requests to a card just reached can be lost (a card or a
    // driver bridge still starting, a network still finding the card's
    // address): a start that fails is tried again for a while.
    const auto giveUp = std::chrono::steady_clock::now() + kStartPatience;
    const mox::StartParameters p;
    for (;;) {
        DllDef::StopIntr();
        if (DllDef::StartIntr(p.rate, p.block, p.first, p.count, p.depth, p.gain, p.trigger) != 0) return true;
        error = DllDef::GetLastADError();
        if (std::chrono::steady_clock::now() >= giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void Card::StopAcquisition() { DllDef::StopIntr(); }

std::optional<Reading> Card::Read(const ReadRequest& request) {
    std::array<float, mox::kResultElements> results{};
    const bool driverVolts = request.volts && !request.codes;
    const std::int32_t mode = request.mean > 0 ? 1 : 0;
    const float n = static_cast<float>(request.mean);
    if (DllDef::ADResult_DV(0, mox::kInputChannels, driverVolts ? 1 : 0, mode, n, results.data()) <= 0) {
        return std::nullopt;
    }
    Reading r;
    for (std::size_t k = 0; k < r.codes.size(); ++k) {
        if (driverVolts) {
            r.volts[k] = results[k];
        } else {
            r.codes[k] = mox::CorrectedCode(results[k]);
            r.volts[k] = mox::CodeVolts(r.codes[k]);
        }
    }
    return r;
}

std::int32_t Card::SetDA(std::int16_t channel, std::int16_t code) { return DllDef::Mox_DA(channel, code); }

std::int32_t Card::SetDO(std::int16_t group, std::int16_t byte) {
    DllDef::DOBuf[0] = byte;
    return DllDef::Mox_DO(group, DllDef::DOBuf[0]);
}

std::int32_t Card::SetDOBit(std::int16_t bit, std::int16_t value) { return DllDef::Mox_DOBit(bit, value); }

std::optional<std::uint16_t> Card::ReadDI() {
    if ((DllDef::Mox_DI(2, DllDef::DIBuf.data()) & 0xFFFF) == 0) return std::nullopt;
    return static_cast<std::uint16_t>((DllDef::DIBuf[0] & 0xFF) | ((DllDef::DIBuf[1] & 0xFF) << 8));
}

bool Card::WriteDO(std::uint16_t bits) {
    const bool low = SetDO(0, static_cast<std::int16_t>(bits & 0xFF)) != 0;
    const bool high = SetDO(1, static_cast<std::int16_t>(bits >> 8)) != 0;
    return low && high;
}

std::int32_t Card::LastError() { return DllDef::GetLastADError(); }

std::optional<DriverNews> Card::News() {
    MoxReadingInfo info{};
    info.size = sizeof info;
    if (DllDef::Mox_ReadingInfo(&info) == 0) return std::nullopt;
    return DriverNews{info.has_reading != 0, info.asked_us, info.age_us, info.card_restarts, info.acquisition_restarts};
}

} // namespace moxctl
