// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver_card.h"

#include "DllDef.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace bridge {
namespace {

// As large as the program's own buffers (DllDef::InBuf, OutBuf, DIBuf).
constexpr std::int32_t kIoBytes = 32001;
constexpr std::int32_t kInputs = 129;
constexpr std::int32_t kResults = 129;

// A driver may write as many elements as it is told, so a count or length
// that does not fit the buffer it is handed is never passed on: the call
// fails (0) without reaching the driver.
bool Fits(std::int32_t length, std::int32_t buffer) { return length >= 0 && length <= buffer; }

} // namespace

// The operations that carry numbers alone are passed on as they are; those
// with buffers are written out below, each with its bounds.
#define MOX_PASS_Numbers(name, params, args)                                                                           \
    std::int32_t DriverModuleCard::name params { return entries_ != nullptr ? entries_->name args : DllDef::name args; }
#define MOX_PASS_Buffers(name, params, args)
#define MOX_PASS_OP(name, number, effect, kind, params, args) MOX_PASS_##kind(name, params, args)
MOX_CARD_OPS(MOX_PASS_OP)
#undef MOX_PASS_OP
#undef MOX_PASS_Buffers
#undef MOX_PASS_Numbers

std::int32_t DriverModuleCard::IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen,
                                     std::uint8_t* out) {
    if (!Fits(inLen, kIoBytes) || !Fits(outLen, kIoBytes) || (inLen > 0 && in == nullptr) ||
        (outLen > 0 && out == nullptr)) {
        return 0;
    }
    static std::array<std::uint8_t, kIoBytes> request{};
    static std::array<std::uint8_t, kIoBytes> reply{};
    request.fill(0);
    reply.fill(0);
    if (inLen > 0) std::memcpy(request.data(), in, static_cast<std::size_t>(inLen));
    const std::int32_t status = entries_ != nullptr ? entries_->IOCtl(inLen, request.data(), outLen, reply.data())
                                                    : DllDef::IOCtl(inLen, request.data(), outLen, reply.data());
    if (outLen > 0) std::memcpy(out, reply.data(), static_cast<std::size_t>(outLen));
    return status;
}

std::int32_t DriverModuleCard::ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode,
                                           float n, float* results) {
    // Channels first..first+count-1 within the buffer: a driver that writes
    // by channel number stays inside it as well as one that counts from 0.
    if (results == nullptr || first < 0 || count < 1 || std::int64_t{first} + count > kResults) return 0;
    std::array<float, kResults> buffer{};
    const std::int32_t status = entries_ != nullptr ? entries_->ADResult_DV(first, count, unit, mode, n, buffer.data())
                                                    : DllDef::ADResult_DV(first, count, unit, mode, n, buffer.data());
    std::copy_n(buffer.begin(), count, results);
    return status;
}

std::int32_t DriverModuleCard::Mox_DI(std::int32_t count, std::int16_t* inputs) {
    if (inputs == nullptr || count < 1 || !Fits(count, kInputs)) return 0;
    std::array<std::int16_t, kInputs> buffer{};
    const std::int32_t status =
        entries_ != nullptr ? entries_->Mox_DI(count, buffer.data()) : DllDef::Mox_DI(count, buffer.data());
    std::copy_n(buffer.begin(), count, inputs); // the caller's buffer holds `count` words
    return status;
}

} // namespace bridge
