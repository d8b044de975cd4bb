// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl: its self-test against a sound card and cards with injected wiring
// faults, a log killed while it writes, bad arguments, and the analysis and
// argument rules on their own.
#include "args.h"
#include "emulator_process.h"
#include "logfile.h"
#include "moxctl_shell.h"
#include "rows.h"
#include "selftest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <charconv>
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

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// The sanitizers' dlopen interceptor looks in its own RUNPATH, not the
// program's: a driver found through moxctl's RUNPATH alone is not found there.
constexpr const char* kRunpathOnly = "/nonexistent-moxctl";

std::string OnCard(const char* dir, const std::string& fault = {}) {
    return "-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" + std::string(dir) + "' MOX_TEST_FAULT='" + fault + "'";
}

bool IsNumber(const std::string& s) {
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

// A log line is a '#' note, a column line, or a row: UTC time, monotonic
// seconds, in a log the row's number, and 32 numbers.
bool ParsesAsLogLine(const std::string& line) {
    if (line.rfind("# ", 0) == 0 || line.rfind("utc,monotonic_s,", 0) == 0) return true;
    const auto f = Fields(line);
    const bool numbered = f.size() == 35;
    if ((f.size() != 34 && !numbered) || f[0].size() != 24 || f[0][10] != 'T' || f[0].back() != 'Z') return false;
    if (numbered && f[2].find_first_not_of("0123456789") != std::string::npos) return false;
    for (std::size_t i = 1; i < f.size(); ++i) {
        if (!IsNumber(f[i])) return false;
    }
    return true;
}

// Every line that ends in a line feed parses; returns the rows.
int CheckLog(const fs::path& path) {
    const std::string text = ReadAll(path);
    int rows = 0;
    std::size_t start = 0;
    for (std::size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
        const std::string line = text.substr(start, nl - start);
        EXPECT_TRUE(ParsesAsLogLine(line)) << "line: " << line;
        rows += line[0] != '#' && line[0] != 'u' ? 1 : 0;
        start = nl + 1;
    }
    return rows;
}

int FailLines(const std::string& out) {
    int n = 0;
    for (const auto& line : Lines(out)) n += line.rfind("FAIL  ", 0) == 0 ? 1 : 0;
    return n;
}

} // namespace

TEST(MoxctlSelfTest, SoundCardPassesWithReportsThatParse) {
    const fs::path json = TempPath("report.json");
    const fs::path junit = TempPath("report.xml");
    const Outcome o =
        Shell(OnCard(VIRTUAL_CARD_DIR), "$M selftest --json " + json.string() + " --junit " + junit.string());
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("selftest: PASS"), std::string::npos) << o.out;
    EXPECT_EQ(FailLines(o.out), 0) << o.out;
    const auto report = nlohmann::json::parse(ReadAll(json));
    EXPECT_TRUE(report["passed"].get<bool>());
    EXPECT_EQ(report["checks"].size(), 8u);
    const std::string xml = ReadAll(junit);
    EXPECT_NE(xml.find("tests=\"8\" failures=\"0\""), std::string::npos) << xml;
    fs::remove(json);
    fs::remove(junit);
}

struct FaultCase {
    const char* fault;
    const char* named; // what the report must say
};

class MoxctlFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(MoxctlFault, SelfTestFailsAndNamesExactlyThatFault) {
    const fs::path junit = TempPath("fault.xml");
    const Outcome o = Shell(OnCard(FAULT_CARD_DIR, GetParam().fault), "$M selftest --junit " + junit.string());
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_NE(o.out.find(GetParam().named), std::string::npos) << o.out << o.err;
    EXPECT_EQ(FailLines(o.out), 1) << "only the check of the faulty part fails:\n" << o.out << o.err;
    const std::string xml = ReadAll(junit);
    EXPECT_NE(xml.find("failures=\"1\""), std::string::npos) << xml;
    std::string escaped = GetParam().named;
    for (auto at = escaped.find('>'); at != std::string::npos; at = escaped.find('>', at))
        escaped.replace(at, 1, "&gt;");
    EXPECT_NE(xml.find(escaped), std::string::npos) << xml;
    fs::remove(junit);
}

INSTANTIATE_TEST_SUITE_P(
    Injected, MoxctlFault,
    ::testing::Values(FaultCase{"gain:2:0.9", "AO2 -> AI02: gain error"},
                      FaultCase{"gain:0:0", "AI00 does not follow AO0"},
                      FaultCase{"stuck:5:0", "bit 5 (group 0, line 4) stuck at 0"},
                      FaultCase{"stuck:12:1", "bit 12 (group 1, line 3) stuck at 1"},
                      FaultCase{"short:3:4", "bit 3 (group 0, line 2) and bit 4 (group 0, line 3) shorted together"},
                      FaultCase{"short:8:9", "bit 8 (group 0, line 7) and bit 9 (group 1, line 0) shorted together"},
                      FaultCase{"noise:1:0.5", "AI01 is noisy"}));

TEST(MoxctlRead, PrintsRowsOf32ValuesThatChange) {
    const Outcome o = Shell(OnCard(VIRTUAL_CARD_DIR), "$M read --count 5 --interval 50 --volts");
    ASSERT_EQ(o.status, 0) << o.err;
    const auto lines = Lines(o.out);
    ASSERT_EQ(lines.size(), 6u) << o.out;
    for (const auto& line : lines) EXPECT_TRUE(ParsesAsLogLine(line)) << line;
    // The sines and ramps on inputs 8..23 move between rows.
    EXPECT_NE(Fields(lines[1])[2 + 16], Fields(lines[5])[2 + 16]);
}

