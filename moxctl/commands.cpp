// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"
#include "whole_file.h"

#include "DllDef.h"

#include "json_text.h"
#include "pacing.h"
#include "restart_probe.h"
#include "setup_columns.h"
#include "text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

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
    Fail("acquisition did not start on " + CardName() + " (" + DriverErrorText(error) + "): " + NoAnswerAdvice());
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

} // namespace

int Info(bool json) {
    Card card;
    const auto id = card.Identity();
    if (!id)
        return Fail(CardName() + " does not answer the identity request: " + NoAnswerAdvice() + "\n" +
                    DllDef::LoadedText());
    const auto status = card.Status();
    if (!status) return Fail(CardName() + " does not answer the network status request: " + NoAnswerAdvice());
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
        const DllDef::LoadedLibrary driver = DllDef::Loaded();
        j["driver"] = driver.path;
        // Behind an address may be the emulator, a bridge to hardware, or
        // the virtual card served by either: not known from here.
        if (SendsToAddress()) {
            j["virtual_card"] = nullptr;
        } else {
            j["virtual_card"] = driver.builtHere;
        }
        if (SendsToAddress()) j["card_address"] = std::getenv("MOX_CARD_ADDRESS");
        std::printf("%s\n", JsonText(j).c_str());
        return kExitOk;
    }
    std::printf("%s\n", mox::IdentityText(*id).c_str());
    std::printf("PC address seen by the card: %s", mox::AddressText(status->pcAddress).c_str());
    if (status->pcAddress != mox::kExpectedPcAddress) {
        std::printf(" (the card expects %s)", mox::AddressText(mox::kExpectedPcAddress).c_str());
    }
    std::printf("\nlink: %s (down %u s)\n%s\n", up ? "up" : "down", status->downSeconds, DllDef::LoadedText().c_str());
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

// Whether a row's reading is new. A driver of ours tells when each reading
// was asked of the card: a reading no newer than the previous row's is
// left out (never shown as a new row), and said once. Another driver does
// not: rows repeating in every channel are counted and said once, and kept.
class RowFreshness {
public:
    enum class Verdict { New, LeftOut, FirstLeftOut };

    RowFreshness(Card& card, std::chrono::milliseconds interval)
        : card_(card), interval_(interval), tells_(card.News().has_value()) {}

    bool Tells() const { return tells_; }

    // Called right after the reading was taken, on the same thread.
    Verdict Judge(const Reading& reading) {
        if (!tells_) {
            SayIfRepeated(repeats_, reading, interval_);
            return Verdict::New;
        }
        const auto news = card_.News();
        if (news && news->hasReading) lastAgeMs_ = news->ageUs / 1000;
        if (!news || !news->hasReading || fresh_.Newer(news->askedUs)) return Verdict::New;
        // Said once, when how often new readings come is known (or a few
        // rows on, when it cannot be).
        constexpr long long kSayAfterAtMost = 5;
        if (said_ || (fresh_.MeanSpacingUs() == 0 && fresh_.LeftOut() < kSayAfterAtMost)) return Verdict::LeftOut;
        said_ = true;
        std::fprintf(stderr, "moxctl: %s\n", Explain().c_str());
        return Verdict::FirstLeftOut;
    }

    // Why rows are left out: "rows are due every 10 ms, but the card link
    // gives a new reading only about every 25 ms (...)".
    std::string Explain() const {
        std::string text = "rows are due every " + std::to_string(interval_.count()) +
                           " ms, but the card link does not have a newer reading for each";
        // How often new readings came says how fast the link is only when
        // it is slower than the rows.
        const auto spacingMs = (fresh_.MeanSpacingUs() + 500) / 1000;
        if (2 * spacingMs > 3 * interval_.count())
            text += ": it gives one about every " + std::to_string(spacingMs) + " ms";
        text += " (the last was asked " + std::to_string(lastAgeMs_) +
                " ms before it was read); a row without a newer reading is left out, and a longer --interval "
                "gives a row at each due time";
        return text;
    }

