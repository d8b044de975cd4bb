// SPDX-License-Identifier: GPL-3.0-or-later
// A recorded log played back on the emulator's inputs: which files are read
// and how (a table of good and bad files), the card's input override, and
// through the programs: a `moxctl log` of steps replayed reads back with
// `moxctl read` within one code of what was recorded, and a trend export
// with a gap leaves the gap to the card's own signal.
#include "card_model.h"
#include "emulator_process.h"
#include "moxctl_shell.h"
#include "replay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr double kCodeVolts = 5.0 / 32768;
const double kNaN = std::nan("");

emu::RecordingLoad Load(const std::string& text) {
    std::istringstream in(text);
    return emu::ReadRecording(in, "run.csv");
}

// A value expected at a time: NaN for "nothing recorded".
struct At {
    int ch;
    double t;
    double volts;
};

struct GoodFile {
    const char* what;
    std::string text;
    std::vector<int> channels;
    double length;
    std::vector<At> expected;
};

const std::string kLogHead = "# moxctl log\n# started: 2026-12-08T10:00:00.000Z\n"
                             "# reading: newest sample, codes and volts, every 100 ms\n";

std::vector<GoodFile> GoodFiles() {
    return {
        {"a moxctl log, codes and volts (the volts win), times from the first row",
         kLogHead + "utc,monotonic_s,seq,AI00_code,AI00_volts,AI05_code,AI05_volts\n"
                    "2026-12-08T10:00:00.100Z,3.100,0,32768,1.25,19661,-2\n"
                    "2026-12-08T10:00:00.200Z,3.200,1,32768,-1.5,19661,-2\n"
                    "# 2026-12-08T10:00:00.250Z link down: readings fail; no row recorded from seq 2\n"
                    "# 2026-12-08T10:00:00.450Z link up: readings resumed; seq 2..3 not recorded (2 rows)\n"
                    "2026-12-08T10:00:00.500Z,3.500,4,32768,4.5,19661,-2\n",
         {0, 5},
         0.5,
         {{0, 0.0, 1.25},
          {0, 0.099, 1.25},
          {0, 0.1, -1.5},
          {0, 0.199, -1.5},
          {0, 0.25, kNaN},
          {5, 0.3, kNaN},
          {0, 0.4, 4.5},
          {0, 0.49, 4.5},
          {0, 0.5, kNaN},
          {3, 0.0, kNaN},
          {0, -0.1, kNaN}}},
        {"codes alone, as the reading line says",
         "# moxctl log\n# reading: mean of 20 samples, codes, every 200 ms\n"
         "utc,monotonic_s,seq,AI00,AI31\n"
         "t,0.000,0,49152,16384.5\nt,0.200,1,32768,0\n",
         {0, 31},
         0.4,
         {{0, 0.1, 2.5}, {31, 0.1, (16384.5 - 32768) * kCodeVolts}, {0, 0.3, 0.0}, {31, 0.3, -5.0}}},
        {"a trend export: unit row, a failed read's empty cells, a value in a unit",
         "# read mode: newest\nutc,monotonic_s,AI00,AI03,pump_pressure[bar]\n#unit,s,V,V,bar\n"
         "t,10.000,1,2,3.5\nt,10.100,,,\nt,10.200,-1,-2,0.5\r\n\r\n",
         {0, 3},
         0.3,
         {{0, 0.05, 1.0}, {3, 0.05, 2.0}, {0, 0.15, kNaN}, {3, 0.15, kNaN}, {0, 0.25, -1.0}}},
        {"an old log: no seq, channels named ch00",
         "# moxctl log\n# reading: newest sample, volts, every 100 ms\nutc,monotonic_s,ch00,ch01\n"
         "t,0.0,0.5,0.25\nt,0.3,0.75,0.5\n",
         {0, 1},
         0.6,
         {{0, 0.29, 0.5}, {1, 0.31, 0.5}, {0, 0.59, 0.75}}},
        {"two sessions, the second following the first's last row",
         kLogHead + "utc,monotonic_s,seq,AI02_code,AI02_volts\nt,0.000,0,0,1\nt,0.100,1,0,2\n" + kLogHead +
             "utc,monotonic_s,seq,AI02_code,AI02_volts\nt,7.000,0,0,3\nt,7.100,1,0,4\n",
         {2},
         0.4,
         {{2, 0.15, 2.0}, {2, 0.25, 3.0}, {2, 0.35, 4.0}}},
        {"rows at one time: the later one replaces the earlier; the last holds the interval seen",
         "\xEF\xBB\xBFutc,monotonic_s,AI00\r\nt,0.0,1\r\nt,0.0,2\r\nt,0.1,3\r\nt,0.1,4\r\n",
         {0},
         0.2,
         {{0, 0.05, 2.0}, {0, 0.15, 4.0}}},
        {"column lines with no rows start no session",
         "utc,monotonic_s,AI01\nutc,monotonic_s,AI01\nt,0.0,1\nt,0.5,2\nutc,monotonic_s,AI01\n"
         "utc,monotonic_s,AI01\nt,9.0,3\n",
         {1},
         1.5,
         {{1, 0.25, 1.0}, {1, 0.75, 2.0}, {1, 1.25, 3.0}}},
        {"one row: held for ever",
         "utc,monotonic_s,AI07\nt,1.5,-4.25\n",
         {7},
         HUGE_VAL,
         {{7, 0.0, -4.25}, {7, 1e6, -4.25}}},
    };
}

