// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl run's card calls, on the test driver that records them: a bad
// recipe and a dry run make none; after a failed check, a write the card
// did not confirm, a failed reading or a stop request the outputs the run
// wrote (a write not confirmed included) are put back, to the [safe]
// table's values where it names them. And the reports' text on its own.
#include "commands.h"
#include "fake_driver_client.h"
#include "recipe_run.h"
#include "whole_file.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace moxctl;
using Calls = std::vector<std::string>;

namespace {

// The output calls among the recorded ones, in order.
Calls Outputs(const Calls& calls) {
    Calls out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [](const std::string& c) { return c.rfind("Mox_DA(", 0) == 0 || c.rfind("Mox_DO", 0) == 0; });
    return out;
}

struct RecipeRun : ::testing::Test {
    void SetUp() override {
        FakeDriver::Get().Reset();
        FakeDriver::Get().ClearLog();
        g_stop = false;
        path = fs::temp_directory_path() / ("recipe-run-" + std::to_string(::getpid()) + ".toml");
    }
    void TearDown() override {
        g_stop = false;
        fs::remove(path);
    }
    RunOptions Options(const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        RunOptions o;
        o.recipe = path.string();
        return o;
    }
    mox::recipe::Plan Plan(const std::string& text) {
        auto p = mox::recipe::Parse(text, path.string());
        if (const auto* e = std::get_if<mox::recipe::Error>(&p)) ADD_FAILURE() << e->Text();
        return std::holds_alternative<mox::recipe::Plan>(p) ? std::get<mox::recipe::Plan>(p) : mox::recipe::Plan{};
    }
    fs::path path;
};

} // namespace

// Refused before the card: not even the driver's Initial is called.
TEST_F(RecipeRun, BadRecipeAndDryRunMakeNoCall) {
    const std::string good = "version = 1\n[[step]]\nset = \"DA0\"\nvolts = 1\n";
    for (const std::string& bad : {good + "[[step]]\nset = \"DA0\"\nvolts = 6\n", good + "[safe]\nDA9 = 0\n",
                                   good + "[[step]]\ncheck = \"x\"\ntext = \"t\"\ninput = \"AI0\"\nlow = 1\nhigh = 0\n",
                                   std::string("version = 1\n[[step]]\nwait = 1\nset = \"DA0\"\n")}) {
        EXPECT_EQ(RunRecipe(Options(bad)), kExitUsage) << bad;
    }
    RunOptions dry = Options(good);
    dry.dryRun = true;
    EXPECT_EQ(RunRecipe(dry), kExitOk);
    EXPECT_EQ(FakeDriver::Get().Calls(), Calls{});
}

TEST_F(RecipeRun, FailedCheckStopsAndPutsBackWhatWasWritten) {
    FakeDriver::Get().SetInputs(0, 0); // every input line reads 0
    const auto plan = Plan("version = 1\n[[step]]\nset = \"DO\"\nbit = 3\nlevel = 1\n"
                           "[[step]]\nset = \"DA3\"\ncode = 0xFFF\n"
                           "[[step]]\ncheck = \"bit3\"\ntext = \"t\"\ninput = \"DI\"\nbit = 3\nlevel = 1\n"
                           "[[step]]\nset = \"DO1\"\nbyte = 0xFF\n");
    Card card;
    FakeDriver::Get().ClearLog();
    const RunReport r = Execute(card, plan, stdout);
    EXPECT_EQ(r.outcome, RunOutcome::Failed);
    EXPECT_EQ(r.steps.size(), 3u); // the last set is not reached
    ASSERT_EQ(r.checks.size(), 1u);
    EXPECT_EQ(r.checks[0].value, 0.0);
    EXPECT_EQ(r.checks[0].message, "DI3 = 0, expected = 1");
    EXPECT_TRUE(r.safeReached);
    const Calls calls = FakeDriver::Get().Calls();
    EXPECT_EQ(Outputs(calls), (Calls{"Mox_DOBit(2,1)", "Mox_DA(3,4095)", "Mox_DOBit(2,0)", "Mox_DA(3,2048)"}));
    // The safe state comes after the reading that failed.
    const auto read = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.rfind("Mox_DI", 0) == 0; });
    const auto safe = std::find(calls.begin(), calls.end(), "Mox_DOBit(2,0)");
    EXPECT_LT(read, safe);
}