    long long LeftOut() const { return fresh_.LeftOut(); }

private:
    Card& card_;
    std::chrono::milliseconds interval_;
    bool tells_;
    FreshRows fresh_;
    RepeatWatch repeats_;
    std::int64_t lastAgeMs_ = 0;
    bool said_ = false;
};

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
    RowFreshness freshness(card, o.interval);
    auto lastGood = schedule.Due();
    int result = kExitOk;
    for (long i = 0; (o.count == 0 || i < o.count) && !g_stop;) {
        SleepUntil(schedule.Due());
        if (g_stop) break;
        const auto reading = card.Read(o.request);
        if (!reading) {
            if (Clock::now() - lastGood > kReadGiveUp) {
                result = Fail(CardName() + " has given no reading for 2 s: " + NoAnswerAdvice());
                break;
            }
            SleepUntil(Clock::now() + std::chrono::milliseconds(20)); // the same row again
            continue;
        }
        lastGood = Clock::now();
        schedule.Taken(lastGood);
        // A reading no newer than the last row's is no row: the count is
        // of rows printed.
        if (freshness.Judge(*reading) != RowFreshness::Verdict::New) continue;
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

std::string LogHeader(const LogOptions& o, const std::optional<mox::CardIdentity>& id, bool driverTells) {
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
    h += "# seq: a row's number among the due times of this session, 0 at the first; a number missing is a row not "
         "recorded, inside a gap noted with its reason and the numbers it lacks, in a pause of moxctl itself "
         "(noted), or a reading no newer than the previous row's\n";
    h += driverTells ? "# fresh: the driver tells when each reading was asked of the card: a row is only written "
                       "from a reading newer than the previous row's\n"
                     : "# fresh: the driver does not tell when a reading was asked: a row may repeat the previous "
                       "reading (rows repeating in every channel are counted and said on standard error)\n";
    h += "# reading: " + Describe(o.request) + ", every " + std::to_string(o.interval.count()) + " ms\n";
    return h + CsvHeader(o.request, o.setup ? &*o.setup : nullptr, true);
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "moxctl: %s\n", message.c_str());
    return kExitUsage;
}

constexpr auto kRetryWhileDown = std::chrono::milliseconds(50);
// How long, after acquisition was started again, readings may take to come.
constexpr auto kStartedReadingWait = std::chrono::milliseconds(500);

// Rows not recorded, first..last: "seq 57..83 not recorded (27 rows)", or
// the count alone in a log whose rows carry no numbers.
std::string Missing(long long first, long long last, bool numbered) {
    if (last < first) return "no row missed";
    const long long n = last - first + 1;
    const std::string count = std::to_string(n) + (n == 1 ? " row" : " rows");
    if (!numbered) return count + " not recorded";
    const std::string range = n == 1 ? std::to_string(first) : std::to_string(first) + ".." + std::to_string(last);
    return "seq " + range + " not recorded (" + count + ")";
}

// One run of `log`: rows at their times, numbered by them; '#' notes when
// a gap in the rows starts and ends (the link down, the card refusing
// readings, acquisition restarted) and when the card was found restarted.
class LogRun {
public:
    LogRun(Card& card, LogFile& file, const LogOptions& o)
        : card_(card), file_(file), o_(o), start_(Clock::now()),
          schedule_(start_, o.interval, o.duration, MeanFillTime(o.request.mean)), freshness_(card, o.interval),
          lastProgress_(start_) {
        probe_.Started(start_);
        if (const auto news = card_.News()) restarts_ = news->cardRestarts;
    }

    int Run() {
        std::string error;
        while (!g_stop) {
            // While readings fail the card is asked more often than rows
            // are due, so that its return (and a fresh start) is seen soon.
            const auto next = failing_ ? Clock::now() + kRetryWhileDown : schedule_.Due();
            if (schedule_.Over() || schedule_.EndsBy(next)) break;
            SleepUntil(next);
            if (g_stop) break;
            if (!Step(error) || !file_.SyncIfDue(error)) return Fail(error);
            if (const std::string notice = file_.TakeNotice(); !notice.empty())
                std::fprintf(stderr, "\nmoxctl: %s", notice.c_str());
            Progress();
        }
        if (gap_ && !Note("log ended in the gap: no row recorded from seq " + std::to_string(gap_->first), error))
            return Fail(error);
        return kExitOk;
    }

private:
    // A run of due rows not recorded, from `first`.
    struct Gap {
        long long first = 0;
        bool linkDown = false; // it began with the card out of reach
    };

