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
#include <string>

int main(int argc, char** argv) {
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

    std::string error;
    asio::io_context io;
    const auto address = *vnet::ParseIPv4(o.address);
    auto socket = vnet::OpenUdpSocket(io, vnet::Endpoint{address, o.port}, error);
    if (!socket) {
        std::fprintf(stderr,
                     "mox-driver-bridge: %s\nAnother program may hold port %u (a bridge or emulator already "
                     "running?): stop it, or choose another with --port (0 picks a free one)\n",
                     error.c_str(), static_cast<unsigned>(o.port));
        return 1;
    }
    asio::error_code ec;
    const auto local = vnet::FromAsio(socket->local_endpoint(ec));
    if (bridge::ReachableFromOutside(address)) {
        std::fprintf(stderr,
                     "mox-driver-bridge: warning: listening on %s: every computer of that network that is allowed "
                     "(this one and those given with --allow) can drive the card's outputs\n",
                     vnet::EndpointText(local).c_str());
    }
    std::printf("listening on %s\n", vnet::EndpointText(local).c_str());
    std::fflush(stdout);

    bridge::DriverModuleCard card;
    bridge::Bridge server(card, o);
    server.Serve(io, *socket);
    std::fprintf(stderr, "mox-driver-bridge: %s\n", bridge::CountersText(server.counters()).c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    // Not through the destructors: a call may still be stuck in the driver,
    // on a thread that would then outlive what it uses.
    std::_Exit(0);
}
