// SPDX-License-Identifier: GPL-3.0-or-later
#include "udp.h"

#ifdef _WIN32
#include <mswsock.h>
#endif

namespace vnet {

asio::ip::udp::endpoint ToAsio(const Endpoint& endpoint) {
    return {asio::ip::address_v4(endpoint.address), endpoint.port};
}

Endpoint FromAsio(const asio::ip::udp::endpoint& endpoint) {
    if (!endpoint.address().is_v4()) return Endpoint{{}, endpoint.port()};
    return Endpoint{endpoint.address().to_v4().to_bytes(), endpoint.port()};
}

std::optional<asio::ip::udp::socket> OpenUdpSocket(asio::io_context& io, const Endpoint& local, std::string& error) {
    asio::ip::udp::socket socket(io);
    asio::error_code ec;
    socket.open(asio::ip::udp::v4(), ec);
    if (ec) {
        error = "cannot open a UDP socket: " + ec.message();
        return std::nullopt;
    }
#ifdef _WIN32
    // Windows lets a second socket take a bound port unless it is
    // exclusive; Linux refuses it already without SO_REUSEADDR.
    BOOL exclusive = TRUE;
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    // A reply that met a closed port makes Windows fail the next receive
    // with WSAECONNRESET (Linux and Wine do not); for a datagram service
    // that is noise, so it is switched off.
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(socket.native_handle(), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
               nullptr);
#endif
    socket.bind(ToAsio(local), ec);
    if (ec) {
        error = "cannot use " + EndpointText(local) + ": " + ec.message();
        return std::nullopt;
    }
    socket.non_blocking(true, ec);
    return socket;
}

} // namespace vnet