    bool Step(std::string& error) {
        const auto reading = card_.Read(o_.request);
        if (!reading) return Failed(error);
        const bool wasFailing = std::exchange(failing_, false);
        if (wasFailing && !freshness_.Tells() && !ProbedRestart(error)) return false;
        bool delayed = false;
        if (!DriverRestarts(error, delayed)) return false;
        // Acquisition started again: no row until its mean has its points.
        if (delayed || Clock::now() < schedule_.Due()) return true;
        const long long due = schedule_.Seq();
        const auto late = Clock::now() - schedule_.Due();
        const long long seq = schedule_.Taken(Clock::now());
        if (!gap_ && !HeldUp(due, seq, late, error)) return false;
        const auto verdict = freshness_.Judge(*reading);
        if (verdict == RowFreshness::Verdict::FirstLeftOut && !file_.Comment(LeftOutLine(), error)) return false;
        if (verdict != RowFreshness::Verdict::New) return true;
        if (gap_ && !EndGap(seq, error)) return false;
        // A driver that counts restarts is not probed: that costs a reading.
        if (!freshness_.Tells()) probe_.Learn(Clock::now());
        const std::optional<long long> number = file_.Numbered() ? std::optional<long long>(seq) : std::nullopt;
        return file_.Append(CsvRow(o_.request, Now(), *reading, o_.setup ? &*o_.setup : nullptr, number), error);
    }

    // Rows missed because moxctl itself ran late: stopped, the system
    // suspended, or a slow reading. Every number left out is noted, so a
    // reader never meets a hole without its reason.
    bool HeldUp(long long due, long long seq, Clock::duration late, std::string& error) {
        if (seq <= due) return true;
        const char* why = late >= std::chrono::seconds(1) ? "moxctl was held up (the program or the system paused): "
                                                          : "rows late (moxctl or the system was slow): ";
        return Note(why + Missing(due, seq - 1, file_.Numbered()), error);
    }

    std::string LeftOutLine() const {
        return NoteLine(std::chrono::system_clock::now(),
                        freshness_.Explain() + (file_.Numbered() ? " (its seq is missing, with no gap noted)" : ""));
    }

    bool OpenGap(const std::string& reason, bool linkDown, std::string& error) {
        gap_ = Gap{schedule_.Seq(), linkDown};
        const std::string from = file_.Numbered() ? "no row recorded from seq " + std::to_string(gap_->first)
                                                  : "no row recorded from now on";
        return Note(reason + "; " + from, error);
    }

    bool EndGap(long long seq, std::string& error) {
        const Gap gap = *std::exchange(gap_, std::nullopt);
        startTried_ = false;
        const std::string how = gap.linkDown ? "link up: readings resumed" : "readings resumed";
        return Note(how + "; " + Missing(gap.first, seq - 1, file_.Numbered()), error);
    }

    // Readings fail: the link is down (the card does not answer), or the
    // card answers but gives no reading (it refuses: acquisition stopped,
    // often by a restart).
    bool Failed(std::string& error) {
        failing_ = true;
        const bool answers = card_.Identity().has_value();
        if (!gap_ && !OpenGap(FailureReason(answers), !answers, error)) return false;
        if (!answers) return true;
        bool delayed = false;
        if (!DriverRestarts(error, delayed)) return false;
        // A driver of ours starts a stopped card again itself and counts
        // it; starting it here too would throw a slow link's mean away.
        return freshness_.Tells() || StartAgain(error);
    }

    // A driver of ours gives up a reading the link serves too late while
    // the card still answers a call: that is no refusal by the card.
    std::string FailureReason(bool answers) const {
        if (!answers) return "link down: readings fail";
        if (freshness_.Tells())
            return "readings fail: the card answers but no reading comes in time (a slow link, or acquisition "
                   "stopped)";
        return "card refused: it answers but gives no reading";
    }

