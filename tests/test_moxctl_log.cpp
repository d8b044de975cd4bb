// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl log and read over time: files that are not our logs are left alone,
// rotation never replaces a file, rows keep their schedule across a stall
// and a duration, means are means from the first row, and a card that goes
// away, comes back or restarts is marked in the log.
#include "emulator_process.h"
#include "logfile.h"
#include "moxctl_shell.h"
#include "pacing.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace moxctl;
using namespace std::chrono_literals;

namespace {

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const std::string kVirtualCard = "-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "'";

std::string OnEmulator(std::uint16_t port) {
    return "LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:" + std::to_string(port);
}

// The data rows of a CSV log or of read's output (not '#' lines, not the
// column line).
std::vector<std::vector<std::string>> Rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& line : Lines(text)) {
        if (!line.empty() && line[0] != '#' && line.rfind("utc,", 0) != 0) rows.push_back(Fields(line));
    }
    return rows;
}

std::vector<double> Times(const std::vector<std::vector<std::string>>& rows) {
    std::vector<double> t;
    t.reserve(rows.size());
    for (const auto& r : rows) t.push_back(std::stod(r.at(1)));
    return t;
}

std::vector<std::string> Comments(const std::string& text, const std::string& containing) {
    std::vector<std::string> found;
    for (const auto& line : Lines(text)) {
        if (line.rfind("# ", 0) == 0 && line.find(containing) != std::string::npos) found.push_back(line);
    }
    return found;
}

// The seq column (the third) of numbered rows.
std::vector<long long> Seqs(const std::vector<std::vector<std::string>>& rows) {
    std::vector<long long> seqs;
    seqs.reserve(rows.size());
    for (const auto& r : rows) seqs.push_back(std::stoll(r.at(2)));
    return seqs;
}

// The numbers a gap note names: "... from seq 12" gives {12}, "seq 12..40
// not recorded" {12, 40}, "seq 12 not recorded" {12, 12}.
std::vector<long long> NumbersIn(const std::string& note) {
    const auto at = note.rfind("seq ");
    if (at == std::string::npos) return {};
    std::vector<long long> numbers;
    std::istringstream in(note.substr(at + 4));
    long long n = 0;
    while (in >> n) {
        numbers.push_back(n);
        if (in.peek() != '.') break;
        in.ignore(2);
    }
    return numbers;
}

// The seq of the last row before `line` in `text`, and of the first after it.
std::pair<long long, long long> RowsAround(const std::string& text, const std::string& line) {
    const auto at = text.find(line);
    const auto before = Seqs(Rows(text.substr(0, at)));
    const auto after = Seqs(Rows(text.substr(at + line.size())));
    return {before.empty() ? -1 : before.back(), after.empty() ? -1 : after.front()};
}

} // namespace

// ---- Existing files ----

struct ForeignFile {
    const char* name;
    std::string bytes;
};

class MoxctlLogForeignFile : public ::testing::TestWithParam<ForeignFile> {};

// A file that is not a log of ours is refused before anything is started,
// and keeps every byte; even where no card answers, the refusal comes first.
TEST_P(MoxctlLogForeignFile, IsRefusedAndKeepsItsBytes) {
    const fs::path file = TempPath(GetParam().name);
    WriteAll(file, GetParam().bytes);
    for (const std::string& env :
         {kVirtualCard, std::string("LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:1")}) {
        const Outcome o = Shell(env, "$M log " + file.string() + " --duration 0.3");
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_NE(o.err.find(file.string()), std::string::npos) << o.err;
        EXPECT_NE(o.err.find("not a moxctl log"), std::string::npos) << o.err;
        EXPECT_EQ(ReadAll(file), GetParam().bytes);
    }
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, MoxctlLogForeignFile,
    ::testing::Values(ForeignFile{"image.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\x01\x02", 22)},
                      ForeignFile{"notes.txt", "first line\nsecond line without an end"},
                      ForeignFile{"data.csv", "utc,monotonic_s,AI00\n2026-01-01T00:00:00.000Z,0.1,5\n"},
                      ForeignFile{"almost.csv", "# moxctl logs\nutc,monotonic_s\n"}));

TEST(MoxctlLog, AnEmptyFileIsStarted) {
    const fs::path file = TempPath("empty.csv");
    WriteAll(file, "");
    const Outcome o = Shell(kVirtualCard, "$M log " + file.string() + " --interval 50 --duration 0.3");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ReadAll(file).rfind("# moxctl log\n", 0), 0u);
    fs::remove(file);
}

TEST(MoxctlLog, ALogOfOtherColumnsIsRefusedNamingBoth) {
    const fs::path file = TempPath("volts.csv");
    fs::remove(file);
    const Outcome first = Shell(kVirtualCard, "$M log " + file.string() + " --volts --interval 50 --duration 0.2");
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string before = ReadAll(file);
    for (const char* other : {"--codes --volts", "--codes", "--volts --mean 10"}) {
        const Outcome o = Shell(kVirtualCard, "$M log " + file.string() + " " + other + " --duration 0.2");
        EXPECT_EQ(o.status, 2) << other << "\n" << o.err;
        EXPECT_NE(o.err.find("newest sample, volts"), std::string::npos) << o.err;
        EXPECT_NE(o.err.find("this run"), std::string::npos) << o.err;
        EXPECT_EQ(ReadAll(file), before) << other;
    }
    // The same reading at another interval goes on in the same file.
    const Outcome same = Shell(kVirtualCard, "$M log " + file.string() + " --volts --interval 100 --duration 0.2");
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_GT(ReadAll(file).size(), before.size());
    fs::remove(file);
}