namespace {

// moxctl on the emulator, which does not answer for `length` from `from`
// after moxctl was started (from the start when `from` is zero).
Outcome WithAPause(const std::string& command, std::chrono::milliseconds from, std::chrono::milliseconds length) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    EXPECT_NE(port, 0);
    if (port == 0) return {};
    if (from.count() == 0) {
        EXPECT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    }
    Outcome o;
    std::thread reader([&] {
        o = Shell("LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:" + std::to_string(port), command);
    });
    if (from.count() > 0) {
        std::this_thread::sleep_for(from);
        EXPECT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    }
    std::this_thread::sleep_for(length);
    EXPECT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
    reader.join();
    return o;
}

} // namespace

// After the card was out of reach for a second, rows go on at their
// interval: the rows missed are not made up in a burst of one reading.
TEST(MoxctlRead, AnOutageLeavesAGapNotABurst) {
    using std::chrono::milliseconds;
    const Outcome o = WithAPause("$M read --count 25 --interval 100 --volts", milliseconds(800), milliseconds(1000));
    ASSERT_EQ(o.status, 0) << o.err;
    const auto lines = Lines(o.out);
    ASSERT_EQ(lines.size(), 26u) << o.out;
    double previous = -1, longest = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const double t = std::stod(Fields(lines[i])[1]);
        if (previous >= 0) {
            // Rows are due at least half an interval apart; a burst would
            // come back to back. The margin is for a row's time stamp,
            // taken after its reading.
            EXPECT_GE(t - previous, 0.04) << "row " << i << "\n" << o.out;
            longest = std::max(longest, t - previous);
        }
        previous = t;
    }
    EXPECT_GE(longest, 0.5) << "no gap where the card was out of reach\n" << o.out;
}

// A card that misses the first requests (a card or a bridge still
// starting) is still reached: the start is tried again.
TEST(MoxctlRead, ACardThatAnswersLateIsStillStarted) {
    using std::chrono::milliseconds;
    const Outcome o = WithAPause("$M read --count 2 --interval 50", milliseconds(0), milliseconds(400));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Lines(o.out).size(), 3u) << o.out;
}

TEST(MoxctlLog, KilledMidRunLeavesOnlyCompleteLinesAndIsContinued) {
    const fs::path log = TempPath("log.csv");
    fs::remove(log);
    const Outcome killed = Shell(OnCard(VIRTUAL_CARD_DIR),
                                 "$M log " + log.string() + " --interval 10 & p=$!; sleep 1.5; kill -9 $p; wait $p");
    EXPECT_EQ(killed.status, 137) << killed.err;
    const int rows = CheckLog(log);
    EXPECT_GT(rows, 50);
    EXPECT_NE(ReadAll(log).find("\nutc,monotonic_s,seq,AI00,"), std::string::npos) << "log rows are numbered";

    // Half a row, as a power cut in the middle of a write could leave it.
    { std::ofstream(log, std::ios::app) << "2026-12-07T10:00:00.000Z,1.5,32768,327"; }
    const Outcome again = Shell(OnCard(VIRTUAL_CARD_DIR), "$M log " + log.string() + " --interval 50 --duration 1");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("removed an incomplete last line"), std::string::npos) << again.err;
    EXPECT_GT(CheckLog(log), rows + 10);
    const std::string text = ReadAll(log);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find("# moxctl log"), text.rfind("# moxctl log")) << "each run starts with its header";
    fs::remove(log);
}

TEST(MoxctlLog, RotatesBySizeIntoNamedFiles) {
    const fs::path dir = TempPath("rotate");
    fs::create_directories(dir);
    const Outcome o = Shell(OnCard(VIRTUAL_CARD_DIR),
                            "$M log " + (dir / "run.csv").string() + " --interval 10 --duration 3 --rotate-size 65536");
    EXPECT_EQ(o.status, 0) << o.err;
    int files = 0;
    for (const auto& f : fs::directory_iterator(dir)) {
        ++files;
        EXPECT_LE(fs::file_size(f.path()), 65536u) << f.path();
        CheckLog(f.path());
    }
    EXPECT_GE(files, 2);
    fs::remove_all(dir);
}

