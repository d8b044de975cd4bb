// SPDX-License-Identifier: GPL-3.0-or-later
// Which senders are this computer: the loopback network and the addresses
// of its own network interfaces.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace bridge {

using Address = std::array<std::uint8_t, 4>;

// The IPv4 addresses of this computer's interfaces, as the system lists
// them now (getifaddrs on Linux, GetAdaptersAddresses on Windows); empty
// when they cannot be listed.
std::vector<Address> OwnAddresses();

// Whether a datagram from `sender` came from this computer: a loopback
// address (127.x.x.x) or one of its own addresses.
bool IsLocal(const Address& sender, std::span<const Address> own);

} // namespace bridge
