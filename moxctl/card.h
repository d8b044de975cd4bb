// SPDX-License-Identifier: GPL-3.0-or-later
// The card through the driver module, as moxctl uses it: the same calls,
// buffers and parameters as the windows.
#pragma once

#include "card_io.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
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

// MOX_CARD_ADDRESS set, for a driver built here, to a text that is not an
// address it can send to: a usage error, found before the first call.
struct BadCardAddress : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The ports as every program names them to people, numbered as the windows
// number them: inputs AI00..AI31 (the acquisition window's 00..31), analog
// outputs AO0..AO3 (the analog output window's DA0..DA3), digital outputs
// DO1..DO16 (the digital I/O window's output 1..16; the driver's bit 0..15).
std::string InputName(int channel);
std::string OutputName(int channel);
std::string DigitalOutputName(int driverBit);

// Whether the driver is one built here sending to MOX_CARD_ADDRESS's card.
bool SendsToAddress();
// Who moxctl talks to, for messages: "the card at 127.0.0.1:7710 (MOX_CARD_ADDRESS)",
// "the virtual card (/…/libadcard.so)", "the card behind /…/libadcard.so".
std::string CardName();
// What to try when the card does not answer, for that card.
std::string NoAnswerAdvice();
// "driver error 100 (no reply from the card in time: ...)": a number of
// GetLastADError with its meaning, where the driver is one built here and
// the meaning known.
std::string DriverErrorText(std::int32_t error);

class Card {
public:
    // Initial(0, 0, 0, 0), as at the acquisition window's load; throws
    // BadCardAddress first for a MOX_CARD_ADDRESS our driver cannot use.
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