class MoxctlBadArguments : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(MoxctlBadArguments, EndWithStatus2NamingTheArgument) {
    const Outcome o = Shell(OnCard(VIRTUAL_CARD_DIR), std::string("$M ") + GetParam().first);
    EXPECT_EQ(o.status, 2) << o.out << o.err;
    EXPECT_NE(o.err.find(GetParam().second), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Refused, MoxctlBadArguments,
    ::testing::Values(std::pair{"", "subcommand"}, std::pair{"frobnicate", "frobnicate"},
                      std::pair{"da 4 --code 800", "channel"}, std::pair{"da -1 --code 800", "channel"},
                      std::pair{"da x --code 800", "channel"}, std::pair{"da 1 --code 1000", "--code"},
                      std::pair{"da 1 --code G1", "--code"}, std::pair{"da 1 --volts 5.5", "--volts"},
                      std::pair{"da 1 --volts -1 --range unipolar", "--volts"},
                      std::pair{"da 1 --volts 1e999", "--volts"}, std::pair{"da 1 --volts 1 --code 800", "excludes"},
                      std::pair{"da 1", "--code or --volts"}, std::pair{"do 2 FF", "group"},
                      std::pair{"do 0 100", "byte"}, std::pair{"dobit 17 1", "bit"}, std::pair{"dobit 1 2", "value"},
                      std::pair{"read --count -1", "--count"}, std::pair{"read --interval 0", "--interval"},
                      std::pair{"read --mean 0", "--mean"}, std::pair{"log", "file"},
                      std::pair{"log /tmp/x.csv --rotate-size 10", "--rotate-size"},
                      std::pair{"selftest --tolerance 0", "--tolerance"}));

// Every numeric argument is read by our own strict readings: CLI11's would
// take prefixes (0x, octal, 0b) on decimal values and let "nan" through its
// ranges, and the windows' conversions read a prefixed hex text as 0.
INSTANTIATE_TEST_SUITE_P(
    NumbersReadExactly, MoxctlBadArguments,
    ::testing::Values(
        std::pair{"da 0x1 --code 800", "channel"}, std::pair{"da 1e0 --code 800", "channel"},
        std::pair{"da \" 1\" --code 800", "channel"}, std::pair{"da \"1 \" --code 800", "channel"},
        std::pair{"da ５ --code 800", "channel"}, std::pair{"da \"\" --code 800", "channel"},
        std::pair{"da 0 --code 0x", "--code"}, std::pair{"da 0 --code 0x-1", "--code"},
        std::pair{"da 0 --code -1", "--code"}, std::pair{"da 0 --code +800", "--code"},
        std::pair{"da 0 --code \" 800\"", "--code"}, std::pair{"da 0 --code \"800 \"", "--code"},
        std::pair{"da 0 --code ８00", "--code"}, std::pair{"da 0 --code \"&H\"", "--code"},
        std::pair{"da 0 --code 0x0x1", "--code"}, std::pair{"da 0 --code 99999999999999999999", "--code"},
        std::pair{"da 0 --code nan", "--code"}, std::pair{"da 0 --volts nan", "--volts"},
        std::pair{"da 0 --volts inf", "--volts"}, std::pair{"da 0 --volts=-inf", "--volts"},
        std::pair{"da 0 --volts 0x1", "--volts"}, std::pair{"da 0 --volts \"\"", "--volts"},
        std::pair{"da 0 --volts \" 1\"", "--volts"}, std::pair{"da 0 --volts ５", "--volts"},
        std::pair{"do 0x1 FF", "group"}, std::pair{"do 1e0 FF", "group"}, std::pair{"do 0 0x100", "byte"},
        std::pair{"do 0 -1", "byte"}, std::pair{"do 0 \"\"", "byte"}, std::pair{"do 0 \"&H1FF\"", "byte"},
        std::pair{"dobit 0x10 1", "bit"}, std::pair{"dobit 1e1 1", "bit"}, std::pair{"dobit \" 1\" 1", "bit"},
        std::pair{"dobit 1 0x1", "value"}, std::pair{"dobit 1 1.0", "value"}, std::pair{"dobit 1 nan", "value"},
        std::pair{"read --count 0x2", "--count"}, std::pair{"read --count 0b1", "--count"},
        std::pair{"read --count nan", "--count"}, std::pair{"read --count 1e3", "--count"},
        std::pair{"read --count \" 2\"", "--count"}, std::pair{"read --count \"2 \"", "--count"},
        std::pair{"read --count ２", "--count"}, std::pair{"read --count 99999999999999999999", "--count"},
        std::pair{"read --count \"\"", "--count"}, std::pair{"read --interval 0x64", "--interval"},
        std::pair{"read --interval 1e2", "--interval"}, std::pair{"read --interval nan", "--interval"},
        std::pair{"read --mean 0x10", "--mean"}, std::pair{"read --mean 1.5", "--mean"},
        std::pair{"read --mean \"\"", "--mean"}, std::pair{"log /nonexistent/x.csv --interval 0x64", "--interval"},
        std::pair{"log /nonexistent/x.csv --mean nan", "--mean"},
        std::pair{"log /nonexistent/x.csv --duration nan", "--duration"},
        std::pair{"log /nonexistent/x.csv --duration inf", "--duration"},
        std::pair{"log /nonexistent/x.csv --duration=-1", "--duration"},
        std::pair{"log /nonexistent/x.csv --duration 0x10", "--duration"},
        std::pair{"log /nonexistent/x.csv --duration \"\"", "--duration"},
        std::pair{"log /nonexistent/x.csv --duration 1e999", "--duration"},
        std::pair{"log /nonexistent/x.csv --rotate-size 0x10000", "--rotate-size"},
        std::pair{"log /nonexistent/x.csv --rotate-size 1e6", "--rotate-size"},
        std::pair{"log /nonexistent/x.csv --rotate-size nan", "--rotate-size"},
        std::pair{"log /nonexistent/x.csv --rotate-time 0x10", "--rotate-time"},
        std::pair{"log /nonexistent/x.csv --rotate-time 1.5", "--rotate-time"},
        std::pair{"log /nonexistent/x.csv --rotate-time nan", "--rotate-time"},
        std::pair{"selftest --tolerance nan", "--tolerance"}, std::pair{"selftest --tolerance inf", "--tolerance"},
        std::pair{"selftest --tolerance=-0.1", "--tolerance"}, std::pair{"selftest --tolerance 0x1", "--tolerance"},
        std::pair{"selftest --noise nan", "--noise"}, std::pair{"selftest --noise=-1", "--noise"},
        std::pair{"selftest --settle 0x10", "--settle"}, std::pair{"selftest --settle 1e2", "--settle"},
        std::pair{"selftest --settle nan", "--settle"}));

// What is accepted is sent as typed: a hexadecimal value with its prefix,
// a decimal one with leading zeros.
class MoxctlExactValues : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(MoxctlExactValues, AreSentAsTyped) {
    const Outcome o = Shell(OnCard(VIRTUAL_CARD_DIR), std::string("$M ") + GetParam().first);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, GetParam().second) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, MoxctlExactValues,
    ::testing::Values(std::pair{"da 0 --code 0xFFF", "AO0: code FFF (4095)\n"},
                      std::pair{"da 3 --code 0Xfff", "AO3: code FFF (4095)\n"},
                      std::pair{"da 2 --code \"&H800\"", "AO2: code 800 (2048)\n"},
                      std::pair{"da 1 --code \"&h7fF\"", "AO1: code 7FF (2047)\n"},
                      std::pair{"da 1 --code 00A", "AO1: code 00A (10)\n"},
                      std::pair{"da 1 --volts 2.5", "AO1: code C00 (3072) from 2.5 V, bipolar\n"},
                      std::pair{"da 1 --volts 25e-1", "AO1: code C00 (3072) from 25e-1 V, bipolar\n"},
                      std::pair{"da 01 --volts 10 --range unipolar", "AO1: code FFF (4095) from 10 V, unipolar\n"},
                      std::pair{"do 1 0xFF", "DO group 1 (DO9..DO16): FF (11111111)\n"},
                      std::pair{"do 0 \"&Ha5\"", "DO group 0 (DO1..DO8): A5 (10100101)\n"},
                      std::pair{"dobit 16 1", "DO16: 1\n"}, std::pair{"dobit 010 0", "DO10: 0\n"}));

