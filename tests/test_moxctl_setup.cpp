// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl with a setup file: the inputs in their units beside the raw
// columns, an output set from a value in its unit, and a bad file refused
// before the card is reached.
#include "emulator_process.h"
#include "moxctl_shell.h"
#include "setup.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kBench = MOX_SOURCE_DIR "/examples/bench-setup.toml";

std::string OnVirtualCard() { return "-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "'"; }

void Write(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The index of a column by its name; -1 when there is none.
int Column(const std::string& header, const std::string& name) {
    const auto names = Fields(header);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return static_cast<int>(i);
    }
    return -1;
}

// moxctl against the emulator, whose outputs stay set between runs.
struct MoxctlSetupOnEmulator : ::testing::Test {
    void SetUp() override {
        port = emulator.Start(0);
        ASSERT_NE(port, 0);
    }
    Outcome Run(const std::string& script) {
        return Shell("LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:" + std::to_string(port),
                     script);
    }
    // The value of one column in the one row `read --count 1` prints.
    double ReadColumn(const std::string& column) {
        const Outcome o = Run("$M read --count 1 --setup " + kBench);
        EXPECT_EQ(o.status, 0) << o.err;
        const auto lines = Lines(o.out);
        if (lines.size() != 2) {
            ADD_FAILURE() << o.out;
            return NAN;
        }
        const int at = Column(lines[0], column);
        EXPECT_GE(at, 0) << lines[0];
        return at < 0 ? NAN : std::stod(Fields(lines[1])[static_cast<std::size_t>(at)]);
    }
    EmulatorProcess emulator;
    std::uint16_t port = 0;
};

} // namespace

// Each input's unit column is its raw code through the one rule and the
// file's scaling, row by row, on the virtual card's moving signals.
TEST(MoxctlSetup, ReadAddsEachInputInItsUnit) {
    const Outcome o = Shell(OnVirtualCard(), "$M read --count 3 --interval 50 --setup " + kBench);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto lines = Lines(o.out);
    ASSERT_EQ(lines.size(), 4u) << o.out;
    const auto header = Fields(lines[0]);
    ASSERT_EQ(header.size(), 2u + 32u + 32u + 1u) << lines[0];
    EXPECT_EQ(header[2], "AI00");
    EXPECT_EQ(header[34], "pump_pressure[bar]");
    EXPECT_EQ(header[35], "oil_temperature[°C]");
    EXPECT_EQ(header[36], "coil_current[A]");
    EXPECT_EQ(header[37], "AI03[V]");
    EXPECT_EQ(header.back(), "beyond_limits");
    const auto setup = std::get<mox::setup::Setup>(mox::setup::Load(kBench));
    for (std::size_t row = 1; row < lines.size(); ++row) {
        const auto f = Fields(lines[row]);
        ASSERT_GE(f.size(), 66u) << lines[row];
        for (int k = 0; k < 32; ++k) {
            const double volts = (std::stod(f[2 + static_cast<std::size_t>(k)]) - 32768) / 32768 * 5;
            // Written to single precision: a relative 1e-6 or a microvolt's worth.
            const double want = setup.Engineering(k, volts);
            EXPECT_NEAR(std::stod(f[34 + static_cast<std::size_t>(k)]), want, 1e-6 * std::fabs(want) + 1e-5)
                << header[34 + static_cast<std::size_t>(k)] << " row " << row;
        }
    }
}

TEST(MoxctlSetup, JsonRowsCarryTheSameFields) {
    const Outcome o = Shell(OnVirtualCard(), "$M read --count 1 --json --volts --setup " + kBench);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto row = nlohmann::json::parse(o.out);
    // The virtual card holds AI4 at -4 V: -24 V on the supply, past its
    // alarm_low of 21.6 V.
    EXPECT_NEAR(row.at("supply_24v[V]").get<double>(), 6 * row.at("volts").at(4).get<double>(), 1e-4);
    EXPECT_NEAR(row.at("pump_pressure[bar]").get<double>(), 2 * row.at("volts").at(0).get<double>(), 1e-5);
    EXPECT_NE(row.at("beyond_limits").get<std::string>().find("supply_24v:alarm_low"), std::string::npos);
}