    // Once in a gap, with the card answering but giving no reading:
    // acquisition started again. Readings that then come show that the card
    // was not acquiring; with a driver that does not count restarts, that
    // after a good start means it was restarted (its outputs back at their
    // power-on values).
    bool StartAgain(std::string& error) {
        if (startTried_) return true;
        startTried_ = true;
        std::int32_t code = 0;
        if (!card_.StartAcquisition(code))
            return Note("acquisition did not start again (" + DriverErrorText(code) + ")", error);
        probe_.Started(Clock::now());
        if (const auto news = card_.News()) restarts_ = news->cardRestarts;
        bool readings = false;
        for (const auto until = Clock::now() + kStartedReadingWait; !readings && Clock::now() < until;) {
            readings = card_.Read(o_.request).has_value();
            if (!readings) SleepUntil(Clock::now() + std::chrono::milliseconds(20));
        }
        schedule_.Delay(Clock::now(), MeanFillTime(o_.request.mean));
        if (!readings) return Note("acquisition started again; the card still gives no reading", error);
        return Note(freshness_.Tells() ? "acquisition started again: the card had stopped acquiring"
                                       : "card restarted: it answers but was not acquiring (outputs reset by the "
                                         "restart); acquisition started again",
                    error);
    }

    // A driver of ours counts the restarts it found and acted on: a card
    // restarted is noted even when the driver started acquisition again
    // before any reading failed. With a mean, rows wait for its points.
    bool DriverRestarts(std::string& error, bool& delayed) {
        const auto news = card_.News();
        if (!news || news->cardRestarts == restarts_) return true;
        restarts_ = news->cardRestarts;
        startTried_ = true; // the driver starts it again itself
        probe_.Started(Clock::now());
        if (!Note("card restarted: the driver found it not acquiring after it had been (outputs reset by the "
                  "restart) and starts acquisition again",
                  error))
            return false;
        if (o_.request.mean <= 0) return true;
        delayed = true;
        // The gap opens at the first due row the wait will cost, before the
        // schedule moves past them.
        if (!gap_ && !OpenGap("acquisition restarted: no row until its mean holds its " +
                                  std::to_string(MeanPoints(o_.request.mean)) + " points",
                              false, error))
            return false;
        schedule_.Delay(Clock::now(), MeanFillTime(o_.request.mean));
        return true;
    }

    // After readings failed, with a driver that does not count restarts: a
    // card whose acquisition has just begun again (the driver started it)
    // was restarted while out of reach.
    bool ProbedRestart(std::string& error) {
        if (startTried_) return true;
        const auto held = probe_.FreshStart();
        if (!held) return true;
        startTried_ = true;
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
                     Elapsed(lastProgress_ - start_).c_str(), failing_ ? "down" : "up");
        std::fflush(stderr);
    }

    Card& card_;
    LogFile& file_;
    const LogOptions& o_;
    const Clock::time_point start_;
    RowSchedule schedule_;
    RowFreshness freshness_;
    RestartProbe probe_;
    Clock::time_point lastProgress_;
    const bool progress_ = MOX_ISATTY(stderr) != 0;
    bool failing_ = false;
    std::optional<Gap> gap_;
    bool startTried_ = false; // in this gap: acquisition started again, by moxctl or the driver
    std::uint32_t restarts_ = 0;
};

// A log path that can never be written is a bad argument, said before the
// card is asked anything.
std::optional<std::string> LogPathFault(const std::string& path) {
    if (path == "-") return std::nullopt;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = fs::path(path).parent_path().empty() ? fs::path(".") : fs::path(path).parent_path();
    if (!fs::is_directory(folder, ec)) return "the folder of " + path + " is not there";
    if (fs::is_directory(path, ec)) return path + " is a folder: name a file";
    return std::nullopt;
}

} // namespace

int Log(const LogOptions& o) {
    if (const auto fault = LogPathFault(o.path)) return Usage(*fault);
    Card card;
    const auto id = card.Identity();
    LogFile file(o.path, LogHeader(o, id, card.News().has_value()), o.rotate);
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
        std::fprintf(stderr,
                     "moxctl: %s was not confirmed by the card: it may or may not have been applied (%s, %s); %s\n",
                     what.c_str(), CardName().c_str(), DriverErrorText(error).c_str(), NoAnswerAdvice().c_str());
        return kExitUnconfirmed;
    }
    return Fail(CardName() + " did not take " + what + " (" + DriverErrorText(error) + ")");
}

} // namespace