// A decimal count with a leading zero is ten rows, not eight (octal).
TEST(MoxctlRead, CountIsDecimal) {
    const Outcome o = Shell(OnCard(VIRTUAL_CARD_DIR), "$M read --count 010 --interval 10");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Lines(o.out).size(), 11u) << o.out;
}

TEST(MoxctlHelp, ShowsDefaultsAndEveryExitStatus) {
    const Outcome o = Shell(OnCard(VIRTUAL_CARD_DIR), "$M --help; $M read --help; $M selftest --help");
    EXPECT_EQ(o.status, 0) << o.err;
    for (const char* shown : {"4 a write (da, do, dobit) was not confirmed", "--count N=1", "--interval MS=200",
                              "--tolerance VOLTS=0.05", "--noise VOLTS=0.05", "--settle MS=100", "--json [FILE]"}) {
        EXPECT_NE(o.out.find(shown), std::string::npos) << shown << "\n" << o.out;
    }
}

// A limit that is not a number would pass any card: the faulty card's
// 1 V error must not get through.
class MoxctlSelfTestLimits : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(MoxctlSelfTestLimits, NotANumberIsRefused) {
    const Outcome o = Shell(OnCard(FAULT_CARD_DIR, GetParam().first), std::string("$M selftest ") + GetParam().second);
    EXPECT_EQ(o.status, 2) << o.out << o.err;
    EXPECT_EQ(o.out, "");
}

INSTANTIATE_TEST_SUITE_P(Faulty, MoxctlSelfTestLimits,
                         ::testing::Values(std::pair{"gain:0:0.75", "--tolerance nan"},
                                           std::pair{"noise:1:0.5", "--noise nan"},
                                           std::pair{"noise:1:0.5", "--noise -nan"}));

namespace {

std::string LinkLine(const std::string& out) {
    for (const auto& line : Lines(out)) {
        if (line.find("  link  ") != std::string::npos) return line;
    }
    return {};
}

} // namespace

// Out of reach, the network driver answers the status request itself
// (PC address 0.0.0.0, down 0 s): that is no link.
TEST(MoxctlSelfTest, LinkFailsWhenTheCardDoesNotAnswer) {
    const Outcome none = Shell("LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:1", "$M selftest");
    EXPECT_EQ(none.status, 1) << none.out << none.err;
    EXPECT_EQ(LinkLine(none.out).rfind("FAIL", 0), 0u) << none.out;
    EXPECT_NE(none.out.find("the card did not answer during the link check"), std::string::npos) << none.out;

    using std::chrono::milliseconds;
    const Outcome stopped = WithAPause("$M selftest", milliseconds(0), milliseconds(3000));
    EXPECT_EQ(stopped.status, 1) << stopped.out << stopped.err;
    EXPECT_EQ(LinkLine(stopped.out).rfind("FAIL", 0), 0u) << stopped.out;
}

struct WriteCase {
    const char* command;
    int delayMs; // the emulator's reply delay
    int status;
};

class MoxctlWrite : public ::testing::TestWithParam<WriteCase> {};

// A write the card confirms too late may or may not have been applied:
// status 4, and no line that claims the value was set.
TEST_P(MoxctlWrite, UnconfirmedIsToldApart) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    ASSERT_EQ(emulator.Command("delay " + std::to_string(GetParam().delayMs)).rfind("ok", 0), 0u);
    const Outcome o = Shell("LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:" + std::to_string(port),
                            std::string("$M ") + GetParam().command);
    EXPECT_EQ(o.status, GetParam().status) << o.out << o.err;
    if (GetParam().status == 4) {
        EXPECT_EQ(o.out, "");
        EXPECT_NE(o.err.find("not confirmed by the card: it may or may not have been applied"), std::string::npos)
            << o.err;
    }
}

