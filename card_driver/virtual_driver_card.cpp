// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual card driver's card.
//
// By default the card is the in-process software card. With the environment
// variable MOX_CARD_ADDRESS=a.b.c.d:port set when the first entry is called,
// every entry speaks to a card over the card protocol instead (the
// emulator, or a driver bridge); MOX_CARD_LOCAL_PORT=port fixes the
// driver's own UDP port, and MOX_CARD_TRACE=1 writes each change of the
// link's state to standard error. The same on Linux and Windows.
//
// Beside the card's entries the library exports Mox_ReadingInfo
// (adcard_abi.h): when the calling thread's last reading was asked of the
// card, and the card restarts the network link found and acted on.
#include "adcard_abi.h"
#include "card_model.h"
#include "driver_card.h"
#include "remote_card.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

using SteadyClock = std::chrono::steady_clock;

// The in-process card takes a reading when it is asked: each thread's last
// one is stamped at its call.
thread_local std::optional<SteadyClock::time_point> t_localReading;

class StampedCard final : public vcard::CardApi {
public:
    // Every operation is the software card's; a reading is stamped when it
    // returns readings.
#define MOX_STAMPED_FORWARD(name, number, effect, kind, params, args)                                                  \
    std::int32_t name params override {                                                                                \
        const auto asked = SteadyClock::now();                                                                         \
        const std::int32_t result = card_.name args;                                                                   \
        if (std::string_view(#name) == "ADResult_DV" && result > 0) t_localReading = asked;                            \
        return result;                                                                                                 \
    }
    MOX_CARD_OPS(MOX_STAMPED_FORWARD)
#undef MOX_STAMPED_FORWARD

private:
    vcard::VirtualCard card_;
};

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
    if (address == nullptr || *address == '\0') return std::make_unique<StampedCard>();
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

namespace {

std::int64_t Micros(SteadyClock::duration d) {
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

} // namespace

int32_t MOX_CARD_CALL Mox_ReadingInfo(MoxReadingInfo* info) {
    if (info == nullptr || info->size < static_cast<int32_t>(sizeof(MoxReadingInfo))) return 0;
    const auto now = SteadyClock::now();
    const auto* remote = dynamic_cast<const vnet::RemoteCard*>(&DriverCard());
    const auto asked = remote != nullptr ? remote->LastReadingAsked() : t_localReading;
    info->has_reading = asked ? 1 : 0;
    info->asked_us = asked ? Micros(asked->time_since_epoch()) : 0;
    info->age_us = asked ? Micros(now - *asked) : 0;
    const vnet::RestartCounts counts = remote != nullptr ? remote->Restarts() : vnet::RestartCounts{};
    info->card_restarts = counts.found;
    info->acquisition_restarts = counts.restarted;
    return 1;
}
