// mox-card-emulator: the virtual card's firmware on the network.
//
//   mox-card-emulator [--address A.B.C.D] [--port N] [--pc-address A.B.C.D]
//                     [--drop FRACTION] [--delay MS] [--silent SECONDS] [--seed N]
//                     [--trace 1] [--exit-with-stdin 1]
//
// Answers the card protocol (docs/card-protocol.md) over UDP on the given
// address and port (127.0.0.1:7710 by default; port 0 picks a free one) and
// prints "listening on ADDRESS:PORT"; --trace 1 adds a line for each request
// it answers, and --exit-with-stdin 1 ends it when its standard input closes
// (so it goes with the process that started it). The faults can be switched
// while it runs, one command per line on standard input, each answered with
// "ok ..." or "error ...":
//   drop FRACTION | delay MS | silent SECONDS | stop | resume |
//   pc-address A.B.C.D | pc-address auto | status | quit
#include "card_model.h"
#include "card_server.h"
#include "protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Faults {
    double drop = 0;    // fraction of requests lost
    double delayMs = 0; // added before each reply
    Clock::time_point silentUntil{};
    bool stopped = false;
    std::optional<std::array<std::uint8_t, 4>> pcAddress; // reported instead of the source
};

struct Pending {
    Clock::time_point due;
    sockaddr_in to;
    std::vector<std::uint8_t> datagram;
};

std::optional<std::array<std::uint8_t, 4>> ParseIPv4(const std::string& text) {
    in_addr addr{};
    if (inet_pton(AF_INET, text.c_str(), &addr) != 1) return std::nullopt;
    std::array<std::uint8_t, 4> out{};
    std::memcpy(out.data(), &addr.s_addr, 4); // network order: first component first
    return out;
}

bool ParseDouble(const std::string& text, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < 0) return false;
    out = v;
    return true;
}

// Applies one fault command; returns the answer line.
std::string Command(const std::string& line, Faults& faults, bool& quit) {
    std::istringstream in(line);
    std::string word, arg;
    in >> word >> arg;
    double value = 0;
    if (word == "drop" && ParseDouble(arg, value) && value <= 1) {
        faults.drop = value;
    } else if (word == "delay" && ParseDouble(arg, value)) {
        faults.delayMs = value;
    } else if (word == "silent" && ParseDouble(arg, value)) {
        faults.silentUntil =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
    } else if (word == "stop") {
        faults.stopped = true;
    } else if (word == "resume") {
        faults.stopped = false;
        faults.silentUntil = {};
    } else if (word == "pc-address" && arg == "auto") {
        faults.pcAddress.reset();
    } else if (word == "pc-address" && ParseIPv4(arg)) {
        faults.pcAddress = ParseIPv4(arg);
    } else if (word == "quit") {
        quit = true;
    } else if (word != "status") {
        return "error unknown command: " + line;
    }
    std::ostringstream out;
    out << "ok " << line << " (drop " << faults.drop << ", delay " << faults.delayMs << " ms, "
        << (faults.stopped ? "stopped" : "running") << ")";
    return out.str();
}

