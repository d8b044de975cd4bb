// SPDX-License-Identifier: GPL-3.0-or-later
// The emulator: the software card answering the card protocol on a UDP
// socket, with faults that can be switched while it runs.
#pragma once

#include "card_model.h"
#include "protocol.h"
#include "udp.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace emu {

using Clock = std::chrono::steady_clock;

// The faults in force, switched by commands ("drop 0.2", "stop", ...).
// The largest fault settings: beyond them the clock arithmetic would
// overflow, and no test needs more.
constexpr double kMaxDelayMs = 60'000;
constexpr double kMaxSilentSeconds = 86'400;

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

// The last request answered and its reply, so that a repeated request (same
// sender, sequence number, operation and payload) is answered again without
// running it twice.
class ReplyCache {
public:
    const std::vector<std::uint8_t>* Find(const sockaddr_in& from, const vnet::Packet& request) const;
    void Store(const sockaddr_in& from, const vnet::Packet& request, const std::vector<std::uint8_t>& reply);

private:
    sockaddr_in from_{};
    std::optional<vnet::Packet> request_;
    std::vector<std::uint8_t> reply_;
};

class Emulator {
public:
    Emulator(vnet::BoundSocket socket, FaultState faults, std::uint64_t seed, bool trace, bool exitWithStdin);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Serves until "quit", or until standard input closes with exitWithStdin.
    void Run();

private:
    struct DelayedReply {
        Clock::time_point received;
        Clock::time_point due;
        sockaddr_in to;
        std::vector<std::uint8_t> datagram;
    };

    int PollTimeoutMs(Clock::time_point now) const;
    void SendDueReplies(Clock::time_point now);
    void ReadStandardInput();
    void OnCommandLine(const std::string& line);
    void OnDatagram(Clock::time_point now);
    // The reply datagram to a request, or nothing when none is given.
    std::optional<std::vector<std::uint8_t>> Answer(const sockaddr_in& from, const vnet::Packet& request,
                                                    Clock::time_point now);
    void TraceServed(const vnet::Packet& request, const vnet::Packet& reply) const;
    void Send(const sockaddr_in& to, const std::vector<std::uint8_t>& datagram) const;

    vnet::BoundSocket socket_;
    FaultState faults_;
    bool trace_;
    bool exitWithStdin_;
    bool quit_ = false;
    bool stdinOpen_ = true;
    std::string stdinBuffer_;
    vcard::VirtualCard card_;
    std::mt19937_64 rng_;
    std::uniform_real_distribution<double> chance_{0.0, 1.0};
    std::deque<DelayedReply> delayed_; // in due order
    void Reschedule();                 // after a change of the delay
    std::optional<Clock::time_point> lastHeard_;
    ReplyCache cache_;
};

} // namespace emu
