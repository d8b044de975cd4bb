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

std::int32_t DriverModuleCard::Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    return entries_ != nullptr ? entries_->Initial(a, b, c, d) : DllDef::Initial(a, b, c, d);
}

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

std::int32_t DriverModuleCard::StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                                         std::int32_t depth, std::int32_t gain, std::int16_t trigger) {
    return entries_ != nullptr ? entries_->StartIntr(rate, block, first, count, depth, gain, trigger)
                               : DllDef::StartIntr(rate, block, first, count, depth, gain, trigger);
}

std::int32_t DriverModuleCard::StopIntr() { return entries_ != nullptr ? entries_->StopIntr() : DllDef::StopIntr(); }

std::int32_t DriverModuleCard::GetLastADError() {
    return entries_ != nullptr ? entries_->GetLastADError() : DllDef::GetLastADError();
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

std::int32_t DriverModuleCard::Mox_DA(std::int16_t channel, std::int16_t code) {
    return entries_ != nullptr ? entries_->Mox_DA(channel, code) : DllDef::Mox_DA(channel, code);
}

std::int32_t DriverModuleCard::Mox_DO(std::int16_t group, std::int16_t value) {
    return entries_ != nullptr ? entries_->Mox_DO(group, value) : DllDef::Mox_DO(group, value);
}

std::int32_t DriverModuleCard::Mox_DOBit(std::int16_t bit, std::int16_t value) {
    return entries_ != nullptr ? entries_->Mox_DOBit(bit, value) : DllDef::Mox_DOBit(bit, value);
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