// The [safe] table's values; a bit is covered by its group named there.
TEST_F(RecipeRun, SafeTableValuesReplaceTheZeros) {
    const auto plan = Plan("version = 1\n[safe]\nDO0 = 0x80\nDA1 = { code = 0x123 }\n"
                           "[[step]]\nset = \"DO\"\nbit = 3\nlevel = 1\n[[step]]\nset = \"DO\"\nbit = 9\nlevel = 1\n"
                           "[[step]]\nset = \"DA0\"\nvolts = 1\n");
    Card card;
    FakeDriver::Get().ClearLog();
    const RunReport r = Execute(card, plan, stdout);
    EXPECT_EQ(r.outcome, RunOutcome::Passed);
    EXPECT_EQ(Outputs(FakeDriver::Get().Calls()),
              (Calls{"Mox_DOBit(2,1)", "Mox_DOBit(8,1)", "Mox_DA(0,2458)", "Mox_DA(1,291)", "Mox_DO(0,128)",
                     "Mox_DOBit(8,0)", "Mox_DA(0,2048)"}));
}

// A write the card did not confirm may have been applied: exit 4, the
// rest not run, and that output put back with the others.
TEST_F(RecipeRun, UnconfirmedWriteExitsFourAndIsPutBack) {
    FakeDriver::Get().SetReturn("Mox_DA", 0);
    FakeDriver::Get().SetReturn("GetLastADError", kNoReplyError);
    const RunOptions o =
        Options("version = 1\n[[step]]\nset = \"DO1\"\nbyte = 0x0F\n[[step]]\nset = \"DA1\"\nvolts = 2\n"
                "[[step]]\nset = \"DO0\"\nbyte = 1\n");
    FakeDriver::Get().ClearLog();
    EXPECT_EQ(RunRecipe(o), kExitUnconfirmed);
    EXPECT_EQ(Outputs(FakeDriver::Get().Calls()),
              (Calls{"Mox_DO(1,15)", "Mox_DA(1,2867)", "Mox_DO(1,0)", "Mox_DA(1,2048)"}));
}

// A reading that fails: exit 4 through RunRecipe, the check an error with
// no value, and the safe state still written.
TEST_F(RecipeRun, FailedReadingIsACardErrorWithNoValue) {
    FakeDriver::Get().SetReturn("ADResult_DV", 0);
    const auto plan = Plan("version = 1\n[[step]]\nset = \"DA0\"\nvolts = 1\n"
                           "[[step]]\ncheck = \"a\"\ntext = \"t\"\ninput = \"AI0\"\nlow = 0\n");
    Card card;
    FakeDriver::Get().ClearLog();
    const RunReport r = Execute(card, plan, stdout);
    EXPECT_EQ(r.outcome, RunOutcome::CardError);
    ASSERT_EQ(r.checks.size(), 1u);
    EXPECT_TRUE(r.checks[0].error);
    EXPECT_FALSE(r.checks[0].value.has_value());
    EXPECT_EQ(r.Failed(), 0);
    EXPECT_EQ(Outputs(FakeDriver::Get().Calls()), (Calls{"Mox_DA(0,2458)", "Mox_DA(0,2048)"}));
    const auto json = nlohmann::json::parse(RunJson(r));
    EXPECT_TRUE(json["checks"][0]["value"].is_null());
    EXPECT_EQ(json["outcome"], "card error");
}

