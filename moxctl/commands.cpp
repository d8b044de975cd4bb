// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

#include "pacing.h"
#include "restart_probe.h"
#include "setup_columns.h"
#include "text.h"

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
    std::printf("%s\n", mox::IdentityText(*id).c_str());
    std::printf("PC address seen by the card: %s", mox::AddressText(status->pcAddress).c_str());
    if (status->pcAddress != mox::kExpectedPcAddress) {
        std::printf(" (the card expects %s)", mox::AddressText(mox::kExpectedPcAddress).c_str());
    }
    std::printf("\nlink: %s (down %u s)\n", up ? "up" : "down", status->downSeconds);
    return kExitOk;
}

namespace {

// What a mean of more points than the card keeps really averages.
void SayMeanLimit(const ReadRequest& request) {
    if (request.mean <= MeanPoints(request.mean)) return;
    std::fprintf(stderr, "moxctl: the card keeps %d samples per channel: each mean covers at most %d, not %d\n",
                 MeanPoints(request.mean), MeanPoints(request.mean), request.mean);
}

// Said once: rows that keep repeating every value are the link's older
// answers given again, not new readings.
void SayIfRepeated(RepeatWatch& repeats, const Reading& reading, std::chrono::milliseconds interval) {
    if (!repeats.Repeated(reading)) return;
    std::fprintf(stderr,
                 "moxctl: rows keep repeating in every channel: the card link does not give a new reading every "
                 "%lld ms; a longer --interval gives fresh rows\n",
                 static_cast<long long>(interval.count()));
}

} // namespace

bool LoadSetup(const std::string& path, std::optional<mox::setup::Setup>& setup) {
    if (path.empty()) return true;
    auto loaded = mox::setup::Load(path);
    if (const auto* error = std::get_if<mox::setup::Error>(&loaded)) {
        std::fprintf(stderr, "moxctl: %s\n", error->Text().c_str());
        return false;
    }
    setup = std::get<mox::setup::Setup>(std::move(loaded));
    const std::string today = mox::IsoUtc(std::chrono::system_clock::now()).substr(0, 10);
    for (const auto& due : OverdueCalibrations(*setup, today)) std::fprintf(stderr, "moxctl: %s\n", due.c_str());
    return true;
}

int Read(const ReadOptions& o) {
    Card card;
    if (!StartOrSay(card)) return kExitFailed;
    SayMeanLimit(o.request);
    const mox::setup::Setup* setup = o.setup ? &*o.setup : nullptr;
    if (o.format == Format::Csv) std::fputs(CsvHeader(o.request, setup).c_str(), stdout);
    // A mean's first row waits until the card can have taken its points.
    RowSchedule schedule(Clock::now(), o.interval, std::nullopt, MeanFillTime(o.request.mean));
    RepeatWatch repeats;
    auto lastGood = schedule.Due();
    int result = kExitOk;
    for (long i = 0; (o.count == 0 || i < o.count) && !g_stop;) {
        SleepUntil(schedule.Due());
        if (g_stop) break;
        const auto reading = card.Read(o.request);
        if (!reading) {
            if (Clock::now() - lastGood > kReadGiveUp) {
                result = Fail("the card has given no reading for 2 s");
                break;
            }
            SleepUntil(Clock::now() + std::chrono::milliseconds(20)); // the same row again
            continue;
        }
        lastGood = Clock::now();
        schedule.Taken(lastGood);
        SayIfRepeated(repeats, *reading, o.interval);
        const Stamp stamp = Now();
        const std::string row = o.format == Format::Csv ? CsvRow(o.request, stamp, *reading, setup)
                                                        : JsonRow(o.request, stamp, *reading, setup);
        std::fputs(row.c_str(), stdout);
        std::fflush(stdout);
        ++i;
    }
    card.StopAcquisition();
    return result;
}

namespace {

std::string LogHeader(const LogOptions& o, const std::optional<mox::CardIdentity>& id) {
    std::string h = "# moxctl log\n";
    h += "# program: moxctl " MOX_VERSION "\n";
    h += "# started: " + mox::IsoUtc(std::chrono::system_clock::now()) + "\n";
    h += "# card: " + (id ? mox::IdentityText(*id) : std::string("did not answer the identity request")) + "\n";
    h += "# scaling: AD code 0..65535 over -5 V..+5 V (16 bits), 32768 = 0 V, volts = (code - 32768) / 32768 * 5\n";
    if (o.request.mean > 0) {
        h += "# mean: the first row comes once the card can have taken its " +
             std::to_string(MeanPoints(o.request.mean)) + " points (again after a restart)\n";
    }
    if (o.setup) h += SetupHeaderLines(*o.setup);
    h += "# reading: " + Describe(o.request) + ", every " + std::to_string(o.interval.count()) + " ms\n";
    return h + CsvHeader(o.request, o.setup ? &*o.setup : nullptr);
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "moxctl: %s\n", message.c_str());
    return kExitUsage;
}

constexpr auto kRetryWhileDown = std::chrono::milliseconds(50);

// One run of `log`: rows at their times, and '#' notes when the readings
// stop and start again and when the card was found restarted.
class LogRun {
public:
    LogRun(Card& card, LogFile& file, const LogOptions& o)
        : card_(card), file_(file), o_(o), start_(Clock::now()),
          schedule_(start_, o.interval, o.duration, MeanFillTime(o.request.mean)), lastProgress_(start_) {
        probe_.Started(start_);
    }