TEST(ReplayFile, GoodFilesReadAsRecorded) {
    for (const auto& file : GoodFiles()) {
        SCOPED_TRACE(file.what);
        const auto load = Load(file.text);
        ASSERT_TRUE(load.recording) << load.error;
        const auto& r = *load.recording;
        EXPECT_EQ(r.channels, file.channels);
        if (std::isinf(file.length)) {
            EXPECT_TRUE(std::isinf(r.Length())) << r.Length();
        } else {
            EXPECT_NEAR(r.Length(), file.length, 1e-9);
        }
        for (const auto& e : file.expected) {
            SCOPED_TRACE("AI" + std::to_string(e.ch) + " at " + std::to_string(e.t));
            const double got = r.VoltsAt(e.ch, e.t);
            if (std::isnan(e.volts)) {
                EXPECT_TRUE(std::isnan(got)) << got;
            } else {
                EXPECT_NEAR(got, e.volts, 1e-6);
            }
        }
    }
}

struct BadFile {
    std::string text;
    const char* where; // "run.csv:LINE: "
    const char* reason;
};

std::string ManyColumns() {
    std::string line = "utc,monotonic_s,AI00";
    for (int k = 0; k < 600; ++k) line += ",x" + std::to_string(k);
    return line + "\n";
}

TEST(ReplayFile, BadFilesRefusedWithTheirLine) {
    const std::string head = "# moxctl log\nutc,monotonic_s,seq,AI00,AI01\n";
    const std::vector<BadFile> bad{
        {head + "t,0.1,0,1,abc\n", "run.csv:3: ", "AI01 'abc' is not a number"},
        {head + "t,0.1,0,1,0x10\n", "run.csv:3: ", "is not a number"},
        {head + "t,0.1,0,nan,1\n", "run.csv:3: ", "AI00 'nan' is not a number"},
        {head + "t,0.1,0,1, 2\n", "run.csv:3: ", "is not a number"},
        {head + "t,0.1,0,5.5,1\n", "run.csv:3: ", "beyond the card's -5..+5 V"},
        {"# reading: newest sample, codes, every 1 ms\nutc,monotonic_s,AI00\nt,0,65536\n",
         "run.csv:3: ", "not a code 0..65535"},
        {head + "t,0.2,0,1,1\nt,0.1,1,1,1\n", "run.csv:4: ", "monotonic_s goes back"},
        {head + "t,0.1,3,1,1\nt,0.2,3,1,1\n", "run.csv:4: ", "seq 3 after 3"},
        {head + "t,0.1,-1,1,1\n", "run.csv:3: ", "seq '-1' is not a row number"},
        {head + "t,,0,1,1\n", "run.csv:3: ", "monotonic_s '' is not a time"},
        {head + "t,-0.5,0,1,1\n", "run.csv:3: ", "is not a time"},
        {head + "t,0.1,0,1\n", "run.csv:3: ", "4 cells where the column line (line 2) has 5"},
        {head + "t,0.1,0,1,1,1\n", "run.csv:3: ", "6 cells"},
        {"utc,monotonic_s,seq\nt,0,0\n", "run.csv:1: ", "no input columns"},
        {"utc,AI00\nt,1\n", "run.csv:1: ", "no monotonic_s column"},
        {"utc,monotonic_s,AI03,AI03\n", "run.csv:1: ", "'AI03' appears twice"},
        {ManyColumns(), "run.csv:1: ", "603 columns: at most 512"},
        {"# moxctl log\nt,0,1\nutc,monotonic_s,AI00\n", "run.csv:2: ", "a row before the column line"},
        {head + "t,0.1,0,1,1\nutc,monotonic_s,AI00\n", "run.csv:4: ", "the columns differ from those of line 2"},
        {"# moxctl log\n" + std::string(70000, 'x') + "\n", "run.csv:2: ", "longer than 65536 bytes"},
        {"", "run.csv: the file is empty: ", "no column line"},
        {"# only comments\n", "run.csv:1: ", "no column line"},
        {head, "run.csv:2: ", "no rows"},
        {head + "t,0.1,0,1,1\nt,0.1,1,1,1\n", "run.csv:4: ", "how long a row holds is unknown"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.text.substr(0, 120));
        const auto load = Load(b.text);
        EXPECT_FALSE(load.recording);
        EXPECT_EQ(load.error.rfind(b.where, 0), 0u) << load.error;
        EXPECT_NE(load.error.find(b.reason), std::string::npos) << load.error;
    }
}

