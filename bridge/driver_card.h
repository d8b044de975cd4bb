// SPDX-License-Identifier: GPL-3.0-or-later
// The card behind the driver module: each entry passed to the card driver
// library that DllDef loaded, with buffers as large as the program's own
// (so a driver that writes more than it was asked for writes into space of
// ours), and no more than the declared lengths copied back. A count or
// length larger than the buffer the driver would be handed is refused (the
// call returns 0 and the driver is not called): a driver may write as much
// as it is told.
#pragma once

#include "card_api.h"

namespace bridge {

class DriverModuleCard final : public vcard::CardApi {
public:
    // The driver's entries: the library DllDef loads, or (the tests and the
    // fuzzer) a driver of their own making.
    explicit DriverModuleCard(vcard::CardApi* entries = nullptr) : entries_(entries) {}

    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override;
    std::int32_t IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) override;
    std::int32_t StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                           std::int32_t depth, std::int32_t gain, std::int16_t trigger) override;
    std::int32_t StopIntr() override;
    std::int32_t GetLastADError() override;
    std::int32_t ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode, float n,
                             float* results) override;
    std::int32_t Mox_DA(std::int16_t channel, std::int16_t code) override;
    std::int32_t Mox_DO(std::int16_t group, std::int16_t value) override;
    std::int32_t Mox_DOBit(std::int16_t bit, std::int16_t value) override;
    std::int32_t Mox_DI(std::int32_t count, std::int16_t* inputs) override;

private:
    vcard::CardApi* entries_;
};

} // namespace bridge
