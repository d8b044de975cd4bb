// SPDX-License-Identifier: GPL-3.0-or-later
// Runs moxctl (MOXCTL_BIN) from a shell command line for a test, with its
// exit status, standard output and standard error.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct Outcome {
    int status = -1; // exit status; -1 when ended by a signal
    std::string out; // standard output
    std::string err; // standard error
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A path of this test process's own in the temporary folder.
inline std::filesystem::path TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("moxctl-test-" + std::to_string(::getpid()) + "-" + name);
}

// Runs a shell command line with moxctl as $M, ended after 60 s at most.
inline Outcome Shell(const std::string& env, const std::string& script) {
    const std::filesystem::path err = TempPath("stderr");
    const std::string cmd =
        "env " + env + " M='" MOXCTL_BIN "' timeout 60 sh -c '" + script + "' 2>'" + err.string() + "'";
    Outcome o;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return o;
    std::array<char, 4096> buf{};
    while (std::fgets(buf.data(), buf.size(), pipe)) o.out += buf.data();
    const int raw = pclose(pipe);
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.err = ReadAll(err);
    std::filesystem::remove(err);
    return o;
}

// The lines of a text, and the comma-separated fields of a line.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
    return fields;
}
