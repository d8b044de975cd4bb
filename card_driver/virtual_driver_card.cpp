// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual card driver's card.
//
// By default the card is the in-process software card. With the environment
// variable MOX_CARD_ADDRESS=a.b.c.d:port set when the first entry is called,
// every entry speaks to a card over the card protocol instead (the
// emulator, or a driver bridge); MOX_CARD_LOCAL_PORT=port fixes the
// driver's own UDP port, and MOX_CARD_TRACE=1 writes each change of the
// link's state to standard error. The same on Linux and Windows.
#include "card_model.h"
#include "driver_card.h"
#include "remote_card.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// One clear message for a setting that cannot work; the driver then behaves
// as with a card that does not answer.
void Unreachable(const char* variable, const char* value, const std::string& why) {
    std::fprintf(stderr, "libadcard: %s=\"%s\": %s; the card cannot be reached\n", variable, value, why.c_str());
}

bool Tracing() {
    const char* trace = std::getenv("MOX_CARD_TRACE");
    return trace != nullptr && *trace != '\0' && std::string(trace) != "0";
}

std::unique_ptr<vcard::CardApi> MakeCard() {
    const char* address = std::getenv("MOX_CARD_ADDRESS");
    if (address == nullptr || *address == '\0') return std::make_unique<vcard::VirtualCard>();
    std::uint16_t localPort = 0;
    if (const char* port = std::getenv("MOX_CARD_LOCAL_PORT"); port != nullptr && *port != '\0') {
        const auto parsed = vnet::ParsePort(port);
        if (!parsed) {
            Unreachable("MOX_CARD_LOCAL_PORT", port, "not a port from 0 to 65535");
            return std::make_unique<vnet::RemoteCard>(vnet::Endpoint{});
        }
        localPort = *parsed;
    }
    std::string why;
    auto card = vnet::ParseAddress(address, &why);
    if (!card) {
        Unreachable("MOX_CARD_ADDRESS", address, why);
        card = vnet::Endpoint{}; // port 0: every request fails at once
    }
    auto remote = std::make_unique<vnet::RemoteCard>(*card, localPort, vnet::LinkTiming{}, Tracing());
    if (!remote->SocketError().empty()) Unreachable("MOX_CARD_ADDRESS", address, remote->SocketError());
    return remote;
}

} // namespace

vcard::CardApi& DriverCard() {
#ifdef _WIN32
    // Never destroyed: on Windows it would be destroyed while the library is
    // unloaded, under the loader lock, where waiting for the link's thread
    // to end would wait for ever.
    static vcard::CardApi* const card = MakeCard().release();
    return *card;
#else
    static const std::unique_ptr<vcard::CardApi> card = MakeCard();
    return *card;
#endif
}
