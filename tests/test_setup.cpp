// SPDX-License-Identifier: GPL-3.0-or-later
// The setup file and the chain from code to unit: values worked out by hand,
// outputs that go to a code and back, and every kind of bad file refused
// whole with its place named.
#include "channel_scaling.h"
#include "setup.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using mox::setup::Error;
using SetupFile = mox::setup::Setup;

namespace {

struct HashCase {
    std::string input;
    const char* digest;
};

class Sha256Vectors : public ::testing::TestWithParam<HashCase> {};

// The FIPS 180-4 examples: empty, one block, a message whose padding needs a
// second block, and a million bytes.
TEST_P(Sha256Vectors, MatchTheStandardsDigests) {
    EXPECT_EQ(mox::setup::Sha256Hex(GetParam().input), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    Setup, Sha256Vectors,
    ::testing::Values(HashCase{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                      HashCase{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                      HashCase{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
                      HashCase{std::string(1000000, 'a'),
                               "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}));

struct ChainCase {
    double code;
    vcard::Linear calibration, scale;
    double expected;
};

class ScalingChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ScalingChain, CodeToUnitAsWorkedByHand) {
    const auto& c = GetParam();
    EXPECT_NEAR(vcard::EngineeringFromCode(c.code, c.calibration, c.scale), c.expected, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Scaling, ScalingChain,
                         ::testing::Values(
                             // 32768 is 0 V; no calibration, volts as they are: 0.
                             ChainCase{32768, {}, {}, 0.0},
                             // 65535: (65535-32768)/32768*5 = 4.99984741 V.
                             ChainCase{65535, {}, {}, 4.999847412109375},
                             // 0: -5 V exactly.
                             ChainCase{0, {}, {}, -5.0},
                             // 0..10 bar on 0..5 V: 49152 -> 2.5 V -> 2 bar/V * 2.5 = 5 bar.
                             ChainCase{49152, {}, {2.0, 0.0}, 5.0},
                             // 10 mV/degC: 36044.8 -> 0.5 V -> 100 * 0.5 = 50 degC.
                             ChainCase{36044.8, {}, {100.0, 0.0}, 50.0},
                             // 0.1 ohm shunt, calibrated 1.002 V/V - 1.5 mV: 40960 -> 1.25 V
                             // -> 1.002 * 1.25 - 0.0015 = 1.251 V -> 10 A/V = 12.51 A.
                             ChainCase{40960, {1.002, -0.0015}, {10.0, 0.0}, 12.51},
                             // 4..20 mA on 1..5 V (4 mA/V, offset 0): 16384 -> -2.5 V -> -10 mA.
                             ChainCase{16384, {}, {4.0, 0.0}, -10.0},
                             // Offset only: 32768 -> 0 V, calibration +0.01 V, 1 V -> 3 units
                             // + 7: 3 * 0.01 + 7 = 7.03.
                             ChainCase{32768, {1.0, 0.01}, {3.0, 7.0}, 7.03}));

// A code, or none where the output cannot give the value: never clipped.
struct OutputCase {
    double value;
    vcard::Linear calibration, scale;
    bool bipolar;
    std::optional<int> code;
};

class OutputChain : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputChain, UnitToCodeAsWorkedByHand) {
    const auto& c = GetParam();
    EXPECT_EQ(vcard::DaCodeForEngineering(c.value, c.calibration, c.scale, c.bipolar), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Scaling, OutputChain,
    ::testing::Values(
        // 0 V bipolar: the middle code 2048.
        OutputCase{0, {}, {}, true, 2048},
        // 4.99 V bipolar: 4.99 * 409.5 + 2048 = 4091.405 -> 4091.
        OutputCase{4.99, {}, {}, true, 4091},
        // 12 mA on 4 mA/V from 1 V (gain 4, offset 0): (12 - 0) / 4 = 3 V
        // -> 3 * 409.5 + 2048 = 3276.5 -> a half to the even: 3276.
        OutputCase{12, {}, {4.0, 0.0}, true, 3276},
        // Unipolar 10 V: 10 * 409.5 = 4095.
        OutputCase{10, {}, {}, false, 4095},
        // Calibrated output (1 V commanded gives 0.98 V + 0.01): 5 bar at
        // 2 bar/V -> 2.5 V wanted -> (2.5 - 0.01) / 0.98 = 2.5408163 V
        // -> 1040.464 + 2048 = 3088.464 -> 3088.
        OutputCase{5, {0.98, 0.01}, {2.0, 0.0}, true, 3088},
        // -5 V bipolar: -2047.5 + 2048 = 0.5 -> the even 0.
        OutputCase{-5, {}, {}, true, 0},
        // 5.01 V: 4100.1; -5.01 V: -4.1; -0.01 V unipolar: -4.1.
        OutputCase{5.01, {}, {}, true, std::nullopt}, OutputCase{-5.01, {}, {}, true, std::nullopt},
        OutputCase{-0.01, {}, {}, false, std::nullopt},
        // A gain of 0 in the scaling or the calibration: no value to undo.
        OutputCase{1, {}, {0.0, 1.0}, true, std::nullopt}, OutputCase{1, {0.0, 0.0}, {}, true, std::nullopt},
        // Not a number, infinite, and volts that overflow.
        OutputCase{std::nan(""), {}, {}, true, std::nullopt}, OutputCase{INFINITY, {}, {}, true, std::nullopt},
        OutputCase{1e308, {}, {1e-308, 0.0}, true, std::nullopt}));

// Every code an output has, through its unit and back, gives the same code:
// the inverse undoes the forward chain exactly, not to within a code.
TEST(Scaling, EveryOutputCodeRoundTripsThroughTheUnit) {
    const vcard::Linear calibration{1.002, -0.003}, scale{4.0, 0.0};
    for (const bool bipolar : {true, false}) {
        for (int code = 0; code <= vcard::kDaMaxCode; ++code) {
            const double value = vcard::Apply(scale, vcard::Apply(calibration, vcard::DaVolts(code, bipolar)));
            const auto back = vcard::DaCodeForEngineering(value, calibration, scale, bipolar);
            ASSERT_TRUE(back.has_value()) << code;
            ASSERT_EQ(*back, code) << "bipolar " << bipolar;
        }
    }
}

const SetupFile& Parsed(const std::variant<SetupFile, Error>& result) {
    if (const auto* e = std::get_if<Error>(&result)) ADD_FAILURE() << e->Text();
    static const SetupFile empty;
    const auto* s = std::get_if<SetupFile>(&result);
    return s != nullptr ? *s : empty;
}

fs::path Temp(const std::string& name) {
    return fs::temp_directory_path() / ("setup-test-" + std::to_string(::getpid()) + "-" + name);
}

void Write(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

} // namespace

TEST(Setup, TheBenchExampleReadsAsItsCommentsSay) {
    const std::string path = MOX_SOURCE_DIR "/examples/bench-setup.toml";
    const auto result = mox::setup::Load(path);
    const SetupFile& s = Parsed(result);
    ASSERT_TRUE(std::holds_alternative<SetupFile>(result));
    // 0..10 bar on 0..5 V: 2 bar/V.
    EXPECT_TRUE(s.inputs[0].given);
    EXPECT_DOUBLE_EQ(s.inputs[0].scale.gain, 2.0);
    EXPECT_DOUBLE_EQ(s.inputs[0].scale.offset, 0.0);
    EXPECT_EQ(s.ColumnName(0), "pump_pressure[bar]");
    EXPECT_EQ(s.inputs[0].limits.alarmHigh, 9.5);
    EXPECT_FALSE(s.inputs[0].limits.alarmLow.has_value());
    // 1 V on the shunt input: 10 * (1.002 * 1 - 0.0015) = 10.005 A.
    EXPECT_NEAR(s.Engineering(2, 1.0), 10.005, 1e-12);
    ASSERT_TRUE(s.inputs[2].calibration.has_value());
    EXPECT_EQ(s.inputs[2].calibration->due, "2027-05-04");
    EXPECT_EQ(s.inputs[2].calibration->operatorName, "M. Keller");
    // Not in the file: volts under the default name.
    EXPECT_FALSE(s.inputs[3].given);
    EXPECT_EQ(s.ColumnName(3), "AI03[V]");
    EXPECT_DOUBLE_EQ(s.Engineering(3, 1.25), 1.25);
    EXPECT_EQ(s.outputs[0].name, "AO0");
    // 4..20 mA on 1..5 V: 4 mA/V, 0 mA at 0 V.
    EXPECT_DOUBLE_EQ(s.outputs[1].scale.gain, 4.0);
    EXPECT_DOUBLE_EQ(s.outputs[1].scale.offset, 0.0);
    EXPECT_EQ(s.outputs[1].unit, "mA");
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(s.digest, mox::setup::Sha256Hex(bytes));
    EXPECT_EQ(fs::path(s.calibrationPath).filename(), "bench-calibration.toml");
}

struct BadFile {
    const char* text;
    int line;
    const char* field;
    const char* what; // a piece of the message
};

class SetupRefused : public ::testing::TestWithParam<BadFile> {};

TEST_P(SetupRefused, WholeWithItsLineAndField) {
    const auto& c = GetParam();
    const auto result = mox::setup::Parse(c.text, "bench.toml");
    const auto* e = std::get_if<Error>(&result);
    ASSERT_NE(e, nullptr) << "taken: " << c.text;
    EXPECT_EQ(e->file, "bench.toml");
    EXPECT_EQ(e->line, c.line) << e->Text();
    EXPECT_EQ(e->field, c.field) << e->Text();
    EXPECT_NE(e->what.find(c.what), std::string::npos) << e->Text();
    EXPECT_EQ(e->Text().rfind("bench.toml:" + std::to_string(c.line) + ":", 0), 0u) << e->Text();
}

INSTANTIATE_TEST_SUITE_P(
    Setup, SetupRefused,
    ::testing::Values(
        BadFile{"version = 1\n[AI0\nname = \"x\"\n", 2, "", ""}, // TOML syntax
        BadFile{"[AI0]\nname = \"x\"\n", 1, "version", "missing"},
        BadFile{"version = 2\n", 1, "version", "not supported"},
        BadFile{"version = \"1\"\n", 1, "version", "whole number 1, not a text"},
        BadFile{"version = 1.0\n", 1, "version", "whole number 1, not a number"},
        BadFile{"version = 1\n[AI32]\n", 2, "AI32", "unknown table"},
        BadFile{"version = 1\n\n[AO4]\n", 3, "AO4", "unknown table"},
        BadFile{"version = 1\n[XX]\n", 2, "XX", "unknown table"},
        BadFile{"version = 1\n[AI04]\n", 2, "AI04", "unknown table"},
        BadFile{"version = 1\nlabel = 3\n", 2, "label", "unknown key"},
        BadFile{"version = 1\n[AI1]\nname = \"a\"\ngian = 2\n", 4, "AI1.gian", "unknown key"},
        BadFile{"version = 1\n[AI1]\nscale = { gain = 2, ofset = 1 }\n", 3, "AI1.scale.ofset", "unknown key"},
        BadFile{"version = 1\n[AI1]\nunit = 5\n", 3, "AI1.unit", "must be a text"},
        BadFile{"version = 1\n[AI1]\nwarn_high = \"8\"\n", 3, "AI1.warn_high", "must be a number"},
        BadFile{"version = 1\n[AI1]\nwarn_high = nan\n", 3, "AI1.warn_high", "finite"},
        BadFile{"version = 1\n[AI1]\nscale = { gain = inf }\n", 3, "AI1.scale.gain", "finite"},
        BadFile{"version = 1\n[AI4]\npoints = [[1, 2], [1, 5]]\n", 3, "AI4.points", "the two points are equal"},
        BadFile{"version = 1\n[AI4]\npoints = [[1, 2], [3, 2]]\n", 3, "AI4.points", "gain would be 0"},
        BadFile{"version = 1\n[AI4]\npoints = [[1, 2]]\n", 3, "AI4.points", "two points"},
        BadFile{"version = 1\n[AI4]\nscale = { gain = 0 }\n", 3, "AI4.scale.gain", "is 0"},
        BadFile{"version = 1\n[AI4]\nscale = { gain = 2 }\npoints = [[0, 0], [1, 1]]\n", 4, "AI4.points", "not both"},
        BadFile{"version = 1\n[AI5]\nwarn_high = 5\nalarm_high = 4\n", 4, "AI5.alarm_high", "at or above warn_high"},
        BadFile{"version = 1\n[AI5]\nwarn_low = 5\nwarn_high = 5\n", 4, "AI5.warn_high", "above warn_low"},
        BadFile{"version = 1\n[AI5]\nalarm_high = 3\nalarm_low = 4\n", 3, "AI5.alarm_high", "above alarm_low"},
        BadFile{"version = 1\n[AI5]\nhysteresis = -0.1\n", 3, "AI5.hysteresis", "0 or more"},
        BadFile{"version = 1\n[AI6]\nname = \"2nd_pump\"\n", 3, "AI6.name", "not a name"},
        BadFile{"version = 1\n[AI6]\nname = \"pump pressure\"\n", 3, "AI6.name", "not a name"},
        BadFile{"version = 1\n[AI6]\nname = \"p\"\n[AO2]\nname = \"p\"\n", 5, "AO2.name", "already the name of AI6"},
        BadFile{"version = 1\n[AI6]\nname = \"AI07\"\n", 3, "AI6.name", "name of AI7"},
        BadFile{"version = 1\n[AI7]\nunit = \"m,s\"\n", 3, "AI7.unit", "may not contain \",\""},
        BadFile{"version = 1\n[AI7]\nunit = \"m[s]\"\n", 3, "AI7.unit", "may not contain \"[\""},
        BadFile{"version = 1\n[AI7]\nunit = \"m\\ts\"\n", 3, "AI7.unit", "control"},
        BadFile{"version = 1\n[AI7]\nunit = \"\"\n", 3, "AI7.unit", "empty"},
        // Characters that break a line or turn it around where it is shown:
        // NEL (C1), the line separator, a right-to-left override.
        BadFile{"version = 1\n[AI7]\nunit = \"a\\u0085b\"\n", 3, "AI7.unit", "line-breaking"},
        BadFile{"version = 1\n[AI7]\nunit = \"a\\u2028b\"\n", 3, "AI7.unit", "line-breaking"},
        BadFile{"version = 1\n[AI7]\nunit = \"\\u202Em\"\n", 3, "AI7.unit", "direction"},
        // Scalings whose values would not fit a reading, or whose inverse
        // would not be finite.
        BadFile{"version = 1\n[AI1]\nscale = { gain = 1e308, offset = 1e308 }\n", 3, "AI1.scale",
                "not between 1e-12 and 1e12"},
        BadFile{"version = 1\n[AO1]\nscale = { gain = 1e-320 }\n", 3, "AO1.scale", "not between 1e-12 and 1e12"},
        BadFile{"version = 1\n[AI1]\nscale = { gain = 2, offset = -2e12 }\n", 3, "AI1.scale", "beyond"},
        BadFile{"version = 1\n[AI1]\npoints = [[0, 0], [1e-9, 1e9]]\n", 3, "AI1.points", "not between"},
        BadFile{"version = 1\nAI8 = 3\n", 2, "AI8", "must be a table"},
        BadFile{"version = 1\ncalibration = \"\"\n", 2, "calibration", "empty"}));

TEST(Setup, ANamedChannelMovesOnlyItsOwnColumn) {
    const auto result = mox::setup::Parse("version = 1\n[AI9]\nname = \"AI10x\"\nunit = \"kPa\"\n", "x.toml");
    const SetupFile& s = Parsed(result);
    EXPECT_EQ(s.ColumnName(9), "AI10x[kPa]");
    EXPECT_EQ(s.ColumnName(10), "AI10[V]");
    EXPECT_EQ(s.ColumnName(32), "");
    EXPECT_TRUE(std::isnan(s.Engineering(32, 1.0)));
}

namespace {

struct BadCalibration {
    const char* text;
    int line;
    const char* field;
    const char* what;
};

class CalibrationRefused : public ::testing::TestWithParam<BadCalibration> {};

const char* kGoodTable = "version = 1\n[AI3]\ngain = 1.01\noffset = 0.002\ndate = 2026-01-10\ndue = 2026-07-10\n";

} // namespace

// A calibration file's own faults are named in its own name and lines.
TEST_P(CalibrationRefused, InItsOwnFileAndLine) {
    const fs::path setup = Temp("setup.toml"), calibration = Temp("calibration.toml");
    Write(setup, "version = 1\ncalibration = \"" + calibration.filename().string() + "\"\n");
    Write(calibration, GetParam().text);
    const auto result = mox::setup::Load(setup.string());
    const auto* e = std::get_if<Error>(&result);
    ASSERT_NE(e, nullptr) << "taken: " << GetParam().text;
    EXPECT_EQ(e->file, calibration.string());
    EXPECT_EQ(e->line, GetParam().line) << e->Text();
    EXPECT_EQ(e->field, GetParam().field) << e->Text();
    EXPECT_NE(e->what.find(GetParam().what), std::string::npos) << e->Text();
    fs::remove(setup);
    fs::remove(calibration);
}

INSTANTIATE_TEST_SUITE_P(
    Setup, CalibrationRefused,
    ::testing::Values(
        BadCalibration{"version = 1\n[AI3]\ngain = 1\noffset = 0\ndate = \"2026-02-30\"\ndue = 2027-01-01\n", 5,
                       "AI3.date", "not a date of the calendar"},
        BadCalibration{"version = 1\n[AI3]\ngain = 1\noffset = 0\ndate = \"10.01.2026\"\ndue = 2027-01-01\n", 5,
                       "AI3.date", "not a date YYYY-MM-DD"},
        BadCalibration{"version = 1\n[AI3]\ngain = 1\noffset = 0\ndate = 2026-05-01\ndue = 2026-04-30\n", 6, "AI3.due",
                       "before"},
        BadCalibration{"version = 1\n[AI3]\ngain = 1\noffset = 0\ndate = 2026-05-01\n", 2, "AI3.due", "missing"},
        BadCalibration{"version = 1\n[AI3]\ngain = 0\noffset = 0\ndate = 2026-05-01\ndue = 2027-01-01\n", 3, "AI3.gain",
                       "is 0"},
        BadCalibration{"version = 1\n[AI3]\nscale = 2\n", 3, "AI3.scale", "unknown key"},
        // Written into a log's header line: a line break there would start a
        // row of its own.
        BadCalibration{"version = 1\n[AI3]\ngain = 1\noffset = 0\ndate = 2026-05-01\ndue = 2027-01-01\n"
                       "operator = \"a\\nb\"\n",
                       7, "AI3.operator", "line-breaking"},
        BadCalibration{"version = 1\n[AI3]\ngain = 1\noffset = 0\ndate = 2026-05-01\ndue = 2027-01-01\n"
                       "card = \"7710\\u2029\"\n",
                       7, "AI3.card", "line-breaking"},
        BadCalibration{"version = 1\n[AI3]\ngain = 1e13\noffset = 0\ndate = 2026-05-01\ndue = 2027-01-01\n", 2, "AI3",
                       "not between 1e-12 and 1e12"},
        BadCalibration{"version = 1\n[AI3]\ngain = 1\noffset = 0\ndate = 2026-05-01T10:00:00\ndue = 2027-01-01\n", 5,
                       "AI3.date", "not a time"},
        BadCalibration{"version = 1\n[AI40]\n", 2, "AI40", "unknown table"},
        BadCalibration{"[AI3]\n", 1, "version", "missing"}, BadCalibration{"version = 1\n[AI3\n", 2, "", ""}));

TEST(Setup, ACalibrationAppliesBeforeTheScaling) {
    const fs::path setup = Temp("good.toml"), calibration = Temp("good-calibration.toml");
    Write(setup, "version = 1\ncalibration = \"" + calibration.filename().string() +
                     "\"\n[AI3]\nunit = \"bar\"\nscale = { gain = 2, offset = 1 }\n");
    Write(calibration, kGoodTable);
    const auto result = mox::setup::Load(setup.string());
    const SetupFile& s = Parsed(result);
    // 2 V: calibrated 1.01 * 2 + 0.002 = 2.022 V -> 2 * 2.022 + 1 = 5.044 bar.
    EXPECT_NEAR(s.Engineering(3, 2.0), 5.044, 1e-12);
    ASSERT_TRUE(s.inputs[3].calibration.has_value());
    EXPECT_EQ(s.inputs[3].calibration->date, "2026-01-10");
    EXPECT_EQ(s.calibrationPath, calibration.string());
    fs::remove(setup);
    fs::remove(calibration);
}

TEST(Setup, AMissingCalibrationFileIsNamedAtTheSetupsLine) {
    const fs::path setup = Temp("lone.toml");
    Write(setup, "version = 1\n\ncalibration = \"not-there.toml\"\n");
    const auto result = mox::setup::Load(setup.string());
    const auto* e = std::get_if<Error>(&result);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->file, setup.string());
    EXPECT_EQ(e->line, 3);
    EXPECT_EQ(e->field, "calibration");
    EXPECT_NE(e->what.find("not-there.toml"), std::string::npos) << e->Text();
    fs::remove(setup);
}

TEST(Setup, AFileThatCannotBeReadIsNamed) {
    const auto result = mox::setup::Load(Temp("absent.toml").string());
    const auto* e = std::get_if<Error>(&result);
    ASSERT_NE(e, nullptr);
    EXPECT_NE(e->Text().find("absent.toml: cannot be read"), std::string::npos) << e->Text();
}
