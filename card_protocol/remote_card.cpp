// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote_card.h"

#include "card_model.h"
#include "udp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

namespace vnet {
namespace {

constexpr int kMaxStaleDrain = 256;
constexpr std::uint8_t kNetStatusCommand = vcard::kCmdNetStatus;

int MillisUntil(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
}

} // namespace

std::optional<sockaddr_in> ParseAddress(const std::string& text, std::string* why) {
    const auto fail = [why](const char* reason) -> std::optional<sockaddr_in> {
        if (why != nullptr) *why = reason;
        return std::nullopt;
    };
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return fail("it is not address:port");
    const auto port = ParsePort(text.substr(colon + 1));
    if (!port || *port == 0) return fail("the port is not a number from 1 to 65535");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (inet_pton(AF_INET, text.substr(0, colon).c_str(), &addr.sin_addr) != 1) {
        return fail("the address is not a numeric IPv4 address (host names are not looked up)");
    }
    const std::uint32_t host = ntohl(addr.sin_addr.s_addr);
    if (host == INADDR_ANY || host == INADDR_BROADCAST || (host >> 28) == 0xE) {
        return fail("no card can have that address (0.0.0.0, broadcast or multicast)");
    }
    addr.sin_port = htons(*port);
    return addr;
}

std::optional<std::uint16_t> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const long port = std::stol(text);
    if (port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

RemoteCard::RemoteCard(const sockaddr_in& card, std::uint16_t localPort) : card_(card) {
    std::random_device random;
    seq_ = random();
    session_ = random();
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ < 0) {
        socketError_ = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(localPort);
    socklen_t len = sizeof local;
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        socketError_ = "cannot use local port " + std::to_string(localPort) + ": " + std::strerror(errno);
        ::close(socket_);
        socket_ = -1;
        return;
    }
    localPort_ = ntohs(local.sin_port);
}

RemoteCard::~RemoteCard() {
    if (socket_ >= 0) ::close(socket_);
}

bool RemoteCard::LinkUp() {
    std::unique_lock lock(mutex_, std::defer_lock);
    return lock.try_lock_for(kCallBudget) && linkUp_;
}

std::optional<RemoteCard::Reply> RemoteCard::Transact(Op op, const std::vector<std::uint8_t>& payload,
                                                      Clock::time_point deadline) {
    if (socket_ < 0) {
        linkUp_ = false;
        return std::nullopt;
    }
    // A call whose time went on waiting for another caller says nothing
    // about the card: it fails without marking the link down.
    const auto start = Clock::now();
    if (start >= deadline) return std::nullopt;

    // Replies to earlier requests that came too late are of no use now, but
    // one from this run's session shows the card is there: a card slower
    // than the short probe of a down link is found again this way.
    std::array<std::uint8_t, kMaxDatagram + 1> buf{};
    for (int i = 0; i < kMaxStaleDrain; ++i) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t got =
            ::recvfrom(socket_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got < 0) break;
        const auto late = Decode(std::span(buf.data(), static_cast<std::size_t>(got)));
        if (!linkUp_ && late && late->reply && late->session == session_ && SameEndpoint(from, card_)) {
            linkUp_ = true;
            lastReply_ = Clock::now();
        }
    }
    if (!linkUp_) deadline = std::min(deadline, start + kProbeTimeout);
    // Only a card that let a whole attempt pass unanswered is taken as gone;
    // the rest of a budget spent waiting for the lock is too short to tell.
    const bool wholeAttempt = !linkUp_ || deadline - start >= kAttemptTimeout;

