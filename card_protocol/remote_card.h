// SPDX-License-Identifier: GPL-3.0-or-later
// A card reached over UDP (docs/card-protocol.md): the driver's side, the
// card's entries on top of the supervised link (card_link.h).
//
// Reads (ADResult_DV, Mox_DI, the network status request IOCtl 130) are
// kept fresh by the link and answered from its data; everything else is a
// call, confirmed by the card within the budget or failed. No entry blocks
// its caller for more than the link's call budget. When no fresh network
// status can be had, IOCtl 130 is answered here, with the last PC address
// the card reported and the seconds since its last answer. When the card
// reports that it is not acquiring while the program has acquisition
// running (it was restarted), the link starts acquisition again with the
// program's last start values; an outage alone restarts nothing.
#pragma once

#include "card_api.h"
#include "card_link.h"
#include "endpoint.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace vnet {

// GetLastADError after a start that got no reply, or after any other call
// that was sent but not confirmed within its budget (it may or may not have
// run on the card), until the next call.
constexpr std::int32_t kNoReplyError = 100;

class RemoteCard final : public vcard::CardApi {
public:
    // localPort 0 lets the system pick the driver's own port. A card port of
    // 0 stands for a card that cannot be reached: every call fails at once.
    explicit RemoteCard(const Endpoint& card, std::uint16_t localPort = 0, LinkTiming timing = {}, bool trace = false);

    MOX_CARD_OVERRIDES

    bool LinkUp() const;
    // When the reading the calling thread's last ADResult_DV returned was
    // asked of the card (kept readings are asked before they are returned);
    // nothing before this thread's first reading from this card.
    std::optional<Clock::time_point> LastReadingAsked() const;
    RestartCounts Restarts() const { return link_.Restarts(); }
    LinkQuality Quality() const { return link_.Quality(); }
    std::uint16_t LocalPort() const { return link_.LocalPort(); }
    // Why the driver's own socket could not be opened; empty when it was.
    const std::string& SocketError() const { return link_.SocketError(); }

private:
    std::int32_t Status(Op op, std::vector<std::uint8_t> payload);
    // A confirmed call of an operation of kind Numbers.
    template <Op op, class... Args>
    std::int32_t Call(Args... args) {
        return Status(op, NumbersPayload<op>(args...));
    }
    std::optional<Answer> Confirmed(Op op, std::vector<std::uint8_t> payload);

    CardLink link_;
    const std::uint64_t number_; // this card among all made in the process
    std::mutex mutex_;           // for the fields below
    std::array<std::uint8_t, 4> lastPcAddress_{};
    bool startUnanswered_ = false;
    bool lastCallUnconfirmed_ = false;
};

} // namespace vnet
