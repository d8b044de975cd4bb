// SPDX-License-Identifier: GPL-3.0-or-later
// The card behind the driver entries: the in-process software card, or a
// card reached over the network.
#pragma once

#include <cstdint>

namespace vcard {

class CardApi {
public:
    virtual ~CardApi() = default;
    // The four values the program passes (zeros) are the driver's to interpret.
    virtual std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) = 0;
    virtual std::int32_t IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) = 0;
    virtual std::int32_t StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                                   std::int32_t depth, std::int32_t gain, std::int16_t trigger) = 0;
    virtual std::int32_t StopIntr() = 0;
    virtual std::int32_t GetLastADError() = 0;
    virtual std::int32_t ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode,
                                     float n, float* results) = 0;
    virtual std::int32_t Mox_DA(std::int16_t channel, std::int16_t code) = 0;
    virtual std::int32_t Mox_DO(std::int16_t group, std::int16_t value) = 0;
    virtual std::int32_t Mox_DOBit(std::int16_t bit, std::int16_t value) = 0;
    virtual std::int32_t Mox_DI(std::int32_t count, std::int16_t* inputs) = 0;
};

} // namespace vcard
