// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge.h"

#include "command_input.h"
#include "udp.h"

#include <asio/signal_set.hpp>

#include <array>
#include <cstdio>
#include <functional>
#include <sstream>

namespace bridge {

std::string CountersText(const Counters& c) {
    std::ostringstream out;
    out << c.served << " served, " << c.repeated << " repeated, " << c.refused << " refused (driver stuck), " << c.stale
        << " refused (older than a write already run), " << c.foreign << " dropped from senders not allowed, "
        << c.malformed << " malformed dropped";
    return out.str();
}

DriverWorker::DriverWorker(vcard::CardApi& card) : card_(card), thread_([this] { Loop(); }) {}

DriverWorker::~DriverWorker() {
    bool stuck = false;
    {
        std::lock_guard lock(m_);
        quit_ = true;
        stuck = busy_ && !done_;
    }
    cv_.notify_all();
    // A call stuck in the driver would hold the join for ever: leave it.
    if (stuck) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void DriverWorker::Loop() {
    std::unique_lock lock(m_);
    for (;;) {
        cv_.wait(lock, [this] { return quit_ || job_.has_value(); });
        if (quit_) return;
        const vnet::Packet request = std::move(*job_);
        job_.reset();
        lock.unlock();
        auto reply = vnet::Serve(card_, request, nullptr);
        lock.lock();
        reply_ = std::move(reply);
        done_ = true;
        cv_.notify_all();
    }
}

DriverWorker::Result DriverWorker::Run(const vnet::Packet& request, std::chrono::milliseconds bound) {
    std::unique_lock lock(m_);
    if (busy_ && !done_) return {Outcome::Busy, std::nullopt};
    busy_ = true;
    done_ = false;
    late_ = false;
    reply_.reset();
    job_ = request;
    cv_.notify_all();
    if (!cv_.wait_for(lock, bound, [this] { return done_; })) {
        late_ = true;
        return {Outcome::TimedOut, std::nullopt};
    }
    busy_ = false;
    if (!reply_) return {Outcome::Malformed, std::nullopt};
    return {Outcome::Done, std::move(reply_)};
}

std::optional<vnet::Packet> DriverWorker::TakeLate() {
    std::lock_guard lock(m_);
    if (!late_ || !done_) return std::nullopt;
    late_ = false;
    busy_ = false;
    return std::move(reply_);
}

Bridge::Bridge(vcard::CardApi& card, Options options)
    : options_(std::move(options)), worker_(card),
      own_(options_.ownAddresses ? options_.ownAddresses() : std::vector<Address>{}),
      ownListed_(std::chrono::steady_clock::now()) {}

bool Bridge::Allowed(const vnet::Endpoint& from) {
    for (const auto& a : options_.allowed) {
        if (a == from.address) return true;
    }
    if (IsLocal(from.address, own_)) return true;
    // An address this computer took since they were last listed (a new
    // interface, a new DHCP lease): listed again, at most every 5 s, so
    // that a flood from outside costs no more than that.
    const auto now = std::chrono::steady_clock::now();
    if (!options_.ownAddresses || now - ownListed_ < std::chrono::seconds(5)) return false;
    own_ = options_.ownAddresses();
    ownListed_ = now;
    return IsLocal(from.address, own_);
}

void Bridge::Trace(const char* what, const vnet::Endpoint& from, const vnet::Packet* request) const {
    if (!options_.trace) return;
    if (request != nullptr) {
        std::printf("%s: op %d seq %u from %s\n", what, static_cast<int>(request->op), request->seq,
                    vnet::EndpointText(from).c_str());
    } else {
        std::printf("%s: from %s\n", what, vnet::EndpointText(from).c_str());
    }
    std::fflush(stdout);
}

std::optional<std::vector<std::uint8_t>> Bridge::Handle(const vnet::Endpoint& from,
                                                        std::span<const std::uint8_t> bytes) {
    if (!Allowed(from)) {
        ++counters_.foreign;
        Trace("dropped, sender not allowed", from, nullptr);
        return std::nullopt;
    }
    const auto request = vnet::Decode(bytes);
    if (!request || request->reply) {
        ++counters_.malformed;
        Trace("dropped, malformed", from, nullptr);
        return std::nullopt;
    }
    // A call that outlived its bound and has returned since: its reply
    // answers a repeat of its request, which is therefore not run again.
    if (auto late = worker_.TakeLate()) {
        if (stuck_) cache_.Store(stuck_->first, stuck_->second, vnet::Encode(*late));
        stuck_.reset();
    }
    if (const auto* cached = cache_.Find(from, *request)) {
        ++counters_.repeated;
        Trace("repeated", from, &*request);
        return *cached;
    }
    // Refused rather than dropped: the driver, if it still waits, fails the
    // call at once instead of sending it again for its whole budget.
    // The stuck call's own request, sent again, is not stale: it waits for
    // its reply (refused as busy until then, answered from the cache after).
    const bool stuckOne = stuck_ && stuck_->first == from && stuck_->second.seq == request->seq &&
                          stuck_->second.session == request->session && stuck_->second.op == request->op &&
                          stuck_->second.payload == request->payload;
    if (!stuckOne && order_.Stale(from, *request)) {
        ++counters_.stale;
        Trace("refused, older than a write already run", from, &*request);
        return vnet::Encode(vnet::Refusal(*request));
    }
    return Run(from, *request);
}

std::optional<std::vector<std::uint8_t>> Bridge::Run(const vnet::Endpoint& from, const vnet::Packet& request) {
    const auto result = worker_.Run(request, options_.callBound);
    switch (result.outcome) {
    case DriverWorker::Outcome::Done: {
        ++counters_.served;
        order_.Ran(from, request);
        Trace("served", from, &request);
        auto datagram = vnet::Encode(*result.reply);
        cache_.Store(from, request, datagram);
        return datagram;
    }
    case DriverWorker::Outcome::Malformed:
        ++counters_.malformed;
        Trace("dropped, malformed", from, &request);
        return std::nullopt;
    case DriverWorker::Outcome::TimedOut:
        // Still running on the driver: as good as run.
        order_.Ran(from, request);
        stuck_.emplace(from, request);
        ++counters_.refused;
        Trace("refused, the driver call is still running", from, &request);
        return vnet::Encode(vnet::Refusal(request));
    case DriverWorker::Outcome::Busy:
        break;
    }
    ++counters_.refused;
    Trace("refused, the driver is stuck in an earlier call", from, &request);
    return vnet::Encode(vnet::Refusal(request));
}

void Bridge::Serve(asio::io_context& io, asio::ip::udp::socket& socket, const std::function<void()>& ready) {
    std::array<std::uint8_t, vnet::kMaxDatagram + 1> buffer{};
    asio::ip::udp::endpoint from;
    std::function<void()> receive = [&] {
        socket.async_receive_from(asio::buffer(buffer), from, [&](const asio::error_code& ec, std::size_t got) {
            if (ec == asio::error::operation_aborted) return;
            if (!ec) {
                const auto reply = Handle(vnet::FromAsio(from), std::span(buffer.data(), got));
                asio::error_code sendError;
                if (reply) socket.send_to(asio::buffer(*reply), from, 0, sendError); // the client asks again
            }
            receive();
        });
    };
    vnet::ReadCommandLines(
        io,
        [this, &io](const std::string& line) {
            if (line == "status") {
                std::printf("ok status: %s\n", CountersText(counters_).c_str());
            } else if (line == "quit") {
                std::printf("ok quit\n");
                io.stop();
            } else {
                std::printf("error unknown command: %s\n", line.c_str());
            }
            std::fflush(stdout);
        },
        options_.exitWithStdin);
    // Ctrl-C and a service manager's stop end it as "quit" does, so that
    // the summary is still printed.
    asio::signal_set stopSignals(io, SIGINT, SIGTERM);
    stopSignals.async_wait([&io](const asio::error_code& ec, int) {
        if (!ec) io.stop();
    });
    receive();
    if (ready) ready();
    io.run();
}

} // namespace bridge
