// SPDX-License-Identifier: GPL-3.0-or-later
// The card's side of the protocol: runs one request on a card and builds
// the reply; remembers the replies given lately. No sockets: the emulator
// and the driver bridge feed it datagrams.
#pragma once

#include "card_api.h"
#include "endpoint.h"
#include "protocol.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace vnet {

// The reply to a request, or nothing for a packet that is not a well-formed
// request (a reply, unknown payload layout, trailing bytes). With `link`, the
// network status reply (IOCtl 130) reports that view of the link in place
// of the card's own; without, the card's reply is passed on as it is.
std::optional<Packet> Serve(vcard::CardApi& card, const Packet& request, const LinkView* link);

// The reply that refuses a request without running it (a reply with no
// payload, not even a status): the card's driver could not take it.
Packet Refusal(const Packet& request);

// The requests answered lately and their replies, so that a repeated request
// (same sender, session, sequence number, operation and payload) is answered
// again without running it twice, even when other requests came between.
class ReplyCache {
public:
    static constexpr std::size_t kSize = 64;
    const std::vector<std::uint8_t>* Find(const Endpoint& from, const Packet& request) const;
    void Store(const Endpoint& from, const Packet& request, const std::vector<std::uint8_t>& reply);

private:
    struct Entry {
        Endpoint from;
        Packet request;
        std::vector<std::uint8_t> reply;
    };
    std::deque<Entry> entries_; // newest last
};

} // namespace vnet
