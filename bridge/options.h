// SPDX-License-Identifier: GPL-3.0-or-later
// The driver bridge's command line.
#pragma once

#include "endpoint.h"
#include "local_address.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bridge {

struct Options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 7710;
    // Clients allowed besides this computer (127.x.x.x and its own
    // addresses always are).
    std::vector<std::array<std::uint8_t, 4>> allowed;
    // This computer's own addresses, listed again now and then.
    std::function<std::vector<Address>()> ownAddresses = OwnAddresses;
    std::chrono::milliseconds callBound{40};
    bool trace = false;
    bool exitWithStdin = false;
};

struct ParsedOptions {
    std::optional<Options> options; // nothing: end with exitCode, printing text
    int exitCode = 0;               // 0 for --help and --version, 2 for a usage error
    std::string text;
};

ParsedOptions ParseOptions(const std::vector<std::string>& args);

// "127.0.0.1, 192.168.1.10": the loopback address and the others given,
// as the bridge lists this computer's addresses.
std::string AddressList(const std::vector<Address>& addresses);

// Whether listening on this address lets other computers reach the bridge.
bool ReachableFromOutside(const std::array<std::uint8_t, 4>& address);

} // namespace bridge
