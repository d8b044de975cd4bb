// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of a series of timed runs, as the benchmarks report them.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace bench {

inline double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::lround(p * static_cast<double>(v.size() - 1)));
    return v[std::min(i, v.size() - 1)];
}

// Median, 99th percentile and worst of the microseconds, as counters
// named prefix + "p50_us", "p99_us" and "max_us".
inline void Report(benchmark::State& state, const std::vector<double>& micros, const std::string& prefix = "") {
    if (micros.empty()) return;
    state.counters[prefix + "p50_us"] = Percentile(micros, 0.5);
    state.counters[prefix + "p99_us"] = Percentile(micros, 0.99);
    state.counters[prefix + "max_us"] = *std::max_element(micros.begin(), micros.end());
}

} // namespace bench
