// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl watch on the virtual card's test signals: a ramp crosses its limits
// once per period, a noisy level resting on a threshold is one crossing,
// an alarm sets the exit status, a card that stops answering holds the
// levels, and bad arguments or setup files are refused before anything runs.
#include "emulator_process.h"
#include "moxctl_shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kVirtualCard = "-u MOX_CARD_ADDRESS LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "'";

fs::path WriteSetup(const std::string& name, const std::string& text) {
    fs::path path = TempPath(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
}

// "2026-12-08T10:00:01.234Z AI02 pump_pressure 10.4 bar warn_high"
struct Change {
    double seconds = 0; // of the day, UTC
    std::string channel, name, unit, level;
    double value = 0;
};

std::vector<Change> Changes(const std::string& out, const std::string& channel) {
    std::vector<Change> changes;
    for (const std::string& line : Lines(out)) {
        std::istringstream in(line);
        std::string time, value;
        Change c;
        in >> time >> c.channel >> c.name >> value >> c.unit >> c.level;
        EXPECT_EQ(time.size(), 24u) << line;
        if (c.channel != channel || time.size() != 24) continue;
        c.seconds =
            std::stoi(time.substr(11, 2)) * 3600 + std::stoi(time.substr(14, 2)) * 60 + std::stod(time.substr(17, 6));
        c.value = std::stod(value);
        changes.push_back(c);
    }
    return changes;
}

std::string Levels(const std::vector<Change>& changes) {
    std::string s;
    for (const auto& c : changes) s += c.level + " ";
    return s;
}

// The virtual card's AI16 is a sawtooth from -5 V to +5 V with a period of
// 1 s: each period it rises through the high levels, then drops back to
// normal at once.
struct RampCase {
    const char* name;
    const char* limits; // for AI16, with gain 2 and offset 1: 5 bar is 2 V, 9 bar is 4 V
    std::vector<std::string> cycle;
    int status;
};

class MoxctlWatchRamp : public ::testing::TestWithParam<RampCase> {};

TEST_P(MoxctlWatchRamp, EachCrossingIsOneLinePerPeriod) {
    const RampCase& c = GetParam();
    const fs::path setup =
        WriteSetup(std::string(c.name) + ".toml", std::string("version = 1\n[AI16]\nname = \"ramp\"\nunit = \"bar\"\n"
                                                              "scale = { gain = 2.0, offset = 1.0 }\n") +
                                                      c.limits);
    constexpr int kSeconds = 4;
    const Outcome o = Shell(kVirtualCard, "$M watch --setup " + setup.string() + " --interval 20 --duration " +
                                              std::to_string(kSeconds));
    fs::remove(setup);
    EXPECT_EQ(o.status, c.status) << o.err;
    const auto changes = Changes(o.out, "AI16");
    const std::string levels = Levels(changes);

    // One drop back to normal per period, each a whole number of periods
    // after the one before (more than one only if the run stalled).
    std::vector<std::size_t> normals;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (changes[i].level == "normal") normals.push_back(i);
    }
    EXPECT_GE(normals.size(), kSeconds - 1u) << levels;
    EXPECT_LE(normals.size(), kSeconds + 1u) << levels;
    for (std::size_t k = 1; k < normals.size(); ++k) {
        const double gap = changes[normals[k]].seconds - changes[normals[k - 1]].seconds;
        EXPECT_GE(std::lround(gap), 1) << gap;
        EXPECT_LT(std::abs(gap - std::round(gap)), 0.2) << gap;
        // Between two drops, the levels of one rise, each once, in order.
        std::vector<std::string> rise;
        for (std::size_t i = normals[k - 1] + 1; i < normals[k]; ++i) rise.push_back(changes[i].level);
        EXPECT_EQ(rise, c.cycle) << levels;
    }
    for (const auto& change : changes) {
        EXPECT_EQ(change.name, "ramp");
        EXPECT_EQ(change.unit, "bar");
        // In bar, not volts: past 5 (2 V) to warn, past 9 (4 V) to alarm,
        // back under 5 - 1 to leave.
        const double past = change.level == "alarm_high" ? 9.0 : 5.0;
        if (change.level == "normal") {
            EXPECT_LT(change.value, 4.0) << change.value;
        } else {
            EXPECT_GT(change.value, past) << change.level << " " << change.value;
        }
    }
}

const RampCase kRampCases[] = {
    {"WarningOnly", "warn_high = 5.0\nhysteresis = 1.0\n", {"warn_high"}, 0},
    {"WarningAndAlarm", "warn_high = 5.0\nalarm_high = 9.0\nhysteresis = 1.0\n", {"warn_high", "alarm_high"}, 1},
    {"AlarmOnly", "alarm_high = 9.0\nhysteresis = 1.0\n", {"alarm_high"}, 1},
};

INSTANTIATE_TEST_SUITE_P(Moxctl, MoxctlWatchRamp, ::testing::ValuesIn(kRampCases),
                         [](const ::testing::TestParamInfo<RampCase>& param) { return std::string(param.param.name); });