// ---- Logs of older moxctl, whose columns were named ch00.. ----

namespace {

// The column line older moxctl wrote: ch00..ch31, or ch00_code,ch00_volts,..
std::string OldColumns(bool codes, bool volts) {
    std::string line = "utc,monotonic_s";
    for (int k = 0; k < 32; ++k) {
        const std::string name = (k < 10 ? ",ch0" : ",ch") + std::to_string(k);
        line += name;
        if (codes && volts) {
            line += "_code";
            line += name;
            line += "_volts";
        }
    }
    return line;
}

std::string OldLog(const std::string& reading, const std::string& columns, std::size_t values) {
    std::string row = "2026-11-30T08:00:00.000Z,0.215";
    for (std::size_t i = 0; i < values; ++i) row += ",32768";
    return "# moxctl log\n# program: moxctl 1.0.0\n# started: 2026-11-30T08:00:00.000Z\n# reading: " + reading +
           ", every 200 ms\n" + columns + "\n" + row + "\n";
}

} // namespace

struct OldLogCase {
    const char* options;
    const char* reading;
    bool codes;
    bool volts;
};

class MoxctlLogOldNames : public ::testing::TestWithParam<OldLogCase> {};

// An old log goes on: its rows kept, new rows of the same width added, and
// each new session's column line in the file's own naming, so that one
// naming holds for the whole file.
TEST_P(MoxctlLogOldNames, IsContinuedInItsOwnColumns) {
    const fs::path file = TempPath("old.csv");
    const std::string columns = OldColumns(GetParam().codes, GetParam().volts);
    const std::size_t values = GetParam().codes && GetParam().volts ? 64 : 32;
    const std::string before = OldLog(GetParam().reading, columns, values);
    WriteAll(file, before);
    const Outcome o =
        Shell(kVirtualCard, "$M log " + file.string() + " " + GetParam().options + " --interval 50 --duration 0.3");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string after = ReadAll(file);
    ASSERT_EQ(after.compare(0, before.size(), before), 0);
    int columnLines = 0;
    for (const auto& line : Lines(after)) {
        if (line.rfind("utc,", 0) != 0) continue;
        EXPECT_EQ(line, columns);
        ++columnLines;
    }
    EXPECT_EQ(columnLines, 2);
    const auto rows = Rows(after);
    ASSERT_EQ(rows.size(), 1u + 6u) << after;
    for (const auto& row : rows) EXPECT_EQ(row.size(), 2 + values);
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Readings, MoxctlLogOldNames,
                         ::testing::Values(OldLogCase{"", "newest sample, codes", true, false},
                                           OldLogCase{"--volts", "newest sample, volts", false, true},
                                           OldLogCase{"--codes --volts", "newest sample, codes and volts", true,
                                                      true}));