// A stop request in a long wait ends the run there; the outputs go back.
TEST_F(RecipeRun, StopRequestEndsInTheSafeState) {
    const auto plan = Plan("version = 1\n[[step]]\nset = \"DA2\"\nvolts = -1\n[[step]]\nwait = 60\n"
                           "[[step]]\nset = \"DA3\"\nvolts = 1\n");
    Card card;
    FakeDriver::Get().ClearLog();
    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        g_stop = true;
    });
    const RunReport r = Execute(card, plan, stdout);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.outcome, RunOutcome::Stopped);
    EXPECT_EQ(r.steps.size(), 2u);
    EXPECT_TRUE(r.safeReached);
    EXPECT_EQ(Outputs(FakeDriver::Get().Calls()), (Calls{"Mox_DA(2,1638)", "Mox_DA(2,2048)"}));

    // Stopped before the first step: nothing written, nothing to put back.
    FakeDriver::Get().ClearLog();
    const RunReport early = Execute(card, plan, stdout);
    EXPECT_EQ(early.outcome, RunOutcome::Stopped);
    EXPECT_TRUE(early.steps.empty());
    EXPECT_EQ(Outputs(FakeDriver::Get().Calls()), Calls{});
}

// The JUnit text: escaped, one test case per check with its value, limits
// and unit, a check not run as skipped, and no control character.
TEST(RecipeReport, JUnitEscapedAndComplete) {
    RunReport r;
    r.recipe = "a&b.toml";
    CheckResult passed;
    passed.id = "p<1>";
    passed.text = "say \"hi\" & 'bye'";
    passed.what = "AI0";
    passed.unit = "bar";
    passed.limits = "1..2 bar";
    passed.low = 1;
    passed.high = 2;
    passed.ran = passed.passed = true;
    passed.value = 1.5;
    CheckResult skipped = passed;
    skipped.id = "s";
    skipped.ran = skipped.passed = false;
    skipped.value.reset();
    skipped.message = std::string("not run: card said \x01") + "x";
    r.checks = {passed, skipped};
    const std::string x = RunJUnit(r);
    EXPECT_NE(x.find("classname=\"moxctl run a&amp;b.toml\" name=\"p&lt;1&gt;\""), std::string::npos) << x;
    EXPECT_NE(x.find("value=\"say &quot;hi&quot; &amp; &apos;bye&apos;\""), std::string::npos) << x;
    EXPECT_NE(x.find("<property name=\"value\" value=\"1.5\"/>"), std::string::npos);
    EXPECT_NE(x.find("<property name=\"low\" value=\"1\"/>"), std::string::npos);
    EXPECT_NE(x.find("<property name=\"unit\" value=\"bar\"/>"), std::string::npos);
    EXPECT_NE(x.find("<skipped message=\"not run: card said ?x\"/>"), std::string::npos) << x;
    EXPECT_NE(x.find("tests=\"2\" failures=\"0\" errors=\"0\" skipped=\"1\""), std::string::npos) << x;
    EXPECT_EQ(x.find('\x01'), std::string::npos);
}

TEST(RecipeReport, WrittenWholeOrNotAtAll) {
    const fs::path dir = fs::temp_directory_path() / ("recipe-report-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    EXPECT_EQ(WriteWhole((dir / "r.xml").string(), "<x/>\n"), std::nullopt);
    std::ifstream in(dir / "r.xml");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "<x/>\n");
    EXPECT_NE(WriteWhole((dir / "missing" / "r.xml").string(), "x"), std::nullopt);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1); // no temporary left
    fs::remove_all(dir);
}

