// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver_card.h"

#include "DllDef.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace bridge {
namespace {

// As large as the program's own buffers (DllDef::InBuf, OutBuf, DIBuf).
constexpr std::size_t kIoBytes = 32001;
constexpr std::size_t kInputs = 129;
constexpr std::size_t kResults = 129;

} // namespace

std::int32_t DriverModuleCard::Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    return DllDef::Initial(a, b, c, d);
}

std::int32_t DriverModuleCard::IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen,
                                     std::uint8_t* out) {
    static std::array<std::uint8_t, kIoBytes> request{};
    static std::array<std::uint8_t, kIoBytes> reply{};
    const auto inBytes = static_cast<std::size_t>(std::clamp<std::int32_t>(inLen, 0, kIoBytes));
    const auto outBytes = static_cast<std::size_t>(std::clamp<std::int32_t>(outLen, 0, kIoBytes));
    request.fill(0);
    reply.fill(0);
    if (inBytes > 0) std::memcpy(request.data(), in, inBytes);
    const std::int32_t status = DllDef::IOCtl(inLen, request.data(), outLen, reply.data());
    if (outBytes > 0) std::memcpy(out, reply.data(), outBytes);
    return status;
}

std::int32_t DriverModuleCard::StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                                         std::int32_t depth, std::int32_t gain, std::int16_t trigger) {
    return DllDef::StartIntr(rate, block, first, count, depth, gain, trigger);
}

std::int32_t DriverModuleCard::StopIntr() { return DllDef::StopIntr(); }

std::int32_t DriverModuleCard::GetLastADError() { return DllDef::GetLastADError(); }

std::int32_t DriverModuleCard::ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode,
                                           float n, float* results) {
    std::array<float, kResults> buffer{};
    const std::int32_t status = DllDef::ADResult_DV(first, count, unit, mode, n, buffer.data());
    const auto wanted = static_cast<std::size_t>(std::clamp<std::int32_t>(count, 0, kResults));
    std::copy_n(buffer.begin(), wanted, results);
    return status;
}

std::int32_t DriverModuleCard::Mox_DA(std::int16_t channel, std::int16_t code) { return DllDef::Mox_DA(channel, code); }

std::int32_t DriverModuleCard::Mox_DO(std::int16_t group, std::int16_t value) { return DllDef::Mox_DO(group, value); }

std::int32_t DriverModuleCard::Mox_DOBit(std::int16_t bit, std::int16_t value) { return DllDef::Mox_DOBit(bit, value); }

std::int32_t DriverModuleCard::Mox_DI(std::int32_t count, std::int16_t* inputs) {
    std::array<std::int16_t, kInputs> buffer{};
    const std::int32_t status = DllDef::Mox_DI(count, buffer.data());
    std::copy_n(buffer.begin(), 2, inputs); // the two groups the protocol carries
    return status;
}

} // namespace bridge