    const std::uint32_t seq = ++seq_;
    const auto datagram = Encode(Packet{false, op, seq, session_, payload});
    while (Clock::now() < deadline) {
        const ssize_t sent = ::sendto(socket_, datagram.data(), datagram.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&card_), sizeof card_);
        if (sent < 0 && errno != EAGAIN && errno != ENOBUFS && errno != ECONNREFUSED) break;
        const auto attemptEnd = std::min(Clock::now() + kAttemptTimeout, deadline);
        while (Clock::now() < attemptEnd) {
            pollfd pfd{socket_, POLLIN, 0};
            if (::poll(&pfd, 1, MillisUntil(attemptEnd)) <= 0) continue;
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t got =
                ::recvfrom(socket_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (got < 0 || !SameEndpoint(from, card_)) continue;
            const auto packet = Decode(std::span(buf.data(), static_cast<std::size_t>(got)));
            if (!packet || !packet->reply || packet->op != op || packet->seq != seq || packet->session != session_) {
                continue;
            }
            Reader reader(packet->payload);
            Reply reply;
            reply.status = reader.I32();
            if (!reader.ok()) continue;
            const auto rest = reader.Rest();
            reply.data.assign(rest.begin(), rest.end());
            linkUp_ = true;
            lastReply_ = Clock::now();
            return reply;
        }
    }
    if (wholeAttempt) linkUp_ = false;
    return std::nullopt;
}

void RemoteCard::RestoreIfNeeded(Clock::time_point deadline) {
    if (!restorePending_ || !acquiring_ || !linkUp_) return;
    Writer w;
    for (std::int32_t v : startArgs_) w.I32(v);
    const auto reply = Transact(Op::StartIntr, w.Take(), std::min(deadline, Clock::now() + kRestoreBudget));
    if (reply && reply->status != 0) restorePending_ = false;
}

std::optional<RemoteCard::Reply> RemoteCard::CallLocked(Op op, const std::vector<std::uint8_t>& payload,
                                                        Clock::time_point deadline) {
    if (op != Op::StartIntr && op != Op::StopIntr && op != Op::Initial) RestoreIfNeeded(deadline);
    return Transact(op, payload, deadline);
}

std::int32_t RemoteCard::Simple(Op op, const std::vector<std::uint8_t>& payload) {
    const auto deadline = Clock::now() + kCallBudget;
    std::unique_lock lock(mutex_, std::defer_lock);
    if (!lock.try_lock_until(deadline)) return 0;
    const auto reply = CallLocked(op, payload, deadline);
    return reply ? reply->status : 0;
}

std::int32_t RemoteCard::Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    return Simple(Op::Initial, Writer().I32(a).I32(b).I32(c).I32(d).Take());
}

std::int32_t RemoteCard::IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) {
    if (in == nullptr || out == nullptr || inLen < 1 || outLen < 0) return 0;
    const std::int32_t sendLen = std::min(inLen, kMaxIoBytes);
    Writer w;
    w.I32(sendLen).I32(std::min(outLen, kMaxIoBytes)).Bytes(std::span(in, static_cast<std::size_t>(sendLen)));
    const auto deadline = Clock::now() + kCallBudget;
    std::unique_lock lock(mutex_, std::defer_lock);
    if (!lock.try_lock_until(deadline)) return 0;
    const auto reply = CallLocked(Op::IOCtl, w.Take(), deadline);
    if (reply) {
        // A reply that claims more bytes than it carries is a failed call.
        if (reply->status > 0 &&
            reply->data.size() < static_cast<std::size_t>(std::min({reply->status, outLen, kMaxIoBytes}))) {
            return 0;
        }
        const std::size_t n = std::min(reply->data.size(), static_cast<std::size_t>(outLen));
        std::copy_n(reply->data.begin(), n, out);
        if (in[0] == kNetStatusCommand && reply->data.size() >= 5) {
            std::copy_n(reply->data.begin() + 1, 4, lastPcAddress_.begin());
        }
        return reply->status;
    }
    if (in[0] != kNetStatusCommand) return 0;
    // The card is out of reach: report the link from here.
    const auto status = EncodeNetStatus(LinkView{lastPcAddress_, DownSeconds(Clock::now() - lastReply_)});
    const std::size_t n = std::min(status.size(), static_cast<std::size_t>(outLen));
    std::copy_n(status.begin(), n, out);
    return static_cast<std::int32_t>(n);
}

