// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl run as a program: the loopback example passes on the virtual card
// and on the emulator; on the test card a stuck bit fails exactly the
// checks that see it, a gain error exactly the sweep points it moves out of
// the band, and a `wait until` that times out reports the last value seen.
// A bad recipe is refused with its line before the card; Ctrl-C and a card
// that goes away still end in the safe state, or say it was not reached.
#include "emulator_process.h"
#include "moxctl_shell.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kExamples = MOX_SOURCE_DIR "/examples/";

std::string OnVirtualCard() { return "-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "'"; }
std::string OnFaultCard(const std::string& fault) {
    return "-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" FAULT_CARD_DIR "' MOX_TEST_FAULT='" + fault + "'";
}
std::string OnEmulator(std::uint16_t port) {
    return "LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:" + std::to_string(port);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct RunTest : ::testing::Test {
    void SetUp() override {
        dir = TempPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Recipe(const std::string& text) {
        std::ofstream(dir / "recipe.toml", std::ios::binary) << text;
        return (dir / "recipe.toml").string();
    }
    // Runs a recipe with both reports written into the test's folder.
    Outcome Run(const std::string& env, const std::string& recipe) {
        return Shell(env, "$M run " + recipe + " --json " + (dir / "r.json").string() + " --junit " +
                              (dir / "r.xml").string());
    }
    nlohmann::json Json() { return nlohmann::json::parse(ReadAll(dir / "r.json")); }
    std::string JUnit() { return ReadAll(dir / "r.xml"); }
    // The ids of the checks that ran and failed, from the JSON report.
    std::set<std::string> Failed() {
        std::set<std::string> ids;
        const nlohmann::json json = Json();
        for (const auto& c : json["checks"]) {
            if (c["ran"].get<bool>() && !c["passed"].get<bool>()) ids.insert(c["id"].get<std::string>());
        }
        return ids;
    }
    fs::path dir;
};

// Every check of the loopback example in the JUnit file, each with its
// measured value, limits and unit; all passed, and the safe state reached.
void ExpectLoopbackPassed(const nlohmann::json& json, const std::string& junit) {
    ASSERT_EQ(json["checks"].size(), 22u);
    EXPECT_EQ(json["outcome"], "passed");
    EXPECT_TRUE(json["safe_state"]["reached"].get<bool>());
    EXPECT_EQ(json["steps_run"].size(), json["steps_planned"].get<std::size_t>());
    for (const auto& c : json["checks"]) {
        EXPECT_TRUE(c["passed"].get<bool>()) << c.dump();
        ASSERT_TRUE(c["value"].is_number()) << c.dump();
        EXPECT_GE(c["value"].get<double>(), c["low"].get<double>()) << c.dump();
        EXPECT_LE(c["value"].get<double>(), c["high"].get<double>()) << c.dump();
        EXPECT_NE(junit.find("name=\"" + c["id"].get<std::string>() + "\""), std::string::npos) << c["id"];
    }
    EXPECT_EQ(Count(junit, "<testcase "), 22u);
    EXPECT_EQ(Count(junit, "<property name=\"value\" value=\""), 22u);
    EXPECT_EQ(Count(junit, "<property name=\"value\" value=\"\""), 0u);
    EXPECT_EQ(Count(junit, "<property name=\"low\""), 22u);
    EXPECT_EQ(Count(junit, "<property name=\"high\""), 22u);
    EXPECT_EQ(Count(junit, "<property name=\"unit\" value=\"V\"/>"), 5u); // the analog ones
    EXPECT_NE(junit.find("tests=\"22\" failures=\"0\" errors=\"0\" skipped=\"0\""), std::string::npos);
    EXPECT_EQ(Count(junit, "<failure"), 0u);
}

} // namespace

TEST_F(RunTest, LoopbackExamplePassesOnTheVirtualCard) {
    const Outcome o = Run(OnVirtualCard(), kExamples + "recipe-loopback.toml");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("run: PASS (22 checks)"), std::string::npos) << o.out;
    // The step's line, then its value: the card's noise decides the last digits.
    const std::string line = "[ 6/54] line 38   check ai0_loop: AI0 mean of 10 2.45..2.55 V  PASS ";
    const auto at = o.out.find(line);
    ASSERT_NE(at, std::string::npos) << o.out;
    EXPECT_NEAR(std::stod(o.out.substr(at + line.size())), 2.5, 0.01) << o.out;
    ExpectLoopbackPassed(Json(), JUnit());
}

// On the emulator, whose outputs stay set after the run: the safe state
// (0 V, 00) is what the card is left in.
TEST_F(RunTest, LoopbackExamplePassesOnTheEmulatorAndLeavesItSafe) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    const Outcome o = Run(OnEmulator(port), kExamples + "recipe-loopback.toml");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    ExpectLoopbackPassed(Json(), JUnit());
    const Outcome di = Shell(OnEmulator(port), "$M di --json");
    EXPECT_EQ(di.out, "{\"group0\":0,\"group1\":0}\n") << di.err;
    const Outcome read = Shell(OnEmulator(port), "$M read --volts --mean 20");
    const auto row = Fields(Lines(read.out).at(1));
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(std::stod(row.at(2 + static_cast<std::size_t>(k))), 0.0, 0.01) << k;
}