INSTANTIATE_TEST_SUITE_P(OnTheNetwork, MoxctlWrite,
                         ::testing::Values(WriteCase{"da 0 --code 800", 3000, 4}, WriteCase{"do 1 A5", 3000, 4},
                                           WriteCase{"dobit 3 1", 3000, 4}, WriteCase{"da 0 --code 800", 0, 0},
                                           WriteCase{"do 1 A5", 0, 0}));

// A card address where nothing answers: each command ends soon, saying so
// (a write with status 4: sent, but not confirmed).
TEST(MoxctlDriver, CardThatDoesNotAnswerEndsWithAMessageWithinTwoSeconds) {
    const std::string env = "LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:1";
    for (const auto& [command, status] :
         {std::pair{"info", 1}, std::pair{"read", 1}, std::pair{"log /dev/null", 1}, std::pair{"selftest", 1},
          std::pair{"da 0 --code 800", 4}, std::pair{"di", 1}}) {
        const auto start = std::chrono::steady_clock::now();
        const Outcome o = Shell(env, std::string("$M ") + command);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(o.status, status) << command << "\n" << o.out << o.err;
        const bool said =
            o.err.find("moxctl: ") != std::string::npos || o.out.find("selftest: FAIL") != std::string::npos;
        EXPECT_TRUE(said) << command << "\n" << o.out << o.err;
        EXPECT_LT(took, std::chrono::seconds(2)) << command;
    }
}

struct JsonCase {
    const char* command;
    std::vector<std::string> keys; // in the order written
};

class MoxctlJson : public ::testing::TestWithParam<JsonCase> {};

// Each line printed with --json is one JSON object of the same keys, in the
// same order, whatever the command.
TEST_P(MoxctlJson, PrintsObjectsOfItsKeysInOrder) {
    const Outcome o = Shell(OnCard(VIRTUAL_CARD_DIR), std::string("$M ") + GetParam().command);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto lines = Lines(o.out);
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) {
        const auto j = nlohmann::ordered_json::parse(line, nullptr, false);
        ASSERT_TRUE(j.is_object()) << line;
        std::vector<std::string> keys;
        for (const auto& item : j.items()) keys.push_back(item.key());
        EXPECT_EQ(keys, GetParam().keys) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, MoxctlJson,
                         ::testing::Values(JsonCase{"di --json", {"group0", "group1"}},
                                           JsonCase{"info --json",
                                                    {"card", "type", "speed_k", "resolution_bits", "pc_address",
                                                     "expected_pc_address", "link_down_seconds", "link", "driver",
                                                     "virtual_card"}},
                                           JsonCase{"read --json --codes --volts --count 2 --interval 20",
                                                    {"utc", "monotonic_s", "codes", "volts"}}));

// Which card moxctl talks to, through which library, and what to try when
// it does not answer: each said in words, with the exit status of its kind.
struct WhichCardCase {
    std::string env;
    const char* command;
    int status;
    std::vector<std::string> said;    // each on standard output or error
    std::vector<std::string> notSaid; // on neither
};

class MoxctlWhichCard : public ::testing::TestWithParam<WhichCardCase> {};

TEST_P(MoxctlWhichCard, IsNamedWithWhatToTry) {
    const WhichCardCase& c = GetParam();
    if (kSanitized && c.env.find(kRunpathOnly) != std::string::npos)
        GTEST_SKIP() << "the sanitizers' dlopen does not search moxctl's RUNPATH";
    const Outcome o = Shell(c.env, std::string("$M ") + c.command);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    for (const std::string& text : c.said) {
        EXPECT_TRUE(o.out.find(text) != std::string::npos || o.err.find(text) != std::string::npos)
            << "missing: " << text << "\n"
            << o.out << o.err;
    }
    for (const std::string& text : c.notSaid) {
        EXPECT_EQ((o.out + o.err).find(text), std::string::npos) << "said: " << text << "\n" << o.out << o.err;
    }
}

const std::string kVirtual = "LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' ";

