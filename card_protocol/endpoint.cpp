// SPDX-License-Identifier: GPL-3.0-or-later
#include "endpoint.h"

#include <algorithm>
#include <charconv>

namespace vnet {

std::optional<std::array<std::uint8_t, 4>> ParseIPv4(const std::string& text) {
    // Four decimal parts of one to three digits, 0..255, and nothing else:
    // the strict form, the same on every system.
    std::array<std::uint8_t, 4> out{};
    const char* p = text.data();
    const char* const end = text.data() + text.size();
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i > 0) {
            if (p == end || *p != '.') return std::nullopt;
            ++p;
        }
        unsigned value = 0;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || next == p || next - p > 3 || value > 255 || *p == '+') return std::nullopt;
        out[i] = static_cast<std::uint8_t>(value);
        p = next;
    }
    if (p != end) return std::nullopt;
    return out;
}

std::optional<Endpoint> ParseAddress(const std::string& text, std::string* why) {
    const auto fail = [why](const char* reason) -> std::optional<Endpoint> {
        if (why != nullptr) *why = reason;
        return std::nullopt;
    };
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return fail("it is not address:port");
    const auto port = ParsePort(text.substr(colon + 1));
    if (!port || *port == 0) return fail("the port is not a number from 1 to 65535");
    const auto address = ParseIPv4(text.substr(0, colon));
    if (!address) return fail("the address is not a numeric IPv4 address (host names are not looked up)");
    const auto a = *address;
    const bool any = a == std::array<std::uint8_t, 4>{};
    const bool broadcast = a == std::array<std::uint8_t, 4>{255, 255, 255, 255};
    if (any || broadcast || (a[0] >> 4) == 0xE) {
        return fail("no card can have that address (0.0.0.0, broadcast or multicast)");
    }
    return Endpoint{a, *port};
}

std::optional<std::uint16_t> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const long port = std::stol(text);
    if (port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

std::string EndpointText(const Endpoint& endpoint) {
    const auto& a = endpoint.address;
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]) +
           ":" + std::to_string(endpoint.port);
}

Endpoint LoopbackEndpoint(std::uint16_t port) { return Endpoint{{127, 0, 0, 1}, port}; }

} // namespace vnet
