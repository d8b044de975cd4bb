// SPDX-License-Identifier: GPL-3.0-or-later
// One card opened from Python: moxctl's card layer behind a lock, with the
// card's failures as exceptions. No Python in here; the bindings
// (moxcard.cpp) release the interpreter around every call.
#pragma once

#include "card.h"
#include "pacing.h"
#include "selftest.h"
#include "setup.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace moxcard {

// The driver library or one of its entries cannot be had (DriverError).
struct DriverFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The card did not answer, refused, or did not confirm (CardError).
struct CardFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Makes the driver module throw DriverFailure where it would end the
// process; set once, when the module is imported.
void ThrowOnDriverFailure();

struct Link {
    std::string pcAddress;
    std::string expectedPcAddress;
    unsigned downSeconds = 0;
    bool up = false;
    double roundTrip = 0; // seconds the status request took
};

// One reading: codes 0..65535 or volts, per mode; codes of the newest
// sample are whole, a mean of codes is not.
struct Values {
    std::array<double, mox::kInputChannels> values{};
    bool codes = false;
    bool whole = false;
};

class Session {
public:
    // Loads the driver (DriverFailure) and asks the card who it is
    // (CardFailure when it does not answer). Every call of a session holds
    // DriverMutex() while it runs. A setup, when given, was read whole
    // before: the card is not touched for a file that is refused.
    explicit Session(std::optional<mox::setup::Setup> setup = std::nullopt);

    const mox::CardIdentity& Identity() const { return identity_; }
    // The setup the card was opened with; null without one. It does not
    // change while the session lives.
    const mox::setup::Setup* Setup() const { return setup_ ? &*setup_ : nullptr; }
    Link AskLink();

    // One reading; acquisition is started at the first. Readings that fail
    // are tried again for up to kReadGiveUp, then CardFailure.
    Values Read(bool codes, int mean);
    // One reading for a stream: nothing when none came or it is no newer
    // than the last one a stream was given (a driver of ours tells).
    std::optional<Values> ReadFresh(bool codes, int mean);
    static constexpr std::chrono::seconds kReadGiveUp{2};

    void SetDa(std::int16_t channel, std::int16_t code);
    void SetDo(std::int16_t group, std::int16_t byte);
    void SetDoBit(std::int16_t bitIndex, std::int16_t value);
    std::array<int, 2> ReadDi();
    moxctl::Report SelfTest(const moxctl::SelfTestOptions& options);

    // Stops acquisition when this session started it; nothing else.
    void Close();
    bool Closed() const { return closed_; }

private:
    void CheckOpen() const;
    void StartLocked();
    std::optional<moxctl::Reading> ReadOnceLocked(bool codes, int mean);
    void Written(std::int32_t result, const std::string& what);

    moxctl::Card card_;
    std::optional<mox::setup::Setup> setup_;
    mox::CardIdentity identity_;
    bool acquiring_ = false;
    bool closed_ = false;
    bool restartTried_ = false;
    std::chrono::steady_clock::time_point startedAt_;
    moxctl::FreshRows fresh_;
};

// The driver's buffers are the process's: one call into the driver at a
// time, whichever session makes it.
std::mutex& DriverMutex();

} // namespace moxcard
