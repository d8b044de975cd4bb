// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary datagrams to the packet parser, to the card's request
// handling and to the reply fields the driver reads. Built for libFuzzer
// under clang; with MOX_FUZZ_STANDALONE it runs the files named on its
// command line (a corpus), or a fixed number of generated inputs.
#include "card_model.h"
#include "card_server.h"
#include "fuzz_standalone.h"
#include "protocol.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vcard::VirtualCard card([] { return 0.0; });
    const auto packet = vnet::Decode(std::span(data, size));
    if (!packet) return 0;
    // A parsed packet encodes back to the same bytes.
    const auto again = vnet::Encode(*packet);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
    if (!packet->reply) {
        const vnet::LinkView link{};
        const auto reply = vnet::Serve(card, *packet, (size & 1) != 0 ? &link : nullptr);
        if (reply && (!reply->reply || reply->seq != packet->seq)) __builtin_trap();
    } else {
        vnet::Reader r(packet->payload);
        (void)r.I32();
        (void)r.F32();
        (void)r.I16();
        (void)r.Bytes(packet->payload.size());
        (void)r.Rest();
    }
    return 0;
}

#ifdef MOX_FUZZ_STANDALONE
int main(int argc, char** argv) { return FuzzStandalone(argc, argv, 200000, 0); }
#endif
