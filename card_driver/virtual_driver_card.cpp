// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual card driver's card.
//
// By default the card is the in-process software card. With the environment
// variable MOX_CARD_ADDRESS=a.b.c.d:port set when the first entry is called,
// every entry speaks to a card emulator over UDP instead;
// MOX_CARD_LOCAL_PORT=port fixes the driver's own UDP port.
#include "card_model.h"
#include "driver_card.h"
#ifndef _WIN32
#include "remote_card.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

std::unique_ptr<vcard::CardApi> MakeCard() {
#ifdef _WIN32
    return std::make_unique<vcard::VirtualCard>(); // the network card is for Linux
#else
    const char* address = std::getenv("MOX_CARD_ADDRESS");
    if (address == nullptr || *address == '\0') return std::make_unique<vcard::VirtualCard>();
    // One clear message for a setting that cannot work; the driver then
    // behaves as with a card that does not answer.
    std::uint16_t localPort = 0;
    if (const char* port = std::getenv("MOX_CARD_LOCAL_PORT"); port != nullptr && *port != '\0') {
        if (const auto parsed = vnet::ParsePort(port)) {
            localPort = *parsed;
        } else {
            std::fprintf(stderr,
                         "libadcard: MOX_CARD_LOCAL_PORT=\"%s\": not a port from 0 to 65535; the card cannot be "
                         "reached\n",
                         port);
            return std::make_unique<vnet::RemoteCard>(sockaddr_in{}, 0);
        }
    }
    std::string why;
    auto card = vnet::ParseAddress(address, &why);
    if (!card) {
        std::fprintf(stderr, "libadcard: MOX_CARD_ADDRESS=\"%s\": %s; the card cannot be reached\n", address,
                     why.c_str());
        card = sockaddr_in{}; // port 0: every request fails at once
    }
    auto remote = std::make_unique<vnet::RemoteCard>(*card, localPort);
    if (!remote->SocketError().empty()) {
        std::fprintf(stderr, "libadcard: MOX_CARD_ADDRESS=\"%s\": %s; the card cannot be reached\n", address,
                     remote->SocketError().c_str());
    }
    return remote;
#endif
}

} // namespace

vcard::CardApi& DriverCard() {
    static const std::unique_ptr<vcard::CardApi> card = MakeCard();
    return *card;
}
