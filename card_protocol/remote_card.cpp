// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote_card.h"

#include "card_constants.h"

#include <algorithm>
#include <atomic>

namespace vnet {

namespace {

// The calling thread's last reading, by the card that gave it: each thread
// asks about the reading it got itself. Cards are told apart by a number
// never used again (a card made where an old one was has its address).
struct LastReading {
    std::uint64_t card = 0;
    Clock::time_point askedAt;
};
thread_local LastReading t_lastReading;

std::uint64_t NextCardNumber() {
    static std::atomic<std::uint64_t> next{0};
    return ++next;
}

} // namespace

RemoteCard::RemoteCard(const Endpoint& card, std::uint16_t localPort, LinkTiming timing, bool trace)
    : link_(card, localPort, timing, trace), number_(NextCardNumber()) {}

bool RemoteCard::LinkUp() const {
    const auto state = link_.Quality().state;
    return state == LinkState::Online || state == LinkState::Degraded;
}

// A call, remembering whether it went unconfirmed for GetLastADError.
std::optional<Answer> RemoteCard::Confirmed(Op op, std::vector<std::uint8_t> payload) {
    bool timedOut = false;
    auto answer = link_.Call(op, std::move(payload), &timedOut);
    std::lock_guard lock(mutex_);
    lastCallUnconfirmed_ = timedOut;
    return answer;
}

std::int32_t RemoteCard::Status(Op op, std::vector<std::uint8_t> payload) {
    const auto answer = Confirmed(op, std::move(payload));
    return answer ? answer->status : 0;
}

std::int32_t RemoteCard::Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    return Call<Op::Initial>(a, b, c, d);
}

std::int32_t RemoteCard::IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) {
    if (in == nullptr || out == nullptr || inLen < 1 || outLen < 0) return 0;
    const std::int32_t sendLen = std::min(inLen, kMaxIoBytes);
    Writer w;
    w.I32(sendLen).I32(std::min(outLen, kMaxIoBytes)).Bytes(std::span(in, static_cast<std::size_t>(sendLen)));
    const bool netStatus = in[0] == vcard::kCmdNetStatus;
    const auto answer = netStatus ? link_.Read(Op::IOCtl, w.Take()) : Confirmed(Op::IOCtl, w.Take());
    if (answer) {
        // An answer that claims more bytes than it carries is a failed call.
        if (answer->status > 0 &&
            answer->data.size() < static_cast<std::size_t>(std::min({answer->status, outLen, kMaxIoBytes}))) {
            return 0;
        }
        const std::size_t n = std::min(answer->data.size(), static_cast<std::size_t>(outLen));
        std::copy_n(answer->data.begin(), n, out);
        if (netStatus && answer->data.size() >= 5) {
            std::lock_guard lock(mutex_);
            std::copy_n(answer->data.begin() + 1, 4, lastPcAddress_.begin());
        }
        return answer->status;
    }
    if (!netStatus) return 0;
    // The card is out of reach: report the link from here.
    std::array<std::uint8_t, 4> pc{};
    {
        std::lock_guard lock(mutex_);
        pc = lastPcAddress_;
    }
    const auto status = EncodeNetStatus(LinkView{pc, DownSeconds(Clock::now() - link_.LastAnswer())});
    const std::size_t n = std::min(status.size(), static_cast<std::size_t>(outLen));
    std::copy_n(status.begin(), n, out);
    return static_cast<std::int32_t>(n);
}

std::int32_t RemoteCard::StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                                   std::int32_t depth, std::int32_t gain, std::int16_t trigger) {
    auto payload = NumbersPayload<Op::StartIntr>(rate, block, first, count, depth, gain, trigger);
    const auto answer = Confirmed(Op::StartIntr, payload);
    {
        std::lock_guard lock(mutex_);
        startUnanswered_ = !answer;
    }
    if (answer && answer->status != 0) link_.SetRestart(std::move(payload));
    return answer ? answer->status : 0;
}

std::int32_t RemoteCard::StopIntr() {
    link_.SetRestart(std::nullopt);
    return Call<Op::StopIntr>();
}

std::int32_t RemoteCard::GetLastADError() {
    {
        std::lock_guard lock(mutex_);
        if (startUnanswered_ || lastCallUnconfirmed_) return kNoReplyError;
    }
    const auto answer = link_.Call(Op::GetLastADError, NumbersPayload<Op::GetLastADError>());
    return answer ? answer->status : kNoReplyError;
}

std::int32_t RemoteCard::ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode,
                                     float n, float* results) {
    if (results == nullptr || count < 1 || count > vcard::kChannels) return 0;
    const auto answer = link_.Read(Op::ADResult_DV, Writer().I32(first).I32(count).I32(unit).I32(mode).F32(n).Take());
    if (!answer) return 0;
    if (answer->status > 0 && answer->data.size() != static_cast<std::size_t>(count) * 4) return 0; // short: failed
    if (answer->status > 0) {
        Reader r(answer->data);
        for (std::int32_t i = 0; i < count; ++i) results[i] = r.F32();
        t_lastReading = {number_, answer->askedAt};
    }
    return answer->status;
}

std::optional<Clock::time_point> RemoteCard::LastReadingAsked() const {
    if (t_lastReading.card != number_) return std::nullopt;
    return t_lastReading.askedAt;
}

std::int32_t RemoteCard::Mox_DA(std::int16_t channel, std::int16_t code) { return Call<Op::Mox_DA>(channel, code); }

std::int32_t RemoteCard::Mox_DO(std::int16_t group, std::int16_t value) { return Call<Op::Mox_DO>(group, value); }

std::int32_t RemoteCard::Mox_DOBit(std::int16_t bit, std::int16_t value) { return Call<Op::Mox_DOBit>(bit, value); }

std::int32_t RemoteCard::Mox_DI(std::int32_t count, std::int16_t* inputs) {
    if (inputs == nullptr) return 0;
    const auto answer = link_.Read(Op::Mox_DI, Writer().I32(count).Take());
    if (!answer) return 0;
    if (answer->status != 0 && answer->data.size() != std::size_t{2} * vcard::kDiGroups) return 0; // short: failed
    if (answer->status != 0) {
        Reader r(answer->data);
        const std::int16_t g0 = r.I16();
        const std::int16_t g1 = r.I16();
        if (count >= 1) inputs[0] = g0;
        if (count >= 2) inputs[1] = g1;
    }
    return answer->status;
}

} // namespace vnet
