// SPDX-License-Identifier: GPL-3.0-or-later
#include "card_link.h"

#include "udp.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <thread>

namespace vnet {
namespace {

// The supervisor looks at its requests this often: resends, polls,
// heartbeats and the link state are timed from here.
constexpr Millis kTick{5};
// A request is sent again after the smoothed round trip plus four times its
// variation, within these bounds.
constexpr Millis kMinResend{10};
constexpr Millis kMaxResend{250};
// Degraded above this round trip or loss, online again below the lower
// figures (so that a link on the edge does not flap).
constexpr double kDegradedRoundTripMs = 20;
constexpr double kOnlineRoundTripMs = 15;
constexpr double kDegradedLoss = 0.10;
constexpr double kOnlineLoss = 0.05;
constexpr std::size_t kOutcomes = 100;
// The least time a request may go unanswered before the link counts as
// quiet; twice the resend time where that is longer.
constexpr Millis kMinQuiet{30};
// The longest a read waits for kept data that has grown old.
constexpr Millis kAgedWait{8};
// What a call's budget allows beyond its expected round trips: the card's
// own time to run the call, and scheduling on both ends.
constexpr Millis kCallMargin{10};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

Clock::duration FromMs(double ms) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

// A kept read by its operation and payload bytes.
std::string KeyOf(Op op, const std::vector<std::uint8_t>& payload) {
    std::string key(1, static_cast<char>(op));
    key.append(payload.begin(), payload.end());
    return key;
}

} // namespace

const char* LinkStateName(LinkState state) {
    switch (state) {
    case LinkState::Connecting:
        return "connecting";
    case LinkState::Online:
        return "online";
    case LinkState::Degraded:
        return "degraded";
    case LinkState::Reconnecting:
        return "reconnecting";
    }
    return "?";
}

struct CardLink::Impl {
    enum class Kind { Call, Kept, Heartbeat, Restart };

    struct CallState {
        bool sent = false;
        bool done = false;
        bool abandoned = false;
        bool refused = false;
        Answer answer;
    };

    struct Outstanding {
        Kind kind = Kind::Call;
        Op op = Op::Initial;
        std::vector<std::uint8_t> datagram;
        std::string key;                 // Kept
        std::shared_ptr<CallState> call; // Call
        Clock::time_point firstSent, lastSent;
        bool resent = false;
        int copies = 0;
    };

    struct Kept {
        Op op = Op::Initial;
        std::vector<std::uint8_t> payload;
        std::optional<Answer> answer;
        Clock::time_point askedAt, lastUsed, lastAsked;
        std::optional<Clock::time_point> sawAcquiring; // asked then, answered with readings
    };

    Impl(const Endpoint& cardEndpoint, std::uint16_t localPort, LinkTiming t, bool traceOn)
        : card(cardEndpoint), timing(t), trace(traceOn), timer(io) {
        std::random_device random;
        seq = random();
        session = random();
        started = Clock::now();
        lastSent = started;
        auto opened = OpenUdpSocket(io, Endpoint{{}, localPort}, socketError);
        if (!opened) return;
        socket.emplace(std::move(*opened));
        asio::error_code ec;
        localPortNumber = socket->local_endpoint(ec).port();
        Receive();
        Tick();
        thread = std::thread([this] { io.run(); });
    }

