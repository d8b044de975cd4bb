// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual card's driver entries: the card driver ABI over one card.
//
// By default the card is the in-process software card. With the environment
// variable MOX_CARD_ADDRESS=host:port set when the first entry is called,
// every entry speaks to a card emulator over UDP instead;
// MOX_CARD_LOCAL_PORT=port fixes the driver's own UDP port.
#include "adcard_abi.h"
#include "card_model.h"
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

vcard::CardApi& Card() {
    static const std::unique_ptr<vcard::CardApi> card = MakeCard();
    return *card;
}

// Ignores the arguments of an entry this card does not implement.
template <typename... A>
std::int32_t Unimplemented(A...) {
    return 0;
}

} // namespace

// The entries the program calls go to the card; the further entries of the
// card's interface touch nothing and answer 0. Definitions take their C
// linkage and export from the prototypes in adcard_abi.h.
#define MOX_CARD_FORWARD(name, params, args)                                                                           \
    int32_t MOX_CARD_CALL name params { return Card().name args; }
MOX_ADCARD_CALLED_ENTRIES(MOX_CARD_FORWARD)
#undef MOX_CARD_FORWARD

#define MOX_CARD_UNIMPLEMENTED(name, params, args)                                                                     \
    int32_t MOX_CARD_CALL name params { return Unimplemented args; }
MOX_ADCARD_OTHER_ENTRIES(MOX_CARD_UNIMPLEMENTED)
#undef MOX_CARD_UNIMPLEMENTED