int SetDa(std::int16_t channel, std::int16_t code, const std::string& how) {
    Card card;
    if (card.SetDA(channel, code) == 0) return WriteFailed(card, OutputName(channel));
    std::printf("%s: code %s (%d)%s\n", OutputName(channel).c_str(),
                Hex(static_cast<unsigned>(code) & 0xFFFFu, 3).c_str(), code, how.c_str());
    return kExitOk;
}

int SetDo(std::int16_t group, std::int16_t byte) {
    Card card;
    const std::string outputs = "DO group " + std::to_string(group) + " (" + DigitalOutputName(group * 8) + ".." +
                                DigitalOutputName(group * 8 + 7) + ")";
    if (card.SetDO(group, byte) == 0) return WriteFailed(card, outputs);
    std::printf("%s: %s (%s)\n", outputs.c_str(), Hex(static_cast<unsigned>(byte), 2).c_str(),
                Bits(static_cast<std::uint8_t>(byte)).c_str());
    return kExitOk;
}

int SetDoBit(std::int16_t bitIndex, std::int16_t value) {
    Card card;
    if (card.SetDOBit(bitIndex, value) == 0) return WriteFailed(card, DigitalOutputName(bitIndex));
    std::printf("%s: %d\n", DigitalOutputName(bitIndex).c_str(), value);
    return kExitOk;
}

int ReadDi(bool json) {
    Card card;
    const auto bits = card.ReadDI();
    if (!bits) return Fail("the digital inputs of " + CardName() + " could not be read: " + NoAnswerAdvice());
    const auto g0 = static_cast<std::uint8_t>(*bits & 0xFF);
    const auto g1 = static_cast<std::uint8_t>(*bits >> 8);
    if (json) {
        nlohmann::ordered_json j;
        j["group0"] = g0;
        j["group1"] = g1;
        std::printf("%s\n", JsonText(j).c_str());
    } else {
        std::printf("DI group 0: %s (%s)\nDI group 1: %s (%s)\n", Hex(g0, 2).c_str(), Bits(g0).c_str(),
                    Hex(g1, 2).c_str(), Bits(g1).c_str());
    }
    return kExitOk;
}

namespace {

// The report files named: each checked before the outputs are driven, so
// that a test is not run for a report that cannot be written.
std::optional<std::string> SelfTestReportsFault(const SelfTestFiles& files) {
    static const char* const kJsonStart = "{\n  \"program\": \"moxctl ";
    static const char* const kJUnitStart =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n  <testsuite name=\"moxctl selftest\"";
    std::vector<std::pair<std::string, std::string>> taken;
    if (!files.json.empty()) {
        if (auto fault = ReportPathFault(files.json, kJsonStart, "moxctl selftest", taken)) return "--json: " + *fault;
        taken.emplace_back("the --json report", files.json);
    }
    if (!files.junit.empty()) {
        if (auto fault = ReportPathFault(files.junit, kJUnitStart, "moxctl selftest", taken)) {
            return "--junit: " + *fault;
        }
    }
    return std::nullopt;
}

} // namespace

int SelfTest(const SelfTestOptions& o, const SelfTestFiles& files) {
    if (const auto fault = SelfTestReportsFault(files)) {
        std::fprintf(stderr, "moxctl: %s\n", fault->c_str());
        return kExitUsage;
    }
    Card card;
    Report report = RunSelfTest(card, o);
    report.program = "moxctl " MOX_VERSION;
    std::fputs(files.jsonToStandardOutput ? ReportJson(report).c_str() : ReportTable(report).c_str(), stdout);
    if (!files.json.empty()) {
        if (const auto fault = WriteWhole(files.json, ReportJson(report))) return Fail("the report: " + *fault);
    }
    if (!files.junit.empty()) {
        if (const auto fault = WriteWhole(files.junit, ReportJUnit(report))) return Fail("the report: " + *fault);
    }
    return report.Passed() ? kExitOk : kExitFailed;
}

} // namespace moxctl
