// SPDX-License-Identifier: GPL-3.0-or-later
// The card through the driver module, as moxctl uses it: the same calls,
// buffers and parameters as the windows.
#pragma once

#include "card_io.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace moxctl {

// What one reading asks for: the newest sample or the mean over `mean`
// samples; codes, volts, or codes with the volts they stand for.
struct ReadRequest {
    int mean = 0; // 0: newest sample
    bool codes = true;
    bool volts = false;
};

// One reading of the 32 inputs. codes: 0..65535 (corrected as the window
// does); volts: from the driver (unit 1) or from the codes.
struct Reading {
    std::array<double, mox::kInputChannels> codes{};
    std::array<float, mox::kInputChannels> volts{};
};

// "mean of 20 samples, codes and volts"
std::string Describe(const ReadRequest& request);

// What a card driver built here tells beside the card's entries
// (Mox_ReadingInfo in adcard_abi.h): when the reading this thread last got
// was asked of the card, and the card restarts the driver found and acted on
// by itself. The card maker's driver tells nothing of it.
struct DriverNews {
    bool hasReading = false;
    std::int64_t askedUs = 0; // the driver's monotonic clock
    std::int64_t ageUs = 0;   // counted from when it was asked
    std::uint32_t cardRestarts = 0;
    std::uint32_t acquisitionRestarts = 0;
};

// The network card driver's last error after a call that the card did not
// confirm in time: the request may or may not have reached the card.
constexpr std::int32_t kNoReplyError = 100;

class Card {
public:
    // Initial(0, 0, 0, 0), as at the acquisition window's load.
    Card();

    // Identity and network status; nothing when the card did not answer.
    std::optional<mox::CardIdentity> Identity();
    std::optional<mox::NetStatus> Status();

    // StopIntr, then StartIntr with the acquisition window's parameters,
    // tried again for up to kStartPatience; the last AD error when refused.
    bool StartAcquisition(std::int32_t& error);
    static constexpr std::chrono::milliseconds kStartPatience{1000};
    void StopAcquisition();

    std::optional<Reading> Read(const ReadRequest& request);

    // Outputs: the driver's results. After a 0, LastError() tells a write
    // the card refused from one it did not confirm (kNoReplyError).
    std::int32_t SetDA(std::int16_t channel, std::int16_t code);
    std::int32_t SetDO(std::int16_t group, std::int16_t byte);
    std::int32_t SetDOBit(std::int16_t bit, std::int16_t value);
    // Both input groups as bits 0..15; nothing when the read failed.
    std::optional<std::uint16_t> ReadDI();
    // Both output groups from bits 0..15; false when a write failed.
    bool WriteDO(std::uint16_t bits);
    // GetLastADError: why the last call failed.
    std::int32_t LastError();
    // Nothing when the driver does not tell (see DriverNews).
    std::optional<DriverNews> News();
};

} // namespace moxctl
