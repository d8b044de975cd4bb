// SPDX-License-Identifier: GPL-3.0-or-later
// One driver call (Mox_DO, confirmed by the card) through the driver bridge
// on loopback, against the same call on the virtual card in process and
// through the card emulator. Each iteration is one call; p50_us, p99_us and
// max_us are the call's own times. With MOX_BENCH_SERVER=address:port, the
// same against a server already running there (the bridge under Wine, say).
//
//   bench_bridge [google benchmark flags]
#include "card_model.h"
#include "emulator_process.h"
#include "remote_card.h"
#include "timing.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

template <typename Call>
void Measure(benchmark::State& state, Call&& call) {
    std::vector<double> micros;
    std::int16_t value = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const std::int32_t status = call(value++);
        const std::chrono::duration<double, std::micro> dt = std::chrono::steady_clock::now() - t0;
        micros.push_back(dt.count());
        if (status != 1) {
            state.SkipWithError("the call failed");
            break;
        }
    }
    bench::Report(state, micros);
}

void BM_InProcess(benchmark::State& state) {
    vcard::VirtualCard card;
    Measure(state, [&](std::int16_t v) { return card.Mox_DO(0, static_cast<std::int16_t>(v & 0xFF)); });
}

void Against(benchmark::State& state, const vnet::Endpoint& server) {
    vnet::RemoteCard card(server);
    if (card.Initial(0, 0, 0, 0) != 1) {
        state.SkipWithError("no answer");
        return;
    }
    Measure(state, [&](std::int16_t v) { return card.Mox_DO(0, static_cast<std::int16_t>(v & 0xFF)); });
}

void OverTheNetwork(benchmark::State& state, const char* program) {
    EmulatorProcess server(program);
    const std::uint16_t port = server.Start(0);
    if (port == 0) {
        state.SkipWithError("the server did not start");
        return;
    }
    Against(state, vnet::LoopbackEndpoint(port));
}

void BM_ThroughRunningServer(benchmark::State& state) {
    const char* text = std::getenv("MOX_BENCH_SERVER");
    const auto server = text != nullptr ? vnet::ParseAddress(text) : std::nullopt;
    if (!server) {
        state.SkipWithError("MOX_BENCH_SERVER=address:port not set");
        return;
    }
    Against(state, *server);
}

void BM_ThroughBridge(benchmark::State& state) { OverTheNetwork(state, MOX_BRIDGE); }
void BM_ThroughEmulator(benchmark::State& state) { OverTheNetwork(state, MOX_EMULATOR); }

} // namespace

BENCHMARK(BM_InProcess)->Iterations(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThroughBridge)->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThroughEmulator)->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThroughRunningServer)->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
