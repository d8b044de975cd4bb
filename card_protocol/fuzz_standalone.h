// SPDX-License-Identifier: GPL-3.0-or-later
// The main of a fuzz target built without libFuzzer: runs the target over
// the files named on the command line (a corpus), or over generated
// datagrams: well-formed headers with random operations, sequence numbers,
// sessions and payloads, some with a byte changed or cut short, each after
// `prefix` random bytes of the target's own (a sender, say).
#pragma once

#include "protocol.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

inline int FuzzStandalone(int argc, char** argv, int count, std::size_t prefix) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        return 0;
    }
    std::mt19937 rng(7710);
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> payload(rng() % 64);
        for (auto& b : payload) b = static_cast<std::uint8_t>(rng());
        auto bytes =
            vnet::Encode(vnet::Packet{(rng() & 1) != 0, static_cast<vnet::Op>(1 + rng() % 11),
                                      static_cast<std::uint32_t>(rng()), static_cast<std::uint32_t>(rng()), payload});
        if (rng() % 4 == 0) bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
        if (rng() % 8 == 0) bytes.resize(rng() % (bytes.size() + 1));
        std::vector<std::uint8_t> input(prefix);
        for (auto& b : input) b = static_cast<std::uint8_t>(rng());
        input.insert(input.end(), bytes.begin(), bytes.end());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