int Usage() {
    std::fprintf(stderr, "usage: mox-card-emulator [--address A.B.C.D] [--port N] [--pc-address A.B.C.D]\n"
                         "                         [--drop FRACTION] [--delay MS] [--silent SECONDS] [--seed N]\n"
                         "                         [--trace 1] [--exit-with-stdin 1]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string address = "127.0.0.1";
    long port = 7710;
    Faults faults;
    std::uint64_t seed = std::random_device{}();
    bool quit = false;
    bool trace = false;
    bool exitWithStdin = false;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string value = argv[++i];
        double number = 0;
        if (opt == "--address") {
            address = value;
        } else if (opt == "--port") {
            char* end = nullptr;
            port = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) return Usage();
        } else if (opt == "--exit-with-stdin") {
            exitWithStdin = value == "1";
        } else if (opt == "--trace") {
            trace = value == "1";
        } else if (opt == "--seed") {
            seed = std::strtoull(value.c_str(), nullptr, 10);
        } else if (opt == "--pc-address" || opt == "--drop" || opt == "--delay" || opt == "--silent") {
            if (opt != "--pc-address" && !ParseDouble(value, number)) return Usage();
            if (Command(opt.substr(2) + " " + value, faults, quit).rfind("ok", 0) != 0) return Usage();
        } else {
            return Usage();
        }
    }

    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (sock < 0 || inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        std::fprintf(stderr, "mox-card-emulator: bad address %s\n", address.c_str());
        return 1;
    }
    const int one = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof local;
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        std::fprintf(stderr, "mox-card-emulator: cannot listen on %s:%ld: %s\n", address.c_str(), port,
                     std::strerror(errno));
        return 1;
    }
    std::printf("listening on %s:%u\n", address.c_str(), ntohs(local.sin_port));
    std::fflush(stdout);

    vcard::VirtualCard card;
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::deque<Pending> pending; // delayed replies, in due order
    std::optional<Clock::time_point> lastHeard;
    // The last request answered, so that a repeated request is answered
    // again without running it twice.
    sockaddr_in lastFrom{};
    std::optional<vnet::Packet> lastRequest;
    std::vector<std::uint8_t> lastReply;
    bool stdinOpen = true;
    std::string stdinBuffer;

    while (!quit) {
        int timeout = -1;
        if (!pending.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(pending.front().due - Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        }
        pollfd fds[2] = {{sock, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        ::poll(fds, stdinOpen ? 2 : 1, timeout);

        const auto now = Clock::now();
        while (!pending.empty() && pending.front().due <= now) {
            const auto& p = pending.front();
            ::sendto(sock, p.datagram.data(), p.datagram.size(), 0, reinterpret_cast<const sockaddr*>(&p.to),
                     sizeof p.to);
            pending.pop_front();
        }

        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            char chunk[512];
            const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (got <= 0) {
                stdinOpen = false;
                if (exitWithStdin) quit = true;
            } else {
                stdinBuffer.append(chunk, static_cast<std::size_t>(got));
                for (auto nl = stdinBuffer.find('\n'); nl != std::string::npos; nl = stdinBuffer.find('\n')) {
                    std::string line = stdinBuffer.substr(0, nl);
                    stdinBuffer.erase(0, nl + 1);
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    if (line.empty()) continue;
                    std::printf("%s\n", Command(line, faults, quit).c_str());
                    std::fflush(stdout);
                }
            }
        }

        if ((fds[0].revents & POLLIN) == 0) continue;
        std::array<std::uint8_t, vnet::kMaxDatagram + 1> buf{};
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t got = ::recvfrom(sock, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got < 0) continue;
        if (faults.stopped || now < faults.silentUntil) continue;
        if (faults.drop > 0 && chance(rng) < faults.drop) continue;
        const auto request = vnet::Decode(std::span(buf.data(), static_cast<std::size_t>(got)));
        if (!request || request->reply) continue;

        std::vector<std::uint8_t> datagram;
        if (lastRequest && from.sin_addr.s_addr == lastFrom.sin_addr.s_addr && from.sin_port == lastFrom.sin_port &&
            request->seq == lastRequest->seq && request->op == lastRequest->op &&
            request->payload == lastRequest->payload) {
            datagram = lastReply;
        } else {
            vnet::LinkView link;
            if (faults.pcAddress) {
                link.pcAddress = *faults.pcAddress;
            } else {
                std::memcpy(link.pcAddress.data(), &from.sin_addr.s_addr, 4);
            }
            if (lastHeard) {
                const auto quiet = std::chrono::duration_cast<std::chrono::seconds>(now - *lastHeard).count();
                link.downSeconds = static_cast<std::uint16_t>(std::clamp<long long>(quiet, 0, 65535));
            }
            const auto reply = vnet::Serve(card, *request, link);
            if (!reply) continue;
            if (trace) {
                vnet::Reader status(reply->payload);
                std::printf("served op %d seq %u: status %d", static_cast<int>(request->op), request->seq,
                            status.I32());
                if (request->op == vnet::Op::IOCtl && request->payload.size() > 8) {
                    std::printf(", command %d, reply", request->payload[8]);
                    for (const std::uint8_t b : status.Rest()) std::printf(" %u", b);
                }
                std::printf("\n");
                std::fflush(stdout);
            }
            lastHeard = now;
            datagram = vnet::Encode(*reply);
            lastFrom = from;
            lastRequest = request;
            lastReply = datagram;
        }
        if (faults.delayMs > 0) {
            pending.push_back({now + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double, std::milli>(faults.delayMs)),
                               from, std::move(datagram)});
        } else {
            ::sendto(sock, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        }
    }
    ::close(sock);
    return 0;
}
