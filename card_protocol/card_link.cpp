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

#if defined(__linux__)
#include <pthread.h>
#endif

namespace vnet {
namespace {

// Added to a limit that must be passed, not only reached, to give the time
// the supervisor wakes for it.
constexpr Clock::duration kPassed{1};
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

// ---- the parts of a link ------------------------------------------------

// The socket, and the thread that runs its I/O and the supervisor. Only
// that thread touches the socket and the timer once it runs.
struct Socket {
    asio::io_context io;                      // first: the socket and timer go before the context they run on
    std::optional<asio::ip::udp::socket> udp; // none when it could not be opened
    // Set for the next thing the supervisor has to do; a wait it replaced
    // is told apart by its generation.
    asio::steady_timer wake{io};
    Clock::time_point wakeAt;
    std::uint64_t wakeGeneration = 0;
    bool waiting = false;
    std::array<std::uint8_t, kMaxDatagram + 1> buffer{};
    asio::ip::udp::endpoint from; // of the datagram in `buffer`
    std::thread thread;
    std::string error; // why the socket could not be opened; empty when it was
    std::uint16_t localPort = 0;
};

enum class Kind { Call, Kept, Heartbeat, Restart };

// A caller's call, shared by the caller and its request.
struct CallState {
    bool sent = false;      // on the network: a call given up after this may have run
    bool done = false;      // answered or refused
    bool abandoned = false; // the caller gave up: not sent again
    bool refused = false;
    Answer answer;
};

// A request on its way, by its sequence number.
struct Outstanding {
    Kind kind = Kind::Call;
    Op op = Op::Initial;
    std::vector<std::uint8_t> datagram; // as sent, and sent again
    std::string key;                    // Kept: the read it polls
    std::shared_ptr<CallState> call;    // Call
    // The first copy times the round trip, the reply window and the age of
    // a kept answer; the latest copy times the next resend.
    Clock::time_point firstSent, lastSent;
    bool resent = false;
    int copies = 0;
};

// A read the supervisor polls for its callers, by its operation and payload.
struct Kept {
    Op op = Op::Initial;
    std::vector<std::uint8_t> payload;
    std::optional<Answer> answer;                  // the newest, by when it was asked
    Clock::time_point askedAt;                     // the answer's request first went out: its age
    Clock::time_point lastUsed;                    // a caller last wanted it: dropped after `keepFor`
    Clock::time_point lastAsked;                   // the last poll went out: the next is due a poll interval on
    std::optional<Clock::time_point> sawAcquiring; // asked then, answered with readings
};

// Every request on its way and every kept read, and the last call: a kept
// answer asked before a call ended may not show what the call did.
struct RequestTable {
    std::uint32_t seq = 0;     // the last sequence number used
    std::uint32_t session = 0; // random per link: answers to another link's requests are not taken
    std::map<std::uint32_t, Outstanding> outstanding;
    std::map<std::string, Kept> kept;
    Clock::time_point lastCallEnded;     // answered, refused or given up
    Clock::time_point lastCallConfirmed; // answered: the card ran it
    // What restarts acquisition on a card found stopped, while set; at most
    // one restart is on its way.
    std::optional<std::vector<std::uint8_t>> restartPayload;
    bool restartInFlight = false;
    RestartCounts restarts;
};

// The round trip, smoothed as TCP smooths it (RFC 6298). Resends, a call's
// budget and how long a kept answer stays fresh follow it once measured.
struct RoundTrip {
    bool measured = false;
    double srttMs = 0;   // smoothed; 0 before the first measurement
    double rttVarMs = 0; // its smoothed variation

    void Add(Clock::duration sample) {
        const double ms = Ms(sample);
        if (!measured) {
            srttMs = ms;
            rttVarMs = ms / 2;
            measured = true;
            return;
        }
        rttVarMs = 0.75 * rttVarMs + 0.25 * std::abs(srttMs - ms);
        srttMs = 0.875 * srttMs + 0.125 * ms;
    }

    Clock::duration ResendAfter() const {
        if (!measured) return kMinResend;
        return std::clamp<Clock::duration>(FromMs(srttMs + 4 * rttVarMs), kMinResend, kMaxResend);
    }

