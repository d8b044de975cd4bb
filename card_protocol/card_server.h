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

// Whether a request changes the card: its outputs (Mox_DA, Mox_DO,
// Mox_DOBit), its acquisition (StartIntr, StopIntr, Initial) or, for IOCtl
// requests other than the identity and the network status, whatever the
// driver does with them. Reads, the error code and heartbeats change nothing.
bool ChangesCard(const Packet& request);

// Serial-number order of sequence numbers, which wrap around: `a` was sent
// after `b` when it is less than half the number space ahead.
constexpr bool SeqAfter(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) > 0; }

// The newest write run for each sender and session. A write that was
// overtaken on the way (sent first, delayed, arriving after a newer one the
// card already ran) must not undo the newer one: it is stale. Another
// session (another run of the driver) starts its own order.
class WriteOrder {
public:
    static constexpr std::size_t kSessions = 16;
    // A write not newer than the newest write run for its sender and session.
    bool Stale(const Endpoint& from, const Packet& request) const;
    // Notes a request that was run: a write becomes the newest of its session.
    void Ran(const Endpoint& from, const Packet& request);

private:
    struct Entry {
        Endpoint from;
        std::uint32_t session = 0;
        std::uint32_t newest = 0;
    };
    std::deque<Entry> entries_; // the session written most lately last
};

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
