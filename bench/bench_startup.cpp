// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up time: from process start to the acquisition window shown, under
// the offscreen platform. Spawns the start-up probe repeatedly and prints
// the median, the fastest and the slowest run.
//
//   bench_startup [runs=20]
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, static_cast<int>(std::strtol(argv[1], nullptr, 10))) : 20;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        char* args[] = {const_cast<char*>(PROBE), nullptr};
        const auto t0 = std::chrono::steady_clock::now();
        pid_t pid = 0;
        if (posix_spawn(&pid, PROBE, nullptr, nullptr, args, environ) != 0) {
            std::perror("posix_spawn");
            return 1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const std::chrono::duration<double, std::milli> dt = std::chrono::steady_clock::now() - t0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "start-up probe failed (status %d)\n", status);
            return 1;
        }
        ms.push_back(dt.count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("startup_to_window_shown runs=%d median_ms=%.1f min_ms=%.1f max_ms=%.1f\n", runs, ms[ms.size() / 2],
                ms.front(), ms.back());
    return 0;
}