// A report that would replace the recipe, its setup or the other report,
// one into a folder that is not there or onto a folder, one over a file
// that is not a report of ours, and reports with --dry-run: refused with 2
// before the card, every file as it was.
TEST_F(RecipeRun, ReportPathsRefusedBeforeTheCard) {
    const fs::path dir = fs::temp_directory_path() / ("recipe-paths-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string setup = (dir / "setup.toml").string();
    std::ofstream(setup) << "version = 1\n[AO0]\nname = \"drive\"\n";
    std::ofstream(dir / "notes.txt") << "my notes\n";
    const std::string text = "version = 1\nsetup = \"" + setup + "\"\n[[step]]\nset = \"DA0\"\nvolts = 1\n";
    const std::string recipe = Options(text).recipe;
    struct Case {
        std::string json, junit;
        bool dryRun;
    };
    const std::string out = (dir / "out").string();
    for (const Case& c : {Case{recipe, "", false}, Case{"", recipe, false}, Case{"", setup, false},
                          Case{"", (dir / "." / "setup.toml").string(), false}, Case{out, out, false},
                          Case{(dir / "r.json").string(), (dir / "sub" / ".." / "r.json").string(), false},
                          Case{"", (dir / "nodir" / "x.xml").string(), false}, Case{dir.string(), "", false},
                          Case{"", (dir / "notes.txt").string(), false}, Case{(dir / "r.json").string(), "", true},
                          Case{"", (dir / "r.xml").string(), true}}) {
        RunOptions o = Options(text);
        o.json = c.json;
        o.junit = c.junit;
        o.dryRun = c.dryRun;
        FakeDriver::Get().ClearLog();
        EXPECT_EQ(RunRecipe(o), kExitUsage) << c.json << " " << c.junit << " " << c.dryRun;
        EXPECT_EQ(FakeDriver::Get().Calls(), Calls{}) << c.json << " " << c.junit;
        std::ifstream in(path);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    }
    std::ifstream s(setup);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(s), {}), "version = 1\n[AO0]\nname = \"drive\"\n");
    std::ifstream n(dir / "notes.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(n), {}), "my notes\n");
    EXPECT_FALSE(fs::exists(dir / "r.json"));
    EXPECT_FALSE(fs::exists(dir / "r.xml"));

    // Reports of ours are replaced by the next run's.
    RunOptions again = Options(text);
    again.json = (dir / "r.json").string();
    again.junit = (dir / "r.xml").string();
    EXPECT_EQ(RunRecipe(again), kExitOk);
    EXPECT_EQ(RunRecipe(again), kExitOk);
    EXPECT_EQ(nlohmann::json::parse(std::ifstream(again.json))["outcome"], "passed");
    fs::remove_all(dir);
}

// The rename's own fault is the one named.
TEST(RecipeReport, RenameFaultNamed) {
    const fs::path dir = fs::temp_directory_path() / ("recipe-rename-" + std::to_string(::getpid()));
    fs::create_directories(dir / "folder" / "inside");
    const auto fault = WriteWhole((dir / "folder").string(), "x");
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->find("Success"), std::string::npos) << *fault;
    EXPECT_NE(fault->find("folder"), std::string::npos) << *fault;
    EXPECT_TRUE(fs::is_directory(dir / "folder" / "inside"));
    fs::remove_all(dir);
}

// A stop request, then a safe state the card does not confirm: exit 4, so
// that a script tells outputs that may still be driven from a plain stop.
TEST_F(RecipeRun, StopWithSafeStateNotReachedExitsFour) {
    const RunOptions o =
        Options("version = 1\n[safe]\nDA0 = 0\n[[step]]\nset = \"DO0\"\nbyte = 1\n[[step]]\nwait = 60\n");
    FakeDriver::Get().SetReturn("Mox_DA", 0);
    FakeDriver::Get().SetReturn("GetLastADError", kNoReplyError);
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        g_stop = true;
    });
    const int status = RunRecipe(o);
    stopper.join();
    EXPECT_EQ(status, kExitUnconfirmed);
    const auto plan = Plan("version = 1\n[safe]\nDA0 = 0\n[[step]]\nset = \"DO0\"\nbyte = 1\n");
    Card card;
    const RunReport r = Execute(card, plan, stdout); // g_stop still set: stopped before the first step
    EXPECT_EQ(r.outcome, RunOutcome::CardError);
    EXPECT_FALSE(r.safeReached);
    EXPECT_NE(r.fault.find("stopped by a signal"), std::string::npos) << r.fault;
    EXPECT_NE(r.fault.find("safe state was not reached"), std::string::npos) << r.fault;
}
