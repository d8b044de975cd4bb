// SPDX-License-Identifier: GPL-3.0-or-later
// Runs mox-card-emulator as a child process for a test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class EmulatorProcess {
public:
    EmulatorProcess() = default;
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

    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffer_;
};
