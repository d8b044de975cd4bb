// SPDX-License-Identifier: GPL-3.0-or-later
// The program started as a process, with a card driver that is missing or
// incomplete: it must say so and end with a non-zero status, not crash.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1; // exit status, or -1 when killed by a signal
    std::string output;
};

// Runs a copy of the program from <root>/bin, so that its RUNPATH ($ORIGIN/../lib)
// finds whatever driver the test has put in <root>/lib; a non-empty
// libraryPath is given to the loader as LD_LIBRARY_PATH. The program is
// ended after `seconds`, which gives exit status 124.
Outcome RunFrom(const fs::path& root, const fs::path& libraryPath = {}, int seconds = 20) {
    fs::create_directories(root / "bin");
    fs::copy_file(MOXPANEL_BIN, root / "bin" / "moxpanel", fs::copy_options::overwrite_existing);
    const std::string libs =
        libraryPath.empty() ? "-u LD_LIBRARY_PATH" : "LD_LIBRARY_PATH='" + libraryPath.string() + "'";
    const std::string cmd = "env " + libs + " QT_QPA_PLATFORM=offscreen timeout " + std::to_string(seconds) + " '" +
                            (root / "bin" / "moxpanel").string() + "' 2>&1";
    Outcome out;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 512> buf{};
    while (std::fgets(buf.data(), buf.size(), pipe)) out.output += buf.data();
    const int raw = pclose(pipe);
    out.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

fs::path FreshDir(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("moxpanel-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    return dir;
}

} // namespace

TEST(Startup, MissingDriverLibraryGivesAMessageAndExitStatus3) {
    const fs::path root = FreshDir("nodriver");
    fs::create_directories(root / "empty");
    const Outcome out = RunFrom(root, root / "empty");
    EXPECT_EQ(out.status, 3) << out.output;
    EXPECT_NE(out.output.find("无法加载板卡驱动程序库 libadcard.so"), std::string::npos) << out.output;
    EXPECT_NE(out.output.find("cannot open shared object file"), std::string::npos) << out.output;
    // Where it was looked for, in the loader's order, and what to do.
    const std::string searched = "Searched, in this order:\n  " + (root / "empty").string() + " (LD_LIBRARY_PATH)";
    EXPECT_NE(out.output.find(searched), std::string::npos) << out.output;
    const std::string own = (root / "bin").string() + "/../lib (the program's RUNPATH, its own library folder)";
    EXPECT_LT(out.output.find(searched), out.output.find(own)) << out.output;
    EXPECT_NE(out.output.find("Put libadcard.so in one of them"), std::string::npos) << out.output;
    fs::remove_all(root);
}

TEST(Startup, DriverWithoutInitialGivesAMessageAndExitStatus3) {
    const fs::path root = FreshDir("noinitial");
    fs::create_directories(root / "drivers");
    fs::copy_file(FAKE_NOINITIAL_LIB, root / "drivers" / "libadcard.so");
    const Outcome out = RunFrom(root, root / "drivers");
    EXPECT_EQ(out.status, 3) << out.output;
    EXPECT_NE(out.output.find("缺少函数 Initial"), std::string::npos) << out.output;
    EXPECT_NE(out.output.find("has no entry Initial"), std::string::npos) << out.output;
    fs::remove_all(root);
}

TEST(Startup, BundledDriverIsFoundBesideTheProgram) {
    if (MOX_SANITIZED) GTEST_SKIP() << "the sanitizers' dlopen interceptor searches its own RUNPATH";
    const fs::path root = FreshDir("bundled");
    fs::create_directories(root / "lib");
    fs::copy_file(VIRTUAL_CARD_LIB, root / "lib" / "libadcard.so");
    const Outcome out = RunFrom(root, {}, 3);
    EXPECT_EQ(out.status, 124) << "still running when stopped: " << out.output;
    EXPECT_EQ(out.output.find("Cannot load"), std::string::npos) << out.output;
    // Which one was loaded is said, in plain words, by its absolute path.
    const std::string named = "moxpanel: card driver: " + fs::weakly_canonical(root / "lib").string() +
                              "/libadcard.so (the bundled virtual card";
    EXPECT_NE(out.output.find(named), std::string::npos) << out.output;
    fs::remove_all(root);
}

namespace {

// A shell command line's output (standard error with it) and status.
Outcome RunCommand(const std::string& cmd) {
    Outcome out;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 512> buf{};
    while (std::fgets(buf.data(), buf.size(), pipe)) out.output += buf.data();
    const int raw = pclose(pipe);
    out.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

// A program run with no display at all.
Outcome RunWithoutDisplay(const std::string& program, const std::string& args) {
    return RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 '" + program + "' " + args +
                      " 2>&1");
}

struct Program {
    const char* name;
    const char* path;
};

} // namespace

// Every program answers --version as GNU programs do and --help with its
// usage, status 0, without a display, a driver or a window.
class ProgramInformation : public ::testing::TestWithParam<Program> {};

TEST_P(ProgramInformation, VersionNamesProgramCopyrightAndLicense) {
    const Outcome out = RunWithoutDisplay(GetParam().path, "--version");
    EXPECT_EQ(out.status, 0) << out.output;
    const std::string expected = std::string(GetParam().name) +
                                 " " MOX_VERSION "\nCopyright (C) 2026 The moxpanel "
                                 "developers\nLicense GPLv3+: GNU GPL version 3 or later "
                                 "<https://gnu.org/licenses/gpl.html>.\nThis is free software";
    EXPECT_EQ(out.output.rfind(expected, 0), 0u) << out.output;
}

TEST_P(ProgramInformation, HelpShowsUsageWithoutCliTypeNoise) {
    const Outcome out = RunWithoutDisplay(GetParam().path, "--help");
    EXPECT_EQ(out.status, 0) << out.output;
    EXPECT_NE(out.output.find("Usage: " + std::string(GetParam().name)), std::string::npos) << out.output;
    EXPECT_NE(out.output.find("--version"), std::string::npos) << out.output;
    for (const char* noise : {"UINT", "TEXT", "FLOAT", " in ["}) {
        EXPECT_EQ(out.output.find(noise), std::string::npos) << noise << "\n" << out.output;
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramInformation,
                         ::testing::Values(Program{"moxpanel", MOXPANEL_BIN}, Program{"moxctl", MOXCTL_BIN},
                                           Program{"mox-card-emulator", MOX_EMULATOR},
                                           Program{"mox-driver-bridge", MOX_BRIDGE}),
                         [](const auto& param) {
                             std::string name = param.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

namespace {

// moxpanel on the offscreen platform with these arguments, ended after
// `seconds` (exit status 124 when it was still running).
Outcome RunPanel(const std::string& args, int seconds) {
    return RunCommand("env QT_QPA_PLATFORM=offscreen timeout " + std::to_string(seconds) + " '" MOXPANEL_BIN "' " +
                      args + " 2>&1");
}

struct Unknown {
    const char* args;
    const char* named;
};

class PanelUnknownArgument : public ::testing::TestWithParam<Unknown> {};

} // namespace

// An argument that is neither moxpanel's nor Qt's ends it with status 2 and
// the argument named, before any window or driver.
TEST_P(PanelUnknownArgument, EndsWithStatus2NamingIt) {
    const Outcome out = RunPanel(GetParam().args, 20);
    EXPECT_EQ(out.status, 2) << out.output;
    EXPECT_NE(out.output.find(std::string("\"") + GetParam().named + "\""), std::string::npos) << out.output;
    EXPECT_NE(out.output.find("moxpanel --help"), std::string::npos) << out.output;
    EXPECT_EQ(out.output.find("card driver"), std::string::npos) << "the driver was loaded:\n" << out.output;
}

INSTANTIATE_TEST_SUITE_P(Arguments, PanelUnknownArgument,
                         ::testing::Values(Unknown{"--setp bench.toml", "--setp"}, Unknown{"--lang en -x", "-x"},
                                           Unknown{"stray", "stray"}, Unknown{"--setup=a.toml --langs en", "--langs"},
                                           Unknown{"--lang=en --LANG en", "--LANG"}));

// Qt's own options and moxpanel's, in both spellings, start the panel.
TEST(PanelArguments, QtsAndItsOwnStartThePanel) {
    if (MOX_SANITIZED) GTEST_SKIP() << "the sanitizers' dlopen interceptor searches its own RUNPATH";
    const Outcome out = RunPanel("-style Fusion --lang en --lang=en", 3);
    EXPECT_EQ(out.status, 124) << "still running when stopped:\n" << out.output;
    EXPECT_NE(out.output.find("card driver"), std::string::npos) << out.output;
}