// DA0 is wired to AI0: code C00 is (3072 - 2048) * 10 / 4095 = 2.5006 V,
// 2 bar/V: 5.0012 bar read back.
TEST_F(MoxctlSetupOnEmulator, AnOutputCodeReadsBackInTheInputsUnit) {
    const Outcome da = Run("$M da 0 --code C00");
    ASSERT_EQ(da.status, 0) << da.err;
    EXPECT_NEAR(ReadColumn("pump_pressure[bar]"), 5.0012, 0.01);
}

// 12 mA on 4 mA/V is 3 V: 3 * 409.5 + 2048 = 3276.5, the even code 3276
// (CCC), which gives (3276 - 2048) * 10 / 4095 = 2.99878 V = 11.9951 mA;
// DA1 wired to AI1, 100 degC/V: 299.88 degC.
TEST_F(MoxctlSetupOnEmulator, AValueInTheOutputsUnitWritesItsCode) {
    const Outcome da = Run("$M da 1 --value 12 --setup " + kBench);
    ASSERT_EQ(da.status, 0) << da.err;
    EXPECT_EQ(da.out, "AO1: code CCC (3276) from 12 mA (valve_setpoint, bipolar); the code gives 11.995116 mA\n");
    EXPECT_NEAR(ReadColumn("oil_temperature[°C]"), 299.88, 1.0);
}

struct RefusedValue {
    const char* args;
    const char* message;
};

class MoxctlSetupRefused : public MoxctlSetupOnEmulator, public ::testing::WithParamInterface<RefusedValue> {};