    int Run() {
        std::string error;
        while (!g_stop) {
            // While readings fail the card is asked more often than rows
            // are due, so that its return (and a fresh start) is seen soon.
            const auto next = linkUp_ ? schedule_.Due() : Clock::now() + kRetryWhileDown;
            if (schedule_.Over() || schedule_.EndsBy(next)) break;
            SleepUntil(next);
            if (g_stop) break;
            if (!Step(error) || !file_.SyncIfDue(error)) return Fail(error);
            if (const std::string notice = file_.TakeNotice(); !notice.empty())
                std::fprintf(stderr, "\nmoxctl: %s", notice.c_str());
            Progress();
        }
        return kExitOk;
    }

private:
    bool Step(std::string& error) {
        const auto reading = card_.Read(o_.request);
        if (!reading) return Failed(error);
        schedule_.Taken(Clock::now());
        if (!linkUp_ && !Resumed(error)) return false;
        probe_.Learn(Clock::now());
        SayIfRepeated(repeats_, *reading, o_.interval);
        return file_.Append(CsvRow(o_.request, Now(), *reading, o_.setup ? &*o_.setup : nullptr), error);
    }

    // Readings fail: the link is down, or the card answers but does not
    // acquire, which after a good start means it was restarted (its
    // outputs back at their power-on values). Acquisition is then started
    // again; a network driver may already have done so by itself.
    bool Failed(std::string& error) {
        if (linkUp_) {
            linkUp_ = false;
            restartNoted_ = false;
            if (!Note("link down: readings fail", error)) return false;
        }
        if (restartNoted_ || !card_.Identity()) return true;
        restartNoted_ = true;
        std::int32_t code = 0;
        const bool started = card_.StartAcquisition(code);
        if (started) probe_.Started(Clock::now());
        schedule_.Delay(Clock::now(), MeanFillTime(o_.request.mean));
        return Note(started ? "card restarted: it answers but was not acquiring (outputs reset by the restart); "
                              "acquisition started again"
                            : "card restarted: it answers but was not acquiring (outputs reset by the restart); "
                              "acquisition did not start again (driver error " +
                                  std::to_string(code) + ")",
                    error);
    }

    // The link is back: a card whose acquisition has just begun again (the
    // driver started it) was restarted while out of reach.
    bool Resumed(std::string& error) {
        linkUp_ = true;
        if (!Note("link up: readings resumed", error)) return false;
        if (restartNoted_) return true;
        const auto held = probe_.FreshStart();
        if (!held) return true;
        restartNoted_ = true;
        schedule_.Delay(Clock::now(), MeanFillTime(o_.request.mean));
        return Note("card restarted: its acquisition holds only " + std::to_string(*held) +
                        " samples, started again by the driver (outputs reset by the restart)",
                    error);
    }

    bool Note(const std::string& text, std::string& error) {
        if (!file_.Comment(NoteLine(std::chrono::system_clock::now(), text), error)) return false;
        std::fprintf(stderr, "%smoxctl: %s\n", progress_ ? "\n" : "", text.c_str());
        return true;
    }

    void Progress() {
        if (!progress_ || Clock::now() - lastProgress_ < std::chrono::seconds(1)) return;
        lastProgress_ = Clock::now();
        std::fprintf(stderr, "\r%llu rows, %s, link %s   ", static_cast<unsigned long long>(file_.RowsWritten()),
                     Elapsed(lastProgress_ - start_).c_str(), linkUp_ ? "up" : "down");
        std::fflush(stderr);
    }

    Card& card_;
    LogFile& file_;
    const LogOptions& o_;
    const Clock::time_point start_;
    RowSchedule schedule_;
    RepeatWatch repeats_;
    RestartProbe probe_;
    Clock::time_point lastProgress_;
    const bool progress_ = MOX_ISATTY(stderr) != 0;
    bool linkUp_ = true;
    bool restartNoted_ = false;
};

} // namespace

int Log(const LogOptions& o) {
    Card card;
    const auto id = card.Identity();
    LogFile file(o.path, LogHeader(o, id), o.rotate);
    if (file.ToStandardOutput() && (o.rotate.maxBytes > 0 || o.rotate.maxAge.count() > 0))
        return Usage("--rotate-size and --rotate-time rotate a file: standard output (\"-\") is not rotated");
    // A file that is not ours, or holds other readings, is refused before
    // anything is started or written.
    std::string error;
    if (!file.Check(error)) return Usage(error);
    if (!StartOrSay(card)) return kExitFailed;
    SayMeanLimit(o.request);
    if (!file.Open(error)) {
        card.StopAcquisition();
        return Fail(error);
    }
    int result = LogRun(card, file, o).Run();
    card.StopAcquisition();
    if (!file.Sync(error) && result == kExitOk) result = Fail(error);
    if (MOX_ISATTY(stderr) != 0) std::fputc('\n', stderr);
    std::fprintf(stderr, "moxctl: %llu rows written to %s\n", static_cast<unsigned long long>(file.RowsWritten()),
                 file.ToStandardOutput() ? "standard output" : o.path.c_str());
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
        nlohmann::ordered_json j;
        j["group0"] = g0;
        j["group1"] = g1;
        std::printf("%s\n", j.dump().c_str());
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