// Old names are read as the new ones, not as any columns: an old log of
// other readings is refused as before.
TEST(LogFileOldNames, OnlyTheSameColumnsUnderOldNamesGoOn) {
    const fs::path file = TempPath("old-unit.csv");
    const std::string header =
        "# moxctl log\n# reading: newest sample, volts, every 100 ms\n" + std::string("utc,monotonic_s,AI00,AI01\n");
    const struct {
        const char* columns;
        bool accepted;
    } cases[] = {{"utc,monotonic_s,ch00,ch01", true},
                 {"utc,monotonic_s,AI00,AI01", true},
                 {"utc,monotonic_s,ch00,ch02", false},
                 {"utc,monotonic_s,ch01,ch00", false},
                 {"utc,monotonic_s,ch00_volts,ch01_volts", false},
                 {"utc,monotonic_s,ch00", false},
                 {"utc,monotonic_s,chan00,ch01", false}};
    for (const auto& c : cases) {
        const std::string before = "# moxctl log\n# reading: newest sample, volts, every 50 ms\n" +
                                   std::string(c.columns) + "\n2026-11-30T08:00:00.000Z,0.1,1,2\n";
        WriteAll(file, before);
        LogFile log(file.string(), header, RotatePolicy{});
        std::string error;
        EXPECT_EQ(log.Check(error), c.accepted) << c.columns << ": " << error;
        if (!c.accepted) {
            EXPECT_NE(error.find("this run reads"), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(log.Open(error)) << error;
        ASSERT_TRUE(log.Append("2026-11-30T08:01:00.000Z,60.1,3,4\n", error)) << error;
        ASSERT_TRUE(log.Sync(error)) << error;
        EXPECT_EQ(ReadAll(file), before + "# moxctl log\n# reading: newest sample, volts, every 100 ms\n" + c.columns +
                                     "\n2026-11-30T08:01:00.000Z,60.1,3,4\n");
    }
    fs::remove(file);
}

// A session that goes on in a log written before rows were numbered keeps
// to its columns in every file it writes, rotated ones too; a new file is
// numbered.
TEST(LogFileNumbers, ASessionWithoutNumbersStaysWithoutAcrossRotations) {
    const fs::path dir = TempPath("unnumbered-rotations");
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "run.csv").string();
    WriteAll(path, "# moxctl log\n# reading: newest sample, codes, every 100 ms\nutc,monotonic_s,AI00\n"
                   "2026-11-30T08:00:00.000Z,0.1,5\n");
    const std::string header = "# moxctl log\n# seq: numbers\n# reading: newest sample, codes, every 50 "
                               "ms\nutc,monotonic_s,seq,AI00\n";
    {
        LogFile log(path, header, RotatePolicy{300, 0s});
        std::string error;
        ASSERT_TRUE(log.Check(error)) << error;
        ASSERT_TRUE(log.Open(error)) << error;
        EXPECT_FALSE(log.Numbered());
        for (int i = 0; i < 30; ++i) ASSERT_TRUE(log.Append("2026-11-30T08:01:00.000Z,60.1,7\n", error)) << error;
    }
    int files = 0;
    for (const auto& f : fs::directory_iterator(dir)) {
        ++files;
        const std::string text = ReadAll(f.path());
        EXPECT_EQ(text.find("# seq:"), std::string::npos) << text;
        for (const auto& line : Lines(text)) {
            if (line.rfind("utc,", 0) == 0) {
                EXPECT_EQ(line, "utc,monotonic_s,AI00") << f.path();
            }
        }
    }
    EXPECT_GE(files, 3);
    const std::string fresh = (dir / "new.csv").string();
    LogFile log(fresh, header, RotatePolicy{});
    std::string error;
    ASSERT_TRUE(log.Check(error) && log.Open(error)) << error;
    EXPECT_TRUE(log.Numbered());
    EXPECT_EQ(ReadAll(fresh), header);
    fs::remove_all(dir);
}

// "-" is standard output: the header and rows come there, and no file
// called "-" appears.
TEST(MoxctlLog, DashIsStandardOutput) {
    const fs::path dir = TempPath("dash");
    fs::create_directories(dir);
    const Outcome o = Shell(kVirtualCard, "cd " + dir.string() + " && $M log - --interval 50 --duration 0.3");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.rfind("# moxctl log\n", 0), 0u) << o.out;
    EXPECT_EQ(Rows(o.out).size(), 6u) << o.out;
    EXPECT_TRUE(fs::is_empty(dir));
    const Outcome rotated = Shell(kVirtualCard, "$M log - --rotate-size 65536 --duration 0.1");
    EXPECT_EQ(rotated.status, 2) << rotated.err;
    EXPECT_NE(rotated.err.find("--rotate-size"), std::string::npos) << rotated.err;
    fs::remove_all(dir);
}

// ---- Rotation ----

namespace {

int RowsIn(const fs::path& dir) {
    int rows = 0;
    for (const auto& f : fs::directory_iterator(dir)) {
        for (const auto& line : Lines(ReadAll(f.path()))) rows += line.rfind("row ", 0) == 0 ? 1 : 0;
    }
    return rows;
}

} // namespace

// Many rotations in one second (or a clock stepped back) give names that
// are already taken: no file is replaced, and the rows counted are the rows
// on the disk.
TEST(LogFileRotation, RotationsInOneSecondKeepEveryRow) {
    const fs::path dir = TempPath("rotations");
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "run.csv").string();
    // A file from an earlier run with the name this second's rotation takes.
    const std::string taken = RotatedName(path, std::chrono::system_clock::now());
    WriteAll(taken, "row earlier\n");
    {
        LogFile log(path, "# moxctl log\nutc,monotonic_s,AI00\n", RotatePolicy{400, 0s});
        std::string error;
        ASSERT_TRUE(log.Open(error)) << error;
        for (int i = 0; i < 200; ++i) ASSERT_TRUE(log.Append("row " + std::to_string(i) + "\n", error)) << error;
        EXPECT_EQ(log.RowsWritten(), 200u);
    }
    EXPECT_EQ(RowsIn(dir), 201);
    EXPECT_EQ(ReadAll(taken), "row earlier\n");
    fs::remove_all(dir);
}

TEST(LogFileRotation, NamesCountOnWhenTaken) {
    const auto t = std::chrono::system_clock::time_point(std::chrono::seconds(1796643000)); // 2026-12-07 11:30:00
    EXPECT_EQ(RotatedName("/data/run.csv", t, 0), "/data/run.20261207T113000Z.csv");
    EXPECT_EQ(RotatedName("/data/run.csv", t, 2), "/data/run.20261207T113000Z-2.csv");
    EXPECT_EQ(RotatedName("log", t, 1), "log.20261207T113000Z-1");
}

// ---- Row times ----

