// SPDX-License-Identifier: GPL-3.0-or-later
#include "udp.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vnet {

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

std::optional<std::array<std::uint8_t, 4>> ParseIPv4(const std::string& text) {
    in_addr addr{};
    if (inet_pton(AF_INET, text.c_str(), &addr) != 1) return std::nullopt;
    std::array<std::uint8_t, 4> out{};
    std::memcpy(out.data(), &addr.s_addr, 4); // network order: first component first
    return out;
}

std::array<std::uint8_t, 4> AddressBytes(const sockaddr_in& endpoint) {
    std::array<std::uint8_t, 4> out{};
    std::memcpy(out.data(), &endpoint.sin_addr.s_addr, 4);
    return out;
}

std::string EndpointText(const sockaddr_in& endpoint) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &endpoint.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(endpoint.sin_port));
}

std::optional<BoundSocket> OpenUdpSocket(const std::string& address, std::uint16_t port, std::string& error) {
    BoundSocket s;
    s.local.sin_family = AF_INET;
    s.local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &s.local.sin_addr) != 1) {
        error = "bad address " + address;
        return std::nullopt;
    }
    s.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s.fd < 0) {
        error = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return std::nullopt;
    }
    // No SO_REUSEADDR: the port is this card's alone. Another process bound
    // to it would receive the driver's requests and answer them itself.
    socklen_t len = sizeof s.local;
    if (::bind(s.fd, reinterpret_cast<const sockaddr*>(&s.local), sizeof s.local) != 0 ||
        ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&s.local), &len) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(s.fd);
        return std::nullopt;
    }
    return s;
}

} // namespace vnet
