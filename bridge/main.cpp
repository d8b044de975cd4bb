// SPDX-License-Identifier: GPL-3.0-or-later
// mox-driver-bridge: serves a card driver library over the card protocol
// (docs/card-protocol.md), so that moxpanel and moxctl reach the card it
// drives through MOX_CARD_ADDRESS. Prints "listening on ADDRESS:PORT" once it
// does; --help lists the options.
#include "DllDef.h"
#include "bridge.h"
#include "driver_card.h"
#include "options.h"
#include "udp.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The socket the bridge serves on; nothing, with the reason said, when it
// cannot be had.
std::optional<asio::ip::udp::socket> OpenSocket(asio::io_context& io, const bridge::Options& o) {
    std::string error;
    const auto address = *vnet::ParseIPv4(o.address);
    auto socket = vnet::OpenUdpSocket(io, vnet::Endpoint{address, o.port}, error);
    if (!socket && !bridge::IsLocal(address, o.ownAddresses())) {
        // The address went away since the options were read.
        std::fprintf(stderr, "mox-driver-bridge: %s\n%s is no longer an address of this computer; its addresses: %s\n",
                     error.c_str(), o.address.c_str(), bridge::AddressList(o.ownAddresses()).c_str());
    } else if (!socket) {
        std::fprintf(stderr,
                     "mox-driver-bridge: %s\nAnother program may hold port %u (a bridge or emulator already "
                     "running?): stop it, or choose another with --port (0 picks a free one)\n",
                     error.c_str(), static_cast<unsigned>(o.port));
    }
    return socket;
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The texts are UTF-8 (a driver's path, a translated system message).
    SetConsoleOutputCP(CP_UTF8);
#endif
    const auto parsed = bridge::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n", parsed.text.c_str());
        return parsed.exitCode;
    }
    const bridge::Options& o = *parsed.options;
    // Our own card driver library would pass every call on to this address:
    // served by the bridge, that could be the bridge itself.
#ifdef _WIN32
    _putenv_s("MOX_CARD_ADDRESS", "");
#else
    ::unsetenv("MOX_CARD_ADDRESS");
#endif
    // Loads the driver now, so that a missing library or entry is said (and
    // the bridge ends with status 3) before anyone is told to connect.
    DllDef::GetLastADError();
    std::fprintf(stderr, "mox-driver-bridge: %s\n", DllDef::LoadedText().c_str());

    asio::io_context io;
    auto socket = OpenSocket(io, o);
    if (!socket) return 1;
    asio::error_code ec;
    const auto local = vnet::FromAsio(socket->local_endpoint(ec));
    if (bridge::ReachableFromOutside(local.address)) {
        std::fprintf(stderr,
                     "mox-driver-bridge: warning: listening on %s: every computer of that network that is allowed "
                     "(this one and those given with --allow) can drive the card's outputs\n",
                     vnet::EndpointText(local).c_str());
    }
    std::fprintf(stderr, "mox-driver-bridge: this computer's addresses: %s\n",
                 bridge::AddressList(o.ownAddresses()).c_str());

    bridge::DriverModuleCard card;
    bridge::Bridge server(card, o);
    // The stop signals are caught before anyone is told to connect, so that
    // a stop sent at once still ends with the summary.
    server.Serve(io, *socket, [&local] {
        std::printf("listening on %s\n", vnet::EndpointText(local).c_str());
        std::fflush(stdout);
    });
    std::fprintf(stderr, "mox-driver-bridge: %s\n", bridge::CountersText(server.counters()).c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    // Not through the destructors: a call may still be stuck in the driver,
    // on a thread that would then outlive what it uses.
    std::_Exit(0);
}