TEST(ReplayFile, RowsBeyondTheBoundRefused) {
    std::string text = "utc,monotonic_s,AI00\n";
    text.reserve(text.size() + (emu::kMaxReplayRows + 1) * 8);
    for (std::size_t k = 0; k <= emu::kMaxReplayRows; ++k) text += "t,0,1.5\n";
    const auto load = Load(text);
    EXPECT_FALSE(load.recording);
    EXPECT_EQ(load.error, "run.csv:" + std::to_string(emu::kMaxReplayRows + 2) + ": more than " +
                              std::to_string(emu::kMaxReplayRows) + " rows: a replay holds at most that many");
}

// A file of column lines alone cannot grow the sessions kept beyond its rows.
TEST(ReplayFile, RepeatedColumnLinesKeepNoSessions) {
    std::string text;
    for (int k = 0; k < 100000; ++k) text += "utc,monotonic_s,AI00\n";
    text += "t,0.0,1\nt,0.1,2\n";
    const auto load = Load(text);
    ASSERT_TRUE(load.recording) << load.error;
    EXPECT_EQ(load.recording->sessions, 1u);
    EXPECT_EQ(load.recording->Rows(), 2u);
}

TEST(Replay, LoopsOrPlaysOnceFromItsStart) {
    const auto load = Load("utc,monotonic_s,AI00\nt,0.0,1\nt,1.0,2\n");
    ASSERT_TRUE(load.recording);
    emu::Replay looping(*load.recording, "run.csv", true);
    emu::Replay once(*load.recording, "run.csv", false);
    looping.StartAt(100);
    once.StartAt(100);
    EXPECT_TRUE(std::isnan(looping.Volts(0, 99.9))); // not started
    EXPECT_DOUBLE_EQ(looping.Volts(0, 101.5), 2);
    EXPECT_DOUBLE_EQ(looping.Volts(0, 102.5), 1); // second pass
    EXPECT_DOUBLE_EQ(looping.Volts(0, 105.5), 2);
    EXPECT_DOUBLE_EQ(once.Volts(0, 101.5), 2);
    EXPECT_TRUE(std::isnan(once.Volts(0, 102.5)));
    EXPECT_NE(looping.StatusText(102.5).find("0.500 s of 2.000 s, pass 2, looping"), std::string::npos)
        << looping.StatusText(102.5);
    EXPECT_NE(once.StatusText(102.5).find("ended at 2.000 s"), std::string::npos) << once.StatusText(102.5);
}

