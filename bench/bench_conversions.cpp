// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the shared conversions, in calls per second.
#include "conversions.h"

#include <benchmark/benchmark.h>

#include <array>
#include <string>

namespace {

const std::array<std::string, 8> kTexts{"20", " 2 0", "0.000", "-3.25e2", "&H800", "&HFFFF", "abc", "12345.678"};

void BM_TextToNumber(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(mox::TextToNumber(kTexts[i++ % kTexts.size()]));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextToNumber);

void BM_ToInt16(benchmark::State& state) {
    double x = 0.5;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mox::ToInt16(x));
        x += 1.0;
        if (x > 40000) x = -40000.5;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToInt16);

void BM_NumberTextSingle(benchmark::State& state) {
    float x = 32768.5f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mox::NumberText(x));
        x += 0.25f;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NumberTextSingle);

void BM_NumberTextDouble(benchmark::State& state) {
    double x = 1.0 / 3;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mox::NumberText(x));
        x += 1.0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NumberTextDouble);

void BM_HexText(benchmark::State& state) {
    int32_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(mox::HexText(n++ & 0xFFFF));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HexText);

void BM_VoltText(benchmark::State& state) {
    double v = -5.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mox::VoltText(v));
        v = v > 5 ? -5.0 : v + 0.001;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VoltText);

} // namespace

BENCHMARK_MAIN();
