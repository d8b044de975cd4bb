// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator.h"

#include "card_server.h"
#include "command_input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
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

std::string LinkText(const PcLink& link, Clock::time_point now) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(1) << "PC " << vnet::EndpointText(link.pc) << " session " << std::hex
        << link.session << std::dec << ": " << (link.quiet ? "quiet" : "heard") << ", last request "
        << std::chrono::duration<double>(now - link.lastHeard).count() << " s ago, " << link.requests << " requests, "
        << link.repeats << " repeated ("
        << (link.requests == 0 ? 0.0 : 100.0 * static_cast<double>(link.repeats) / static_cast<double>(link.requests))
        << " % lost on the way)";
    return out.str();
}

Emulator::Emulator(asio::io_context& io, asio::ip::udp::socket socket, FaultState faults, std::uint64_t seed,
                   bool trace, bool exitWithStdin)
    : io_(io), socket_(std::move(socket)), replyTimer_(io), linkTimer_(io), faults_(faults), trace_(trace),
      exitWithStdin_(exitWithStdin), rng_(seed) {}

void Emulator::Run() {
    vnet::ReadCommandLines(
        io_, [this](const std::string& line) { OnCommandLine(line); }, exitWithStdin_);
    Start();
    io_.run();
}

void Emulator::Start() {
    Receive();
    WatchLink();
}

void Emulator::PlayBack(Replay replay) {
    replay_ = std::make_shared<Replay>(std::move(replay));
    replay_->StartAt(vcard::SteadySeconds());
    card_.SetInputOverride([r = replay_](int ch, double seconds) { return r->Volts(ch, seconds); });
}

std::string Emulator::QueueText() const {
    std::ostringstream out;
    out << delayed_.size() << " replies delayed (at most " << kMaxDelayedReplies << "), " << delayDropped_
        << " dropped from a full delay queue, " << stale_ << " stale writes refused";
    return out.str();
}

std::string Emulator::Summary() const {
    std::string text = QueueText();
    if (pc_) text += "; " + LinkText(*pc_, Clock::now());
    return text;
}

void Emulator::Receive() {
    socket_.async_receive_from(asio::buffer(buffer_), from_, [this](const asio::error_code& ec, std::size_t got) {
        if (ec == asio::error::operation_aborted) return;
        if (!ec) OnDatagram(std::span(buffer_.data(), got), Clock::now());
        Receive();
    });
}

// The timer waits for the first delayed reply; setting it again cancels
// the wait it had.
void Emulator::ArmReplyTimer() {
    if (delayed_.empty()) return;
    replyTimer_.expires_at(delayed_.front().due);
    replyTimer_.async_wait([this](const asio::error_code& ec) {
        if (ec) return;
        SendDueReplies(Clock::now());
        ArmReplyTimer();
    });
}

// With --trace, a line when the PC falls quiet for a second or is heard
// again.
void Emulator::WatchLink() {
    linkTimer_.expires_after(std::chrono::milliseconds(100));
    linkTimer_.async_wait([this](const asio::error_code& ec) {
        if (ec) return;
        const auto now = Clock::now();
        if (pc_ && !pc_->quiet && now - pc_->lastHeard > std::chrono::seconds(1)) {
            pc_->quiet = true;
            if (trace_) std::printf("link: %s\n", LinkText(*pc_, now).c_str());
            std::fflush(stdout);
        }
        WatchLink();
    });
}

void Emulator::SendDueReplies(Clock::time_point now) {
    while (!delayed_.empty() && delayed_.front().due <= now) {
        Send(delayed_.front().to, delayed_.front().datagram);
        delayed_.pop_front();
    }
}

void Emulator::OnCommandLine(const std::string& line) {
    std::printf("%s\n", Command(line).c_str());
    std::fflush(stdout);
}

