// SPDX-License-Identifier: GPL-3.0-or-later
// The recipe file on its own: every kind of mistake refused with its line
// and field, values resolved into the codes, bytes and bands the card is
// given or judged by (through a setup's scaling), repeats unrolled with
// unique check ids, and the examples read as they are shipped.
#include "recipe.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace mox::recipe;

namespace {

// A folder of the test's own holding a setup file the recipes may name:
// AO1 in mA (1..5 V = 4..20 mA, alarms at 4 and 16), AI0 in bar.
struct Folder {
    Folder() {
        dir = fs::temp_directory_path() / ("recipe-test-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::ofstream(dir / "setup.toml") << "version = 1\n"
                                             "[AI0]\nname = \"pressure\"\nunit = \"bar\"\n"
                                             "points = [[0.0, 0.0], [5.0, 10.0]]\n"
                                             "warn_high = 8.0\nalarm_high = 9.5\n"
                                             "[AO1]\nname = \"valve\"\nunit = \"mA\"\n"
                                             "points = [[1.0, 4.0], [5.0, 20.0]]\n"
                                             "alarm_low = 4.0\nalarm_high = 16.0\n";
        std::ofstream(dir / "recipe-setup-bad.toml") << "version = 2\n";
        // Setup names that are other channels' card names.
        std::ofstream(dir / "setup-crossed.toml") << "version = 1\n[AI0]\nname = \"AI3\"\n[AO1]\nname = \"DA0\"\n";
    }
    ~Folder() { fs::remove_all(dir); }
    std::string Recipe() const { return (dir / "recipe.toml").string(); }
    fs::path dir;
};

const Folder& TheFolder() {
    static const Folder folder;
    return folder;
}

std::variant<Plan, Error> Read(const std::string& text) { return Parse(text, TheFolder().Recipe()); }

Plan Good(const std::string& text) {
    auto r = Read(text);
    if (const auto* e = std::get_if<Error>(&r)) {
        ADD_FAILURE() << e->Text();
        return {};
    }
    return std::get<Plan>(r);
}

const std::string kHead = "version = 1\n";
const std::string kSetup = "version = 1\nsetup = \"setup.toml\"\n";

} // namespace

// ---- Refused, with the line of the mistake and the field ----

struct Bad {
    const char* name;
    std::string text;
    int line;
    const char* field; // a part of the field named
    const char* what;  // a part of the reason
};

class RecipeRefused : public ::testing::TestWithParam<Bad> {};

TEST_P(RecipeRefused, NamesLineAndField) {
    const auto r = Read(GetParam().text);
    const auto* e = std::get_if<Error>(&r);
    ASSERT_NE(e, nullptr) << "taken: " << GetParam().text;
    EXPECT_EQ(e->line, GetParam().line) << e->Text();
    EXPECT_NE(e->field.find(GetParam().field), std::string::npos) << e->Text();
    EXPECT_NE(e->what.find(GetParam().what), std::string::npos) << e->Text();
    EXPECT_EQ(e->file, TheFolder().Recipe());
    EXPECT_GT(e->column, 0) << e->Text();
}

const std::string kSet = "[[step]]\nset = \"DA0\"\n";                 // lines +1, +2
const std::string kCheck = "[[step]]\ncheck = \"c\"\ntext = \"t\"\n"; // lines +1..+3
const std::string kCrossed = "version = 1\nsetup = \"setup-crossed.toml\"\n";
// A `wait until` without an id, on lines +1..+5; a check of a given id on +1..+5.
const std::string kWaitUntil = "[[step]]\nwait = \"until\"\ninput = \"AI0\"\nlow = 1\ntimeout = 1\n";
std::string CheckOf(const std::string& id) {
    return "[[step]]\ncheck = \"" + id + "\"\ntext = \"t\"\ninput = \"AI0\"\nlow = 1\n";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Mistakes, RecipeRefused, ::testing::Values(
    Bad{"NotToml", kHead + "[[step]\n", 2, "", "expected"},
    Bad{"NoVersion", "[[step]]\nwait = 1\n", 1, "version", "missing"},
    Bad{"VersionTwo", "version = 2\n[[step]]\nwait = 1\n", 1, "version", "version = 1"},
    Bad{"UnknownTopKey", kHead + "steps = 1\n", 2, "steps", "unknown key"},
    Bad{"NoSteps", kHead + "name = \"x\"\n", 1, "step", "missing"},
    Bad{"UnknownStepKey", kHead + kSet + "volts = 1\nvolt = 2\n", 5, "step[1].volt", "unknown key"},
    Bad{"TwoKinds", kHead + "[[step]]\nset = \"DA0\"\nwait = 1\n", 4, "step[1].wait", "one of set, wait"},
    Bad{"NoKind", kHead + "[[step]]\nvolts = 1\n", 2, "step[1]", "needs one of"},
    Bad{"CodeBeyondFFF", kHead + kSet + "code = 0x1000\n", 4, "step[1].code", "outside 0..4095"},
    Bad{"CodeNotWhole", kHead + kSet + "code = 2048.5\n", 4, "step[1].code", "whole number"},
    Bad{"VoltsBeyondRange", kHead + kSet + "volts = 5.01\n", 4, "step[1].volts", "outside the bipolar"},
    Bad{"VoltsBelowUnipolar", kHead + "range = \"unipolar\"\n" + kSet + "volts = -0.1\n", 5, "step[1].volts", "unipolar"},
    Bad{"VoltsNaN", kHead + kSet + "volts = nan\n", 4, "step[1].volts", "finite"},
    Bad{"VoltsAsText", kHead + kSet + "volts = \"2.5\"\n", 4, "step[1].volts", "number or \"$v\""},
    Bad{"TwoValues", kHead + kSet + "volts = 1\ncode = 0x800\n", 5, "step[1].code", "not both volts and code"},
    Bad{"NoValue", kHead + kSet, 3, "step[1]", "volts, code or value"},
    Bad{"ValueWithoutSetup", kHead + kSet + "value = 3\n", 4, "step[1].value", "needs a setup file"},
    Bad{"ValueBeyondAlarm", kSetup + "[[step]]\nset = \"valve\"\nvalue = 18\n", 5, "step[1].value", "alarm_high"},
    Bad{"VoltsBeyondSetupAlarm", kSetup + "[[step]]\nset = \"AO1\"\nvolts = 0.5\n", 5, "step[1].volts", "alarm_low"},
    Bad{"UnknownOutput", kHead + "[[step]]\nset = \"pump\"\nvolts = 1\n", 3, "step[1].set", "not an output"},
    Bad{"UnknownSetupName", kSetup + "[[step]]\nset = \"valves\"\nvalue = 5\n", 4, "step[1].set", "not an output"},
    Bad{"ByteOnDa", kHead + kSet + "volts = 1\nbyte = 3\n", 5, "step[1].byte", "does not apply"},
    Bad{"ByteBeyondFF", kHead + "[[step]]\nset = \"DO1\"\nbyte = 256\n", 4, "step[1].byte", "outside 0..255"},
    Bad{"GroupTwo", kHead + "[[step]]\nset = \"DO2\"\nbyte = 1\n", 3, "step[1].set", "not an output"},
    Bad{"BitZero", kHead + "[[step]]\nset = \"DO\"\nbit = 0\nlevel = 1\n", 4, "step[1].bit", "outside 1..16"},
    Bad{"BitSeventeen", kHead + "[[step]]\nset = \"DO\"\nbit = 17\nlevel = 1\n", 4, "step[1].bit", "outside 1..16"},
    Bad{"LevelTwo", kHead + "[[step]]\nset = \"DO\"\nbit = 3\nlevel = 2\n", 5, "step[1].level", "outside 0..1"},
    Bad{"WaitZero", kHead + "[[step]]\nwait = 0\n", 3, "step[1].wait", "not above 0"},
    Bad{"WaitNegative", kHead + "[[step]]\nwait = -1\n", 3, "step[1].wait", "not above 0"},
    Bad{"WaitText", kHead + "[[step]]\nwait = \"soon\"\n", 3, "step[1].wait", "seconds, or \"until\""},
    Bad{"WaitUntilNoTimeout", kHead + "[[step]]\nwait = \"until\"\ninput = \"AI0\"\nlow = 1\n", 2, "step[1].timeout", "missing"},
    Bad{"WaitUntilTimeoutZero", kHead + "[[step]]\nwait = \"until\"\ninput = \"AI0\"\nlow = 1\ntimeout = 0\n", 6, "step[1].timeout", "not above 0"},
    Bad{"CheckNoText", kHead + "[[step]]\ncheck = \"c\"\ninput = \"AI0\"\nlow = 1\n", 2, "step[1].text", "missing"},
    Bad{"CheckNoInput", kHead + kCheck + "low = 1\n", 3, "step[1].input", "missing"},
    Bad{"CheckUnknownInput", kHead + kCheck + "input = \"AI32\"\nlow = 1\n", 5, "step[1].input", "not an input"},
    Bad{"CheckUnknownSetupName", kSetup + kCheck + "input = \"presure\"\nlow = 1\n", 6, "step[1].input", "not an input"},
    Bad{"CheckNoBand", kHead + kCheck + "input = \"AI0\"\n", 5, "step[1]", "give one band"},
    Bad{"CheckTwoBands", kHead + kCheck + "input = \"AI0\"\nlow = 1\nnominal = 2\ntolerance = 1\n", 5, "step[1]", "give one band"},
    Bad{"ToleranceNegative", kHead + kCheck + "input = \"AI0\"\nnominal = 1\ntolerance = -0.1\n", 7, "step[1].tolerance", "0 or more"},
    Bad{"ToleranceNaN", kHead + kCheck + "input = \"AI0\"\nnominal = 1\ntolerance = nan\n", 7, "step[1].tolerance", "finite"},
    Bad{"NominalAlone", kHead + kCheck + "input = \"AI0\"\nnominal = 1\n", 5, "step[1]", "go together"},
    Bad{"BandEmpty", kHead + kCheck + "input = \"AI0\"\nlow = 2\nhigh = 1\n", 5, "step[1]", "is empty"},
    Bad{"LimitsWithoutSetup", kHead + kCheck + "input = \"AI0\"\nlimits = \"alarm\"\n", 6, "step[1].limits", "setup file"},
    Bad{"LimitsNoneGiven", kSetup + kCheck + "input = \"AI1\"\nlimits = \"warn\"\n", 7, "step[1].limits", "no warn_low or warn_high"},
    Bad{"LimitsWord", kSetup + kCheck + "input = \"AI0\"\nlimits = \"setup\"\n", 7, "step[1].limits", "\"warn\" or \"alarm\""},
    Bad{"OverUnknown", kHead + kCheck + "input = \"AI0\"\nlow = 1\nover = \"median\"\nreadings = 3\n", 7, "step[1].over", "not one, mean"},
    Bad{"ReadingsWithoutOver", kHead + kCheck + "input = \"AI0\"\nlow = 1\nreadings = 3\n", 7, "step[1].readings", "over"},
    Bad{"ReadingsTooMany", kHead + kCheck + "input = \"AI0\"\nlow = 1\nover = \"mean\"\nreadings = 1001\n", 8, "step[1].readings", "outside 2..1000"},
    Bad{"MeanWithoutReadings", kHead + kCheck + "input = \"AI0\"\nlow = 1\nover = \"mean\"\n", 7, "step[1].readings", "missing"},
    Bad{"BandOnDigital", kHead + kCheck + "input = \"DI\"\nbit = 1\nlevel = 1\nlow = 0\n", 8, "step[1].low", "does not apply to DI"},
    Bad{"PatternOnAnalog", kHead + kCheck + "input = \"AI0\"\nlow = 1\npattern = 3\n", 7, "step[1].pattern", "does not apply"},
    Bad{"DiBitSeventeen", kHead + kCheck + "input = \"DI\"\nbit = 17\nlevel = 1\n", 6, "step[1].bit", "outside 1..16"},
    Bad{"PatternOutsideMask", kHead + kCheck + "input = \"DI0\"\npattern = 0x81\nmask = 0x0F\n", 6, "step[1].pattern", "mask leaves out"},
    Bad{"MaskZero", kHead + kCheck + "input = \"DI0\"\npattern = 0\nmask = 0\n", 7, "step[1].mask", "outside 1..255"},
    Bad{"IdTwice", kHead + kCheck + "input = \"AI0\"\nlow = 1\n" + kCheck + "input = \"AI1\"\nlow = 1\n", 8, "step[2].check", "already the id"},
    Bad{"IdWithBlank", kHead + "[[step]]\ncheck = \"a b\"\ntext = \"t\"\ninput = \"AI0\"\nlow = 1\n", 3, "step[1].check", "not an id"},
    Bad{"TextWithLineBreak", kHead + "[[step]]\ncheck = \"c\"\ntext = \"a\\nb\"\ninput = \"AI0\"\nlow = 1\n", 4, "step[1].text", "line-breaking"},
    Bad{"OnFailWord", kHead + "on_fail = \"ignore\"\n[[step]]\nwait = 1\n", 2, "on_fail", "neither"},
    Bad{"RepeatZero", kHead + "[[step]]\nrepeat = 0\n[[step.step]]\nwait = 1\n", 3, "step[1].repeat", "outside 1..10000"},
    Bad{"RepeatHuge", kHead + "[[step]]\nrepeat = 10001\n[[step.step]]\nwait = 1\n", 3, "step[1].repeat", "outside 1..10000"},
    Bad{"RepeatEmptyList", kHead + "[[step]]\nrepeat = []\n[[step.step]]\nwait = 1\n", 3, "step[1].repeat", "1..10000 values"},
    Bad{"RepeatListOfTexts", kHead + "[[step]]\nrepeat = [1, \"x\"]\n[[step.step]]\nwait = 1\n", 3, "step[1].repeat", "number or \"$v\""},
    Bad{"RepeatNoSteps", kHead + "[[step]]\nrepeat = 2\n", 2, "step[1].step", "missing"},
    Bad{"DollarOutsideSweep", kHead + kSet + "volts = \"$v\"\n", 4, "step[1].volts", "only known inside a repeat over a list"},
    Bad{"DollarInCountedRepeat", kHead + "[[step]]\nrepeat = 2\n[[step.step]]\nset = \"DA0\"\nvolts = \"$v\"\n", 6, "step[1].step[1].volts", "only known"},
    Bad{"OtherDollarName", kHead + "[[step]]\nrepeat = [1]\n[[step.step]]\nset = \"DA0\"\nvolts = \"$w\"\n", 6, "volts", "not \"$w\""},
    Bad{"SweepValueBeyondRange", kHead + "[[step]]\nrepeat = [1, 6]\n[[step.step]]\nset = \"DA0\"\nvolts = \"$v\"\n", 6, "step[1].step[1].volts", "(v = 6)"},
    Bad{"SweepValueNotABit", kHead + "[[step]]\nrepeat = [1, 1.5]\n[[step.step]]\nset = \"DO\"\nbit = \"$v\"\nlevel = 1\n", 6, "bit", "not a whole number"},
    Bad{"NestedTooDeep", kHead + "[[step]]\nrepeat = 1\n[[step.step]]\nrepeat = 1\n[[step.step.step]]\nrepeat = 1\n"
                                  "[[step.step.step.step]]\nrepeat = 1\n[[step.step.step.step.step]]\nrepeat = 1\n"
                                  "[[step.step.step.step.step.step]]\nwait = 1\n", 10, "repeat", "4 deep"},
    Bad{"UnrollsTooFar", kHead + "[[step]]\nrepeat = 10000\n[[step.step]]\nrepeat = 10000\n[[step.step.step]]\nwait = 0.001\n", 6, "step", "more than 100000"},
    Bad{"SafeUnknownOutput", kHead + "[safe]\nDA4 = 0\n[[step]]\nwait = 1\n", 3, "safe.DA4", "not an output"},
    Bad{"SafeVoltsBeyond", kHead + "[safe]\nDA0 = 7\n[[step]]\nwait = 1\n", 3, "safe.DA0.volts", "outside the bipolar"},
    Bad{"SafeTwice", kHead + "[safe]\nDA0 = 0\nAO0 = 0\n[[step]]\nwait = 1\n", 3, "safe.", "named before"},
    Bad{"SafeBeyondAlarm", kSetup + "[safe]\nvalve = { volts = 0 }\n[[step]]\nwait = 1\n", 4, "safe.valve.volts", "alarm_low"},
    Bad{"SafeBit", kHead + "[safe]\nDO = 0\n[[step]]\nwait = 1\n", 3, "safe.DO", "name a group"},
    Bad{"SetupMissing", kHead + "setup = \"nothere.toml\"\n[[step]]\nwait = 1\n", 2, "setup", "nothere.toml"},
    Bad{"SetupBad", kHead + "setup = \"recipe-setup-bad.toml\"\n[[step]]\nwait = 1\n", 2, "setup", "recipe-setup-bad.toml:1:"},
    Bad{"SetupNameIsAnotherOutputsCardName", kCrossed + "[[step]]\nset = \"DA0\"\nvolts = 1\n", 4, "step[1].set", "setup's name of AO1"},
    Bad{"SetupNameIsAnotherOutputInSafe", kCrossed + "[safe]\nDA0 = 0\n[[step]]\nwait = 1\n", 4, "safe.DA0", "setup's name of AO1"},
    Bad{"SetupNameIsAnotherInputsCardName", kCrossed + kCheck + "input = \"AI3\"\nlow = 1\n", 6, "step[1].input", "setup's name of AI0"},
    Bad{"DefaultWaitIdTakenLater", kHead + kWaitUntil + CheckOf("wait_line2"), 8, "step[2].check", "already the id"},
    Bad{"DefaultWaitIdTakenBefore", kHead + CheckOf("wait_line7") + kWaitUntil, 7, "step[2].id", "already the id"},
    Bad{"ValueBeyondAlarmRoundedInside", kSetup + "[[step]]\nset = \"valve\"\nvalue = 16.004\n", 5, "step[1].value", "alarm_high"},
    Bad{"SweepFloatAsCode", kHead + "[[step]]\nrepeat = [1e3]\n[[step.step]]\nset = \"DA0\"\ncode = \"$v\"\n", 6, "step[1].step[1].code", "whole number"},
    Bad{"SweepFloatAsByte", kHead + "[[step]]\nrepeat = [1.0, 255.0]\n[[step.step]]\nset = \"DO0\"\nbyte = \"$v\"\n", 6, "step[1].step[1].byte", "whole number"},
    Bad{"SweepHugeFloatAsCode", kHead + "[[step]]\nrepeat = [1e300]\n[[step.step]]\nset = \"DA0\"\ncode = \"$v\"\n", 6, "code", "whole number"},
    Bad{"SweepHugeWholeAsCode", kHead + "[[step]]\nrepeat = [5000000000]\n[[step.step]]\nset = \"DA0\"\ncode = \"$v\"\n", 6, "code", "5000000000 is outside 0..4095"},
    Bad{"WaitsBeyondADay", kHead + "[[step]]\nrepeat = 10000\n[[step.step]]\nwait = 86400\n", 5, "step[1].step[1]", "more than 24 h"},
    Bad{"TimeoutsBeyondADay", kHead + "[[step]]\nwait = 3600\n[[step]]\nrepeat = 23\n[[step.step]]\nwait = 3600\n" + kWaitUntil, 12, "step[3].timeout", "more than 24 h"},
    Bad{"AllWithoutReadings", kHead + kCheck + "input = \"AI0\"\nlow = 1\nover = \"all\"\n", 7, "step[1].readings", "missing"}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

// ---- What a recipe is resolved into ----

TEST(RecipePlan, OutputsResolvedToCodesAndBytes) {
    const Plan p = Good(kHead + kSet + "volts = 2.5\n" + kSet + "code = 0xFFF\n" +
                        "[[step]]\nset = \"AO3\"\nvolts = -5\n[[step]]\nset = \"DO1\"\nbyte = 0xA5\n"
                        "[[step]]\nset = \"DO\"\nbit = 16\nlevel = 1\n");
    ASSERT_EQ(p.actions.size(), 5u);
    EXPECT_EQ(p.actions[0].output, (Output{Output::Kind::Da, 0, 3072, {}})); // 2.5 * 409.5 + 2048 = 3071.75
    EXPECT_EQ(p.actions[1].output, (Output{Output::Kind::Da, 0, 4095, {}}));
    EXPECT_EQ(p.actions[2].output, (Output{Output::Kind::Da, 3, 0, {}}));
    EXPECT_EQ(p.actions[3].output, (Output{Output::Kind::DoGroup, 1, 0xA5, {}}));
    EXPECT_EQ(p.actions[4].output, (Output{Output::Kind::DoBit, 16, 1, {}}));
    EXPECT_EQ(p.actions[0].line, 2);
    EXPECT_FALSE(p.NeedsAcquisition());

    // The top of each range is a code of its own, in both ranges.
    EXPECT_EQ(Good(kHead + kSet + "volts = 5\n").actions[0].output.value, 4095);
    EXPECT_EQ(Good(kHead + "range = \"unipolar\"\n" + kSet + "volts = 10\n").actions[0].output.value, 4095);
    EXPECT_EQ(Good(kHead + "range = \"unipolar\"\n" + kSet + "volts = 0\n").actions[0].output.value, 0);
}

TEST(RecipePlan, ValueGoesThroughTheSetupsScaling) {
    // 12 mA on 1..5 V = 4..20 mA is 3 V: code 3 * 409.5 + 2048 = 3276.5, to the even 3276.
    const Plan p =
        Good(kSetup + "[[step]]\nset = \"valve\"\nvalue = 12\n" + kCheck + "input = \"pressure\"\nlimits = \"warn\"\n");
    ASSERT_EQ(p.actions.size(), 2u);
    EXPECT_EQ(p.actions[0].output, (Output{Output::Kind::Da, 1, 3276, {}}));
    const Condition& c = p.actions[1].condition;
    EXPECT_EQ(c.input, 0);
    EXPECT_EQ(c.unit, "bar");
    EXPECT_FALSE(c.low.has_value());
    EXPECT_EQ(c.high, 8.0);
    EXPECT_TRUE(p.NeedsAcquisition());
}

TEST(RecipePlan, SweepUnrolledWithUniqueIdsAndItsValues) {
    const Plan p =
        Good(kHead + "on_fail = \"continue\"\n[[step]]\nrepeat = [-1, 2.5]\n"
                     "[[step.step]]\nset = \"DA2\"\nvolts = \"$v\"\n"
                     "[[step.step]]\nrepeat = 2\non_fail = \"stop\"\n"
                     "[[step.step.step]]\ncheck = \"pt\"\ntext = \"point\"\ninput = \"AI2\"\nnominal = \"$v\"\n"
                     "tolerance = 0.1\n");
    ASSERT_EQ(p.actions.size(), 6u);
    EXPECT_EQ(p.actions[0].output.value, 1638); // -1 V: 2048 - 409.5 = 1638.5, to the even
    EXPECT_EQ(p.actions[3].output.value, 3072);
    std::vector<std::string> ids;
    for (const auto& a : p.actions) {
        if (a.kind == Action::Kind::Check) ids.push_back(a.id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"pt#1#1", "pt#1#2", "pt#2#1", "pt#2#2"}));
    EXPECT_DOUBLE_EQ(*p.actions[1].condition.low, -1.1);
    EXPECT_DOUBLE_EQ(*p.actions[4].condition.high, 2.6);
    EXPECT_EQ(p.actions[4].text, "point (v = 2.5)");
    EXPECT_EQ(p.actions[1].onFail, OnFail::Stop); // the inner repeat's own
    EXPECT_EQ(p.actions[0].onFail, OnFail::Continue);
    EXPECT_EQ(p.actions[1].line, 11);
    EXPECT_EQ(p.Checks(), 4);
}

TEST(RecipePlan, WaitsAndTheirConditions) {
    const Plan p = Good(kHead + "[[step]]\nwait = 0.25\n[[step]]\nwait = \"until\"\ninput = \"DI1\"\npattern = 0x0F\n"
                                "mask = 0x0F\ntimeout = 3\n[[step]]\nwait = \"until\"\nid = \"up\"\ninput = \"DI\"\n"
                                "bit = 9\nlevel = 1\ntimeout = 1\n");
    ASSERT_EQ(p.actions.size(), 3u);
    EXPECT_EQ(p.actions[0].kind, Action::Kind::Wait);
    EXPECT_DOUBLE_EQ(p.actions[0].seconds, 0.25);
    EXPECT_EQ(p.actions[1].id, "wait_line4");
    EXPECT_EQ(p.actions[1].condition.kind, Condition::Kind::DiGroup);
    EXPECT_EQ(p.actions[2].id, "up");
    EXPECT_EQ(p.actions[2].condition.input, 9);
}

TEST(RecipePlan, SafeTableAndZeros) {
    const Plan p =
        Good(kSetup + "[safe]\nvalve = { value = 4 }\nDO1 = 0x10\nDA0 = { code = 0x800 }\n[[step]]\nwait = 1\n");
    ASSERT_EQ(p.safe.size(), 3u);
    // Keys in name order: DA0, DO1, valve. 4 mA is 1 V: 409.5 + 2048 = 2457.5, to the even 2458.
    EXPECT_EQ(p.safe[0], (Output{Output::Kind::Da, 0, 0x800, {}}));
    EXPECT_EQ(p.safe[1], (Output{Output::Kind::DoGroup, 1, 0x10, {}}));
    EXPECT_EQ(p.safe[2], (Output{Output::Kind::Da, 1, 2458, {}}));
    EXPECT_EQ(Zero({Output::Kind::Da, 2, 100, {}}, true).value, 2048);
    EXPECT_EQ(Zero({Output::Kind::Da, 2, 100, {}}, false).value, 0);
    EXPECT_EQ(Zero({Output::Kind::DoBit, 7, 1, {}}, true), (Output{Output::Kind::DoBit, 7, 0, {}}));
}

// A day of waits and timeouts is the most a recipe plans; card names a
// setup leaves to their own channels, and whole numbers from a sweep, taken.
TEST(RecipePlan, BoundsAndNamesTaken) {
    EXPECT_DOUBLE_EQ(Good(kHead + "[[step]]\nrepeat = 24\n[[step.step]]\nwait = 3600\n").plannedSeconds, 86400);
    const Plan p = Good(kCrossed + "[[step]]\nset = \"AO0\"\nvolts = 1\n[[step]]\nset = \"AO1\"\nvolts = 2\n" + kCheck +
                        "input = \"AI0\"\nlow = 1\n");
    ASSERT_EQ(p.actions.size(), 3u);
    EXPECT_EQ(p.actions[0].output.channel, 0);
    EXPECT_EQ(p.actions[1].output.channel, 1);
    EXPECT_EQ(p.actions[2].condition.input, 0);
    const Plan sweep = Good(kHead + "[[step]]\nrepeat = [0, 0xFFF]\n[[step.step]]\nset = \"DA0\"\ncode = \"$v\"\n");
    ASSERT_EQ(sweep.actions.size(), 2u);
    EXPECT_EQ(sweep.actions[1].output.value, 4095);
}

// A band's edges pass; beyond them, NaN, and a masked group judged on its mask.
TEST(RecipeCondition, Passes) {
    Condition band;
    band.low = 1.0;
    band.high = 2.0;
    EXPECT_TRUE(band.Passes(1.0));
    EXPECT_TRUE(band.Passes(2.0));
    EXPECT_FALSE(band.Passes(2.0000001));
    EXPECT_FALSE(band.Passes(0.9999999));
    EXPECT_FALSE(band.Passes(std::nan("")));
    Condition above;
    above.low = 0.5;
    EXPECT_TRUE(above.Passes(1e9));
    EXPECT_FALSE(above.Passes(0.4));
    Condition group;
    group.kind = Condition::Kind::DiGroup;
    group.expected = 0x05;
    group.mask = 0x0F;
    EXPECT_TRUE(group.Passes(0xF5));
    EXPECT_FALSE(group.Passes(0x04));
    Condition bit;
    bit.kind = Condition::Kind::DiBit;
    bit.expected = 1;
    EXPECT_TRUE(bit.Passes(1));
    EXPECT_FALSE(bit.Passes(0));
}

// over = "all": the reading farthest out of the band is the one judged,
// so that the check passes only when every reading is within it.
TEST(RecipeCondition, AllJudgesEveryReading) {
    const Plan p = Good(kHead + kCheck + "input = \"AI3\"\nlow = -0.05\nhigh = 0.05\nover = \"all\"\nreadings = 10\n");
    ASSERT_EQ(p.actions.size(), 1u);
    const Condition& c = p.actions[0].condition;
    EXPECT_EQ(c.over, Condition::Over::All);
    EXPECT_EQ(c.readings, 10);
    EXPECT_EQ(p.actions[0].Describe(), "check c: AI3 worst of 10 -0.05..0.05 V");
    struct Case {
        std::vector<double> readings;
        double judged;
        bool passes;
    };
    for (const Case& k : {Case{{0.01, -0.94, 0.02}, -0.94, false}, Case{{0.01, 0.06, -0.04}, 0.06, false},
                          Case{{0.01, -0.04, 0.03}, -0.04, true}, Case{{-0.05, 0.05}, -0.05, true},
                          Case{{0.0, 0.2, -0.3}, -0.3, false}}) {
        EXPECT_DOUBLE_EQ(c.Judged(k.readings), k.judged);
        EXPECT_EQ(c.Passes(c.Judged(k.readings)), k.passes);
    }
    EXPECT_TRUE(std::isnan(c.Judged({0.0, std::nan(""), 0.01})));
    Condition above = c;
    above.high.reset(); // one side: the least reading is the one farthest out
    EXPECT_DOUBLE_EQ(above.Judged({0.3, -0.2, 7.0}), -0.2);
}

// The examples as they are shipped, with the setup file they name.
TEST(RecipeExamples, ReadAsShipped) {
    for (const char* name : {"recipe-loopback.toml", "recipe-relay.toml", "recipe-sweep.toml"}) {
        const auto r = Load(std::string(MOX_SOURCE_DIR) + "/examples/" + name);
        const auto* e = std::get_if<Error>(&r);
        EXPECT_EQ(e, nullptr) << name << ": " << (e ? e->Text() : "");
    }
    const auto relay = Load(std::string(MOX_SOURCE_DIR) + "/examples/recipe-relay.toml");
    ASSERT_TRUE(std::holds_alternative<Plan>(relay));
    EXPECT_TRUE(std::get<Plan>(relay).setup.has_value());
    // The loopback's "stays within 50 mV over 10 readings" judges every reading.
    const auto loopback = Load(std::string(MOX_SOURCE_DIR) + "/examples/recipe-loopback.toml");
    ASSERT_TRUE(std::holds_alternative<Plan>(loopback));
    for (const auto& a : std::get<Plan>(loopback).actions) {
        if (a.id == "ai3_loop") {
            EXPECT_EQ(a.condition.over, Condition::Over::All);
        }
    }
}

TEST(RecipeFile, MissingOrHugeRefused) {
    const auto missing = Load((TheFolder().dir / "none.toml").string());
    ASSERT_TRUE(std::holds_alternative<Error>(missing));
    EXPECT_NE(std::get<Error>(missing).what.find("cannot be read"), std::string::npos);
    const fs::path big = TheFolder().dir / "big.toml";
    std::ofstream(big) << std::string((1 << 20) + 1, '#');
    const auto huge = Load(big.string());
    ASSERT_TRUE(std::holds_alternative<Error>(huge));
    EXPECT_NE(std::get<Error>(huge).what.find("not a recipe"), std::string::npos);
}
