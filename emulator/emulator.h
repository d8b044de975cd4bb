// SPDX-License-Identifier: GPL-3.0-or-later
// The emulator: the software card answering the card protocol on a UDP
// socket, with faults that can be switched while it runs.
#pragma once

#include "card_model.h"
#include "card_server.h"
#include "protocol.h"
#include "replay.h"
#include "udp.h"

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace emu {

using Clock = std::chrono::steady_clock;

// The faults in force, switched by commands ("drop 0.2", "stop", ...).
// The largest fault settings: beyond them the clock arithmetic would
// overflow, and no test needs more.
constexpr double kMaxDelayMs = 60'000;
constexpr double kMaxSilentSeconds = 86'400;
// Replies held back by the delay at the most (with the longest delay, a
// flood of requests would otherwise take all memory): about 1 MB. Beyond
// it a reply is dropped, as if lost on the way, and counted.
constexpr std::size_t kMaxDelayedReplies = 4096;

struct FaultState {
    double drop = 0;    // fraction of requests lost
    double delayMs = 0; // added before each reply
    Clock::time_point silentUntil{};
    bool stopped = false;
    std::optional<std::array<std::uint8_t, 4>> pcAddress; // reported instead of the source

    // Applies one command line: the answer, "ok ..." or "error ...".
    // "quit" sets `quit`.
    std::string Apply(const std::string& line, bool& quit);
    void SilenceFor(double seconds);
    // Requests are not heard at all.
    bool Deaf(Clock::time_point now) const { return stopped || now < silentUntil; }
};

// The PC's side of the link as the card sees it: who asks, how often, how
// many requests came twice (their first reply or request was lost).
struct PcLink {
    vnet::Endpoint pc;
    std::uint32_t session = 0;
    std::uint64_t requests = 0;
    std::uint64_t repeats = 0;
    Clock::time_point lastHeard{};
    bool quiet = true;
};

// The link part of the status answer.
std::string LinkText(const PcLink& link, Clock::time_point now);

class Emulator {
public:
    Emulator(asio::io_context& io, asio::ip::udp::socket socket, FaultState faults, std::uint64_t seed, bool trace,
             bool exitWithStdin);
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Serves until "quit", or until standard input closes with exitWithStdin.
    void Run();
    // Serves on the socket without reading standard input (the caller runs
    // the io_context).
    void Start();
    // Applies one command line and returns its answer ("ok ..." or "error ...").
    std::string Command(const std::string& line);
    // Plays a recording on the inputs from now on; "status" then says where
    // it is.
    void PlayBack(Replay replay);
    // Replies waiting for their delay now.
    std::size_t Delayed() const { return delayed_.size(); }
    // What was served and refused, for the end of the run.
    std::string Summary() const;

private:
    struct DelayedReply {
        Clock::time_point received;
        Clock::time_point due;
        asio::ip::udp::endpoint to;
        std::vector<std::uint8_t> datagram;
    };

    void Receive();
    void ArmReplyTimer();
    void WatchLink();
    void SendDueReplies(Clock::time_point now);
    void OnCommandLine(const std::string& line);
    void Delay(Clock::time_point now, const std::vector<std::uint8_t>& datagram);
    std::string QueueText() const;
    void OnDatagram(std::span<const std::uint8_t> bytes, Clock::time_point now);
    // The reply datagram to a request, or nothing when none is given.
    std::optional<std::vector<std::uint8_t>> Answer(const vnet::Endpoint& from, const vnet::Packet& request,
                                                    Clock::time_point now);
    void NoteRequest(const vnet::Endpoint& from, const vnet::Packet& request, bool repeat, Clock::time_point now);
    void TraceServed(const vnet::Packet& request, const vnet::Packet& reply) const;
    void Send(const asio::ip::udp::endpoint& to, const std::vector<std::uint8_t>& datagram);
    void Reschedule(); // after a change of the delay

    asio::io_context& io_;
    asio::ip::udp::socket socket_;
    asio::steady_timer replyTimer_;
    asio::steady_timer linkTimer_;
    std::array<std::uint8_t, vnet::kMaxDatagram + 1> buffer_{};
    asio::ip::udp::endpoint from_;
    FaultState faults_;
    bool trace_;
    bool exitWithStdin_;
    vcard::VirtualCard card_;
    std::mt19937_64 rng_;
    std::uniform_real_distribution<double> chance_{0.0, 1.0};
    std::deque<DelayedReply> delayed_; // in due order
    std::optional<Clock::time_point> lastHeard_;
    vnet::ReplyCache cache_;
    vnet::WriteOrder order_;
    std::optional<PcLink> pc_;
    std::shared_ptr<Replay> replay_; // shared with the card's input override
    std::uint64_t delayDropped_ = 0; // replies dropped from a full delay queue
    std::uint64_t stale_ = 0;        // writes refused: older than one already run
};

} // namespace emu