// A line stuck fails the checks whose pattern needs it and no other.
struct Stuck {
    const char* fault;
    std::set<std::string> failed;
};

class StuckBit : public RunTest, public ::testing::WithParamInterface<Stuck> {};

TEST_P(StuckBit, FailsExactlyItsChecks) {
    const Outcome o = Run(OnFaultCard(GetParam().fault), kExamples + "recipe-loopback.toml");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_EQ(Failed(), GetParam().failed);
    for (const auto& id : GetParam().failed) {
        EXPECT_NE(o.out.find("check " + id + ":"), std::string::npos) << o.out; // its line
        EXPECT_NE(o.out.find(" " + id), o.out.rfind("run: FAIL")) << o.out;     // the summary names it
        const auto at = JUnit().find("name=\"" + id + "\"");
        ASSERT_NE(at, std::string::npos);
        EXPECT_LT(JUnit().find("<failure message=\"DI", at), JUnit().find("</testcase>", at)) << id;
    }
    EXPECT_NE(JUnit().find("failures=\"" + std::to_string(GetParam().failed.size()) + "\""), std::string::npos);
    EXPECT_TRUE(Json()["safe_state"]["reached"].get<bool>());
}

INSTANTIATE_TEST_SUITE_P(Lines, StuckBit,
                         ::testing::Values(Stuck{"stuck:3:0", {"di0_walk#3"}},
                                           Stuck{"stuck:12:0", {"di1_walk#4", "di_bit12"}},
                                           Stuck{"stuck:9:1",
                                                 {"di1_walk#2", "di1_walk#3", "di1_walk#4", "di1_walk#5", "di1_walk#6",
                                                  "di1_walk#7", "di1_walk#8"}}));

// DA0 giving 2 % more: the points beyond ±2.5 V leave the ±50 mV band.
TEST_F(RunTest, GainErrorFailsExactlyTheSweepPointsBeyondTheTolerance) {
    const Outcome o = Run(OnFaultCard("gain:0:1.02"), kExamples + "recipe-sweep.toml");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_EQ(Failed(), (std::set<std::string>{"ai0_point#1", "ai0_point#2", "ai0_point#8", "ai0_point#9"}));
    const auto checks = Json()["checks"];
    ASSERT_EQ(checks.size(), 9u);
    for (std::size_t i = 0; i < checks.size(); ++i) {
        const double set = -4.0 + static_cast<double>(i);
        EXPECT_NEAR(checks[i]["value"].get<double>(), set * 1.02, 0.01) << i; // the value measured, kept
        EXPECT_DOUBLE_EQ(checks[i]["low"].get<double>(), set - 0.05);
    }
    // Without the fault, every point passes.
    EXPECT_EQ(Run(OnVirtualCard(), kExamples + "recipe-sweep.toml").status, 0);
}

// The condition never holds: failed after the timeout with the last value
// seen, and the steps after it not run (on_fail = stop) but listed.
TEST_F(RunTest, WaitUntilTimesOutWithTheLastValueSeen) {
    const std::string recipe = Recipe("version = 1\n"
                                      "[[step]]\nset = \"DA1\"\nvolts = 1.0\n"
                                      "[[step]]\nwait = \"until\"\nid = \"rise\"\ninput = \"AI1\"\nlow = 2.0\n"
                                      "timeout = 0.3\n"
                                      "[[step]]\ncheck = \"after\"\ntext = \"t\"\ninput = \"AI1\"\nlow = 0\n");
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = Run(OnVirtualCard(), recipe);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    const std::string failed = "FAIL timed out after 0.3 s: last AI1 = ";
    const auto at = o.out.find(failed);
    ASSERT_NE(at, std::string::npos) << o.out;
    EXPECT_NEAR(std::stod(o.out.substr(at + failed.size())), 1.0, 0.01) << o.out;
    EXPECT_NE(o.out.find(" V, expected >= 2 V\n", at), std::string::npos) << o.out;
    const auto checks = Json()["checks"];
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_NEAR(checks[0]["value"].get<double>(), 1.0, 0.01);
    EXPECT_FALSE(checks[1]["ran"].get<bool>());
    EXPECT_TRUE(checks[1]["value"].is_null());
    EXPECT_NE(JUnit().find("<skipped message=\"not run: the recipe stopped at its first failed check\"/>"),
              std::string::npos);
    EXPECT_EQ(Json()["steps_run"].size(), 2u);
    EXPECT_NE(o.out.find("safe state: AO1 = 0 V (code 800)  ok"), std::string::npos) << o.out;
}

// A mistake on line N: refused with exit 2 naming line N, before the card
// (which would keep the program for 30 s in its first call).
TEST_F(RunTest, BadRecipeRefusedWithItsLineBeforeTheCard) {
    const std::string recipe = Recipe("version = 1\n"
                                      "[[step]]\nset = \"DA0\"\nvolts = 2.0\n"
                                      "[[step]]\nset = \"DO\"\nbit = 17\nlevel = 1\n");
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = Run(OnFaultCard("hang:Initial:30"), recipe);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(o.status, 2) << o.out << o.err;
    EXPECT_EQ(o.err, "moxctl: " + recipe + ":7:7: step[2].bit: 17 is outside 1..16\n");
    EXPECT_TRUE(o.out.empty()) << o.out;
    EXPECT_FALSE(fs::exists(dir / "r.json"));
    EXPECT_FALSE(fs::exists(dir / "r.xml"));
}