// The card's mean over its samples of a recorded input comes out as the
// recorded volts, also over the DA loopback; the inputs left alone read as
// on a card without a replay.
TEST(CardOverride, RecordedInputsReadAsGivenOthersUnchanged) {
    double now = 50;
    const auto clock = [&now] { return now; };
    vcard::VirtualCard plain(clock);
    vcard::VirtualCard replayed(clock);
    replayed.SetInputOverride([](int ch, double seconds) {
        if (ch == 0) return seconds < 50.5 ? 1.2345 : -3.3;
        return ch == 9 ? 4.9 : kNaN;
    });
    for (auto* card : {&plain, &replayed}) {
        ASSERT_EQ(card->Mox_DA(0, 3000), 1);
        ASSERT_EQ(card->StartIntr(100, 1000, 0, 32, 1000, 0, 0), 1);
    }
    for (const double t : {50.25, 51.0}) {
        now = t;
        std::array<float, 32> a{};
        std::array<float, 32> b{};
        ASSERT_GT(plain.ADResult_DV(0, 32, 1, 1, 1000, a.data()), 0);
        ASSERT_GT(replayed.ADResult_DV(0, 32, 1, 1, 1000, b.data()), 0);
        EXPECT_NEAR(b[0], t < 50.5 ? 1.2345 : -3.3, kCodeVolts);
        EXPECT_NEAR(b[9], 4.9, kCodeVolts);
        EXPECT_GT(std::fabs(a[0] - b[0]), 0.5); // the DA's own volts on the plain card
        for (std::size_t ch = 1; ch < 32; ++ch) {
            if (ch != 9) {
                EXPECT_EQ(a[ch], b[ch]) << "AI" << ch;
            }
        }
    }
}

// --- Through the programs -------------------------------------------------

