// SPDX-License-Identifier: GPL-3.0-or-later
// IPv4 endpoints as the card's address settings give them, with no socket
// headers: the same on Linux and Windows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vnet {

struct Endpoint {
    std::array<std::uint8_t, 4> address{}; // most significant first
    std::uint16_t port = 0;
    bool operator==(const Endpoint&) const = default;
};

// Dotted IPv4 text as its four bytes, most significant first.
std::optional<std::array<std::uint8_t, 4>> ParseIPv4(const std::string& text);

// "a.b.c.d:port" with a numeric IPv4 address that a card can have (not
// 0.0.0.0, a broadcast or a multicast address) and a port 1..65535;
// nothing, with the reason in `why`, otherwise. Host names are not looked
// up: resolving one could hold the first driver call for as long as the
// resolver takes.
std::optional<Endpoint> ParseAddress(const std::string& text, std::string* why = nullptr);

// A local port as MOX_CARD_LOCAL_PORT gives it: 0..65535 in decimal.
std::optional<std::uint16_t> ParsePort(const std::string& text);

// "A.B.C.D:P"
std::string EndpointText(const Endpoint& endpoint);

// 127.0.0.1:port
Endpoint LoopbackEndpoint(std::uint16_t port);

} // namespace vnet
