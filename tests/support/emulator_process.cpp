// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

extern char** environ;

std::uint16_t EmulatorProcess::Start(std::uint16_t port, const std::vector<std::string>& args) {
    Kill();
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return 0;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return 0;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // Not the test's own stderr: a test that dies must not leave its runner
    // waiting on a pipe the emulator still holds; and the emulator ends
    // when the test's end of its standard input closes.
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    std::vector<std::string> words{program_, "--exit-with-stdin", "--port", std::to_string(port)};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    const auto overridden = [this](const char* entry) {
        for (const auto& setting : environment_) {
            const auto name = setting.substr(0, setting.find('=') + 1);
            if (std::string(entry).rfind(name, 0) == 0) return true;
        }
        return false;
    };
    for (char** e = environ; *e != nullptr; ++e) {
        if (!overridden(*e)) envp.push_back(*e);
    }
    for (auto& setting : environment_) envp.push_back(setting.data());
    envp.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program_.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    if (rc != 0) {
        pid_ = -1;
        Kill();
        return 0;
    }
    // Lines on standard error before it (the bridge names the driver it
    // loaded) are passed over.
    std::string line = ReadLine(5000);
    for (int skipped = 0; skipped < 8 && !line.empty() && line.rfind("listening on ", 0) != 0; ++skipped) {
        line = ReadLine(5000);
    }
    const auto colon = line.rfind(':');
    if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
        Kill();
        return 0;
    }
    return static_cast<std::uint16_t>(std::strtoul(line.c_str() + colon + 1, nullptr, 10));
}

std::string EmulatorProcess::Command(const std::string& line) {
    if (toChild_ < 0) return "error: not running";
    const std::string text = line + "\n";
    if (write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "error: write";
    return ReadLine(5000);
}

std::string EmulatorProcess::ReadLine(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0 || fromChild_ < 0) return {};
        pollfd pfd{fromChild_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
        char chunk[256];
        const ssize_t got = read(fromChild_, chunk, sizeof chunk);
        if (got <= 0) return {};
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

void EmulatorProcess::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (toChild_ >= 0) close(toChild_);
    if (fromChild_ >= 0) close(fromChild_);
    toChild_ = fromChild_ = -1;
    buffer_.clear();
}