INSTANTIATE_TEST_SUITE_P(
    Drivers, MoxctlWhichCard,
    ::testing::Values(
        WhichCardCase{OnCard(VIRTUAL_CARD_DIR),
                      "info",
                      0,
                      {"card driver: " VIRTUAL_CARD_DIR "/libadcard.so (the bundled virtual card"},
                      {"MOX_CARD_ADDRESS=127"}},
        WhichCardCase{OnCard(VIRTUAL_CARD_DIR),
                      "info --json",
                      0,
                      {"\"driver\":\"" VIRTUAL_CARD_DIR "/libadcard.so\"", "\"virtual_card\":true"},
                      {"card_address"}},
        WhichCardCase{OnCard(FAULT_CARD_DIR),
                      "info",
                      0,
                      {"card driver: " FAULT_CARD_DIR "/libadcard.so (not built with moxpanel"},
                      {"virtual card"}},
        // Not our driver: the variable is not its business, and not refused.
        WhichCardCase{"LD_LIBRARY_PATH='" FAULT_CARD_DIR "' MOX_CARD_ADDRESS=nonsense", "info", 0, {}, {"nonsense"}},
        // The program's own folder (RUNPATH) when LD_LIBRARY_PATH holds no driver.
        WhichCardCase{"LD_LIBRARY_PATH=/nonexistent-moxctl-folder",
                      "info",
                      0,
                      {"LD_LIBRARY_PATH=/nonexistent-moxctl-folder is set, but no libadcard.so was taken from it: "
                       "this one came from the program's RUNPATH",
                       "the bundled virtual card"},
                      {}},
        WhichCardCase{kVirtual + "MOX_CARD_ADDRESS=127.0.0.1:1",
                      "info",
                      1,
                      {"the card at 127.0.0.1:1 (MOX_CARD_ADDRESS) does not answer the identity request",
                       "mox-card-emulator or mox-driver-bridge is running", "the port in MOX_CARD_ADDRESS",
                       "sending to the card at 127.0.0.1:1"},
                      {"virtual card"}},
        WhichCardCase{kVirtual + "MOX_CARD_ADDRESS=127.0.0.1:1", "di", 1, {"127.0.0.1:1"}, {}},
        WhichCardCase{kVirtual + "MOX_CARD_ADDRESS=127.0.0.1:1",
                      "read",
                      1,
                      {"127.0.0.1:1", "driver error 100: no reply from the card in time"},
                      {}},
        // A bad address is a usage error, said before the driver is called.
        WhichCardCase{kVirtual + "MOX_CARD_ADDRESS=nonsense",
                      "info",
                      2,
                      {"MOX_CARD_ADDRESS=\"nonsense\": it is not address:port", "MOX_CARD_ADDRESS=127.0.0.1:7710"},
                      {"libadcard:"}},
        WhichCardCase{kVirtual + "MOX_CARD_ADDRESS=127.0.0.1",
                      "da 0 --code 800",
                      2,
                      {"MOX_CARD_ADDRESS=\"127.0.0.1\""},
                      {"AO0: code"}},
        WhichCardCase{kVirtual + "MOX_CARD_ADDRESS=127.0.0.1:0", "selftest", 2, {"MOX_CARD_ADDRESS"}, {"PASS"}},
        // --help and --version need no card, whatever the address.
        WhichCardCase{kVirtual + "MOX_CARD_ADDRESS=nonsense",
                      "--version",
                      0,
                      {"moxctl ", "Copyright (C) 2026", "License GPLv3+", "This is free software"},
                      {}}));

TEST(MoxctlDriver, MissingEntryEndsWithStatus3AndNamesIt) {
    const Outcome o = Shell(OnCard(FAKE_NOINITIAL_DIR), "$M info");
    EXPECT_EQ(o.status, 3) << o.out << o.err;
    EXPECT_NE(o.err.find("has no entry Initial"), std::string::npos) << o.err;
}

// ---- The analysis on its own ----

std::vector<DigitalSample> Wired(std::uint16_t (*wiring)(std::uint16_t)) {
    std::vector<DigitalSample> samples;
    for (std::uint16_t p : DigitalPatterns()) samples.emplace_back(p, wiring(p));
    return samples;
}

TEST(DigitalAnalysis, NamesEachKindOfFault) {
    EXPECT_TRUE(AnalyseDigital(Wired([](std::uint16_t p) { return p; })).empty());
    EXPECT_EQ(AnalyseDigital(Wired([](std::uint16_t p) { return static_cast<std::uint16_t>(p & ~0x0001); })),
              std::vector<std::string>{"bit 1 (group 0, line 0) stuck at 0"});
    EXPECT_EQ(AnalyseDigital(Wired([](std::uint16_t p) { return static_cast<std::uint16_t>(p | 0x8000); })),
              std::vector<std::string>{"bit 16 (group 1, line 7) stuck at 1"});
    // Wired AND between lines 2 and 7.
    EXPECT_EQ(AnalyseDigital(Wired([](std::uint16_t p) {
                  const bool both = (p & 0x0002) && (p & 0x0040);
                  return static_cast<std::uint16_t>(both ? p : p & ~0x0042);
              })),
              std::vector<std::string>{"bit 2 (group 0, line 1) and bit 7 (group 0, line 6) shorted together"});
    // Two faults at once are both named.
    EXPECT_EQ(AnalyseDigital(Wired([](std::uint16_t p) { return static_cast<std::uint16_t>((p & ~0x0100) | 0x0004); })),
              (std::vector<std::string>{"bit 3 (group 0, line 2) stuck at 1", "bit 9 (group 1, line 0) stuck at 0"}));
}

TEST(DigitalAnalysis, AWrongReadingOnceIsNotTakenForAShort) {
    auto samples = Wired([](std::uint16_t p) { return p; });
    samples[5].second ^= 0x0010;
    const auto faults = AnalyseDigital(samples);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_NE(faults[0].find("bit 5 (group 0, line 4) read wrong in 1 of 34"), std::string::npos) << faults[0];
}

TEST(AnalogAnalysis, GainOffsetAndNoiseAreToldApart) {
    const SelfTestOptions o;
    auto sweep = [](double gain, double offset) {
        std::vector<AnalogPoint> points;
        for (double v : {-4.0, -2.0, 0.0, 2.0, 4.0}) points.push_back({v, gain * v + offset});
        return points;
    };
    const Check sound = AnalyseAnalog(1, sweep(1.002, 0.003), 0.004, o);
    EXPECT_TRUE(sound.passed) << sound.detail;
    const Check gain = AnalyseAnalog(1, sweep(0.95, 0), 0.004, o);
    ASSERT_EQ(gain.faults.size(), 1u);
    EXPECT_NE(gain.faults[0].find("gain error, gain 0.9500 (error 0.200 V at -4.000 V)"), std::string::npos)
        << gain.faults[0];
    const Check offset = AnalyseAnalog(1, sweep(1, 0.2), 0.004, o);
    ASSERT_EQ(offset.faults.size(), 1u);
    EXPECT_NE(offset.faults[0].find("offset error 0.200 V"), std::string::npos) << offset.faults[0];
    const Check noisy = AnalyseAnalog(1, sweep(1, 0), 0.3, o);
    ASSERT_EQ(noisy.faults.size(), 1u);
    EXPECT_NE(noisy.faults[0].find("AI01 is noisy: standard deviation 0.300 V"), std::string::npos);
    auto bent = sweep(1, 0);
    bent[2].measuredVolts = 0.2;
    const Check nonlinear = AnalyseAnalog(1, bent, 0.004, o);
    ASSERT_EQ(nonlinear.faults.size(), 1u);
    EXPECT_NE(nonlinear.faults[0].find("nonlinear"), std::string::npos) << nonlinear.faults[0];
}