// A pause of the whole program (a stop signal, a suspended machine) leaves a
// gap: the rows missed are not made up in a burst.
TEST(MoxctlLog, AStallLeavesAGapNotABurst) {
    const fs::path file = TempPath("stall.csv");
    fs::remove(file);
    const Outcome o = Shell(kVirtualCard, "$M log " + file.string() +
                                              " --interval 200 --duration 4 & p=$!; sleep 1; kill -STOP $p; "
                                              "sleep 2; kill -CONT $p; wait $p");
    EXPECT_EQ(o.status, 0) << o.err;
    const auto times = Times(Rows(ReadAll(file)));
    ASSERT_GE(times.size(), 5u);
    double longest = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        // Rows are due at least half an interval apart.
        EXPECT_GE(times[i] - times[i - 1], 0.09) << "row " << i;
        longest = std::max(longest, times[i] - times[i - 1]);
    }
    EXPECT_GE(longest, 1.5);
    EXPECT_NE(o.err.find(std::to_string(times.size()) + " rows written"), std::string::npos) << o.err;
    // The rows missed are named: the hole in the numbers, and no other.
    const std::string text = ReadAll(file);
    const auto held = Comments(text, "moxctl was held up");
    ASSERT_EQ(held.size(), 1u) << text;
    const auto missing = NumbersIn(held[0]);
    ASSERT_EQ(missing.size(), 2u) << held[0];
    const auto around = RowsAround(text, held[0]);
    EXPECT_EQ(around.first, missing[0] - 1) << text;
    EXPECT_EQ(around.second, missing[1] + 1) << text;
    fs::remove(file);
}

// The holes in the rows' numbers that no note names exactly: a note's
// "seq A..B not recorded" (or "seq A not recorded") covers one hole.
std::vector<std::pair<long long, long long>> UnnotedHoles(const std::string& text) {
    std::vector<std::pair<long long, long long>> noted, unnoted;
    for (const auto& note : Comments(text, " not recorded")) {
        const auto n = NumbersIn(note);
        if (!n.empty()) noted.emplace_back(n.front(), n.back());
    }
    const auto seqs = Seqs(Rows(text));
    for (std::size_t i = 1; i < seqs.size(); ++i) {
        if (seqs[i] == seqs[i - 1] + 1) continue;
        const std::pair<long long, long long> hole{seqs[i - 1] + 1, seqs[i] - 1};
        if (std::find(noted.begin(), noted.end(), hole) == noted.end()) unnoted.push_back(hole);
    }
    return unnoted;
}

// A pause too short to call the program held up still costs rows; each
// number it costs is noted, so no hole is left unexplained.
TEST(MoxctlLog, EveryRowAShortStallCostsIsNoted) {
    const fs::path file = TempPath("short-stall.csv");
    fs::remove(file);
    const Outcome o = Shell(kVirtualCard, "$M log " + file.string() +
                                              " --interval 20 --duration 3 & p=$!; sleep 1; kill -STOP $p; "
                                              "sleep 0.6; kill -CONT $p; wait $p");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = ReadAll(file);
    EXPECT_GE(Comments(text, "rows late").size(), 1u) << text;
    for (const auto& [first, last] : UnnotedHoles(text)) ADD_FAILURE() << "seq " << first << ".." << last << text;
    fs::remove(file);
}

struct DurationCase {
    const char* duration;
    std::size_t rows; // at 100 ms: rows due before the duration ends
    double seconds;
};

class MoxctlLogDuration : public ::testing::TestWithParam<DurationCase> {};

TEST_P(MoxctlLogDuration, EndsAtTheDuration) {
    const fs::path file = TempPath("duration.csv");
    fs::remove(file);
    const auto start = std::chrono::steady_clock::now();
    const Outcome o =
        Shell(kVirtualCard, "$M log " + file.string() + " --interval 100 --duration " + GetParam().duration);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(o.status, 0) << o.err;
    const auto times = Times(Rows(ReadAll(file)));
    EXPECT_EQ(times.size(), GetParam().rows);
    // The process starts, loads the card and ends within half a second.
    EXPECT_LT(took.count(), GetParam().seconds + 0.5);
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Seconds, MoxctlLogDuration,
                         ::testing::Values(DurationCase{"0.5", 5, 0.5}, DurationCase{"1.2", 12, 1.2},
                                           DurationCase{"0.05", 1, 0.05}));

// The first mean row comes once the card can have taken the points it
// averages: 1000 points at 3125 per second per channel take 0.32 s.
TEST(MoxctlRead, TheFirstMeanRowWaitsForItsPoints) {
    const Outcome o = Shell(kVirtualCard, "$M read --mean 1000 --count 2 --interval 10");
    ASSERT_EQ(o.status, 0) << o.err;
    const auto times = Times(Rows(o.out));
    ASSERT_EQ(times.size(), 2u) << o.out;
    EXPECT_GE(times[0], 0.32) << o.out;
    // More than the card keeps cannot be averaged: said once.
    const Outcome more = Shell(kVirtualCard, "$M read --mean 5000 --count 1");
    ASSERT_EQ(more.status, 0) << more.err;
    EXPECT_NE(more.err.find("at most 1000"), std::string::npos) << more.err;
}