    // On a link slower than `freshFor` the newest answer the link can have
    // (asked one round trip and one poll ago) still serves.
    Clock::duration FreshLimit(const LinkTiming& timing) const {
        if (!measured) return timing.freshFor;
        return std::max<Clock::duration>(timing.freshFor, FromMs(srttMs + 4 * rttVarMs) + timing.pollInterval);
    }

    // Twice the round trip: one for the request, one for a resend after a
    // lost copy; before any measurement, long enough to find a far card.
    Clock::duration CallBudget(const LinkTiming& timing) const {
        if (!measured) return std::max<Clock::duration>(timing.firstCall, timing.callBudget);
        return std::clamp<Clock::duration>(FromMs(2 * srttMs + 4 * rttVarMs) + kCallMargin, timing.callBudget,
                                           timing.longestCall);
    }
};

// Which of the last kOutcomes polls and heartbeats went unanswered.
struct LossWindow {
    std::bitset<kOutcomes> lost;
    std::size_t next = 0;  // where the next outcome goes
    std::size_t count = 0; // outcomes recorded, up to kOutcomes

    void Record(bool answered) {
        lost[next] = !answered;
        next = (next + 1) % kOutcomes;
        count = std::min(count + 1, kOutcomes);
    }

    double Loss() const { return count == 0 ? 0.0 : static_cast<double>(lost.count()) / static_cast<double>(count); }
};

// The link's state and what it is judged by: when the card was last heard,
// how long its answers take and how many are lost.
struct LinkHealth {
    LinkState state = LinkState::Connecting;
    // A request overdue with nothing heard since it went out: reads fail at
    // once instead of each waiting out its budget.
    bool quiet = false;
    Clock::time_point started;                   // stands in for an answer until the first one
    std::optional<Clock::time_point> lastAnswer; // any answer of this session, a late one too
    Clock::time_point lastSent;                  // any datagram: a heartbeat follows `heartbeat` without one
    RoundTrip roundTrip;
    LossWindow loss;

    Clock::time_point Heard() const { return lastAnswer.value_or(started); }

    // Online or degraded, as the round trip and loss say, from `current`.
    LinkState QualityState(LinkState current) const {
        const double lossNow = loss.Loss();
        const double srttMs = roundTrip.srttMs;
        if (srttMs > kDegradedRoundTripMs || lossNow > kDegradedLoss) return LinkState::Degraded;
        if (current == LinkState::Degraded && (srttMs > kOnlineRoundTripMs || lossNow > kOnlineLoss)) {
            return LinkState::Degraded;
        }
        return LinkState::Online;
    }
};

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
    Impl(const Endpoint& cardEndpoint, std::uint16_t localPort, LinkTiming t, bool traceOn)
        : card(cardEndpoint), timing(t), trace(traceOn) {
        std::random_device random;
        requests.seq = random();
        requests.session = random();
        link.started = Clock::now();
        link.lastSent = link.started;
        auto opened = OpenUdpSocket(net.io, Endpoint{{}, localPort}, net.error);
        if (!opened) return;
        net.udp.emplace(std::move(*opened));
        asio::error_code ec;
        net.localPort = net.udp->local_endpoint(ec).port();
        Receive();
        Reschedule();
        net.thread = std::thread([this] { net.io.run(); });
#if defined(__linux__)
        // Named so that its wake-ups can be found and counted from outside.
        pthread_setname_np(net.thread.native_handle(), "mox-card-link");
#endif
    }

