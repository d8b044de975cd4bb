// SPDX-License-Identifier: GPL-3.0-or-later
// One tick of the acquisition timer against the virtual card: the network
// status request, the readout of the selected mode and the text boxes'
// update (Tick), and the same followed by the repaint that Qt then does in
// the event loop (TickAndRepaint). Ticks are spaced as the timer spaces them (200 ms by
// default), so the card produces a realistic amount of samples between them.
//
//   bench_tick [--spacing_ms=200] [--ticks=150] [google benchmark flags]
#include "FrmMultiBuf.h"
#include "acquiring_window.h"
#include "flags.h"
#include "timing.h"
#include "widgets.h"

#include <QApplication>
#include <QRadioButton>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

int g_spacingMs = FrmMultiBuf::kTimerADIntervalMs;
int g_ticks = 150;

// range(0): reading mode; range(1): 1 to include the repaint that Qt does
// after the handler, in the event loop.
void BM_Tick(benchmark::State& state) {
    FrmMultiBuf& window = bench::AcquiringWindow();
    const bool paint = state.range(1) != 0;
    window.findChild<QRadioButton*>(QStringLiteral("optADRMode(%1)").arg(state.range(0)))->setChecked(true);
    window.TimerAD_Timer();
    QCoreApplication::processEvents();
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(g_ticks));
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(g_spacingMs));
        const auto t0 = std::chrono::steady_clock::now();
        window.TimerAD_Timer();
        if (paint) QCoreApplication::processEvents(); // layout and repaint of the boxes
        const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        if (!paint) QCoreApplication::processEvents();
        state.SetIterationTime(dt.count());
        micros.push_back(dt.count() * 1e6);
    }
    bench::Report(state, micros);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args =
        bench::TakeFlags(argc, argv, {{"--spacing_ms=", &g_spacingMs, 0}, {"--ticks=", &g_ticks, 1}});
    int n = static_cast<int>(args.size());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(n, args.data());
    mox::ApplyDefaultFont(app);
    benchmark::Initialize(&n, args.data());
    bench::RegisterManualRuns({
        {"Tick/MeanVoltage", BM_Tick, {2, 0}, g_ticks},
        {"Tick/NewestAD", BM_Tick, {0, 0}, g_ticks},
        {"TickAndRepaint/MeanVoltage", BM_Tick, {2, 1}, g_ticks},
        {"TickAndRepaint/NewestAD", BM_Tick, {0, 1}, g_ticks},
    });
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