// AI24 rests at -1.75 V and AI25 at -1.25 V, each with noise of up to
// 50 mV: a threshold on each level with a hysteresis larger than the noise
// is one crossing; the same without hysteresis chatters.
TEST(MoxctlWatch, ANoisyLevelOnAThresholdIsOneCrossing) {
    const fs::path setup = WriteSetup("noisy.toml", "version = 1\n"
                                                    "[AI24]\nwarn_low = -1.75\nhysteresis = 0.2\n"
                                                    "[AI25]\nwarn_high = -1.25\n");
    const Outcome o = Shell(kVirtualCard, "$M watch --setup " + setup.string() + " --interval 10 --duration 2");
    fs::remove(setup);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Levels(Changes(o.out, "AI24")), "warn_low ") << o.out;
    EXPECT_GT(Changes(o.out, "AI25").size(), 10u) << o.out;
    EXPECT_NE(o.err.find("watching AI24, AI25"), std::string::npos) << o.err;
}

// A card that stops answering gives no values: the levels stay as they
// were (no "normal" from a missing reading), and the outage is two notes.
TEST(MoxctlWatch, ReadsThatFailAreNotValues) {
    // AI7 is a steady 4 V: past its warning from the first reading on.
    const fs::path setup = WriteSetup("outage.toml", "version = 1\n[AI7]\nwarn_high = 3.0\n");
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    Outcome o;
    std::thread watcher([&] {
        o = Shell("LD_LIBRARY_PATH='" VIRTUAL_CARD_DIR "' MOX_CARD_ADDRESS=127.0.0.1:" + std::to_string(port),
                  "$M watch --setup " + setup.string() + " --interval 100 --duration 7");
    });
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(4000ms); // past the link's 3 s: readings fail
    EXPECT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
    watcher.join();
    fs::remove(setup);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Levels(Changes(o.out, "AI07")), "warn_high ") << o.out;
    const auto notes = Lines(o.err);
    const auto count = [&](const std::string& what) {
        return std::count_if(notes.begin(), notes.end(), [&](const std::string& l) {
            return l.rfind("# ", 0) == 0 && l.find(what) != std::string::npos;
        });
    };
    EXPECT_EQ(count("readings fail"), 1) << o.err;
    EXPECT_EQ(count("readings resumed"), 1) << o.err;
}

// Refused with status 2 and a message naming what is wrong, before the card
// is read: nothing on standard output.
struct BadCase {
    const char* name;
    const char* setup; // written to the file that --setup names; null: no file
    const char* args;  // after "watch"; FILE stands for the setup file
    const char* message;
};

class MoxctlWatchRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(MoxctlWatchRefuses, WithStatusTwo) {
    const BadCase& c = GetParam();
    const fs::path file = TempPath(std::string(c.name) + ".toml");
    fs::remove(file);
    if (c.setup != nullptr) std::ofstream(file, std::ios::binary) << c.setup;
    std::string args = c.args;
    if (const auto at = args.find("FILE"); at != std::string::npos) args.replace(at, 4, file.string());
    const Outcome o = Shell(kVirtualCard, "$M watch " + args);
    fs::remove(file);
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
}

const BadCase kBadCases[] = {
    {"NoSetup", nullptr, "--duration 1", "--setup is required"},
    {"MissingFile", nullptr, "--setup FILE --duration 1", "MissingFile.toml"},
    {"NotToml", "version = 1\n[AI3\nwarn_high = 1\n", "--setup FILE --duration 1", ":2:"},
    {"LimitsOutOfOrder", "version = 1\n[AI3]\nwarn_high = 2.0\nalarm_high = 1.0\n", "--setup FILE", "AI3"},
    {"NoLimits", "version = 1\n[AI3]\nname = \"x\"\n", "--setup FILE --duration 1", "no input has a limit"},
    {"BadInterval", "version = 1\n[AI3]\nwarn_high = 1\n", "--setup FILE --interval 5", "--interval"},
    {"BadDuration", "version = 1\n[AI3]\nwarn_high = 1\n", "--setup FILE --duration nan", "--duration"},
};

INSTANTIATE_TEST_SUITE_P(Moxctl, MoxctlWatchRefuses, ::testing::ValuesIn(kBadCases),
                         [](const ::testing::TestParamInfo<BadCase>& param) { return std::string(param.param.name); });

} // namespace

// A channel is named the same way in the lines on standard output and in
// the note of what is watched, as everywhere else in moxctl.
TEST(MoxctlWatch, NamesChannelsAsMoxctlDoes) {
    // The virtual card holds AI4 at -4 V: past a warning at -3 V at once.
    const fs::path setup =
        WriteSetup("naming.toml", "version = 1\n[AI4]\nname = \"supply\"\nunit = \"V\"\nwarn_low = -3.0\n");
    const Outcome o = Shell(kVirtualCard, "$M watch --setup " + setup.string() + " --interval 50 --duration 1");
    fs::remove(setup);
    EXPECT_EQ(o.status, 0) << o.err;
    const auto changes = Changes(o.out, "AI04");
    ASSERT_EQ(Levels(changes), "warn_low ") << o.out;
    EXPECT_EQ(changes[0].name, "supply");
    EXPECT_NE(o.err.find("watching AI04, a reading every 50 ms"), std::string::npos) << o.err;
}
