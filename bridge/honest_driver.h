// SPDX-License-Identifier: GPL-3.0-or-later
// A card driver for the fuzzer and the tests that writes exactly what its
// arguments say: as many result floats, input words and reply bytes as it
// is told, and reads every request byte it is told of. A real driver may do
// the same, so a length that outgrows its buffer shows up here (under
// AddressSanitizer) instead of in the field. It also notes the largest
// count and lengths it was ever handed.
#pragma once

#include "card_api.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace bridge {

class HonestDriver final : public vcard::CardApi {
public:
    std::int32_t Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override { return 1; }
    std::int32_t IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) override {
        Note(largestIn, inLen);
        Note(largestOut, outLen);
        unsigned sum = 0;
        for (std::int32_t i = 0; i < inLen; ++i) sum += in[i];
        for (std::int32_t i = 0; i < outLen; ++i) out[i] = static_cast<std::uint8_t>(sum + static_cast<unsigned>(i));
        return outLen;
    }
    std::int32_t StartIntr(std::int16_t, std::int32_t, std::int16_t, std::int16_t, std::int32_t, std::int32_t,
                           std::int16_t) override {
        return 1;
    }
    std::int32_t StopIntr() override { return 1; }
    std::int32_t GetLastADError() override { return 0; }
    std::int32_t ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t, std::int32_t, float,
                             float* results) override {
        Note(largestResults, count);
        for (std::int32_t i = 0; i < count; ++i) results[i] = static_cast<float>(first + i);
        return count;
    }
    std::int32_t Mox_DA(std::int16_t, std::int16_t) override { return 1; }
    std::int32_t Mox_DO(std::int16_t, std::int16_t) override { return 1; }
    std::int32_t Mox_DOBit(std::int16_t, std::int16_t) override { return 1; }
    std::int32_t Mox_DI(std::int32_t count, std::int16_t* inputs) override {
        Note(largestInputs, count);
        for (std::int32_t i = 0; i < count; ++i) inputs[i] = static_cast<std::int16_t>(i);
        return 1;
    }

    std::atomic<std::int32_t> largestIn{0};
    std::atomic<std::int32_t> largestOut{0};
    std::atomic<std::int32_t> largestResults{0};
    std::atomic<std::int32_t> largestInputs{0};

private:
    static void Note(std::atomic<std::int32_t>& largest, std::int32_t value) {
        std::int32_t seen = largest.load();
        while (value > seen && !largest.compare_exchange_weak(seen, value)) {
        }
    }
};

} // namespace bridge