// ---- A card that goes away and comes back ----

namespace {

// moxctl log on the emulator, which is killed `down` after the start and
// started again on the same port `back` after the start.
std::string LogAcrossARestart(const fs::path& file, std::chrono::milliseconds down, std::chrono::milliseconds back) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    EXPECT_NE(port, 0);
    if (port == 0) return {};
    const Outcome set = Shell(OnEmulator(port), "$M da 0 --code C00 && $M do 0 A5");
    EXPECT_EQ(set.status, 0) << set.err;
    Outcome o;
    std::thread logger(
        [&] { o = Shell(OnEmulator(port), "$M log " + file.string() + " --volts --interval 100 --duration 7"); });
    std::this_thread::sleep_for(down);
    emulator.Kill();
    std::this_thread::sleep_for(back - down);
    EXPECT_EQ(emulator.Start(port), port);
    logger.join();
    EXPECT_EQ(o.status, 0) << o.err;
    return ReadAll(file);
}

} // namespace

TEST(MoxctlLog, ACardRestartIsMarked) {
    const fs::path file = TempPath("restart.csv");
    fs::remove(file);
    const std::string text = LogAcrossARestart(file, 2000ms, 4000ms);
    const auto down = Comments(text, "link down");
    const auto up = Comments(text, "link up");
    const auto restarted = Comments(text, "card restarted");
    ASSERT_EQ(down.size(), 1u) << text;
    ASSERT_EQ(up.size(), 1u) << text;
    EXPECT_EQ(restarted.size(), 1u) << text;
    // "# 2026-12-07T11:30:00.000Z link down ..."
    EXPECT_EQ(down[0][2 + 23], 'Z') << down[0];
    EXPECT_EQ(down[0][2 + 10], 'T') << down[0];
    // The notes come in order, and rows go on after them.
    EXPECT_LT(text.find(down[0]), text.find(up[0]));
    EXPECT_GT(Rows(text.substr(text.find(up[0]))).size(), 10u) << text;
    fs::remove(file);
}

// An outage alone (the card keeps acquiring) is marked down and up, and is
// not taken for a restart.
TEST(MoxctlLog, AnOutageIsMarkedButIsNoRestart) {
    const fs::path file = TempPath("outage.csv");
    fs::remove(file);
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    Outcome o;
    std::thread logger(
        [&] { o = Shell(OnEmulator(port), "$M log " + file.string() + " --interval 100 --duration 6"); });
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(4000ms); // past the link's 3 s: readings fail
    EXPECT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
    logger.join();
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string text = ReadAll(file);
    EXPECT_EQ(Comments(text, "link down").size(), 1u) << text;
    EXPECT_EQ(Comments(text, "link up").size(), 1u) << text;
    EXPECT_EQ(Comments(text, "restarted").size(), 0u) << text;
    fs::remove(file);
}

// Rows asked faster than a slow link answers have no newer reading each:
// said once on standard error.
TEST(MoxctlRead, RepeatedRowsAreSaidOnce) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    EXPECT_EQ(emulator.Command("delay 40").rfind("ok", 0), 0u);
    const Outcome o = Shell(OnEmulator(port), "$M read --count 100 --interval 10");
    EXPECT_EQ(o.status, 0) << o.err;
    // Our driver tells when readings were asked: the rows without a newer
    // reading are left out, and that is said.
    const auto lines = Lines(o.err);
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::string& l) { return l.find("does not have a newer reading") != std::string::npos; }),
              1)
        << o.err;
}

// ---- Gaps shown, rows numbered, only new readings ----

namespace {

// Rows identical in every channel to the row before.
int Repeats(const std::vector<std::vector<std::string>>& rows, std::size_t firstValue) {
    int repeats = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        repeats += std::equal(rows[i].begin() + static_cast<long>(firstValue), rows[i].end(),
                              rows[i - 1].begin() + static_cast<long>(firstValue), rows[i - 1].end())
                       ? 1
                       : 0;
    }
    return repeats;
}

} // namespace