// A value the output cannot give, or no setup to say what it means, ends
// with status 2 and leaves the output where it was.
TEST_P(MoxctlSetupRefused, LeavesTheOutputAsItWas) {
    const fs::path wide = TempPath("wide.toml");
    Write(wide, "version = 1\n[AO1]\nunit = \"mbar\"\nscale = { gain = 1000 }\n");
    ASSERT_EQ(Run("$M da 1 --code 800").status, 0);
    const Outcome refused = Run("W='" + wide.string() + "' B='" + kBench + "'; $M da 1 " + GetParam().args);
    EXPECT_EQ(refused.status, 2) << refused.out << refused.err;
    EXPECT_NE(refused.err.find(GetParam().message), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
    // Still code 800: 0 V, 0 degC on AI1.
    EXPECT_NEAR(ReadColumn("oil_temperature[°C]"), 0.0, 1.0);
    fs::remove(wide);
}

INSTANTIATE_TEST_SUITE_P(Moxctl, MoxctlSetupRefused,
                         ::testing::Values(RefusedValue{"--value 12", "--setup"},
                                           RefusedValue{"--value 25 --setup \"$B\"",
                                                        "beyond valve_setpoint's alarm_high"},
                                           RefusedValue{"--value 6000 --setup \"$W\"", "cannot give in the bipolar"},
                                           RefusedValue{"--value -100 --range unipolar --setup \"$W\"", "unipolar"},
                                           RefusedValue{"--value nan --setup \"$B\"", "--value"},
                                           RefusedValue{"--value 12 --code 800 --setup \"$B\"", "excludes"},
                                           // 20 mA is the alarm level itself, but the nearest code gives
                                           // 20.004885 mA: what is written is judged, not what was asked.
                                           RefusedValue{"--value 20 --range unipolar --setup \"$B\"",
                                                        "code 800 gives 20.004885 mA, beyond valve_setpoint's "
                                                        "alarm_high"},
                                           // A setup given with a code or a voltage still keeps its limits.
                                           RefusedValue{"--code 000 --setup \"$B\"", "alarm_low"},
                                           RefusedValue{"--volts 0 --setup \"$B\"", "alarm_low"},
                                           RefusedValue{"--code CCC --setup /nonexistent.toml", "cannot be read"}));

// A driver without its Initial entry ends moxctl with status 3 as soon as
// the card is reached for; a bad setup ends it with 2 before that.
TEST(MoxctlSetup, ABadFileStopsEverythingBeforeTheCard) {
    const fs::path bad = TempPath("bad.toml");
    Write(bad, "version = 1\n[AI0]\nname = \"pump\"\n[AI32]\n");
    const std::string brokenDriver = "-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" FAKE_NOINITIAL_DIR "'";
    const fs::path never = TempPath("never.csv");
    for (const std::string& command : {std::string("read --count 1"), "log " + never.string(),
                                       std::string("da 1 --value 12"), std::string("da 1 --code CCC")}) {
        const std::string run = "$M " + command + " --setup ";
        EXPECT_EQ(Shell(brokenDriver, run + kBench).status, 3) << command;
        fs::remove(never);
        const Outcome o = Shell(brokenDriver, run + bad.string());
        EXPECT_EQ(o.status, 2) << command << "\n" << o.err;
        // Line 4, column 2: the table's name inside its brackets.
        EXPECT_EQ(o.err,
                  "moxctl: " + bad.string() + ":4:2: AI32: unknown table (version, calibration, AI0..AI31, AO0..AO3)\n")
            << command;
        EXPECT_EQ(o.out, "");
        EXPECT_FALSE(fs::exists(never));
    }
    fs::remove(bad);
}

// The log records what it was read with, and goes on only with the same
// columns.
TEST(MoxctlSetup, LogRecordsTheSetupAndKeepsItsColumns) {
    const fs::path log = TempPath("setup-log.csv");
    fs::remove(log);
    const std::string digest = std::get<mox::setup::Setup>(mox::setup::Load(kBench)).digest;
    const Outcome first = Shell(OnVirtualCard(), "$M log " + log.string() + " --duration 0.3 --setup " + kBench);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string text = ReadAll(log);
    EXPECT_NE(text.find("# setup: " + kBench + ", sha256 " + digest + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# calibration: AI2 2026-05-04, due 2027-05-04, gain 1.002, offset -0.0015"), std::string::npos)
        << text;
    EXPECT_NE(text.find(",pump_pressure[bar],"), std::string::npos);
    const Outcome plain = Shell(OnVirtualCard(), "$M log " + log.string() + " --duration 0.1");
    EXPECT_EQ(plain.status, 2) << plain.err;
    EXPECT_NE(plain.err.find("same reading options and setup"), std::string::npos) << plain.err;
    // Another setup: the refusal says where the columns part.
    const fs::path other = TempPath("other.toml");
    Write(other, "version = 1\n[AI0]\nname = \"inlet\"\nunit = \"bar\"\n");
    const Outcome renamed =
        Shell(OnVirtualCard(), "$M log " + log.string() + " --duration 0.1 --setup " + other.string());
    EXPECT_EQ(renamed.status, 2) << renamed.err;
    EXPECT_NE(renamed.err.find(" is pump_pressure[bar] there, inlet[bar] here"), std::string::npos) << renamed.err;
    fs::remove(other);
    const Outcome again = Shell(OnVirtualCard(), "$M log " + log.string() + " --duration 0.2 --setup " + kBench);
    EXPECT_EQ(again.status, 0) << again.err;
    fs::remove(log);
}

TEST(MoxctlSetup, ACalibrationPastItsDueDateIsSaid) {
    const fs::path setup = TempPath("due.toml"), calibration = TempPath("due-calibration.toml");
    Write(setup, "version = 1\ncalibration = \"" + calibration.filename().string() + "\"\n");
    Write(calibration, "version = 1\n[AI3]\ngain = 1\noffset = 0\ndate = 2019-01-01\ndue = 2020-01-01\n");
    const Outcome o = Shell(OnVirtualCard(), "$M read --count 1 --setup " + setup.string());
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("moxctl: AI3 calibration was due 2020-01-01\n"), std::string::npos) << o.err;
    fs::remove(setup);
    fs::remove(calibration);
}
