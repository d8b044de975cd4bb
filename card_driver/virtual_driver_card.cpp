// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual card driver's card.
//
// By default the card is the in-process software card. With the environment
// variable MOX_CARD_ADDRESS=host:port set when the first entry is called,
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
    std::uint16_t localPort = 0;
    if (const char* port = std::getenv("MOX_CARD_LOCAL_PORT")) {
        localPort = static_cast<std::uint16_t>(std::strtoul(port, nullptr, 10));
    }
    auto card = vnet::ParseAddress(address);
    if (!card) {
        std::fprintf(stderr, "libadcard: MOX_CARD_ADDRESS=\"%s\" is not host:port; the card cannot be reached\n",
                     address);
        card = sockaddr_in{}; // port 0: every request fails at once
    }
    return std::make_unique<vnet::RemoteCard>(*card, localPort);
#endif
}

} // namespace

vcard::CardApi& DriverCard() {
    static const std::unique_ptr<vcard::CardApi> card = MakeCard();
    return *card;
}