// The card out of reach for a while: one note where the gap starts and one
// where it ends, naming the first and last numbers missing, which are the
// hole in the rows' numbers; every other row follows the one before it.
TEST(MoxctlLogGaps, AnOutageIsAHoleInTheNumbersBetweenTwoNotes) {
    const fs::path file = TempPath("gap-outage.csv");
    fs::remove(file);
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    Outcome o;
    std::thread logger(
        [&] { o = Shell(OnEmulator(port), "$M log " + file.string() + " --interval 100 --duration 5"); });
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
    logger.join();
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = ReadAll(file);
    EXPECT_NE(text.find("\nutc,monotonic_s,seq,AI00,AI01,"), std::string::npos) << text;
    const auto starts = Comments(text, "link down: readings fail; no row recorded from seq ");
    const auto ends = Comments(text, "link up: readings resumed; seq ");
    ASSERT_EQ(starts.size(), 1u) << text;
    ASSERT_EQ(ends.size(), 1u) << text;
    const auto first = NumbersIn(starts[0]);
    const auto range = NumbersIn(ends[0]);
    ASSERT_EQ(first.size(), 1u) << starts[0];
    ASSERT_EQ(range.size(), 2u) << ends[0];
    EXPECT_EQ(range[0], first[0]);
    EXPECT_GE(range[1] - range[0] + 1, 5) << ends[0];
    EXPECT_NE(ends[0].find("(" + std::to_string(range[1] - range[0] + 1) + " rows)"), std::string::npos) << ends[0];
    // The row before the note may be missing too: as the card fell silent
    // the link had no newer reading for it, and it was left out.
    EXPECT_GE(RowsAround(text, starts[0]).first, first[0] - 3) << text;
    EXPECT_LT(RowsAround(text, starts[0]).first, first[0]) << text;
    EXPECT_EQ(RowsAround(text, ends[0]).second, range[1] + 1) << text;
    const auto seqs = Seqs(Rows(text));
    ASSERT_FALSE(seqs.empty());
    EXPECT_EQ(seqs.front(), 0);
    for (std::size_t i = 1; i < seqs.size(); ++i) {
        if (seqs[i] != seqs[i - 1] + 1) {
            EXPECT_EQ(seqs[i], range[1] + 1) << "a hole away from the gap at " << i;
        }
    }
    fs::remove(file);
}

// Another program stops the card's acquisition and our driver starts it
// again: with a mean, the gap opens at the first row the wait costs.
TEST(MoxctlLogGaps, ARestartWithAMeanIsAGapFromTheFirstRowItCosts) {
    const fs::path file = TempPath("gap-mean-restart.csv");
    fs::remove(file);
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    Outcome o;
    std::thread logger(
        [&] { o = Shell(OnEmulator(port), "$M log " + file.string() + " --mean 1000 --interval 100 --duration 5"); });
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(Shell(OnEmulator(port), "$M read --count 1 >/dev/null").status, 0);
    logger.join();
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = ReadAll(file);
    const auto starts = Comments(text, "acquisition restarted: no row until its mean holds its 1000 points; ");
    ASSERT_EQ(starts.size(), 1u) << text;
    EXPECT_EQ(Comments(text, "card restarted").size(), 1u) << text;
    for (const auto& [first, last] : UnnotedHoles(text)) {
        // A reading no newer than the row before is left out with a note of
        // its own kind, once; only a single row right before the restart.
        if (first == last && Comments(text, "no gap noted").size() == 1) continue;
        ADD_FAILURE() << "seq " << first << ".." << last << text;
    }
    fs::remove(file);
}

// A slow link is no card refusing readings: the driver gives up what comes
// too late, and moxctl does not start acquisition again over it.
TEST(MoxctlLogGaps, ASlowLinkIsNotTakenForARefusal) {
    const fs::path file = TempPath("gap-slow.csv");
    fs::remove(file);
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    Outcome o;
    std::thread logger(
        [&] { o = Shell(OnEmulator(port), "$M log " + file.string() + " --interval 100 --duration 5"); });
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(emulator.Command("delay 400").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(emulator.Command("delay 0").rfind("ok", 0), 0u);
    logger.join();
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = ReadAll(file);
    EXPECT_EQ(Comments(text, "card refused").size(), 0u) << text;
    EXPECT_EQ(Comments(text, "acquisition started again").size(), 0u) << text;
    EXPECT_EQ(Comments(text, "restarted").size(), 0u) << text;
    fs::remove(file);
}

// A card that answers but gives no reading is a gap of its own reason, not
// an outage nor a restart; a driver that does not tell when readings were
// asked is named in the header.
TEST(MoxctlLogGaps, ACardRefusingReadingsIsAGapOfItsOwn) {
    const fs::path file = TempPath("gap-refused.csv");
    const fs::path refuse = TempPath("refuse");
    fs::remove(file);
    fs::remove(refuse);
    Outcome o;
    std::thread logger([&] {
        o = Shell("-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" REFUSING_CARD_DIR "' MOX_TEST_REFUSE_FILE='" +
                      refuse.string() + "'",
                  "$M log " + file.string() + " --interval 100 --duration 3");
    });
    std::this_thread::sleep_for(1000ms);
    WriteAll(refuse, "");
    std::this_thread::sleep_for(1000ms);
    fs::remove(refuse);
    logger.join();
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = ReadAll(file);
    EXPECT_EQ(Comments(text, "fresh: the driver does not tell").size(), 1u) << text;
    const auto starts = Comments(text, "card refused: it answers but gives no reading; no row recorded from seq ");
    const auto ends = Comments(text, " readings resumed; seq ");
    ASSERT_EQ(starts.size(), 1u) << text;
    ASSERT_EQ(ends.size(), 1u) << text;
    EXPECT_EQ(NumbersIn(ends[0]).front(), NumbersIn(starts[0]).front());
    EXPECT_GE(NumbersIn(ends[0]).back() - NumbersIn(ends[0]).front(), 4) << ends[0];
    EXPECT_EQ(Comments(text, "link").size(), 0u) << text;
    EXPECT_EQ(Comments(text, "restarted").size(), 0u) << text;
    EXPECT_EQ(Comments(text, "still gives no reading").size(), 1u) << text;
    fs::remove(file);
}

// A card restarted and back within a moment: the driver finds it stopped
// and starts it again before a reading fails; the log says so all the same.
TEST(MoxctlLogGaps, ARestartTheDriverMendedAloneIsStillNoted) {
    const fs::path file = TempPath("gap-mended.csv");
    fs::remove(file);
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    Outcome o;
    std::thread logger(
        [&] { o = Shell(OnEmulator(port), "$M log " + file.string() + " --interval 1000 --duration 3.5"); });
    std::this_thread::sleep_for(1400ms);
    emulator.Kill();
    EXPECT_EQ(emulator.Start(port), port);
    logger.join();
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = ReadAll(file);
    EXPECT_EQ(Comments(text, "link down").size(), 0u) << text;
    EXPECT_EQ(Comments(text, "card restarted: the driver found it").size(), 1u) << text;
    EXPECT_EQ(Seqs(Rows(text)), (std::vector<long long>{0, 1, 2, 3})) << text;
    fs::remove(file);
}

struct FastRowsCase {
    const char* command;    // at --interval 10 on a link 40 ms slow; the file's name follows
    std::size_t firstValue; // the first column of values
};

class MoxctlFastRows : public ::testing::TestWithParam<FastRowsCase> {};

// Rows asked faster than the link gives new readings: the rows without a
// newer reading are left out, never shown as new rows; that is said once.
TEST_P(MoxctlFastRows, AreNeverOldReadingsShownAsNew) {
    const fs::path file = TempPath("fast.csv");
    fs::remove(file);
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    EXPECT_EQ(emulator.Command("delay 40").rfind("ok", 0), 0u);
    const Outcome o = Shell(OnEmulator(port), std::string(GetParam().command) + " " + file.string());
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = o.out.empty() ? ReadAll(file) : o.out;
    const auto rows = Rows(text);
    ASSERT_GE(rows.size(), 10u) << text;
    EXPECT_EQ(Repeats(rows, GetParam().firstValue), 0) << text;
    const auto lines = Lines(o.err);
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::string& l) { return l.find("does not have a newer reading") != std::string::npos; }),
              1)
        << o.err;
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Commands, MoxctlFastRows,
                         ::testing::Values(FastRowsCase{"$M read --count 40 --interval 10 #", 2},
                                           FastRowsCase{"$M log --interval 10 --duration 1.5", 3}));

