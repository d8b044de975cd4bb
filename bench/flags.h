// SPDX-License-Identifier: GPL-3.0-or-later
// The benchmarks' own flags (--ticks=150 and the like), taken out of the
// command line before Google Benchmark reads the rest, and the timed runs
// they register.
#pragma once

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string_view>
#include <system_error>
#include <vector>

namespace bench {

struct IntFlag {
    std::string_view prefix; // "--ticks="
    int* target;
    int low; // the least value that makes sense
};

// argv without our flags. A value that is not a whole number of at least
// `low` ends the program with status 2 and says which flag it was.
inline std::vector<char*> TakeFlags(int argc, char** argv, std::initializer_list<IntFlag> flags) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const IntFlag* flag = nullptr;
        for (const IntFlag& f : flags) {
            if (arg.substr(0, f.prefix.size()) == f.prefix) flag = &f;
        }
        if (flag == nullptr) {
            rest.push_back(argv[i]);
            continue;
        }
        const std::string_view text = arg.substr(flag->prefix.size());
        int value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size() || value < flag->low) {
            std::fprintf(stderr, "%s: %.*s is not a whole number of at least %d\n", argv[0],
                         static_cast<int>(arg.size()), arg.data(), flag->low);
            std::exit(2);
        }
        *flag->target = value;
    }
    return rest;
}

// A run timed by the benchmark itself (UseManualTime), in microseconds.
struct ManualRun {
    const char* name;
    void (*function)(benchmark::State&);
    std::vector<std::int64_t> args;
    int iterations;
};

inline void RegisterManualRuns(std::initializer_list<ManualRun> runs) {
    for (const ManualRun& run : runs) {
        benchmark::RegisterBenchmark(run.name, run.function)
            ->Args(run.args)
            ->UseManualTime()
            ->Iterations(run.iterations)
            ->Unit(benchmark::kMicrosecond);
    }
}

} // namespace bench