    ~Impl() {
        net.io.stop();
        if (net.thread.joinable()) net.thread.join();
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool Usable() const { return net.udp && card.port != 0 && link.state != LinkState::Reconnecting; }

    // An answer's age counts from when it was asked: one that took long on
    // the way is that much older.
    bool Fresh(const Kept& k, Clock::time_point now) const {
        return k.answer && now - k.askedAt <= link.roundTrip.FreshLimit(timing) && k.askedAt > requests.lastCallEnded;
    }

    Clock::duration CallBudget() const { return link.roundTrip.CallBudget(timing); }
    Clock::duration ResendAfter() const { return link.roundTrip.ResendAfter(); }

    // ---- the I/O thread ----------------------------------------------

    void Receive() {
        net.udp->async_receive_from(asio::buffer(net.buffer), net.from,
                                    [this](const asio::error_code& ec, std::size_t got) {
                                        if (ec == asio::error::operation_aborted) return;
                                        if (!ec) OnDatagram(std::span(net.buffer.data(), got));
                                        Reschedule();
                                        Receive();
                                    });
    }

    // The supervisor has no fixed tick: it sleeps until the next thing due
    // (NextDue) and is woken at once by an answer or a caller's request,
    // after which the time is set again. A program that holds the card and
    // asks nothing wakes it for its heartbeats and their answers alone.
    void Reschedule() {
        std::lock_guard lock(m);
        const auto due = NextDue();
        if (net.waiting && due == net.wakeAt) return;
        net.waiting = true;
        net.wakeAt = due;
        const auto generation = ++net.wakeGeneration;
        net.wake.expires_at(due); // ends the wait it replaces with operation_aborted
        net.wake.async_wait([this, generation](const asio::error_code& ec) {
            if (ec || generation != net.wakeGeneration) return;
            {
                std::lock_guard tickLock(m);
                net.waiting = false;
                OnTick(Clock::now());
            }
            Reschedule();
        });
    }

    // From a caller's thread: the kept read is asked now rather than at its
    // next poll.
    void AskSoon(const std::string& key) {
        asio::post(net.io, [this, key] {
            {
                std::lock_guard lock(m);
                const auto k = requests.kept.find(key);
                if (k != requests.kept.end() && link.state != LinkState::Reconnecting)
                    Ask(k->second, key, Clock::now());
            }
            Reschedule(); // for its next poll
        });
    }

    // From a caller's thread: the supervisor looks at once at what the
    // caller changed (a call given up, a read it must start polling).
    void Poke() {
        asio::post(net.io, [this] { Reschedule(); });
    }

    // When OnTick next has something to do, as it decides it: a heartbeat, a
    // resend, a poll, or a deadline (a request unanswered too long or given
    // up, the link silent too long, a read nobody wants any more).
    Clock::time_point NextDue() const {
        const bool reconnecting = link.state == LinkState::Reconnecting;
        const auto heard = link.Heard();
        const auto resendAfter = ResendAfter();
        const auto expected = std::max<Clock::duration>(2 * resendAfter, kMinQuiet);
        auto due = link.lastSent + timing.heartbeat;
        if (!reconnecting) due = std::min(due, heard + timing.silenceLimit + kPassed);
        for (const auto& [seqNumber, o] : requests.outstanding) {
            if (o.call && o.call->abandoned) return Clock::time_point{};
            due = std::min(due, o.firstSent + timing.replyWindow + kPassed);
            if ((o.kind == Kind::Call || o.kind == Kind::Restart) && !reconnecting)
                due = std::min(due, o.lastSent + resendAfter);
            if (!link.quiet && heard < o.firstSent) due = std::min(due, o.firstSent + expected + kPassed);
        }
        if (reconnecting) return due;
        for (const auto& [key, k] : requests.kept) {
            due = std::min({due, k.lastUsed + timing.keepFor + kPassed, k.lastAsked + timing.pollInterval});
        }
        return due;
    }

    void Send(Outstanding& o, Clock::time_point now) {
        asio::error_code ec;
        net.udp->send_to(asio::buffer(o.datagram), ToAsio(card), 0, ec); // a lost datagram is resent or polled again
        o.lastSent = now;
        ++o.copies;
        link.lastSent = now;
    }

    std::uint32_t Start(Kind kind, Op op, const std::vector<std::uint8_t>& payload, Clock::time_point now) {
        const std::uint32_t s = ++requests.seq;
        Outstanding o;
        o.kind = kind;
        o.op = op;
        o.datagram = Encode(Packet{false, op, s, requests.session, payload});
        o.firstSent = now;
        Send(o, now);
        requests.outstanding.emplace(s, std::move(o));
        return s;
    }

    void Ask(Kept& k, const std::string& key, Clock::time_point now) {
        const auto s = Start(Kind::Kept, k.op, k.payload, now);
        requests.outstanding[s].key = key;
        k.lastAsked = now;
    }

    void OnTick(Clock::time_point now) {
        const auto resendAfter = ResendAfter();
        const auto heard = link.Heard();
        // Quiet: a request that should have been answered by now, and
        // nothing heard since it went out. Reads then fail at once instead
        // of each waiting out its budget before the link counts as lost.
        const auto expected = std::max<Clock::duration>(2 * resendAfter, kMinQuiet);
        bool nowQuiet = false;
        for (auto it = requests.outstanding.begin(); it != requests.outstanding.end();) {
            Outstanding& o = it->second;
            const bool gone = (o.call && o.call->abandoned) || now - o.firstSent > timing.replyWindow;
            if (gone) {
                if (o.kind == Kind::Kept || o.kind == Kind::Heartbeat) link.loss.Record(false);
                if (o.kind == Kind::Restart) requests.restartInFlight = false;
                it = requests.outstanding.erase(it);
                continue;
            }
            if ((o.kind == Kind::Call || o.kind == Kind::Restart) && now - o.lastSent >= resendAfter &&
                link.state != LinkState::Reconnecting) {
                o.resent = true;
                Send(o, now);
            }
            if (now - o.firstSent > expected && heard < o.firstSent) nowQuiet = true;
            ++it;
        }
        if (nowQuiet && !link.quiet) changed.notify_all();
        link.quiet = nowQuiet;
        if (link.state != LinkState::Reconnecting && now - heard > timing.silenceLimit) Enter(LinkState::Reconnecting);
        if (link.state != LinkState::Reconnecting) PollKept(now);
        if (now - link.lastSent >= timing.heartbeat) Start(Kind::Heartbeat, Op::Ping, {}, now);
    }

    // Reads the program still asks for are polled; the others are dropped.
    // When one is due, those past half their interval are asked with it:
    // the polls then go out together, and the supervisor wakes once for all
    // of them rather than once for each read.
    void PollKept(Clock::time_point now) {
        bool anyDue = false;
        for (auto it = requests.kept.begin(); it != requests.kept.end();) {
            if (now - it->second.lastUsed > timing.keepFor) {
                it = requests.kept.erase(it);
                continue;
            }
            anyDue = anyDue || now - it->second.lastAsked >= timing.pollInterval;
            ++it;
        }
        if (!anyDue) return;
        for (auto& [key, k] : requests.kept) {
            if (now - k.lastAsked >= timing.pollInterval / 2) Ask(k, key, now);
        }
    }

    void OnDatagram(std::span<const std::uint8_t> bytes) {
        if (FromAsio(net.from) != card) return;
        const auto packet = Decode(bytes);
        if (!packet || !packet->reply || packet->session != requests.session) return;
        const auto now = Clock::now();
        std::lock_guard lock(m);
        if (packet->payload.empty()) {
            Refused(packet->seq, packet->op);
            return;
        }
        const auto it = requests.outstanding.find(packet->seq);
        const bool waited = it != requests.outstanding.end() && it->second.op == packet->op;
        Heard(waited ? &it->second : nullptr, now);
        if (!waited) return;
        Outstanding o = std::move(it->second);
        requests.outstanding.erase(it);
        auto answer = ReadAnswer(packet->payload);
        if (!answer) return;
        Answered(o, std::move(*answer), now);
    }

    // Any answer of this session shows the card is there, a late one too,
    // or one to a request no longer waited for.
    void Heard(const Outstanding* request, Clock::time_point now) {
        link.lastAnswer = now;
        link.quiet = false;
        if (request != nullptr) MeasureRoundTrip(*request, now);
        if (link.state == LinkState::Connecting || link.state == LinkState::Reconnecting) {
            for (auto& [key, k] : requests.kept) k.lastAsked = {}; // ask again at once
            Enter(link.QualityState(LinkState::Online));
        }
    }

    // A resent request's round trip is ambiguous: not measured, except that
    // with nothing measured yet, a request sent several times stands in for
    // a first measurement with its longest reading (a far card's first
    // calls are all resent many times, and without a round trip reads would
    // wait for it in vain). One resend is more likely a lost copy on a quick
    // link, whose round trip that would overstate.
    void MeasureRoundTrip(const Outstanding& request, Clock::time_point now) {
        constexpr int kManyCopies = 4;
        const bool farFirst = !link.roundTrip.measured && request.copies >= kManyCopies;
        if (!request.resent || farFirst) link.roundTrip.Add(now - request.firstSent);
    }

    static std::optional<Answer> ReadAnswer(const std::vector<std::uint8_t>& payload) {
        Reader reader(payload);
        Answer answer;
        answer.status = reader.I32();
        if (!reader.ok()) return std::nullopt;
        const auto rest = reader.Rest();
        answer.data.assign(rest.begin(), rest.end());
        return answer;
    }

    void Answered(const Outstanding& o, Answer answer, Clock::time_point now) {
        switch (o.kind) {
        case Kind::Call:
            o.call->answer = std::move(answer);
            o.call->done = true;
            requests.lastCallEnded = now;
            requests.lastCallConfirmed = now;
            break;
        case Kind::Kept:
            link.loss.Record(true);
            OnKeptAnswer(o, std::move(answer), now);
            break;
        case Kind::Heartbeat:
            link.loss.Record(true);
            break;
        case Kind::Restart:
            // Accepted or not, the card must show readings again before
            // another restart: a card that refuses is not asked in a loop.
            requests.restartInFlight = false;
            if (answer.status != 0) ++requests.restarts.restarted;
            requests.lastCallEnded = now;
            requests.lastCallConfirmed = now;
            break;
        }
        if (link.state != LinkState::Reconnecting) Enter(link.QualityState(link.state));
        changed.notify_all();
    }

    // A request the card side could not run (a driver bridge whose driver
    // is stuck): the call fails at once, and nothing counts as the card
    // answering, so the link is seen to go down.
    void Refused(std::uint32_t seqNumber, Op op) {
        const auto it = requests.outstanding.find(seqNumber);
        if (it == requests.outstanding.end() || it->second.op != op) return;
        if (it->second.call) {
            it->second.call->done = true;
            it->second.call->refused = true;
            requests.lastCallEnded = Clock::now();
        }
        if (it->second.kind == Kind::Restart) requests.restartInFlight = false;
        requests.outstanding.erase(it);
        changed.notify_all();
    }

    void OnKeptAnswer(const Outstanding& o, Answer answer, Clock::time_point now) {
        const auto it = requests.kept.find(o.key);
        if (it == requests.kept.end() || o.firstSent <= it->second.askedAt) return; // older than the one kept
        Kept& k = it->second;
        // A card seen acquiring that now says it is not was restarted. Other
        // answers of status 0 (arguments the card refuses) restart nothing.
        // Only the same request counts, answered with readings since the
        // last call the card confirmed (one it did not confirm may not have
        // run, and acquisition calls clear the restart values first).
        const bool current = k.op == Op::ADResult_DV && o.firstSent > requests.lastCallEnded;
        const bool stopped =
            current && answer.status == 0 && k.sawAcquiring && *k.sawAcquiring > requests.lastCallConfirmed;
        if (current && answer.status > 0) k.sawAcquiring = o.firstSent;
        k.answer = std::move(answer);
        k.answer->askedAt = o.firstSent;
        k.askedAt = o.firstSent;
        if (stopped && requests.restartPayload && !requests.restartInFlight) {
            // Counted here, once for the card: every kept reading finds it
            // stopped, and the first starts it again.
            ++requests.restarts.found;
            requests.restartInFlight = true;
            Start(Kind::Restart, Op::StartIntr, *requests.restartPayload, now);
            if (trace) std::fprintf(stderr, "libadcard: the card is not acquiring; starting it again\n");
        }
    }

    void Enter(LinkState next) {
        if (next == link.state) return;
        link.state = next;
        changed.notify_all();
        if (!trace) return;
        std::fprintf(stderr, "libadcard: link to %s %s: round trip %.1f ms, loss %.0f %%\n", EndpointText(card).c_str(),
                     LinkStateName(link.state), link.roundTrip.srttMs, 100 * link.loss.Loss());
    }

    const Endpoint card;
    const LinkTiming timing;
    const bool trace;
    Socket net;

    // Taken by callers and the I/O thread alike, for everything below.
    mutable std::mutex m;
    // A call answered or refused, a kept answer in, the link quiet or its state changed.
    std::condition_variable changed;
    RequestTable requests;
    LinkHealth link;
};

CardLink::CardLink(const Endpoint& card, std::uint16_t localPort, LinkTiming timing, bool trace)
    : impl_(std::make_unique<Impl>(card, localPort, timing, trace)) {}

CardLink::~CardLink() = default;

std::optional<Answer> CardLink::Call(Op op, std::vector<std::uint8_t> payload, bool* timedOut) {
    Impl& s = *impl_;
    if (timedOut != nullptr) *timedOut = false;
    auto call = std::make_shared<CallState>();
    Clock::time_point deadline;
    {
        std::lock_guard lock(s.m);
        if (!s.Usable()) return std::nullopt;
        deadline = Clock::now() + s.CallBudget();
    }
    asio::post(s.net.io, [&s, call, op, payload = std::move(payload)] {
        {
            std::lock_guard lock(s.m);
            if (call->abandoned) return;
            const auto seq = s.Start(Kind::Call, op, payload, Clock::now());
            s.requests.outstanding[seq].call = call;
            call->sent = true;
        }
        s.Reschedule(); // for its resend
    });
    std::unique_lock lock(s.m);
    s.changed.wait_until(lock, deadline, [&] { return call->done || s.link.state == LinkState::Reconnecting; });
    if (!call->done) {
        // Given up: not sent again, and kept answers asked before now may
        // or may not show what it did.
        call->abandoned = true;
        s.requests.lastCallEnded = Clock::now();
        if (timedOut != nullptr) *timedOut = call->sent;
        if (call->sent) s.Poke(); // to drop it rather than send it again
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
    if (const auto known = s.requests.kept.find(key); known != s.requests.kept.end()) known->second.lastUsed = now;
    if (!s.Usable()) return std::nullopt;
    auto [it, added] = s.requests.kept.try_emplace(key);
    if (added) {
        it->second.op = op;
        it->second.payload = std::move(payload);
        it->second.lastUsed = now;
    }
    // A fresh answer stays good while the link is quiet: one lost poll, or
    // a card a little late, must not fail reads the kept data still covers.
    if (s.Fresh(it->second, now)) return it->second.answer;
    if (s.link.quiet) {
        if (added) s.Poke(); // polled from now on, as any read the program asks for
        return std::nullopt;
    }
    // Nothing fresh: ask now rather than at the next poll, unless a request
    // asked after the last call is already on its way.
    const bool onItsWay =
        it->second.lastAsked > s.requests.lastCallEnded && now - it->second.lastAsked < s.ResendAfter();
    if (!onItsWay) s.AskSoon(key);
    // Kept data that only aged (its polls were lost) is waited for briefly:
    // the next poll is due soon, and a reading a little late is better
    // than a GUI held for a round trip. New reads, and reads after a call,
    // wait for their answer within the whole budget.
    const bool aged = it->second.answer && it->second.askedAt > s.requests.lastCallEnded;
    auto until = aged ? std::min(deadline, now + kAgedWait) : deadline;
    // On a link slower than the budget only an answer already on its way
    // can come in time, and it is waited for briefly, as aged data is:
    // otherwise waiting would only hold the caller.
    if (s.link.roundTrip.measured && FromMs(s.link.roundTrip.srttMs) > s.timing.callBudget) {
        const Kept& k = it->second;
        until = std::min(until, now + kAgedWait);
        const bool coming =
            k.lastAsked > s.requests.lastCallEnded && k.lastAsked + FromMs(s.link.roundTrip.srttMs) <= until;
        if (!coming) until = now;
    }
    std::optional<Answer> result;
    s.changed.wait_until(lock, until, [&] {
        const auto k = s.requests.kept.find(key);
        if (k != s.requests.kept.end() && s.Fresh(k->second, Clock::now())) result = k->second.answer;
        return result.has_value() || s.link.state == LinkState::Reconnecting || s.link.quiet;
    });
    return result;
}

void CardLink::SetRestart(std::optional<std::vector<std::uint8_t>> startPayload) {
    std::lock_guard lock(impl_->m);
    impl_->requests.restartPayload = std::move(startPayload);
}

RestartCounts CardLink::Restarts() const {
    std::lock_guard lock(impl_->m);
    return impl_->requests.restarts;
}

LinkQuality CardLink::Quality() const {
    std::lock_guard lock(impl_->m);
    return LinkQuality{impl_->link.state, impl_->link.roundTrip.srttMs, impl_->link.loss.Loss()};
}

Clock::duration CardLink::CallBudget() const {
    std::lock_guard lock(impl_->m);
    return impl_->CallBudget();
}

Clock::time_point CardLink::LastAnswer() const {
    std::lock_guard lock(impl_->m);
    return impl_->link.Heard();
}

std::uint16_t CardLink::LocalPort() const { return impl_->net.localPort; }

const std::string& CardLink::SocketError() const { return impl_->net.error; }

} // namespace vnet