// A log written before rows were numbered goes on in its own columns; a
// new log is numbered. No file holds rows of two widths.
TEST(MoxctlLogGaps, ALogWithoutNumbersGoesOnWithout) {
    const fs::path file = TempPath("unnumbered.csv");
    std::string columns = "utc,monotonic_s";
    std::string row = "2026-11-30T08:00:00.000Z,0.215";
    for (int k = 0; k < 32; ++k) {
        columns += (k < 10 ? ",AI0" : ",AI") + std::to_string(k);
        row += ",32768";
    }
    const std::string before = "# moxctl log\n# program: moxctl 0.1.0\n# reading: newest sample, codes, every 200 "
                               "ms\n" +
                               columns + "\n" + row + "\n";
    WriteAll(file, before);
    const Outcome o = Shell(kVirtualCard, "$M log " + file.string() + " --interval 50 --duration 0.3");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string after = ReadAll(file);
    ASSERT_EQ(after.compare(0, before.size(), before), 0);
    EXPECT_EQ(after.find("# seq:"), std::string::npos) << after;
    for (const auto& line : Lines(after)) {
        if (line.rfind("utc,", 0) == 0) {
            EXPECT_EQ(line, columns);
        }
    }
    const auto rows = Rows(after);
    ASSERT_EQ(rows.size(), 7u) << after;
    for (const auto& r : rows) EXPECT_EQ(r.size(), 34u);
    // A new file is numbered from 0.
    fs::remove(file);
    const Outcome fresh = Shell(kVirtualCard, "$M log " + file.string() + " --interval 50 --duration 0.3");
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    const std::string text = ReadAll(file);
    EXPECT_EQ(Comments(text, "seq:").size(), 1u) << text;
    EXPECT_EQ(Seqs(Rows(text)), (std::vector<long long>{0, 1, 2, 3, 4, 5})) << text;
    fs::remove(file);
}

// ---- Schedule, mean fill time and repeated rows on their own ----

namespace {

using Steady = std::chrono::steady_clock;
const Steady::time_point kT0{std::chrono::hours(1)};

} // namespace

TEST(RowSchedule, RowsAreDueAtTheirIntervalAndGapsAreNotMadeUp) {
    RowSchedule s(kT0, 100ms);
    EXPECT_EQ(s.Due(), kT0);
    EXPECT_EQ(s.Seq(), 0);
    s.Taken(kT0 + 3ms);
    EXPECT_EQ(s.Due(), kT0 + 100ms);
    s.Taken(kT0 + 140ms); // a little late: the next slot stays
    EXPECT_EQ(s.Due(), kT0 + 200ms);
    s.Taken(kT0 + 260ms); // the next slot is less than half an interval on: skipped
    EXPECT_EQ(s.Due(), kT0 + 400ms);
    s.Taken(kT0 + 3000ms); // after a stall: the next slot at least half an interval on
    EXPECT_EQ(s.Due(), kT0 + 3100ms);
    s.Taken(kT0 + 3060ms); // early relative to the slot: never the same slot twice
    EXPECT_EQ(s.Due(), kT0 + 3100ms + 100ms);
    s.Taken(kT0 + 3151ms);
    EXPECT_EQ(s.Due(), kT0 + 3300ms);
}

