// SPDX-License-Identifier: GPL-3.0-or-later
// Runs mox-card-emulator, or another program that serves the card protocol
// the same way (--exit-with-stdin, --port, "listening on A:P", commands on
// standard input), as a child process for a test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class EmulatorProcess {
public:
    explicit EmulatorProcess(std::string program = MOX_EMULATOR) : program_(std::move(program)) {}
    // NAME=VALUE settings added to the child's environment.
    void SetEnvironment(std::vector<std::string> settings) { environment_ = std::move(settings); }
    ~EmulatorProcess() { Kill(); }
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    // Starts the emulator on 127.0.0.1 with the given port (0: a free one)
    // and extra arguments; returns the port it listens on, 0 on failure.
    std::uint16_t Start(std::uint16_t port = 0, const std::vector<std::string>& args = {});
    // Sends one command line and returns its answer ("ok ..." or "error ...").
    std::string Command(const std::string& line);
    // Ends the process at once, as pulling the card's cable would.
    void Kill();
    bool Running() const { return pid_ > 0; }

private:
    std::string ReadLine(int timeoutMs);

    std::string program_;
    std::vector<std::string> environment_;
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffer_;
};
