// SPDX-License-Identifier: GPL-3.0-or-later
// The driver bridge: the card protocol's card side in front of a card driver
// library. Requests are checked (allowed sender, well-formed) on the network
// thread and run on the driver by a worker thread of their own; a call that
// does not return within the bound is answered as refused, and so is every
// request until it returns, so no client ever waits on a hung driver.
#pragma once

#include "card_api.h"
#include "card_server.h"
#include "endpoint.h"
#include "options.h"
#include "protocol.h"

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace bridge {

struct Counters {
    std::uint64_t served = 0;    // run on the driver and answered
    std::uint64_t repeated = 0;  // answered again from the reply cache
    std::uint64_t refused = 0;   // answered as refused: the driver was stuck
    std::uint64_t stale = 0;     // answered as refused: a write older than one already run
    std::uint64_t foreign = 0;   // dropped: sender not allowed
    std::uint64_t malformed = 0; // dropped: not a well-formed request
};
std::string CountersText(const Counters& c);

// Runs one request at a time on the driver, on a thread of its own.
class DriverWorker {
public:
    explicit DriverWorker(vcard::CardApi& card);
    ~DriverWorker();
    DriverWorker(const DriverWorker&) = delete;
    DriverWorker& operator=(const DriverWorker&) = delete;

    enum class Outcome { Done, Malformed, TimedOut, Busy };
    struct Result {
        Outcome outcome = Outcome::Busy;
        std::optional<vnet::Packet> reply;
    };
    // Runs the request and waits for it within `bound`. TimedOut leaves the
    // worker busy until the call returns; Busy runs nothing.
    Result Run(const vnet::Packet& request, std::chrono::milliseconds bound);
    // The reply of a call that outlived its bound, once it has returned.
    std::optional<vnet::Packet> TakeLate();

private:
    void Loop();

    vcard::CardApi& card_;
    std::mutex m_;
    std::condition_variable cv_;
    std::optional<vnet::Packet> job_;
    std::optional<vnet::Packet> reply_;
    bool busy_ = false;
    bool done_ = false;
    bool late_ = false; // the caller stopped waiting
    bool quit_ = false;
    std::thread thread_;
};

class Bridge {
public:
    Bridge(vcard::CardApi& card, Options options);

    // The datagram to send back to `from`, or nothing when the datagram is
    // dropped. No sockets: the network loop, the tests and the fuzzer call it.
    std::optional<std::vector<std::uint8_t>> Handle(const vnet::Endpoint& from, std::span<const std::uint8_t> bytes);
    const Counters& counters() const { return counters_; }

    // Serves on the socket until "quit", SIGINT or SIGTERM, or until
    // standard input closes with exitWithStdin. `ready` runs once the stop
    // signals are caught, before the first datagram is read.
    void Serve(asio::io_context& io, asio::ip::udp::socket& socket, const std::function<void()>& ready = {});

private:
    bool Allowed(const vnet::Endpoint& from);
    // The answer to a request that passed the checks: run, refused or dropped.
    std::optional<std::vector<std::uint8_t>> Run(const vnet::Endpoint& from, const vnet::Packet& request);
    void Trace(const char* what, const vnet::Endpoint& from, const vnet::Packet* request) const;

    Options options_;
    DriverWorker worker_;
    vnet::ReplyCache cache_;
    vnet::WriteOrder order_;
    Counters counters_;
    std::vector<Address> own_; // this computer's addresses, as last listed
    std::chrono::steady_clock::time_point ownListed_;
    // The request whose call outlived its bound, to be cached when it returns.
    std::optional<std::pair<vnet::Endpoint, vnet::Packet>> stuck_;
};

} // namespace bridge
