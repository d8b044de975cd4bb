// SPDX-License-Identifier: GPL-3.0-or-later
// IPv4 UDP helpers shared by the card's side and the driver's side.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vnet {

// Same address and port.
bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b);

// Dotted IPv4 text as its four bytes, most significant first.
std::optional<std::array<std::uint8_t, 4>> ParseIPv4(const std::string& text);

// The four address bytes of an endpoint, most significant first.
std::array<std::uint8_t, 4> AddressBytes(const sockaddr_in& endpoint);

// "A.B.C.D:P"
std::string EndpointText(const sockaddr_in& endpoint);

struct BoundSocket {
    int fd = -1;
    sockaddr_in local{}; // with the port the system picked for port 0
};

// A UDP socket bound to address:port (port 0 picks one), close-on-exec.
// On failure, nothing, with `error` naming the address and the reason.
std::optional<BoundSocket> OpenUdpSocket(const std::string& address, std::uint16_t port, std::string& error);

} // namespace vnet
