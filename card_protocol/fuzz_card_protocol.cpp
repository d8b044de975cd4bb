// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary datagrams to the packet parser, to the card's request
// handling and to the reply fields the driver reads. Built for libFuzzer
// under clang; with MOX_FUZZ_STANDALONE it runs the files named on its
// command line (a corpus), or a fixed number of generated inputs.
#include "card_model.h"
#include "card_server.h"
#include "protocol.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

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
int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        return 0;
    }
    // Generated inputs: valid headers with random operations and payloads,
    // and random bytes.
    std::mt19937 rng(7710);
    for (int i = 0; i < 200000; ++i) {
        std::vector<std::uint8_t> payload(rng() % 64);
        for (auto& b : payload) b = static_cast<std::uint8_t>(rng());
        auto bytes =
            vnet::Encode(vnet::Packet{(rng() & 1) != 0, static_cast<vnet::Op>(1 + rng() % 11),
                                      static_cast<std::uint32_t>(rng()), static_cast<std::uint32_t>(rng()), payload});
        if (rng() % 4 == 0) bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
        if (rng() % 8 == 0) bytes.resize(rng() % (bytes.size() + 1));
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    return 0;
}
#endif
