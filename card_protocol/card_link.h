// SPDX-License-Identifier: GPL-3.0-or-later
// The link to a card on the network, kept by a supervisor: a background I/O
// thread owns the socket, keeps a heartbeat to the card, measures round trip
// and loss, and runs the link states. Callers never wait on each other and
// never wait on the network for a kept read. The thread ("mox-card-link")
// sleeps until the next poll, heartbeat, resend or deadline, or until a
// caller or an answer needs it: an idle link costs its heartbeats alone.
//
// Two kinds of request:
// - Call: sent at once and sent again with the same sequence number (the
//   card answers a repeat from its reply cache, so it runs once) until it is
//   answered or the caller's budget is spent. The budget follows the
//   measured round trip (twice the smoothed round trip plus four times its
//   variation and a margin, within `callBudget` and `longestCall`), so a
//   card far away is still reached; before the first measurement a call may
//   wait for the first answer up to `firstCall`. Fails at once while the
//   link is lost.
// - Read: a request that only reads. The supervisor asks the card the same
//   request every poll interval while callers keep asking for it, and
//   answers callers from the newest answer when it was asked within
//   `freshFor` (or, on a slow link, within the round trip and one poll, the
//   newest the link can have) and after the last call ended (so a read after
//   a write sees the write). An answer's age counts from when it was asked,
//   not from when it arrived: an answer that took long on the way is that
//   much older. Otherwise it asks at once and waits within `callBudget`.
//   Fails at once while the link is lost, rather than answer with old data.
//
// Link states: connecting (no answer yet), online, degraded (answers come,
// but slowly or with losses), reconnecting (no answer for `silenceLimit`;
// heartbeats go on and any answer of this session brings the link back, so
// a card is found again whatever its round trip, up to `replyWindow`).
#pragma once

#include "endpoint.h"
#include "protocol.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vnet {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

enum class LinkState { Connecting, Online, Degraded, Reconnecting };
const char* LinkStateName(LinkState state);

struct LinkTiming {
    Millis callBudget{40};    // the longest a read waits, and the least a call may
    Millis longestCall{2000}; // the most a call may wait, however slow the link
    Millis firstCall{500};    // a call's budget before any round trip was measured
    Millis pollInterval{25};  // a kept read is asked again this often
    Millis freshFor{150};     // a kept answer serves reads this long (a tick)
    Millis keepFor{2000};     // a read nobody asked for this long is dropped
    Millis heartbeat{100};    // a quiet link is checked this often
    Millis silenceLimit{500};
    Millis replyWindow{1000}; // answers later than this count as lost
};

struct LinkQuality {
    LinkState state = LinkState::Connecting;
    double roundTripMs = 0; // smoothed; 0 before the first measurement
    double loss = 0;        // of the last 100 polls and heartbeats
};

struct Answer {
    std::int32_t status = 0;
    std::vector<std::uint8_t> data; // after the status
    // When its request first went out: a kept read's age counts from here.
    Clock::time_point askedAt{};
};

// What the supervisor did on its own about a card found restarted.
struct RestartCounts {
    std::uint32_t found = 0;     // the card said it was not acquiring after it had been
    std::uint32_t restarted = 0; // acquisition started again and the card took it
};

class CardLink {
public:
    // localPort 0 lets the system pick the driver's own port. With `trace`,
    // every change of link state is written to standard error.
    CardLink(const Endpoint& card, std::uint16_t localPort, LinkTiming timing = {}, bool trace = false);
    ~CardLink();
    CardLink(const CardLink&) = delete;
    CardLink& operator=(const CardLink&) = delete;

    // `timedOut`, when given, is set when the call was sent but not answered
    // within its budget: the card may or may not have run it.
    std::optional<Answer> Call(Op op, std::vector<std::uint8_t> payload, bool* timedOut = nullptr);
    std::optional<Answer> Read(Op op, std::vector<std::uint8_t> payload);

    // While set, an answer of status 0 to a kept ADResult_DV (the card says
    // it is not acquiring, so it was restarted) asked after the last call
    // makes the supervisor send StartIntr with this payload, once, until
    // the card accepts it. Each card found so, and each start it took, is
    // counted (Restarts).
    void SetRestart(std::optional<std::vector<std::uint8_t>> startPayload);

    LinkQuality Quality() const;
    RestartCounts Restarts() const;
    // What a call made now may wait for its answer.
    Clock::duration CallBudget() const;
    Clock::time_point LastAnswer() const;
    std::uint16_t LocalPort() const;
    // Why the socket could not be opened; empty when it was.
    const std::string& SocketError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vnet
