// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define MOX_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define MOX_ISATTY(f) isatty(fileno(f))
#endif

namespace moxctl {

std::atomic<bool> g_stop{false};

namespace {

using Clock = std::chrono::steady_clock;

// How long readings may fail in a row before `read` gives up.
constexpr auto kReadGiveUp = std::chrono::seconds(2);

int Fail(const std::string& message) {
    std::fprintf(stderr, "moxctl: %s\n", message.c_str());
    return kExitFailed;
}

std::string IdentityText(const mox::CardIdentity& id) {
    return "card " + std::to_string(id.number) + ", type " + std::to_string(id.type) + ", speed " +
           std::to_string(id.speedK) + "K, resolution " + std::to_string(id.resolution) + " bits";
}

// Sleeps until `when`, in short steps so that a stop request is seen.
void SleepUntil(Clock::time_point when) {
    while (!g_stop && Clock::now() < when) {
        std::this_thread::sleep_for(std::min<Clock::duration>(when - Clock::now(), std::chrono::milliseconds(50)));
    }
}

bool StartOrSay(Card& card) {
    std::int32_t error = 0;
    if (card.StartAcquisition(error)) return true;
    Fail("acquisition did not start (driver error " + std::to_string(error) +
         "): check that the card is reachable and the driver is the card's");
    return false;
}

std::string Bits(std::uint8_t byte) {
    std::string s;
    for (int b = 7; b >= 0; --b) s += ((byte >> b) & 1) ? '1' : '0';
    return s;
}

std::string Hex(unsigned v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", width, v);
    return buf;
}

std::string Elapsed(Clock::duration d) {
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return buf;
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

} // namespace

int Info(bool json) {
    Card card;
    const auto id = card.Identity();
    if (!id) return Fail("the card does not answer the identity request");
    const auto status = card.Status();
    if (!status) return Fail("the card does not answer the network status request");
    const bool up = status->downSeconds < mox::kLinkDownSeconds;
    if (json) {
        nlohmann::ordered_json j;
        j["card"] = id->number;
        j["type"] = id->type;
        j["speed_k"] = id->speedK;
        j["resolution_bits"] = id->resolution;
        j["pc_address"] = mox::AddressText(status->pcAddress);
        j["expected_pc_address"] = mox::AddressText(mox::kExpectedPcAddress);
        j["link_down_seconds"] = status->downSeconds;
        j["link"] = up ? "up" : "down";
        std::printf("%s\n", j.dump().c_str());
        return kExitOk;
    }
    std::printf("%s\n", IdentityText(*id).c_str());
    std::printf("PC address seen by the card: %s", mox::AddressText(status->pcAddress).c_str());
    if (status->pcAddress != mox::kExpectedPcAddress) {
        std::printf(" (the card expects %s)", mox::AddressText(mox::kExpectedPcAddress).c_str());
    }
    std::printf("\nlink: %s (down %u s)\n", up ? "up" : "down", status->downSeconds);
    return kExitOk;
}

int Read(const ReadOptions& o) {
    Card card;
    if (!StartOrSay(card)) return kExitFailed;
    if (o.format == Format::Csv) std::fputs(CsvHeader(o.request).c_str(), stdout);
    const auto start = Clock::now();
    auto lastGood = start;
    int result = kExitOk;
    long slot = 0; // rows are due at start + slot * interval
    for (long i = 0; (o.count == 0 || i < o.count) && !g_stop; ++i) {
        SleepUntil(start + slot * o.interval);
        if (g_stop) break;
        const auto reading = card.Read(o.request);
        if (!reading) {
            if (Clock::now() - lastGood > kReadGiveUp) {
                result = Fail("the card has given no reading for 2 s");
                break;
            }
            --i; // try the same row again at the next step
            SleepUntil(Clock::now() + std::chrono::milliseconds(20));
            continue;
        }
        lastGood = Clock::now();
        // The next row at the first due time at least half an interval from
        // now: rows missed while the card did not answer are not made up in
        // a burst of one reading.
        slot = std::max(slot + 1, static_cast<long>((lastGood - start + o.interval / 2) / o.interval) + 1);
        const Stamp stamp = Now();
        const std::string row =
            o.format == Format::Csv ? CsvRow(o.request, stamp, *reading) : JsonRow(o.request, stamp, *reading);
        std::fputs(row.c_str(), stdout);
        std::fflush(stdout);
    }
    card.StopAcquisition();
    return result;
}

namespace {

std::string LogHeader(const LogOptions& o, const std::optional<mox::CardIdentity>& id) {
    std::string h = "# moxctl log\n";
    h += "# program: moxctl " MOX_VERSION "\n";
    h += "# started: " + IsoUtc(std::chrono::system_clock::now()) + "\n";
    h += "# card: " + (id ? IdentityText(*id) : std::string("did not answer the identity request")) + "\n";
    h += "# scaling: AD code 0..65535 over -5 V..+5 V (16 bits), 32768 = 0 V, volts = (code - 32768) / 32768 * 5\n";
    h += "# reading: " + Describe(o.request) + ", every " + std::to_string(o.interval.count()) + " ms\n";
    return h + CsvHeader(o.request);
}

} // namespace

int Log(const LogOptions& o) {
    Card card;
    const auto id = card.Identity();
    if (!StartOrSay(card)) return kExitFailed;
    LogFile file(o.path, LogHeader(o, id), o.rotate);
    std::string error;
    if (!file.Open(error)) {
        card.StopAcquisition();
        return Fail(error);
    }
    const bool progress = MOX_ISATTY(stderr) != 0;
    const auto start = Clock::now();
    auto lastProgress = start;
    bool linkUp = true;
    int result = kExitOk;
    for (long i = 0; !g_stop; ++i) {
        const auto due = start + i * o.interval;
        if (o.duration && due - start >= *o.duration) break;
        SleepUntil(due);
        if (g_stop) break;
        const auto reading = card.Read(o.request);
        linkUp = reading.has_value();
        if (reading && !file.Append(CsvRow(o.request, Now(), *reading), error)) {
            result = Fail(error);
            break;
        }
        if (!file.SyncIfDue(error)) {
            result = Fail(error);
            break;
        }
        if (const std::string notice = file.TakeNotice(); !notice.empty())
            std::fprintf(stderr, "\nmoxctl: %s", notice.c_str());
        if (progress && Clock::now() - lastProgress >= std::chrono::seconds(1)) {
            lastProgress = Clock::now();
            std::fprintf(stderr, "\r%llu rows, %s, link %s   ", static_cast<unsigned long long>(file.RowsWritten()),
                         Elapsed(lastProgress - start).c_str(), linkUp ? "up" : "down");
            std::fflush(stderr);
        }
    }
    card.StopAcquisition();
    if (!file.Sync(error) && result == kExitOk) result = Fail(error);
    if (progress) std::fputc('\n', stderr);
    std::fprintf(stderr, "moxctl: %llu rows written to %s\n", static_cast<unsigned long long>(file.RowsWritten()),
                 o.path.c_str());
    return result;
}

namespace {

// A write the driver reports as failed: refused by the card, or sent but not
// confirmed in time, when it may still have been applied and a script must
// not take it for either.
int WriteFailed(Card& card, const std::string& what) {
    const std::int32_t error = card.LastError();
    if (error == kNoReplyError) {
        std::fprintf(stderr, "moxctl: %s was not confirmed by the card: it may or may not have been applied\n",
                     what.c_str());
        return kExitUnconfirmed;
    }
    return Fail("the card did not take " + what + " (driver error " + std::to_string(error) + ")");
}

} // namespace

int SetDa(std::int16_t channel, std::int16_t code, const std::string& how) {
    Card card;
    if (card.SetDA(channel, code) == 0) return WriteFailed(card, "the DA output");
    std::printf("DA%d: code %s (%d)%s\n", channel, Hex(static_cast<unsigned>(code) & 0xFFFFu, 3).c_str(), code,
                how.c_str());
    return kExitOk;
}

int SetDo(std::int16_t group, std::int16_t byte) {
    Card card;
    if (card.SetDO(group, byte) == 0) return WriteFailed(card, "the digital outputs");
    std::printf("DO group %d: %s (%s)\n", group, Hex(static_cast<unsigned>(byte), 2).c_str(),
                Bits(static_cast<std::uint8_t>(byte)).c_str());
    return kExitOk;
}

int SetDoBit(std::int16_t bitIndex, std::int16_t value) {
    Card card;
    if (card.SetDOBit(bitIndex, value) == 0) return WriteFailed(card, "the digital output");
    std::printf("DO bit %d (driver bit %d): %d\n", bitIndex + 1, bitIndex, value);
    return kExitOk;
}

int ReadDi(bool json) {
    Card card;
    const auto bits = card.ReadDI();
    if (!bits) return Fail("the digital inputs could not be read");
    const auto g0 = static_cast<std::uint8_t>(*bits & 0xFF);
    const auto g1 = static_cast<std::uint8_t>(*bits >> 8);
    if (json) {
        std::printf("{\"group0\":%u,\"group1\":%u}\n", g0, g1);
    } else {
        std::printf("DI group 0: %s (%s)\nDI group 1: %s (%s)\n", Hex(g0, 2).c_str(), Bits(g0).c_str(),
                    Hex(g1, 2).c_str(), Bits(g1).c_str());
    }
    return kExitOk;
}

int SelfTest(const SelfTestOptions& o, const SelfTestFiles& files) {
    Card card;
    Report report = RunSelfTest(card, o);
    report.program = "moxctl " MOX_VERSION;
    std::fputs(ReportTable(report).c_str(), stdout);
    if (!files.json.empty() && !WriteFile(files.json, ReportJson(report))) {
        return Fail("cannot write the report to " + files.json);
    }
    if (!files.junit.empty() && !WriteFile(files.junit, ReportJUnit(report))) {
        return Fail("cannot write the report to " + files.junit);
    }
    return report.Passed() ? kExitOk : kExitFailed;
}

} // namespace moxctl
