// SPDX-License-Identifier: GPL-3.0-or-later
// Reports and calibrations are replaced whole: the old file or the new one,
// through a link to the file it names, never over a folder or a file a
// check refuses; a terminal or a pipe is written to as it is.
#include "whole_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

struct WholeFile : ::testing::Test {
    void SetUp() override {
        dir = fs::temp_directory_path() / ("mox-whole-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    // Nothing but the files the test made: no temporary left behind.
    std::size_t Entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }
    fs::path dir;
};

} // namespace

TEST_F(WholeFile, WritesAndReplaces) {
    const auto file = dir / "report.json";
    EXPECT_EQ(moxctl::WriteWhole(file.string(), "first"), std::nullopt);
    EXPECT_EQ(moxctl::WriteWhole(file.string(), "second, longer"), std::nullopt);
    EXPECT_EQ(ReadAll(file), "second, longer");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(WholeFile, ThroughALinkTheFileItNames) {
    Write(dir / "real.toml", "old");
    fs::create_symlink("real.toml", dir / "link.toml");
    EXPECT_EQ(moxctl::WriteWhole((dir / "link.toml").string(), "new"), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(dir / "link.toml"));
    EXPECT_EQ(ReadAll(dir / "real.toml"), "new");
    fs::create_symlink("nowhere.toml", dir / "dangling.toml");
    EXPECT_NE(moxctl::WriteWhole((dir / "dangling.toml").string(), "x"), std::nullopt);
}

TEST_F(WholeFile, RefusedFilesAreLeftAsTheyAre) {
    Write(dir / "theirs.txt", "not ours");
    const auto refuse = [](const std::string& p) { return std::optional<std::string>(p + ": not ours"); };
    const auto fault = moxctl::WriteWhole((dir / "theirs.txt").string(), "ours", refuse);
    ASSERT_TRUE(fault);
    EXPECT_NE(fault->find("not ours"), std::string::npos);
    EXPECT_EQ(ReadAll(dir / "theirs.txt"), "not ours");
    fs::create_directory(dir / "folder");
    EXPECT_NE(moxctl::WriteWhole((dir / "folder").string(), "x"), std::nullopt);
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_NE(moxctl::WriteWhole((dir / "no" / "such" / "folder.json").string(), "x"), std::nullopt);
    EXPECT_EQ(Entries(), 2u);
}

TEST_F(WholeFile, APipeIsWrittenTo) {
    const auto fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = ReadAll(fifo); });
    EXPECT_EQ(moxctl::WriteWhole(fifo.string(), "through the pipe"), std::nullopt);
    reader.join();
    EXPECT_EQ(got, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
}
