// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl's sub-commands, each run on a card through the driver module.
// Results: 0 done, 1 the card did not answer, refused or a check failed,
// 4 a write the card did not confirm.
#pragma once

#include "card.h"
#include "logfile.h"
#include "rows.h"
#include "selftest.h"
#include "setup.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace moxctl {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoDriver = 3;
constexpr int kExitUnconfirmed = 4;

// Set by Ctrl-C or a termination request; loops end at their next step.
extern std::atomic<bool> g_stop;

int Info(bool json);

struct ReadOptions {
    ReadRequest request;
    long count = 1; // 0: until stopped
    std::chrono::milliseconds interval{200};
    Format format = Format::Csv;
    std::optional<mox::setup::Setup> setup;
};
int Read(const ReadOptions& o);

struct LogOptions {
    std::string path;
    ReadRequest request;
    std::chrono::milliseconds interval{200};
    // Rows due before it are taken; until stopped without it.
    std::optional<std::chrono::duration<double>> duration;
    RotatePolicy rotate;
    std::optional<mox::setup::Setup> setup;
};
int Log(const LogOptions& o);

// Reads a setup file (an empty path: none) and warns of calibrations past
// their due date; false, with the file's fault on standard error, for a
// file that is not taken. Called before the card is touched.
bool LoadSetup(const std::string& path, std::optional<mox::setup::Setup>& setup);

// Values already checked and converted by the caller.
int SetDa(std::int16_t channel, std::int16_t code, const std::string& how);
int SetDo(std::int16_t group, std::int16_t byte);
int SetDoBit(std::int16_t bitIndex, std::int16_t value);
int ReadDi(bool json);

struct SelfTestFiles {
    std::string json;                  // report as JSON, when named
    std::string junit;                 // report as JUnit XML, when named
    bool jsonToStandardOutput = false; // the JSON report instead of the table
};
int SelfTest(const SelfTestOptions& o, const SelfTestFiles& files);

} // namespace moxctl