std::string Emulator::Command(const std::string& line) {
    const double delay = faults_.delayMs;
    bool quit = false;
    std::string answer = faults_.Apply(line, quit);
    if (line.rfind("status", 0) == 0 && answer.rfind("ok", 0) == 0) {
        answer += "; " + QueueText();
        if (pc_) answer += "; " + LinkText(*pc_, Clock::now());
        if (replay_) answer += "; " + replay_->StatusText(vcard::SteadySeconds());
    }
    if (faults_.delayMs != delay) Reschedule();
    if (quit) io_.stop();
    return answer;
}

// Replies already waiting follow a new delay at once, counted from when
// their request came, as if the delay had been in force then.
void Emulator::Reschedule() {
    const auto delay = ToClock(std::chrono::duration<double, std::milli>(faults_.delayMs));
    for (auto& d : delayed_) d.due = d.received + delay;
    std::stable_sort(delayed_.begin(), delayed_.end(),
                     [](const DelayedReply& a, const DelayedReply& b) { return a.due < b.due; });
    ArmReplyTimer();
}

void Emulator::OnDatagram(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (faults_.Deaf(now)) return;
    if (faults_.drop > 0 && chance_(rng_) < faults_.drop) return;
    const auto request = vnet::Decode(bytes);
    if (!request || request->reply) return;
    const auto datagram = Answer(vnet::FromAsio(from_), *request, now);
    if (!datagram) return;
    if (faults_.delayMs > 0) {
        Delay(now, *datagram);
    } else {
        Send(from_, *datagram);
    }
}

// The newest reply is the one dropped: those waiting keep their turn, and
// the request, asked again, is answered from the reply cache.
void Emulator::Delay(Clock::time_point now, const std::vector<std::uint8_t>& datagram) {
    if (delayed_.size() >= kMaxDelayedReplies) {
        ++delayDropped_;
        return;
    }
    delayed_.push_back(
        {now, now + ToClock(std::chrono::duration<double, std::milli>(faults_.delayMs)), from_, datagram});
    if (delayed_.size() == 1) ArmReplyTimer();
}

std::optional<std::vector<std::uint8_t>> Emulator::Answer(const vnet::Endpoint& from, const vnet::Packet& request,
                                                          Clock::time_point now) {
    if (const auto* cached = cache_.Find(from, request)) {
        NoteRequest(from, request, true, now);
        return *cached;
    }
    // Refused, not dropped: the driver, if it still waits, fails the call at
    // once rather than send it again.
    if (order_.Stale(from, request)) {
        ++stale_;
        NoteRequest(from, request, false, now);
        return vnet::Encode(vnet::Refusal(request));
    }
    vnet::LinkView link;
    link.pcAddress = faults_.pcAddress ? *faults_.pcAddress : from.address;
    if (lastHeard_) link.downSeconds = vnet::DownSeconds(now - *lastHeard_);
    const auto reply = vnet::Serve(card_, request, &link);
    if (!reply) return std::nullopt;
    if (trace_) TraceServed(request, *reply);
    order_.Ran(from, request);
    lastHeard_ = now;
    NoteRequest(from, request, false, now);
    auto datagram = vnet::Encode(*reply);
    cache_.Store(from, request, datagram);
    return datagram;
}

void Emulator::NoteRequest(const vnet::Endpoint& from, const vnet::Packet& request, bool repeat,
                           Clock::time_point now) {
    if (!pc_ || pc_->pc != from || pc_->session != request.session) {
        pc_ = PcLink{from, request.session, 0, 0, now, true};
    }
    ++pc_->requests;
    if (repeat) ++pc_->repeats;
    if (pc_->quiet) {
        pc_->quiet = false;
        if (trace_) std::printf("link: %s\n", LinkText(*pc_, now).c_str());
        std::fflush(stdout);
    }
    pc_->lastHeard = now;
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

void Emulator::Send(const asio::ip::udp::endpoint& to, const std::vector<std::uint8_t>& datagram) {
    asio::error_code ec;
    socket_.send_to(asio::buffer(datagram), to, 0, ec); // a lost reply is asked for again
}

} // namespace emu