    ~Impl() {
        io.stop();
        if (thread.joinable()) thread.join();
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool Usable() const { return socket && card.port != 0 && state != LinkState::Reconnecting; }

    // An answer's age counts from when it was asked: one that took long on
    // the way is that much older. On a link slower than `freshFor` the
    // newest answer the link can have (asked one round trip and one poll
    // ago) still serves; anything older does not.
    bool Fresh(const Kept& k, Clock::time_point now) const {
        return k.answer && now - k.askedAt <= FreshLimit() && k.askedAt > lastCallEnded;
    }

    Clock::duration FreshLimit() const {
        if (!measured) return timing.freshFor;
        return std::max<Clock::duration>(timing.freshFor, FromMs(srttMs + 4 * rttVarMs) + timing.pollInterval);
    }

    // Twice the round trip: one for the request, one for a resend after a
    // lost copy; before any measurement, long enough to find a far card.
    Clock::duration CallBudget() const {
        if (!measured) return std::max<Clock::duration>(timing.firstCall, timing.callBudget);
        return std::clamp<Clock::duration>(FromMs(2 * srttMs + 4 * rttVarMs) + kCallMargin, timing.callBudget,
                                           timing.longestCall);
    }

    // ---- the I/O thread ----------------------------------------------

    void Receive() {
        socket->async_receive_from(asio::buffer(buffer), from, [this](const asio::error_code& ec, std::size_t got) {
            if (ec == asio::error::operation_aborted) return;
            if (!ec) OnDatagram(std::span(buffer.data(), got));
            Receive();
        });
    }

    void Tick() {
        timer.expires_after(kTick);
        timer.async_wait([this](const asio::error_code& ec) {
            if (ec) return;
            {
                std::lock_guard lock(m);
                OnTick(Clock::now());
            }
            Tick();
        });
    }

    void Send(Outstanding& o, Clock::time_point now) {
        asio::error_code ec;
        socket->send_to(asio::buffer(o.datagram), ToAsio(card), 0, ec); // a lost datagram is resent or polled again
        o.lastSent = now;
        ++o.copies;
        lastSent = now;
    }

    std::uint32_t Start(Kind kind, Op op, const std::vector<std::uint8_t>& payload, Clock::time_point now) {
        const std::uint32_t s = ++seq;
        Outstanding o;
        o.kind = kind;
        o.op = op;
        o.datagram = Encode(Packet{false, op, s, session, payload});
        o.firstSent = now;
        Send(o, now);
        outstanding.emplace(s, std::move(o));
        return s;
    }

    void Ask(Kept& k, const std::string& key, Clock::time_point now) {
        const auto s = Start(Kind::Kept, k.op, k.payload, now);
        outstanding[s].key = key;
        k.lastAsked = now;
    }

    Clock::duration ResendAfter() const {
        if (!measured) return kMinResend;
        return std::clamp<Clock::duration>(FromMs(srttMs + 4 * rttVarMs), kMinResend, kMaxResend);
    }

    void OnTick(Clock::time_point now) {
        const auto resendAfter = ResendAfter();
        const auto heard = lastAnswer.value_or(started);
        // Quiet: a request that should have been answered by now, and
        // nothing heard since it went out. Reads then fail at once instead
        // of each waiting out its budget before the link counts as lost.
        const auto expected = std::max<Clock::duration>(2 * resendAfter, kMinQuiet);
        bool nowQuiet = false;
        for (auto it = outstanding.begin(); it != outstanding.end();) {
            Outstanding& o = it->second;
            const bool gone = (o.call && o.call->abandoned) || now - o.firstSent > timing.replyWindow;
            if (gone) {
                if (o.kind == Kind::Kept || o.kind == Kind::Heartbeat) Record(false);
                if (o.kind == Kind::Restart) restartInFlight = false;
                it = outstanding.erase(it);
                continue;
            }
            if ((o.kind == Kind::Call || o.kind == Kind::Restart) && now - o.lastSent >= resendAfter &&
                state != LinkState::Reconnecting) {
                o.resent = true;
                Send(o, now);
            }
            if (now - o.firstSent > expected && heard < o.firstSent) nowQuiet = true;
            ++it;
        }
        if (nowQuiet && !quiet) changed.notify_all();
        quiet = nowQuiet;
        if (state != LinkState::Reconnecting && now - heard > timing.silenceLimit) Enter(LinkState::Reconnecting);
        if (state != LinkState::Reconnecting) PollKept(now);
        if (now - lastSent >= timing.heartbeat) Start(Kind::Heartbeat, Op::Ping, {}, now);
    }

    // Reads the program still asks for are polled; the others are dropped.
    void PollKept(Clock::time_point now) {
        for (auto it = kept.begin(); it != kept.end();) {
            if (now - it->second.lastUsed > timing.keepFor) {
                it = kept.erase(it);
                continue;
            }
            if (now - it->second.lastAsked >= timing.pollInterval) Ask(it->second, it->first, now);
            ++it;
        }
    }

    void OnDatagram(std::span<const std::uint8_t> bytes) {
        if (FromAsio(from) != card) return;
        const auto packet = Decode(bytes);
        if (!packet || !packet->reply || packet->session != session) return;
        const auto now = Clock::now();
        std::lock_guard lock(m);
        if (packet->payload.empty()) {
            Refused(packet->seq, packet->op);
            return;
        }
        // Any answer of this session shows the card is there, a late one too.
        lastAnswer = now;
        quiet = false;
        const auto it = outstanding.find(packet->seq);
        const bool waited = it != outstanding.end() && it->second.op == packet->op;
        // A resent request's round trip is ambiguous: not measured, except
        // that with nothing measured yet, a request sent several times
        // stands in for a first measurement with its longest reading (a far
        // card's first calls are all resent many times, and without a round
        // trip reads would wait for it in vain). One resend is more likely a
        // lost copy on a quick link, whose round trip that would overstate.
        constexpr int kManyCopies = 4;
        const bool farFirst = !measured && it != outstanding.end() && it->second.copies >= kManyCopies;
        if (waited && (!it->second.resent || farFirst)) Measure(now - it->second.firstSent);
        if (state == LinkState::Connecting || state == LinkState::Reconnecting) {
            for (auto& [key, k] : kept) k.lastAsked = {}; // ask again at the next tick
            Enter(QualityState(LinkState::Online));
        }
        if (!waited) return;
        Outstanding o = std::move(it->second);
        outstanding.erase(it);
        Reader reader(packet->payload);
        Answer answer;
        answer.status = reader.I32();
        if (!reader.ok()) return;
        const auto rest = reader.Rest();
        answer.data.assign(rest.begin(), rest.end());
        switch (o.kind) {
        case Kind::Call:
            o.call->answer = std::move(answer);
            o.call->done = true;
            lastCallEnded = now;
            lastCallConfirmed = now;
            break;
        case Kind::Kept:
            Record(true);
            OnKeptAnswer(o, std::move(answer), now);
            break;
        case Kind::Heartbeat:
            Record(true);
            break;
        case Kind::Restart:
            // Accepted or not, the card must show readings again before
            // another restart: a card that refuses is not asked in a loop.
            restartInFlight = false;
            lastCallEnded = now;
            lastCallConfirmed = now;
            break;
        }
        if (state != LinkState::Reconnecting) Enter(QualityState(state));
        changed.notify_all();
    }

    // A request the card side could not run (a driver bridge whose driver
    // is stuck): the call fails at once, and nothing counts as the card
    // answering, so the link is seen to go down.
    void Refused(std::uint32_t seqNumber, Op op) {
        const auto it = outstanding.find(seqNumber);
        if (it == outstanding.end() || it->second.op != op) return;
        if (it->second.call) {
            it->second.call->done = true;
            it->second.call->refused = true;
            lastCallEnded = Clock::now();
        }
        if (it->second.kind == Kind::Restart) restartInFlight = false;
        outstanding.erase(it);
        changed.notify_all();
    }

    void OnKeptAnswer(const Outstanding& o, Answer answer, Clock::time_point now) {
        const auto it = kept.find(o.key);
        if (it == kept.end() || o.firstSent <= it->second.askedAt) return; // an older answer than the one kept
        Kept& k = it->second;
        // A card seen acquiring that now says it is not was restarted. Other
        // answers of status 0 (arguments the card refuses) restart nothing.
        // Only the same request counts, answered with readings since the
        // last call the card confirmed (one it did not confirm may not have
        // run, and acquisition calls clear the restart values first).
        const bool current = k.op == Op::ADResult_DV && o.firstSent > lastCallEnded;
        const bool stopped = current && answer.status == 0 && k.sawAcquiring && *k.sawAcquiring > lastCallConfirmed;
        if (current && answer.status > 0) k.sawAcquiring = o.firstSent;
        k.answer = std::move(answer);
        k.askedAt = o.firstSent;
        if (stopped && restartPayload && !restartInFlight) {
            restartInFlight = true;
            Start(Kind::Restart, Op::StartIntr, *restartPayload, now);
            if (trace) std::fprintf(stderr, "libadcard: the card is not acquiring; starting it again\n");
        }
    }

    void Measure(Clock::duration roundTrip) {
        const double ms = Ms(roundTrip);
        if (!measured) {
            srttMs = ms;
            rttVarMs = ms / 2;
            measured = true;
            return;
        }
        rttVarMs = 0.75 * rttVarMs + 0.25 * std::abs(srttMs - ms);
        srttMs = 0.875 * srttMs + 0.125 * ms;
    }

    void Record(bool answered) {
        lost[nextOutcome] = !answered;
        nextOutcome = (nextOutcome + 1) % kOutcomes;
        outcomes = std::min(outcomes + 1, kOutcomes);
    }

    double Loss() const {
        return outcomes == 0 ? 0.0 : static_cast<double>(lost.count()) / static_cast<double>(outcomes);
    }

    // Online or degraded, as the round trip and loss say, from `current`.
    LinkState QualityState(LinkState current) const {
        const double loss = Loss();
        if (srttMs > kDegradedRoundTripMs || loss > kDegradedLoss) return LinkState::Degraded;
        if (current == LinkState::Degraded && (srttMs > kOnlineRoundTripMs || loss > kOnlineLoss)) {
            return LinkState::Degraded;
        }
        return LinkState::Online;
    }

    void Enter(LinkState next) {
        if (next == state) return;
        state = next;
        changed.notify_all();
        if (!trace) return;
        std::fprintf(stderr, "libadcard: link to %s %s: round trip %.1f ms, loss %.0f %%\n", EndpointText(card).c_str(),
                     LinkStateName(state), srttMs, 100 * Loss());
    }

    // ---- shared ---------------------------------------------------------

    const Endpoint card;
    const LinkTiming timing;
    const bool trace;
    asio::io_context io;
    std::optional<asio::ip::udp::socket> socket;
    asio::steady_timer timer;
    std::array<std::uint8_t, kMaxDatagram + 1> buffer{};
    asio::ip::udp::endpoint from;
    std::thread thread;
    std::string socketError;
    std::uint16_t localPortNumber = 0;

    mutable std::mutex m;
    std::condition_variable changed;
    std::uint32_t seq = 0;
    std::uint32_t session = 0;
    LinkState state = LinkState::Connecting;
    Clock::time_point started, lastSent, lastCallEnded, lastCallConfirmed;
    std::optional<Clock::time_point> lastAnswer;
    std::map<std::uint32_t, Outstanding> outstanding;
    std::map<std::string, Kept> kept;
    std::optional<std::vector<std::uint8_t>> restartPayload;
    bool quiet = false;
    bool restartInFlight = false;
    bool measured = false;
    double srttMs = 0, rttVarMs = 0;
    std::bitset<kOutcomes> lost;
    std::size_t nextOutcome = 0, outcomes = 0;
};

CardLink::CardLink(const Endpoint& card, std::uint16_t localPort, LinkTiming timing, bool trace)
    : impl_(std::make_unique<Impl>(card, localPort, timing, trace)) {}

CardLink::~CardLink() = default;

std::optional<Answer> CardLink::Call(Op op, std::vector<std::uint8_t> payload, bool* timedOut) {
    Impl& s = *impl_;
    if (timedOut != nullptr) *timedOut = false;
    auto call = std::make_shared<Impl::CallState>();
    Clock::time_point deadline;
    {
        std::lock_guard lock(s.m);
        if (!s.Usable()) return std::nullopt;
        deadline = Clock::now() + s.CallBudget();
    }
    asio::post(s.io, [&s, call, op, payload = std::move(payload)] {
        std::lock_guard lock(s.m);
        if (call->abandoned) return;
        const auto seq = s.Start(Impl::Kind::Call, op, payload, Clock::now());
        s.outstanding[seq].call = call;
        call->sent = true;
    });
    std::unique_lock lock(s.m);
    s.changed.wait_until(lock, deadline, [&] { return call->done || s.state == LinkState::Reconnecting; });
    if (!call->done) {
        // Given up: not sent again, and kept answers asked before now may
        // or may not show what it did.
        call->abandoned = true;
        s.lastCallEnded = Clock::now();
        if (timedOut != nullptr) *timedOut = call->sent;
        return std::nullopt;
    }
    if (call->refused) return std::nullopt;
    return std::move(call->answer);
}

std::optional<Answer> CardLink::Read(Op op, std::vector<std::uint8_t> payload) {
    Impl& s = *impl_;
    const auto deadline = Clock::now() + s.timing.callBudget;
    auto key = KeyOf(op, payload);
    std::unique_lock lock(s.m);
    const auto now = Clock::now();
    // A read still wanted through an outage stays kept, with what it knew
    // of the card (to tell a restarted card when the link is back).
    if (const auto known = s.kept.find(key); known != s.kept.end()) known->second.lastUsed = now;
    if (!s.Usable()) return std::nullopt;
    auto [it, added] = s.kept.try_emplace(key);
    if (added) {
        it->second.op = op;
        it->second.payload = std::move(payload);
        it->second.lastUsed = now;
    }
    // A fresh answer stays good while the link is quiet: one lost poll, or
    // a card a little late, must not fail reads the kept data still covers.
    if (s.Fresh(it->second, now)) return it->second.answer;
    if (s.quiet) return std::nullopt;
    // Nothing fresh: ask now rather than at the next poll, unless a request
    // asked after the last call is already on its way.
    const bool onItsWay = it->second.lastAsked > s.lastCallEnded && now - it->second.lastAsked < s.ResendAfter();
    if (!onItsWay) {
        asio::post(s.io, [&s, key] {
            std::lock_guard postLock(s.m);
            const auto k = s.kept.find(key);
            if (k != s.kept.end() && s.state != LinkState::Reconnecting) s.Ask(k->second, key, Clock::now());
        });
    }
    // Kept data that only aged (its polls were lost) is waited for briefly:
    // the next poll is due soon, and a reading a little late is better
    // than a GUI held for a round trip. New reads, and reads after a call,
    // wait for their answer within the whole budget.
    const bool aged = it->second.answer && it->second.askedAt > s.lastCallEnded;
    auto until = aged ? std::min(deadline, now + kAgedWait) : deadline;
    // On a link slower than the budget only an answer already on its way
    // can come in time, and it is waited for briefly, as aged data is:
    // otherwise waiting would only hold the caller.
    if (s.measured && FromMs(s.srttMs) > s.timing.callBudget) {
        const Impl::Kept& k = it->second;
        until = std::min(until, now + kAgedWait);
        const bool coming = k.lastAsked > s.lastCallEnded && k.lastAsked + FromMs(s.srttMs) <= until;
        if (!coming) until = now;
    }
    std::optional<Answer> result;
    s.changed.wait_until(lock, until, [&] {
        const auto k = s.kept.find(key);
        if (k != s.kept.end() && s.Fresh(k->second, Clock::now())) result = k->second.answer;
        return result.has_value() || s.state == LinkState::Reconnecting || s.quiet;
    });
    return result;
}

void CardLink::SetRestart(std::optional<std::vector<std::uint8_t>> startPayload) {
    std::lock_guard lock(impl_->m);
    impl_->restartPayload = std::move(startPayload);
}

LinkQuality CardLink::Quality() const {
    std::lock_guard lock(impl_->m);
    return LinkQuality{impl_->state, impl_->srttMs, impl_->Loss()};
}

Clock::duration CardLink::CallBudget() const {
    std::lock_guard lock(impl_->m);
    return impl_->CallBudget();
}

Clock::time_point CardLink::LastAnswer() const {
    std::lock_guard lock(impl_->m);
    return impl_->lastAnswer.value_or(impl_->started);
}

std::uint16_t CardLink::LocalPort() const { return impl_->localPortNumber; }

const std::string& CardLink::SocketError() const { return impl_->socketError; }

} // namespace vnet
