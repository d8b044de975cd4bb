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

} // namespace

extern "C" {

int32_t MOX_CARD_CALL Initial(int32_t, int32_t, int32_t, int32_t) { return Card().Initial(); }
int32_t MOX_CARD_CALL IOCtl(int32_t in_len, uint8_t* in, int32_t out_len, uint8_t* out) {
    return Card().IOCtl(in_len, in, out_len, out);
}
int32_t MOX_CARD_CALL StopIntr(void) { return Card().StopIntr(); }
int32_t MOX_CARD_CALL StartIntr(int16_t a1, int32_t a2, int16_t a3, int16_t a4, int32_t a5, int32_t a6, int16_t a7) {
    return Card().StartIntr(a1, a2, a3, a4, a5, a6, a7);
}
int32_t MOX_CARD_CALL GetLastADError(void) { return Card().GetLastADError(); }
int32_t MOX_CARD_CALL ADResult_DV(int32_t first, int32_t count, int32_t unit, int32_t mode, float n, float* results) {
    return Card().ADResult_DV(first, count, unit, mode, n, results);
}
int32_t MOX_CARD_CALL Mox_DA(int16_t channel, int16_t code) { return Card().Mox_DA(channel, code); }
int32_t MOX_CARD_CALL Mox_DO(int16_t group, int16_t value) { return Card().Mox_DO(group, value); }
int32_t MOX_CARD_CALL Mox_DOBit(int16_t bit, int16_t value) { return Card().Mox_DOBit(bit, value); }
int32_t MOX_CARD_CALL Mox_DI(int32_t count, int16_t* inputs) { return Card().Mox_DI(count, inputs); }

// Entries of the vendor's interface that this card does not implement:
// they touch nothing and answer 0.
int32_t MOX_CARD_CALL StartSnapshot(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int32_t MOX_CARD_CALL RegisterNotify(int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL QueryBuf(void) { return 0; }
int32_t MOX_CARD_CALL ADResult(int32_t) { return 0; }
int32_t MOX_CARD_CALL ADResultRecent(int32_t) { return 0; }
int32_t MOX_CARD_CALL GetSnapshot(int32_t, int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL ConfigInfo(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL ChannelFrq(int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL Mox_ADResult(int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL Mox_Init(int32_t, int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL Mox_USB_Inportb(int32_t, int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL Mox_USB_Outportb(int32_t, int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL Mox_Readb(int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t MOX_CARD_CALL Mox_Writeb(int32_t, int32_t, int32_t, int32_t) { return 0; }

} // extern "C"
