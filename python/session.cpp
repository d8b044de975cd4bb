// SPDX-License-Identifier: GPL-3.0-or-later
#include "session.h"

#include "DllDef.h"
#include "rules.h"
#include "text.h"

#include <thread>

namespace moxcard {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void ThrowDriverFailure(const std::string& message) { throw DriverFailure(message); }

// The card's constructor calls Initial: under the driver's lock too. An
// address the driver cannot send to is a value refused, as moxctl refuses it.
moxctl::Card OpenedCard() {
    const std::lock_guard lock(DriverMutex());
    try {
        return moxctl::Card();
    } catch (const moxctl::BadCardAddress& e) {
        throw BadArgument(e.what());
    }
}

} // namespace

void ThrowOnDriverFailure() { DllDef::SetFailureHandler(&ThrowDriverFailure); }

std::mutex& DriverMutex() {
    static std::mutex mutex;
    return mutex;
}

Session::Session(std::optional<mox::setup::Setup> setup) : card_(OpenedCard()), setup_(std::move(setup)) {
    const std::lock_guard lock(DriverMutex());
    const auto id = card_.Identity();
    if (!id)
        throw CardFailure(moxctl::CardName() + " does not answer the identity request: " + moxctl::NoAnswerAdvice());
    identity_ = *id;
}

void Session::CheckOpen() const {
    if (closed_) throw CardFailure("the card is closed: open it again with moxcard.open()");
}

Link Session::AskLink() {
    const std::lock_guard lock(DriverMutex());
    CheckOpen();
    const auto asked = Clock::now();
    const auto status = card_.Status();
    const std::chrono::duration<double> took = Clock::now() - asked;
    if (!status)
        throw CardFailure(moxctl::CardName() +
                          " does not answer the network status request: " + moxctl::NoAnswerAdvice());
    return {mox::AddressText(status->pcAddress), mox::AddressText(mox::kExpectedPcAddress), status->downSeconds,
            status->downSeconds < mox::kLinkDownSeconds, took.count()};
}

void Session::StartLocked() {
    std::int32_t error = 0;
    if (!card_.StartAcquisition(error)) {
        throw CardFailure("acquisition did not start on " + moxctl::CardName() + " (" + moxctl::DriverErrorText(error) +
                          "): " + moxctl::NoAnswerAdvice());
    }
    acquiring_ = true;
    restartTried_ = false;
    startedAt_ = Clock::now();
}

// A reading, once acquisition has run long enough for the mean's points.
// After a failure, a card that answers but gives no reading is started
// again once, unless the driver is one of ours, which does that itself.
std::optional<moxctl::Reading> Session::ReadOnceLocked(bool codes, int mean) {
    if (!acquiring_) StartLocked();
    const auto filled = startedAt_ + moxctl::MeanFillTime(mean);
    if (Clock::now() < filled) std::this_thread::sleep_for(filled - Clock::now());
    auto reading = card_.Read({mean, codes, !codes});
    if (reading) {
        restartTried_ = false;
        return reading;
    }
    if (!restartTried_ && !card_.News() && card_.Identity()) {
        restartTried_ = true;
        std::int32_t error = 0;
        if (card_.StartAcquisition(error)) startedAt_ = Clock::now();
    }
    return std::nullopt;
}

namespace {

// The newest sample's codes are whole numbers; a mean of codes keeps its
// fraction, as moxctl prints it.
Values ToValues(const moxctl::Reading& reading, bool codes, int mean) {
    Values v;
    v.codes = codes;
    v.whole = codes && mean == 0;
    for (std::size_t k = 0; k < v.values.size(); ++k) v.values[k] = codes ? reading.codes[k] : reading.volts[k];
    return v;
}

} // namespace

Values Session::Read(bool codes, int mean) {
    const auto giveUp = Clock::now() + kReadGiveUp;
    for (;;) {
        {
            const std::lock_guard lock(DriverMutex());
            CheckOpen();
            if (const auto reading = ReadOnceLocked(codes, mean)) return ToValues(*reading, codes, mean);
        }
        if (Clock::now() >= giveUp)
            throw CardFailure(moxctl::CardName() + " has given no reading for 2 s: " + moxctl::NoAnswerAdvice());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::optional<Values> Session::ReadFresh(bool codes, int mean) {
    const std::lock_guard lock(DriverMutex());
    CheckOpen();
    const auto reading = ReadOnceLocked(codes, mean);
    if (!reading) return std::nullopt;
    const auto news = card_.News();
    if (news && news->hasReading && !fresh_.Newer(news->askedUs)) return std::nullopt;
    return ToValues(*reading, codes, mean);
}

// moxctl's messages for a write the card refused or did not confirm.
void Session::Written(std::int32_t result, const std::string& what) {
    if (result != 0) return;
    const std::int32_t error = card_.LastError();
    if (error == moxctl::kNoReplyError)
        throw CardFailure(what + " was not confirmed by " + moxctl::CardName() +
                          ": it may or may not have been applied");
    throw CardFailure(moxctl::CardName() + " did not take " + what + " (" + moxctl::DriverErrorText(error) + ")");
}

void Session::SetDa(std::int16_t channel, std::int16_t code) {
    const std::lock_guard lock(DriverMutex());
    CheckOpen();
    Written(card_.SetDA(channel, code), "the DA output");
}

void Session::SetDo(std::int16_t group, std::int16_t byte) {
    const std::lock_guard lock(DriverMutex());
    CheckOpen();
    Written(card_.SetDO(group, byte), "the digital outputs");
}

void Session::SetDoBit(std::int16_t bitIndex, std::int16_t value) {
    const std::lock_guard lock(DriverMutex());
    CheckOpen();
    Written(card_.SetDOBit(bitIndex, value), "the digital output");
}

std::array<int, 2> Session::ReadDi() {
    const std::lock_guard lock(DriverMutex());
    CheckOpen();
    const auto bits = card_.ReadDI();
    if (!bits)
        throw CardFailure("the digital inputs of " + moxctl::CardName() +
                          " could not be read: " + moxctl::NoAnswerAdvice());
    return {*bits & 0xFF, *bits >> 8};
}

// The self-test starts and stops acquisition itself: a later reading
// starts it again.
moxctl::Report Session::SelfTest(const moxctl::SelfTestOptions& options) {
    const std::lock_guard lock(DriverMutex());
    CheckOpen();
    moxctl::Report report = moxctl::RunSelfTest(card_, options);
    report.program = "moxcard " MOX_VERSION;
    acquiring_ = false;
    return report;
}

void Session::Close() {
    const std::lock_guard lock(DriverMutex());
    if (closed_) return;
    closed_ = true;
    if (acquiring_) card_.StopAcquisition();
    acquiring_ = false;
}

} // namespace moxcard
