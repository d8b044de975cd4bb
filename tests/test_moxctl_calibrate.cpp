// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl calibrate: on the test card with a known input or output error it
// recovers the error, the file it writes is read by the setup loader and
// applied by read --setup, a poor channel is refused and left out, and bad
// arguments or a file it did not write are refused before the card. The
// fit, the file's text and the dates on their own.
#include "calibrate.h"
#include "emulator_process.h"
#include "moxctl_shell.h"
#include "setup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace moxctl;

namespace {

// Short runs: the virtual card's DA settles at once.
const std::string kQuick = " --mean 200 --settle 10";

std::string OnFaultCard(const std::string& fault) {
    return "-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" FAULT_CARD_DIR "' MOX_TEST_FAULT='" + fault + "'";
}

void Write(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// A folder of the test's own, with a setup file that references cal.toml.
struct CalibrateRun : ::testing::Test {
    void SetUp() override {
        dir = TempPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        Write(dir / "setup.toml", "version = 1\ncalibration = \"cal.toml\"\n");
    }
    void TearDown() override { fs::remove_all(dir); }

    Outcome Calibrate(const std::string& fault, const std::string& args) {
        return Shell(OnFaultCard(fault), "cd " + dir.string() + " && $M calibrate --out cal.toml " + args);
    }
    // The calibration as the setup loader reads it through the setup file.
    mox::setup::Setup Loaded() {
        auto loaded = mox::setup::Load((dir / "setup.toml").string());
        if (const auto* e = std::get_if<mox::setup::Error>(&loaded)) ADD_FAILURE() << e->Text();
        return std::get_if<mox::setup::Setup>(&loaded) ? std::get<mox::setup::Setup>(loaded) : mox::setup::Setup{};
    }
    fs::path dir;
};

// The whitespace-separated fields of the table row of `id` ("AI1").
std::vector<std::string> Row(const std::string& out, const std::string& id) {
    for (const auto& line : Lines(out)) {
        std::istringstream in(line);
        std::vector<std::string> f;
        for (std::string w; in >> w;) f.push_back(w);
        if (!f.empty() && f[0] == id) return f;
    }
    return {};
}

// The "before_V" column: the last but two of a row.
double ErrorBefore(const std::string& out, const std::string& id) {
    const auto f = Row(out, id);
    return f.size() < 4 ? NAN : std::stod(f[f.size() - 3]);
}

} // namespace

// What was asked: a 2 % gain error on an input is measured, written, and
// with that calibration in force the input is within 0.1 %.
TEST_F(CalibrateRun, InputGainErrorRecoveredWithinATenthOfAPercent) {
    const Outcome o = Calibrate("again:1:1.02", "--operator \"A. Tester\"");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    const auto setup = Loaded();
    const auto& c = setup.inputs[1].calibration;
    ASSERT_TRUE(c.has_value());
    EXPECT_NEAR(c->correction.gain * 1.02, 1.0, 0.001);
    EXPECT_NEAR(c->correction.offset, 0.0, 0.002);
    EXPECT_EQ(c->operatorName, "A. Tester");
    EXPECT_EQ(c->cardIdentity, "card 7710, type 1, speed 100K, resolution 16 bits");
    EXPECT_LT(c->date, c->due);
    EXPECT_GT(ErrorBefore(o.out, "AI1"), 0.06); // 2 % of up to 4 V, uncorrected

    // Measured again with it in force: every point within 0.1 % of 4.5 V.
    const Outcome again = Calibrate("again:1:1.02", "--setup setup.toml --operator x" + kQuick);
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_LT(ErrorBefore(again.out, "AI1"), 0.0045) << again.out;
}

// An input offset is recovered, and read --setup shows the input corrected.
TEST_F(CalibrateRun, InputOffsetRecoveredAndAppliedByRead) {
    const Outcome o = Calibrate("aoffset:2:0.2", "--operator x --channels 2" + kQuick);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    const auto setup = Loaded();
    ASSERT_TRUE(setup.inputs[2].calibration.has_value());
    EXPECT_NEAR(setup.inputs[2].calibration->correction.offset, -0.2, 0.002);
    EXPECT_FALSE(setup.inputs[0].calibration.has_value()); // not chosen, not written

    const Outcome read =
        Shell(OnFaultCard("aoffset:2:0.2"), "$M read --volts --mean 500 --setup " + (dir / "setup.toml").string());
    ASSERT_EQ(read.status, 0) << read.err;
    const auto lines = Lines(read.out);
    ASSERT_EQ(lines.size(), 2u) << read.out;
    const auto header = Fields(lines[0]);
    const auto row = Fields(lines[1]);
    ASSERT_EQ(header[4], "AI02");
    ASSERT_EQ(header[36], "AI02[V]");
    EXPECT_NEAR(std::stod(row[4]), 0.2, 0.003); // the DA is at 0 V
    EXPECT_NEAR(std::stod(row[36]), 0.0, 0.003);
}

// A channel that cannot be calibrated is refused with its reason and left
// out of the file; the others are written, and the exit status says so.
struct Refused {
    const char* fault;
    const char* channel;
    const char* reason;
    const char* measuring = nullptr; // instead of the quick defaults
};

class CalibrateRefuses : public CalibrateRun, public ::testing::WithParamInterface<Refused> {};

TEST_P(CalibrateRefuses, APoorChannelAndWritesTheOthers) {
    const auto& p = GetParam();
    const Outcome o = Calibrate(p.fault, "--operator x" + (p.measuring ? std::string(p.measuring) : kQuick));
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_NE(o.out.find(std::string(p.channel) + " against DA"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(p.reason), std::string::npos) << o.out;
    const auto row = Row(o.out, p.channel);
    ASSERT_FALSE(row.empty()) << o.out;
    EXPECT_EQ(row.back(), "REFUSED");
    const std::string text = ReadAll(dir / "cal.toml");
    EXPECT_EQ(text.find(std::string("[") + p.channel + "]"), std::string::npos) << text;
    const auto setup = Loaded();
    int calibrated = 0;
    for (int k = 0; k < 4; ++k) calibrated += setup.inputs[static_cast<std::size_t>(k)].calibration ? 1 : 0;
    EXPECT_EQ(calibrated, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CalibrateRefuses,
    ::testing::Values(Refused{"again:2:0", "AI2", "does not follow the output"},
                      Refused{"noise:3:0.3", "AI3", "off a straight line"}, Refused{"again:1:1.15", "AI1", "saturated"},
                      Refused{"again:0:0.7", "AI0", "outside the plausible"},
                      // Near enough to its own three points, not to those between.
                      Refused{"noise:0:0.02", "AI0", "between the fitted points", " --mean 1 --settle 1 --points 3"}));

// An output calibrated against its input, the input's calibration in force
// taken from the setup: the input tables already in the file are kept.
TEST_F(CalibrateRun, OutputGainAgainstTheCalibratedInput) {
    ASSERT_EQ(Calibrate("aoffset:1:0.1", "--operator x" + kQuick).status, 0);
    const Outcome o = Calibrate("aoffset:1:0.1", "--outputs --setup setup.toml --operator x --channels 1" + kQuick);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("AI1 as calibrated"), std::string::npos) << o.out;
    const auto setup = Loaded();
    ASSERT_TRUE(setup.outputs[1].calibration.has_value());
    // The input's offset is the input's: the output itself is sound.
    EXPECT_NEAR(setup.outputs[1].calibration->correction.gain, 1.0, 0.001);
    EXPECT_NEAR(setup.outputs[1].calibration->correction.offset, 0.0, 0.002);
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(setup.inputs[static_cast<std::size_t>(k)].calibration) << k;
    // Each kept table keeps the note of what it was calibrated against.
    EXPECT_NE(ReadAll(dir / "cal.toml").find("# reference: DA1 nominal volts;"), std::string::npos);

    const Outcome gain = Calibrate("gain:2:1.02", "--outputs --setup setup.toml --operator x --channels 2" + kQuick);
    ASSERT_EQ(gain.status, 0) << gain.out << gain.err;
    EXPECT_NEAR(Loaded().outputs[2].calibration->correction.gain, 1.02, 0.001);
}

// Refused before the card: bad values, texts that would not read back, and
// a file moxctl did not write, which is left as it was.
struct BadArguments {
    const char* args;
    const char* message;
};

class CalibrateUsage : public CalibrateRun, public ::testing::WithParamInterface<BadArguments> {};

TEST_P(CalibrateUsage, ExitsTwoAndNamesTheArgument) {
    Write(dir / "foreign.toml", "version = 1\n");
    Write(dir / "bad-setup.toml", "version = 2\n");
    const Outcome o =
        Shell(OnFaultCard("hang:Initial:30"), "cd " + dir.string() + " && $M calibrate " + GetParam().args);
    EXPECT_EQ(o.status, 2) << o.out << o.err;
    EXPECT_NE(o.err.find(GetParam().message), std::string::npos) << o.err;
    EXPECT_EQ(ReadAll(dir / "foreign.toml"), "version = 1\n");
    EXPECT_FALSE(fs::exists(dir / "cal.toml"));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CalibrateUsage,
    ::testing::Values(BadArguments{"--operator x", "--out is required"},
                      BadArguments{"--out cal.toml", "--operator is required"},
                      BadArguments{"--out cal.toml --operator \"\"", "--operator: name who calibrates"},
                      BadArguments{"--out cal.toml --operator \"$(printf \"a\\tb\")\"", "--operator: may not contain"},
                      BadArguments{"--out cal.toml --operator \"$(printf \"a\\342\\200\\250b\")\"",
                                   "--operator: may not contain"},
                      BadArguments{"--out cal.toml --operator \"$(printf \"a\\377b\")\"", "--operator: "},
                      BadArguments{"--out cal.toml --operator x --channels 4", "--channels"},
                      BadArguments{"--out cal.toml --operator x --channels 1,1", "--channels"},
                      BadArguments{"--out cal.toml --operator x --channels 0,", "--channels"},
                      BadArguments{"--out cal.toml --operator x --channels \"\"", "--channels"},
                      BadArguments{"--out cal.toml --operator x --points 2", "--points"},
                      BadArguments{"--out cal.toml --operator x --mean 0x10", "--mean"},
                      BadArguments{"--out cal.toml --operator x --valid-days 0", "--valid-days"},
                      BadArguments{"--out cal.toml --operator x --valid-days 1.5", "--valid-days"},
                      BadArguments{"--out cal.toml --operator x --max-residual nan", "--max-residual"},
                      BadArguments{"--out foreign.toml --operator x", "was not written by moxctl calibrate"},
                      BadArguments{"--out . --operator x", "is not a regular file"},
                      BadArguments{"--out nofolder/cal.toml --operator x", "does not exist"},
                      BadArguments{"--out cal.toml --operator x --setup bad-setup.toml", "bad-setup.toml:1:"}));

// A file moxctl wrote is replaced; once its first line has been changed by
// hand, it is not.
TEST_F(CalibrateRun, ReplacesOnlyItsOwnFile) {
    ASSERT_EQ(Calibrate("", "--operator first --channels 0" + kQuick).status, 0);
    ASSERT_EQ(Calibrate("", "--operator second --channels 0" + kQuick).status, 0);
    EXPECT_EQ(Loaded().inputs[0].calibration->operatorName, "second");
    std::string text = ReadAll(dir / "cal.toml");
    text.insert(0, "# edited by hand\n");
    Write(dir / "cal.toml", text);
    const Outcome o = Calibrate("", "--operator third --channels 0" + kQuick);
    EXPECT_EQ(o.status, 2) << o.out;
    EXPECT_EQ(ReadAll(dir / "cal.toml"), text);
    EXPECT_TRUE(o.out.empty()) << o.out; // refused before any measurement
}

// Through a link, the file linked to is replaced (the one a setup names),
// and the link stays a link.
TEST_F(CalibrateRun, WritesThroughALink) {
    ASSERT_EQ(Calibrate("", "--operator first --channels 0" + kQuick).status, 0);
    fs::create_symlink("cal.toml", dir / "link.toml");
    const Outcome o =
        Shell(OnFaultCard(""),
              "cd " + dir.string() + " && $M calibrate --out link.toml --operator second --channels 0" + kQuick);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.toml"));
    EXPECT_EQ(Loaded().inputs[0].calibration->operatorName, "second");
}

// Stopped half way (Ctrl-C), the outputs are put back to 0 V and nothing
// is written. The emulator keeps its outputs between runs, so a read
// afterwards shows where they were left.
TEST(CalibrateStop, PutsTheOutputsBackAndWritesNothing) {
    EmulatorProcess emulator;
    const auto port = emulator.Start(0);
    ASSERT_NE(port, 0);
    const std::string env = "LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:" + std::to_string(port);
    const fs::path out = TempPath("stopped.toml");
    const Outcome o = Shell(env, "$M calibrate --out " + out.string() +
                                     " --operator x --settle 1000 & p=$!; sleep 2.5; kill -INT $p; wait $p");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_NE(o.err.find("stopped"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(out));
    const Outcome read = Shell(env, "$M read --volts --mean 200");
    ASSERT_EQ(read.status, 0) << read.err;
    const auto row = Fields(Lines(read.out).at(1));
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(std::stod(row[static_cast<std::size_t>(2 + k)]), 0.0, 0.01) << k;
}

// ---- The analysis on its own ----

namespace {

// Points of a loop whose input reads `gain` * volts + `offset`, over
// ±`span`, one of them moved off the line by `kink`.
std::vector<LoopPoint> Points(double gain, double offset, double kink = 0, double span = 4.5) {
    std::vector<LoopPoint> points;
    for (const double v : SetPoints(9, span)) points.push_back({v, gain * v + offset});
    points[3].read += kink;
    return points;
}

struct FitCase {
    const char* name;
    Loop loop;
    std::vector<LoopPoint> points;
    vcard::Linear expected; // when accepted
    const char* refusal;    // nullptr: accepted
};

} // namespace

class Fit : public ::testing::TestWithParam<FitCase> {};

TEST_P(Fit, RecoversTheLineOrRefusesWithTheReason) {
    const auto& c = GetParam();
    const ChannelFit fit = FitLoop(c.loop, c.points, FitLimits{}, "DA1 -> AI1");
    if (c.refusal == nullptr) {
        ASSERT_EQ(fit.refusal, "");
        EXPECT_NEAR(fit.correction.gain, c.expected.gain, 1e-12);
        EXPECT_NEAR(fit.correction.offset, c.expected.offset, 1e-12);
        EXPECT_LT(MaxError(c.loop, fit.correction, c.points), 1e-12);
    } else {
        EXPECT_NE(fit.refusal.find(c.refusal), std::string::npos) << fit.refusal;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Loops, Fit,
    ::testing::Values(FitCase{"input_gain", {}, Points(1.02, 0), {1 / 1.02, 0}, nullptr},
                      FitCase{"input_offset", {}, Points(1, 0.2), {1, -0.2}, nullptr},
                      FitCase{"input_both", {}, Points(0.95, -0.1), {1 / 0.95, 0.1 / 0.95}, nullptr},
                      // The input's calibration in force undoes its own error; what is
                      // left is the output's.
                      FitCase{"output_gain", {true, {1 / 1.05, 0}}, Points(1.05 * 1.02, 0.0105), {1.02, 0.01}, nullptr},
                      FitCase{"unwired", {}, Points(0, 0.001), {}, "does not follow the output"},
                      FitCase{"swapped_sign", {}, Points(-1, 0), {}, "outside the plausible"},
                      FitCase{"kinked", {}, Points(1, 0, 0.05), {}, "off a straight line"},
                      FitCase{"saturated", {}, Points(1.12, 0), {}, "saturated"},
                      FitCase{"gain_implausible", {}, Points(0.85, 0), {}, "outside the plausible"},
                      FitCase{"offset_within_limit", {}, Points(1, 0.45), {1, -0.45}, nullptr},
                      FitCase{"offset_too_large", {}, Points(1, 0.6, 0, 3), {}, "offset"},
                      FitCase{"too_few", {}, {{1, 1}, {1, 1}, {1, 1}}, {}, "too few"}),
    [](const auto& param) { return std::string(param.param.name); });

// Before and after: the error of no calibration and of the fitted one at
// points between those fitted.
TEST(Fit, ErrorsBeforeAndAfter) {
    const Loop input;
    const auto check = Points(1.02, 0.01);
    EXPECT_NEAR(MaxError(input, {}, check), 4.5 * 0.02 + 0.01, 1e-12);
    const ChannelFit fit = FitLoop(input, Points(1.02, 0.01), FitLimits{}, "DA0 -> AI0");
    EXPECT_LT(MaxError(input, fit.correction, check), 1e-12);
}

TEST(Fit, SetPointsAndPointsBetween) {
    EXPECT_EQ(SetPoints(3, 4.5), (std::vector<double>{-4.5, 0, 4.5}));
    EXPECT_EQ(CheckPoints(SetPoints(3, 4.5)), (std::vector<double>{-2.25, 2.25}));
    EXPECT_EQ(SetPoints(9, 4.5).size(), 9u);
}

// The file's text reads back through the setup loader to the same bits,
// texts with quotes, backslashes and letters beyond ASCII included.
TEST(CalibrationFile, ReadsBackExactly) {
    const std::vector<CalibrationEntry> entries{
        {true, 3, {{1.0 / 3.0, -1e-7}, "2026-12-08", "2027-12-08", "O'Brien \"Ob\" \\ Ølund", "card 7710"}, "note"},
        {false, 31, {{0.9803921568627451, 2.2250738585072014e-308}, "2024-02-29", "2024-02-29", "x", ""}, ""},
        {false, 0, {{1.1, 0}, "2026-01-01", "9999-12-31", "", ""}, ""},
    };
    const std::string text = CalibrationFileText(entries);
    EXPECT_TRUE(WrittenByCalibrate(text));
    EXPECT_LT(text.find("[AI0]"), text.find("[AI31]"));
    EXPECT_LT(text.find("[AI31]"), text.find("[AO3]"));
    mox::setup::Setup s;
    const auto error = mox::setup::ParseCalibration(text, "cal.toml", s);
    ASSERT_FALSE(error) << error->Text() << "\n" << text;
    for (const auto& e : entries) {
        const auto& c =
            (e.output ? s.outputs[static_cast<std::size_t>(e.channel)] : s.inputs[static_cast<std::size_t>(e.channel)])
                .calibration;
        ASSERT_TRUE(c.has_value()) << e.channel;
        EXPECT_EQ(c->correction.gain, e.calibration.correction.gain);
        EXPECT_EQ(c->correction.offset, e.calibration.correction.offset);
        EXPECT_EQ(c->date, e.calibration.date);
        EXPECT_EQ(c->due, e.calibration.due);
        EXPECT_EQ(c->operatorName, e.calibration.operatorName);
        EXPECT_EQ(c->cardIdentity, e.calibration.cardIdentity);
    }
}

TEST(CalibrationFile, OnlyItsOwnFirstLineMarksItsOwn) {
    EXPECT_TRUE(WrittenByCalibrate(std::string(kCalibrationMarker) + "\nversion = 1\n"));
    EXPECT_FALSE(WrittenByCalibrate("version = 1\n"));
    EXPECT_FALSE(WrittenByCalibrate("# edited\n" + std::string(kCalibrationMarker) + "\n"));
    EXPECT_FALSE(WrittenByCalibrate(std::string(kCalibrationMarker))); // not even a whole line
    EXPECT_FALSE(WrittenByCalibrate(ReadAll(MOX_SOURCE_DIR "/examples/bench-calibration.toml")));
}

TEST(CalibrationFile, DueDates) {
    const std::pair<std::pair<const char*, int>, const char*> cases[] = {
        {{"2026-12-08", 365}, "2027-12-08"}, {{"2024-02-28", 1}, "2024-02-29"}, {{"2023-02-28", 1}, "2023-03-01"},
        {{"2026-12-31", 1}, "2027-01-01"},   {{"9999-12-30", 1}, "9999-12-31"}, {{"9999-12-31", 1}, nullptr},
        {{"2026-02-30", 1}, nullptr},        {{"2026-1-08", 1}, nullptr},       {{"2026-12-08x", 1}, nullptr},
    };
    for (const auto& [in, want] : cases) {
        const auto got = DateAfter(in.first, in.second);
        if (want == nullptr) {
            EXPECT_FALSE(got) << in.first;
        } else {
            EXPECT_EQ(got.value_or("none"), want) << in.first;
        }
    }
}

TEST(CalibrateArguments, ChannelLists) {
    EXPECT_EQ(ChannelList("0,1,2,3"), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(ChannelList("2"), (std::vector<int>{2}));
    EXPECT_EQ(ChannelList("3,0"), (std::vector<int>{3, 0}));
    for (const char* bad : {"", "4", "-1", "0,0", "0,", ",1", "0 ,1", "0x1", "1.0", "0,1,2,3,0"}) {
        EXPECT_FALSE(ChannelList(bad)) << bad;
    }
}
