// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator.h"

#include "card_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace emu {
namespace {

bool ParseNonNegative(const std::string& text, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < 0) return false;
    out = v;
    return true;
}

template <typename Rep, typename Period>
Clock::duration ToClock(std::chrono::duration<Rep, Period> d) {
    return std::chrono::duration_cast<Clock::duration>(d);
}

} // namespace

std::string FaultState::Apply(const std::string& line, bool& quit) {
    std::istringstream in(line);
    std::string word, arg;
    in >> word >> arg;
    double value = 0;
    if (word == "drop" && ParseNonNegative(arg, value) && value <= 1) {
        drop = value;
    } else if (word == "delay" && ParseNonNegative(arg, value)) {
        if (value > kMaxDelayMs) return "error delay must be 0 to " + std::to_string(int(kMaxDelayMs)) + " ms: " + line;
        delayMs = value;
    } else if (word == "silent" && ParseNonNegative(arg, value)) {
        if (value > kMaxSilentSeconds) {
            return "error silent must be 0 to " + std::to_string(int(kMaxSilentSeconds)) + " s: " + line;
        }
        SilenceFor(value);
    } else if (word == "stop") {
        stopped = true;
    } else if (word == "resume") {
        stopped = false;
        silentUntil = {};
    } else if (word == "pc-address" && arg == "auto") {
        pcAddress.reset();
    } else if (word == "pc-address" && vnet::ParseIPv4(arg)) {
        pcAddress = vnet::ParseIPv4(arg);
    } else if (word == "quit") {
        quit = true;
    } else if (word != "status") {
        return "error unknown command: " + line;
    }
    std::ostringstream out;
    out << "ok " << line << " (drop " << drop << ", delay " << delayMs << " ms, " << (stopped ? "stopped" : "running")
        << ")";
    return out.str();
}

void FaultState::SilenceFor(double seconds) {
    silentUntil = Clock::now() + ToClock(std::chrono::duration<double>(std::clamp(seconds, 0.0, kMaxSilentSeconds)));
}

const std::vector<std::uint8_t>* ReplyCache::Find(const sockaddr_in& from, const vnet::Packet& request) const {
    const bool same = request_ && vnet::SameEndpoint(from, from_) && request.seq == request_->seq &&
                      request.session == request_->session && request.op == request_->op &&
                      request.payload == request_->payload;
    return same ? &reply_ : nullptr;
}

void ReplyCache::Store(const sockaddr_in& from, const vnet::Packet& request, const std::vector<std::uint8_t>& reply) {
    from_ = from;
    request_ = request;
    reply_ = reply;
}

Emulator::Emulator(vnet::BoundSocket socket, FaultState faults, std::uint64_t seed, bool trace, bool exitWithStdin)
    : socket_(socket), faults_(faults), trace_(trace), exitWithStdin_(exitWithStdin), rng_(seed) {}

Emulator::~Emulator() {
    if (socket_.fd >= 0) ::close(socket_.fd);
}

void Emulator::Run() {
    while (!quit_) {
        pollfd fds[2] = {{socket_.fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        ::poll(fds, stdinOpen_ ? 2 : 1, PollTimeoutMs(Clock::now()));
        const auto now = Clock::now();
        SendDueReplies(now);
        if (stdinOpen_ && (fds[1].revents & (POLLIN | POLLHUP)) != 0) ReadStandardInput();
        if ((fds[0].revents & POLLIN) != 0) OnDatagram(now);
    }
}

// Until the next delayed reply is due, or for ever.
int Emulator::PollTimeoutMs(Clock::time_point now) const {
    if (delayed_.empty()) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(delayed_.front().due - now);
    return static_cast<int>(std::max<long long>(0, left.count()));
}

void Emulator::SendDueReplies(Clock::time_point now) {
    while (!delayed_.empty() && delayed_.front().due <= now) {
        Send(delayed_.front().to, delayed_.front().datagram);
        delayed_.pop_front();
    }
}

void Emulator::ReadStandardInput() {
    char chunk[512];
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0) {
        stdinOpen_ = false;
        if (exitWithStdin_) quit_ = true;
        return;
    }
    stdinBuffer_.append(chunk, static_cast<std::size_t>(got));
    for (auto nl = stdinBuffer_.find('\n'); nl != std::string::npos; nl = stdinBuffer_.find('\n')) {
        std::string line = stdinBuffer_.substr(0, nl);
        stdinBuffer_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) OnCommandLine(line);
    }
}

void Emulator::OnCommandLine(const std::string& line) {
    const double delay = faults_.delayMs;
    std::printf("%s\n", faults_.Apply(line, quit_).c_str());
    std::fflush(stdout);
    if (faults_.delayMs != delay) Reschedule();
}

// Replies already waiting follow a new delay at once, counted from when
// their request came, as if the delay had been in force then.
void Emulator::Reschedule() {
    const auto delay = ToClock(std::chrono::duration<double, std::milli>(faults_.delayMs));
    for (auto& d : delayed_) d.due = d.received + delay;
    std::stable_sort(delayed_.begin(), delayed_.end(),
                     [](const DelayedReply& a, const DelayedReply& b) { return a.due < b.due; });
}

void Emulator::OnDatagram(Clock::time_point now) {
    std::array<std::uint8_t, vnet::kMaxDatagram + 1> buf{};
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t got = ::recvfrom(socket_.fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (got < 0 || faults_.Deaf(now)) return;
    if (faults_.drop > 0 && chance_(rng_) < faults_.drop) return;
    const auto request = vnet::Decode(std::span(buf.data(), static_cast<std::size_t>(got)));
    if (!request || request->reply) return;
    const auto datagram = Answer(from, *request, now);
    if (!datagram) return;
    if (faults_.delayMs > 0) {
        delayed_.push_back(
            {now, now + ToClock(std::chrono::duration<double, std::milli>(faults_.delayMs)), from, *datagram});
    } else {
        Send(from, *datagram);
    }
}

std::optional<std::vector<std::uint8_t>> Emulator::Answer(const sockaddr_in& from, const vnet::Packet& request,
                                                          Clock::time_point now) {
    if (const auto* cached = cache_.Find(from, request)) return *cached;
    vnet::LinkView link;
    link.pcAddress = faults_.pcAddress ? *faults_.pcAddress : vnet::AddressBytes(from);
    if (lastHeard_) link.downSeconds = vnet::DownSeconds(now - *lastHeard_);
    const auto reply = vnet::Serve(card_, request, link);
    if (!reply) return std::nullopt;
    if (trace_) TraceServed(request, *reply);
    lastHeard_ = now;
    auto datagram = vnet::Encode(*reply);
    cache_.Store(from, request, datagram);
    return datagram;
}

void Emulator::TraceServed(const vnet::Packet& request, const vnet::Packet& reply) const {
    vnet::Reader status(reply.payload);
    std::printf("served op %d seq %u: status %d", static_cast<int>(request.op), request.seq, status.I32());
    if (request.op == vnet::Op::IOCtl && request.payload.size() > 8) {
        std::printf(", command %d, reply", request.payload[8]);
        for (const std::uint8_t b : status.Rest()) std::printf(" %u", b);
    }
    std::printf("\n");
    std::fflush(stdout);
}

void Emulator::Send(const sockaddr_in& to, const std::vector<std::uint8_t>& datagram) const {
    ::sendto(socket_.fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

} // namespace emu