TEST(Arguments, WholeTextOnly) {
    EXPECT_EQ(IntegerIn("3", 0, 3), 3);
    for (const char* bad : {"4", "-1", "", "3 ", "3x", "0x3", "+3", "1e0", " 3", "３", "99999999999999999999"}) {
        EXPECT_FALSE(IntegerIn(bad, 0, 3)) << bad;
    }
    // Sizes in bytes beyond 32 bits, on 32-bit Windows too.
    EXPECT_EQ(IntegerIn("1125899906842624", 65536, 1LL << 50), 1LL << 50);
    EXPECT_EQ(HexIn("fff", 0xFFF), 0xFFFu);
    EXPECT_EQ(HexIn("0x800", 0xFFF), 0x800u);
    EXPECT_EQ(HexIn("&HA5", 0xFF), 0xA5u);
    for (const char* bad : {"1000", "", "0x", "G", "-1", "12 ", "99999999999999999999", "0x-1", "+F", "&H", "0x0x1"}) {
        EXPECT_FALSE(HexIn(bad, 0xFFF)) << bad;
    }
    EXPECT_EQ(NumberIn("-2.5", -5, 5), -2.5);
    for (const char* bad : {"5.01", "nan", "-nan", "inf", "", "1,5", "2V", "0x1", " 1", "1e999"}) {
        EXPECT_FALSE(NumberIn(bad, -5, 5)) << bad;
    }
}

TEST(LogFileNames, RotatedFilesCarryTheTimeOfRotation) {
    const auto t = std::chrono::system_clock::time_point(std::chrono::seconds(1796643000)); // 2026-12-07 11:30:00
    EXPECT_EQ(RotatedName("/data/run.csv", t), "/data/run.20261207T113000Z.csv");
    EXPECT_EQ(RotatedName("log", t), "log.20261207T113000Z");
}

// The driver's path goes into JSON as it is on the disk: a folder name that
// needs escaping, or is not UTF-8 at all, still gives an object that parses.
class MoxctlJsonDriverFolder : public ::testing::TestWithParam<const char*> {};

TEST_P(MoxctlJsonDriverFolder, InfoIsAnObjectThatParses) {
    const fs::path folder = TempPath(std::string("driver-") + GetParam());
    fs::create_directories(folder);
    fs::copy_file(VIRTUAL_CARD_DIR "/libadcard.so", folder / "libadcard.so", fs::copy_options::overwrite_existing);
    const Outcome o = Shell("-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" + folder.string() + "'", "$M info --json");
    fs::remove_all(folder);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    const auto j = nlohmann::json::parse(o.out, nullptr, false);
    ASSERT_TRUE(j.is_object()) << o.out;
    const std::string driver = j["driver"].get<std::string>();
    EXPECT_TRUE(driver.ends_with("/libadcard.so")) << driver;
    EXPECT_TRUE(j["virtual_card"].get<bool>());
}

INSTANTIATE_TEST_SUITE_P(Names, MoxctlJsonDriverFolder, ::testing::Values("quote\"d", "back\\slash", "bad\xff-byte"));

// Run from a folder that holds a copy of the driver: which one was loaded,
// and whether LD_LIBRARY_PATH gave it, however that names the folder.
struct LibraryPathCase {
    const char* name;
    std::string libraryPath; // "@" stands for the folder run from
    bool copyLoaded;         // the copy in that folder, or the program's own
    bool fromLibraryPath;
};

class MoxctlLibraryPath : public ::testing::TestWithParam<LibraryPathCase> {};

TEST_P(MoxctlLibraryPath, NamesTheLoadedLibraryAndWhereItCameFrom) {
    const LibraryPathCase& c = GetParam();
    if (kSanitized && !c.copyLoaded && !c.fromLibraryPath)
        GTEST_SKIP() << "the sanitizers' dlopen does not search moxctl's RUNPATH";
    const fs::path folder = TempPath(std::string("from-") + c.name);
    fs::create_directories(folder);
    fs::copy_file(VIRTUAL_CARD_DIR "/libadcard.so", folder / "libadcard.so", fs::copy_options::overwrite_existing);
    std::string libraryPath = c.libraryPath;
    if (const auto at = libraryPath.find('@'); at != std::string::npos) libraryPath.replace(at, 1, folder.string());
    const Outcome o =
        Shell("-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" + libraryPath + "'", "cd \"" + folder.string() + "\" && $M info");
    const fs::path loaded = fs::weakly_canonical(c.copyLoaded ? folder : fs::path(VIRTUAL_CARD_DIR)) / "libadcard.so";
    fs::remove_all(folder);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("card driver: " + loaded.string() + " (the bundled virtual card"), std::string::npos) << o.out;
    const std::string taken = "\ntaken from LD_LIBRARY_PATH=" + libraryPath + "\n";
    const std::string notTaken = "\nLD_LIBRARY_PATH=" + libraryPath + " is set, but no libadcard.so was taken from it";
    EXPECT_EQ(o.out.find(c.fromLibraryPath ? taken : notTaken) != std::string::npos, true) << o.out;
    EXPECT_EQ(o.out.find(c.fromLibraryPath ? notTaken : taken), std::string::npos) << o.out;
}