TEST(RowSchedule, EndsBeforeTheDuration) {
    struct Case {
        std::chrono::milliseconds duration;
        int rows;
    };
    for (const Case c : {Case{500ms, 5}, Case{1200ms, 12}, Case{1ms, 1}, Case{1000ms, 10}, Case{1001ms, 11}}) {
        RowSchedule s(kT0, 100ms, std::chrono::duration<double>(c.duration));
        int rows = 0;
        while (!s.Over()) s.Taken(s.Due() + 1ms), ++rows;
        EXPECT_EQ(rows, c.rows) << c.duration.count();
    }
    RowSchedule late(kT0, 100ms, std::chrono::duration<double>(0.5), 600ms); // first row due after the end
    EXPECT_TRUE(late.Over());
}

TEST(RowSchedule, AFirstRowDelayShiftsTheRowsNotTheEnd) {
    RowSchedule s(kT0, 100ms, std::chrono::duration<double>(0.5), 320ms);
    EXPECT_EQ(s.Due(), kT0 + 320ms);
    s.Taken(kT0 + 321ms);
    EXPECT_EQ(s.Due(), kT0 + 420ms);
    s.Taken(kT0 + 421ms);
    EXPECT_TRUE(s.Over());
    s.Delay(kT0 + 1000ms, 50ms); // after a restart the next row waits for its points
    EXPECT_EQ(s.Due(), kT0 + 1050ms);
}

// A row's number is that of the due time nearest to when it was taken:
// rows missed in a stall, an outage or a delay leave their numbers out.
TEST(RowSchedule, NumbersCountDueTimesFromTheStart) {
    RowSchedule s(kT0, 100ms);
    const struct {
        std::chrono::milliseconds taken;
        long long seq;
    } rows[] = {{3ms, 0}, {140ms, 1}, {260ms, 3}, {3000ms, 30}, {3060ms, 31}, {3151ms, 32}, {3200ms, 33}};
    for (const auto& r : rows) EXPECT_EQ(s.Taken(kT0 + r.taken), r.seq) << r.taken.count();
    EXPECT_EQ(s.Seq(), 34);
    // Acquisition started again at 3.25 s, rows wait 320 ms: the rows due
    // at 3.4 and 3.5 s (34, 35) pass unrecorded, and the next row is 36.
    s.Delay(kT0 + 3250ms, 320ms);
    EXPECT_EQ(s.Seq(), 36);
    EXPECT_EQ(s.Taken(s.Due()), 36);
    EXPECT_EQ(s.Taken(s.Due()), 37);
}

TEST(FreshRows, OnlyReadingsAskedLaterAreNew) {
    FreshRows f;
    int taken = 0;
    for (const std::int64_t asked : {1000, 1000, 26000, 26000, 26000, 25000, 51000, 76000})
        taken += f.Newer(asked) ? 1 : 0;
    EXPECT_EQ(taken, 4);
    EXPECT_EQ(f.LeftOut(), 4);
    EXPECT_EQ(f.MeanSpacingUs(), 25000);
}

TEST(MeanFill, PointsTakeTheirTimeUpToWhatTheCardKeeps) {
    EXPECT_EQ(MeanPoints(0), 1);
    EXPECT_EQ(MeanPoints(20), 20);
    EXPECT_EQ(MeanPoints(1000), 1000);
    EXPECT_EQ(MeanPoints(65536), 1000);
    EXPECT_EQ(MeanFillTime(0), Steady::duration::zero());
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(MeanFillTime(1000)), 320000us);
    EXPECT_EQ(MeanFillTime(65536), MeanFillTime(1000));
}

TEST(RepeatWatch, SaysOnceWhenRowsRepeatInEveryChannel) {
    RepeatWatch w(3, 6);
    Reading a, b;
    b.codes[31] = 1;
    int said = 0;
    // Two repeats, then one that falls out of the last 6 before the third.
    for (const Reading* r : {&a, &a, &b, &b, &a, &b, &a, &b}) said += w.Repeated(*r) ? 1 : 0;
    EXPECT_EQ(said, 0);
    // Repeats apart from each other count as well: said at the third.
    for (const Reading* r : {&b, &a, &a}) said += w.Repeated(*r) ? 1 : 0;
    EXPECT_EQ(said, 0);
    said += w.Repeated(a) ? 1 : 0;
    EXPECT_EQ(said, 1);
    for (const Reading* r : {&a, &b, &b, &b, &b, &b}) said += w.Repeated(*r) ? 1 : 0;
    EXPECT_EQ(said, 1);
}