TEST_F(RunTest, DryRunPrintsThePlanWithoutTheCard) {
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = Shell(OnFaultCard("hang:Initial:30"), "$M run --dry-run " + kExamples + "recipe-sweep.toml");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("[ 1/27] line 15   set AO0 = -4 V (code 19A)"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("check ai0_point#9: AI0 mean of 20 3.95..4.05 V  (on fail: continue)"), std::string::npos);
    EXPECT_NE(o.out.find("plan: 27 steps, 9 checks; the card was not touched"), std::string::npos);
}

// Ctrl-C in a long wait: the run ends with 1 and the outputs it set are
// back at 0 V / 0 on the card (the emulator keeps them after the run).
TEST_F(RunTest, InterruptEndsInTheSafeState) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    const std::string recipe = Recipe("version = 1\n[[step]]\nset = \"DA2\"\nvolts = 3.0\n"
                                      "[[step]]\nset = \"DO1\"\nbyte = 0xFF\n[[step]]\nwait = 30\n"
                                      "[[step]]\ncheck = \"never\"\ntext = \"t\"\ninput = \"AI2\"\nlow = 0\n");
    const Outcome o = Shell(OnEmulator(port), "$M run " + recipe + " --json " + (dir / "r.json").string() +
                                                  " & p=$!; sleep 1; kill -INT $p; wait $p");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_NE(o.out.find("safe state: AO2 = 0 V (code 800)  ok"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("safe state: DO group 1 = 00  ok"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("STOPPED: stopped by a signal while waiting"), std::string::npos) << o.out;
    EXPECT_EQ(Json()["outcome"], "stopped");
    EXPECT_TRUE(Json()["safe_state"]["reached"].get<bool>());
    EXPECT_EQ(Shell(OnEmulator(port), "$M di --json").out, "{\"group0\":0,\"group1\":0}\n");
    const Outcome read = Shell(OnEmulator(port), "$M read --volts --mean 20");
    EXPECT_NEAR(std::stod(Fields(Lines(read.out).at(1)).at(4)), 0.0, 0.01) << read.out;
}

// The card goes away mid-run: exit 4, the check that was reading reported
// as an error (no value), the safe state tried and reported not reached.
TEST_F(RunTest, CardLostMidRunExitsFourAndSaysSafeStateNotReached) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    const std::string recipe = Recipe("version = 1\n[[step]]\nset = \"DA0\"\nvolts = 1.0\n[[step]]\nwait = 1.5\n"
                                      "[[step]]\ncheck = \"late\"\ntext = \"t\"\ninput = \"AI0\"\nlow = 0\n");
    Outcome o;
    std::thread runner([&] { o = Run(OnEmulator(port), recipe); });
    std::this_thread::sleep_for(700ms);
    emulator.Kill();
    runner.join();
    EXPECT_EQ(o.status, 4) << o.out << o.err;
    EXPECT_NE(o.out.find("safe state: AO0 = 0 V (code 800)  ERROR"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("safe state NOT reached"), std::string::npos) << o.out;
    const auto json = Json();
    EXPECT_EQ(json["outcome"], "card error");
    EXPECT_FALSE(json["safe_state"]["reached"].get<bool>());
    EXPECT_TRUE(json["checks"][0]["error"].get<bool>());
    EXPECT_TRUE(json["checks"][0]["value"].is_null());
    EXPECT_NE(JUnit().find("<error message="), std::string::npos);
}

// A report named onto the recipe, both reports onto one file, one into a
// folder that is not there, or reports with --dry-run: exit 2 before the
// card (which would keep the program 30 s in its first call), the recipe
// as it was.
TEST_F(RunTest, ReportPathsRefusedBeforeTheCard) {
    const std::string text = "version = 1\n[[step]]\nset = \"DA0\"\nvolts = 1.0\n";
    const std::string recipe = Recipe(text);
    const std::string same = (dir / "same.out").string();
    for (const std::string& args :
         {"--junit " + recipe, "--json " + same + (" --junit " + same), "--junit " + (dir / "nodir" / "x.xml").string(),
          "--junit " + dir.string(), "--dry-run --json " + same}) {
        const auto start = std::chrono::steady_clock::now();
        const Outcome o = Shell(OnFaultCard("hang:Initial:30"), "$M run " + recipe + (" " + args));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << args;
        EXPECT_EQ(o.status, 2) << args << "\n" << o.out << o.err;
        EXPECT_TRUE(o.out.empty()) << args << "\n" << o.out;
        EXPECT_NE(o.err.find("moxctl: "), std::string::npos) << args;
        EXPECT_EQ(ReadAll(recipe), text) << args;
        EXPECT_FALSE(fs::exists(same)) << args;
    }
}