INSTANTIATE_TEST_SUITE_P(
    Elements, MoxctlLibraryPath,
    ::testing::Values(LibraryPathCase{"EmptyFirst", ":/nonexistent-moxctl-x", true, true},
                      LibraryPathCase{"EmptyLast", "/nonexistent-moxctl-x:", true, true},
                      LibraryPathCase{"EmptyBetween", "/nonexistent-moxctl-x::/nonexistent-moxctl-y", true, true},
                      LibraryPathCase{"Dot", ".", true, true}, LibraryPathCase{"DotSlash", "./", true, true},
                      LibraryPathCase{"Relative", "../" + TempPath("from-Relative").filename().string(), true, true},
                      LibraryPathCase{"Absolute", "@", true, true},
                      LibraryPathCase{"Origin", "$ORIGIN/../lib", false, true},
                      LibraryPathCase{"OriginBraced", "${ORIGIN}/../lib", false, true},
                      LibraryPathCase{"ElsewhereOnly", "/nonexistent-moxctl-x", false, false}),
    [](const ::testing::TestParamInfo<LibraryPathCase>& param) { return std::string(param.param.name); });

// Behind MOX_CARD_ADDRESS may be the virtual card or real hardware:
// moxctl cannot tell which, and does not say.
TEST(MoxctlDriver, AnAddressLeavesTheKindOfCardOpen) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    const Outcome json = Shell(kVirtual + "MOX_CARD_ADDRESS=" + address, "$M info --json");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto j = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_TRUE(j.is_object()) << json.out;
    EXPECT_TRUE(j.contains("virtual_card") && j["virtual_card"].is_null()) << json.out;
    EXPECT_EQ(j.value("card_address", ""), address) << json.out;
    const Outcome text = Shell(kVirtual + "MOX_CARD_ADDRESS=" + address, "$M info");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("sending to the card at " + address), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("virtual card"), std::string::npos) << text.out;
}

// A report or log file that cannot be written is a bad argument, refused
// before the card is touched; a file moxctl did not write stays as it was.
struct ReportPathCase {
    const char* name;
    const char* command; // "@" is the file, "#" a folder
    const char* before;  // the file's text beforehand; nullptr: no file
    int status;
    const char* said;
};

class MoxctlReportPath : public ::testing::TestWithParam<ReportPathCase> {};

TEST_P(MoxctlReportPath, IsCheckedBeforeTheCard) {
    const ReportPathCase& c = GetParam();
    const fs::path folder = TempPath(std::string("reports-") + c.name);
    fs::create_directories(folder);
    const fs::path file = folder / "report";
    if (c.before != nullptr) std::ofstream(file, std::ios::binary) << c.before;
    std::string command = c.command;
    for (std::size_t at = command.find('@'); at != std::string::npos; at = command.find('@')) {
        command.replace(at, 1, file.string());
    }
    for (std::size_t at = command.find('#'); at != std::string::npos; at = command.find('#')) {
        command.replace(at, 1, folder.string());
    }
    const Outcome o = Shell(OnCard(VIRTUAL_CARD_DIR), "$M " + command);
    const bool exists = fs::exists(file);
    const std::string after = ReadAll(file);
    fs::remove_all(folder);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_NE(o.err.find(c.said), std::string::npos) << o.err;
    if (c.status == 0) {
        EXPECT_NE(after.find("\"passed\": true"), std::string::npos) << after;
        return;
    }
    EXPECT_EQ(o.out, "") << "the card was used";
    EXPECT_EQ(exists, c.before != nullptr);
    if (c.before != nullptr) {
        EXPECT_EQ(after, c.before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, MoxctlReportPath,
    ::testing::Values(
        ReportPathCase{"JsonAndJUnitOneFile", "selftest --json @ --junit @", nullptr, 2, "is the --json report"},
        ReportPathCase{"JsonAFolder", "selftest --json #", nullptr, 2, "is a folder"},
        ReportPathCase{"JUnitAFolder", "selftest --junit #", nullptr, 2, "is a folder"},
        ReportPathCase{"JsonNoFolder", "selftest --json #/missing/x.json", nullptr, 2, "is not there"},
        ReportPathCase{"JsonNotOurs", "selftest --json @", "precious data\n", 2, "not a report of moxctl selftest"},
        ReportPathCase{"JUnitNotOurs", "selftest --junit @", "<?xml version=\"1.0\"?>\n<project/>\n", 2,
                       "not a report of moxctl selftest"},
        ReportPathCase{"JUnitOfRun", "selftest --junit @",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n  <testsuite name=\"moxctl run x\"",
                       2, "not a report of moxctl selftest"},
        // An earlier report of its own is replaced.
        ReportPathCase{"JsonOurs", "selftest --json @", "{\n  \"program\": \"moxctl 0.1\"\n}\n", 0, ""},
        ReportPathCase{"LogNoFolder", "log #/missing/x.csv --duration 1", nullptr, 2, "is not there"},
        ReportPathCase{"LogAFolder", "log # --duration 1", nullptr, 2, "is a folder"}),
    [](const ::testing::TestParamInfo<ReportPathCase>& param) { return std::string(param.param.name); });