std::int32_t RemoteCard::StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                                   std::int32_t depth, std::int32_t gain, std::int16_t trigger) {
    const std::array<std::int32_t, 7> args{rate, block, first, count, depth, gain, trigger};
    Writer w;
    for (std::int32_t v : args) w.I32(v);
    const auto deadline = Clock::now() + kCallBudget;
    std::unique_lock lock(mutex_, std::defer_lock);
    if (!lock.try_lock_until(deadline)) return 0;
    const auto reply = CallLocked(Op::StartIntr, w.Take(), deadline);
    startUnanswered_ = !reply;
    if (reply && reply->status != 0) {
        acquiring_ = true;
        startArgs_ = args;
        restorePending_ = false;
    }
    return reply ? reply->status : 0;
}

std::int32_t RemoteCard::StopIntr() {
    const auto deadline = Clock::now() + kCallBudget;
    std::unique_lock lock(mutex_, std::defer_lock);
    if (!lock.try_lock_until(deadline)) return 0;
    acquiring_ = false;
    restorePending_ = false;
    const auto reply = CallLocked(Op::StopIntr, {}, deadline);
    return reply ? reply->status : 0;
}

std::int32_t RemoteCard::GetLastADError() {
    const auto deadline = Clock::now() + kCallBudget;
    std::unique_lock lock(mutex_, std::defer_lock);
    if (!lock.try_lock_until(deadline) || startUnanswered_) return kNoReplyError;
    const auto reply = CallLocked(Op::GetLastADError, {}, deadline);
    return reply ? reply->status : kNoReplyError;
}

std::int32_t RemoteCard::ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode,
                                     float n, float* results) {
    if (results == nullptr || count < 1 || count > vcard::kChannels) return 0;
    Writer w;
    w.I32(first).I32(count).I32(unit).I32(mode).F32(n);
    const auto deadline = Clock::now() + kCallBudget;
    std::unique_lock lock(mutex_, std::defer_lock);
    if (!lock.try_lock_until(deadline)) return 0;
    const auto reply = CallLocked(Op::ADResult_DV, w.Take(), deadline);
    if (!reply) return 0;
    if (reply->status > 0 && reply->data.size() != static_cast<std::size_t>(count) * 4) return 0; // short: failed
    if (reply->status > 0) {
        Reader r(reply->data);
        for (std::int32_t i = 0; i < count; ++i) results[i] = r.F32();
    } else if (reply->status == 0 && acquiring_) {
        restorePending_ = true; // the card is not acquiring: it was restarted
    }
    return reply->status;
}

std::int32_t RemoteCard::Mox_DA(std::int16_t channel, std::int16_t code) {
    return Simple(Op::Mox_DA, Writer().I32(channel).I32(code).Take());
}

std::int32_t RemoteCard::Mox_DO(std::int16_t group, std::int16_t value) {
    return Simple(Op::Mox_DO, Writer().I32(group).I32(value).Take());
}

std::int32_t RemoteCard::Mox_DOBit(std::int16_t bit, std::int16_t value) {
    return Simple(Op::Mox_DOBit, Writer().I32(bit).I32(value).Take());
}

std::int32_t RemoteCard::Mox_DI(std::int32_t count, std::int16_t* inputs) {
    if (inputs == nullptr) return 0;
    const auto deadline = Clock::now() + kCallBudget;
    std::unique_lock lock(mutex_, std::defer_lock);
    if (!lock.try_lock_until(deadline)) return 0;
    const auto reply = CallLocked(Op::Mox_DI, Writer().I32(count).Take(), deadline);
    if (!reply) return 0;
    if (reply->status != 0 && reply->data.size() != 4) return 0; // short: failed
    if (reply->status != 0) {
        Reader r(reply->data);
        const std::int16_t g0 = r.I16();
        const std::int16_t g1 = r.I16();
        if (count >= 1) inputs[0] = g0;
        if (count >= 2) inputs[1] = g1;
    }
    return reply->status;
}

} // namespace vnet
