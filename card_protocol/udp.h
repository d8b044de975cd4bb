// SPDX-License-Identifier: GPL-3.0-or-later
// UDP sockets for both ends of the card link, on Asio: the same code on
// Linux and Windows.
#pragma once

#include "endpoint.h"

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include <optional>
#include <string>

namespace vnet {

asio::ip::udp::endpoint ToAsio(const Endpoint& endpoint);
Endpoint FromAsio(const asio::ip::udp::endpoint& endpoint);

// A UDP socket bound to `local` (port 0 picks one), this process's alone:
// no address reuse, so that no other process can take the port and
// receive what is meant for it. On failure, nothing, with `error` naming
// the address and the reason.
std::optional<asio::ip::udp::socket> OpenUdpSocket(asio::io_context& io, const Endpoint& local, std::string& error);

} // namespace vnet
