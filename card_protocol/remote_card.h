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

    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override;
    std::int32_t IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) override;
    std::int32_t StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                           std::int32_t depth, std::int32_t gain, std::int16_t trigger) override;
    std::int32_t StopIntr() override;
    std::int32_t GetLastADError() override;
    std::int32_t ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode, float n,
                             float* results) override;
    std::int32_t Mox_DA(std::int16_t channel, std::int16_t code) override;
    std::int32_t Mox_DO(std::int16_t group, std::int16_t value) override;
    std::int32_t Mox_DOBit(std::int16_t bit, std::int16_t value) override;
    std::int32_t Mox_DI(std::int32_t count, std::int16_t* inputs) override;

    bool LinkUp() const;
    LinkQuality Quality() const { return link_.Quality(); }
    std::uint16_t LocalPort() const { return link_.LocalPort(); }
    // Why the driver's own socket could not be opened; empty when it was.
    const std::string& SocketError() const { return link_.SocketError(); }

private:
    std::int32_t Status(Op op, std::vector<std::uint8_t> payload);
    std::optional<Answer> Confirmed(Op op, std::vector<std::uint8_t> payload);

    CardLink link_;
    std::mutex mutex_; // for the fields below
    std::array<std::uint8_t, 4> lastPcAddress_{};
    bool startUnanswered_ = false;
    bool lastCallUnconfirmed_ = false;
};

} // namespace vnet
