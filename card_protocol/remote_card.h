// SPDX-License-Identifier: GPL-3.0-or-later
// A card reached over UDP (docs/card-protocol.md): the driver's side.
//
// No entry blocks its caller for more than kCallBudget: a request is sent
// again every kAttemptTimeout until its reply comes or the budget is spent.
// Once a call has gone unanswered the link counts as down, and calls probe
// the card once with kProbeTimeout until it answers again. While the link is
// down the network status request (IOCtl 130) is answered here, with the
// last PC address the card reported and the seconds since its last reply.
// A late reply of this run's session also counts as the card answering, so
// a card slower than the probe is found again. When the card reports that it
// is not acquiring while the program has acquisition running (it was
// restarted), acquisition is started again with the program's last start
// values; an outage alone restarts nothing.
#pragma once

#include "card_api.h"
#include "protocol.h"

#include <netinet/in.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vnet {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr Millis kCallBudget{30};
constexpr Millis kAttemptTimeout{10};
constexpr Millis kProbeTimeout{8};
constexpr Millis kRestoreBudget{15};

// GetLastADError after a start that got no reply.
constexpr std::int32_t kNoReplyError = 100;

// "a.b.c.d:port" with a numeric IPv4 address that a card can have (not
// 0.0.0.0 or a broadcast address) and a port 1..65535; nothing, with the
// reason in `why`, otherwise. Host names are not looked up: resolving one
// could hold the first driver call for as long as the resolver takes.
std::optional<sockaddr_in> ParseAddress(const std::string& text, std::string* why = nullptr);

// A local port as MOX_CARD_LOCAL_PORT gives it: 0..65535 in decimal.
std::optional<std::uint16_t> ParsePort(const std::string& text);

class RemoteCard final : public vcard::CardApi {
public:
    // localPort 0 lets the system pick the driver's own port.
    RemoteCard(const sockaddr_in& card, std::uint16_t localPort = 0);
    ~RemoteCard() override;
    RemoteCard(const RemoteCard&) = delete;
    RemoteCard& operator=(const RemoteCard&) = delete;

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

    bool LinkUp();
    std::uint16_t LocalPort() const { return localPort_; }
    // Why the driver's own socket could not be opened; empty when it was.
    const std::string& SocketError() const { return socketError_; }

private:
    struct Reply {
        std::int32_t status = 0;
        std::vector<std::uint8_t> data;
    };
    // Takes the lock and makes one call whose status is the entry's result.
    std::int32_t Simple(Op op, const std::vector<std::uint8_t>& payload);
    // These three run with mutex_ held. CallLocked: one request within the
    // deadline, after a pending restore; nothing when unanswered.
    std::optional<Reply> CallLocked(Op op, const std::vector<std::uint8_t>& payload, Clock::time_point deadline);
    std::optional<Reply> Transact(Op op, const std::vector<std::uint8_t>& payload, Clock::time_point deadline);
    void RestoreIfNeeded(Clock::time_point deadline);

    int socket_ = -1;
    sockaddr_in card_{};
    std::uint16_t localPort_ = 0;
    std::timed_mutex mutex_;
    std::uint32_t seq_ = 0;     // starts at a random value
    std::uint32_t session_ = 0; // random, echoed by every reply
    std::string socketError_;
    bool linkUp_ = true;
    Clock::time_point lastReply_ = Clock::now();
    std::array<std::uint8_t, 4> lastPcAddress_{};
    bool acquiring_ = false;
    bool restorePending_ = false;
    bool startUnanswered_ = false;
    std::array<std::int32_t, 7> startArgs_{};
};

} // namespace vnet