std::string OnEmulator(std::uint16_t port) {
    return "LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:" + std::to_string(port);
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct Row {
    double t = 0;
    std::vector<double> codes; // of AI00..AI31
};

// The rows of `moxctl read --codes` or of a log with codes and volts (the
// codes taken), times as written.
std::vector<Row> CodeRows(const std::string& text, bool withVolts) {
    std::vector<Row> rows;
    for (const auto& line : Lines(text)) {
        if (line.empty() || line[0] == '#' || line.rfind("utc,", 0) == 0) continue;
        const auto f = Fields(line);
        const std::size_t first = withVolts ? 3 : 2; // a log has seq
        const std::size_t step = withVolts ? 2 : 1;
        if (f.size() != first + 32 * step) continue;
        Row r{std::stod(f[1]), {}};
        for (std::size_t k = 0; k < 32; ++k) r.codes.push_back(std::stod(f[first + k * step]));
        rows.push_back(r);
    }
    return rows;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ReplayProgram, LoggedStepsReadBackWithinOneCode) {
    const fs::path log = TempPath("replay-log.csv");
    fs::remove(log);
    EmulatorProcess recorder;
    const auto port = recorder.Start();
    ASSERT_NE(port, 0);
    // DA0 at -3 V, then 2 V, then 4.5 V, looped back on AI00 while logged.
    const auto made = Shell(OnEmulator(port), "$M da 0 --volts -3 >/dev/null && ($M log \"" + log.string() +
                                                  "\" --duration 2.8 --interval 100 --codes --volts &) && "
                                                  "sleep 0.8 && $M da 0 --volts 2 >/dev/null && sleep 0.8 && "
                                                  "$M da 0 --volts 4.5 >/dev/null && sleep 1.5");
    ASSERT_EQ(made.status, 0) << made.err;
    recorder.Kill();
    const auto recorded = CodeRows(ReadAll(log), true);
    ASSERT_GE(recorded.size(), 20u) << ReadAll(log);
    double low = 65535;
    double high = 0;
    for (const auto& r : recorded) {
        low = std::min(low, r.codes[0]);
        high = std::max(high, r.codes[0]);
    }
    ASSERT_GT(high - low, 7 * 6553.6 * 0.9) << "the recording holds the steps of DA0";

    EmulatorProcess player;
    const auto replayPort = player.Start(0, {"--replay", log.string(), "--replay-once"});
    const auto started = std::chrono::steady_clock::now();
    ASSERT_NE(replayPort, 0);
    const double offset = SecondsSince(started);
    const auto read = Shell(OnEmulator(replayPort), "$M read --codes --count 22 --interval 100");
    ASSERT_EQ(read.status, 0) << read.err;
    const auto rows = CodeRows(read.out, false);
    ASSERT_GE(rows.size(), 15u) << read.out;
    // Each value read is one of those recorded about then (the two clocks
    // agree to a few tens of ms; the rows are 100 ms apart), within a code.
    const double t0 = recorded.front().t;
    std::vector<bool> levels(3);
    for (const auto& row : rows) {
        const double t = offset + row.t;
        for (std::size_t ch = 0; ch < 32; ++ch) {
            const bool found = std::any_of(recorded.begin(), recorded.end(), [&](const Row& r) {
                return std::fabs(r.t - t0 - t) < 0.25 && std::fabs(r.codes[ch] - row.codes[ch]) <= 1;
            });
            EXPECT_TRUE(found) << "AI" << ch << " read " << row.codes[ch] << " at " << t << " s into the replay";
        }
        levels[row.codes[0] < 20000 ? 0 : row.codes[0] < 50000 ? 1 : 2] = true;
    }
    EXPECT_EQ(levels, std::vector<bool>(3, true)) << "the reads saw the three levels of DA0";
    const std::string status = player.Command("status");
    EXPECT_NE(status.find("replay " + log.string() + ": "), std::string::npos) << status;
    fs::remove(log);
}

TEST(ReplayProgram, TrendExportGapLeftToTheCard) {
    // 3 V for a second, a second of failed reads, then 1.5 V.
    std::string text = "# read mode: newest\nutc,monotonic_s,AI00,AI05\n";
    for (int k = 0; k < 30; ++k) {
        const std::string t = std::to_string(20 + k * 0.1);
        text += "t," + t + (k < 10 ? ",3,3\n" : k < 20 ? ",,\n" : ",1.5,1.5\n");
    }
    const fs::path file = TempPath("replay-trend.csv");
    WriteAll(file, text);
    EmulatorProcess player;
    const auto port = player.Start(0, {"--replay", file.string(), "--replay-once"});
    const auto started = std::chrono::steady_clock::now();
    ASSERT_NE(port, 0);
    std::this_thread::sleep_until(started + 450ms);
    const double offset = SecondsSince(started);
    const auto read = Shell(OnEmulator(port), "$M read --codes --count 3 --interval 1000");
    ASSERT_EQ(read.status, 0) << read.err;
    const auto rows = CodeRows(read.out, false);
    ASSERT_EQ(rows.size(), 3u) << read.out;
    const std::map<int, std::pair<double, double>> expected{
        {0, {vcard::VoltsToCode(3), vcard::VoltsToCode(3)}},
        {1, {32768, vcard::VoltsToCode(-2)}}, // the DA's 0 V and the card's own -2 V
        {2, {vcard::VoltsToCode(1.5), vcard::VoltsToCode(1.5)}},
    };
    for (const auto& row : rows) {
        const double t = offset + row.t;
        const double inSecond = t - std::floor(t);
        ASSERT_TRUE(inSecond > 0.1 && inSecond < 0.9) << "a read at " << t << " s: too near a change to tell";
        const auto& [ai0, ai5] = expected.at(static_cast<int>(t));
        const double tolerance = static_cast<int>(t) == 1 ? 40 : 1; // the card's noise in the gap
        EXPECT_NEAR(row.codes[0], ai0, tolerance) << "AI00 at " << t << " s";
        EXPECT_NEAR(row.codes[5], ai5, tolerance) << "AI05 at " << t << " s";
    }
    fs::remove(file);
}

TEST(ReplayProgram, BadFileRefusedBeforeServing) {
    const fs::path file = TempPath("replay-bad.csv");
    WriteAll(file, "utc,monotonic_s,AI00\nt,0,1\nt,0.1,9\n");
    const auto o = Shell("", "\"" MOX_EMULATOR "\" --port 0 --replay \"" + file.string() + "\" 2>&1");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "mox-card-emulator: --replay " + file.string() + ":3: AI00 '9' is beyond the card's -5..+5 V\n");
    fs::remove(file);
}

} // namespace
