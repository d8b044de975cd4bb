// SPDX-License-Identifier: GPL-3.0-or-later
// The trend window's cost on the GUI thread.
//   Redraw: one redraw of a full hour of history, all 32 channels shown, at
//     1600 px plot width (reduction, axes, stats, the plot's own drawing).
//   CursorMove: one mouse move over that plot (cursor line, readout, the
//     table's cursor column, the repaint).
//   TickPeriod: what the GUI thread does per acquisition tick against the
//     virtual card: the tick handler and all events due until the next one
//     (the list's repaint, and with the trend open its redraw timer), with
//     and without the trend window open.
//
//   bench_trend [--redraws=200] [--ticks=150] [--spacing_ms=200] [google benchmark flags]
#include "FrmMultiBuf.h"
#include "acquiring_window.h"
#include "flags.h"
#include "frmTrend.h"
#include "history.h"
#include "timing.h"
#include "widgets.h"

#include <QApplication>
#include <QMouseEvent>

#include <benchmark/benchmark.h>
#include <qcustomplot.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

int g_spacingMs = FrmMultiBuf::kTimerADIntervalMs;
int g_ticks = 150;
int g_redraws = 200;

// An hour of readings like the virtual card's: levels, sines, ramps, noise.
void FillHour(trend::History& history, std::int64_t endMs) {
    std::mt19937 noise(7);
    std::normal_distribution<float> n(0.0f, 0.002f);
    const auto samples = static_cast<std::int64_t>(trend::kCapacity);
    for (std::int64_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) * 0.2;
        trend::Volts v{};
        for (int k = 0; k < trend::kChannels; ++k) {
            const double x = k < 8    ? (k - 4) * 1.0
                             : k < 16 ? (k - 7) * 0.5 * std::sin(t * 0.1 * (k - 7))
                             : k < 24 ? std::fmod(t, k - 15.0) / (k - 15.0) * 10 - 5
                                      : 4 * std::sin(t * 0.01 * k);
            v[static_cast<std::size_t>(k)] = static_cast<float>(x) + n(noise);
        }
        const std::int64_t ms = endMs - (samples - 1 - i) * 200;
        history.Append({ms, ms}, 2, v);
    }
}

std::vector<int> AllChannels() {
    std::vector<int> all(trend::kChannels);
    for (int k = 0; k < trend::kChannels; ++k) all[static_cast<std::size_t>(k)] = k;
    return all;
}

// All channels shown over the span, the window sized so the plot's drawing
// area is 1600 px wide, drawn once.
QCustomPlot* ShowWide(frmTrend& window, int span) {
    window.SetChannels(AllChannels());
    window.SetSpan(span);
    window.show();
    auto* plot = window.findChild<QCustomPlot*>(QStringLiteral("plotTrend"));
    window.resize(2000, 800);
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        plot->replot();
        window.resize(window.width() + 1600 - plot->axisRect()->width(), 800);
    }
    QCoreApplication::processEvents();
    plot->replot();
    return plot;
}

constexpr std::int64_t kNow = 1'796'649'798'000;

void BM_Redraw(benchmark::State& state) {
    trend::History history;
    FillHour(history, kNow);
    frmTrend window(history, nullptr, [] { return trend::Stamp{kNow, kNow}; });
    QCustomPlot* plot = ShowWide(window, static_cast<int>(state.range(0)));
    state.counters["plot_px"] = plot->axisRect()->width();
    std::vector<double> micros;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        window.Redraw();
        QCoreApplication::processEvents(); // the repaint it queued
        const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        state.SetIterationTime(dt.count());
        micros.push_back(dt.count() * 1e6);
    }
    bench::Report(state, micros);
}

// The mouse moved across the plot of an hour of 32 channels: the cursor
// line, its readout and the table's cursor column follow, and the repaint.
void BM_CursorMove(benchmark::State& state) {
    trend::History history;
    FillHour(history, kNow);
    frmTrend window(history, nullptr, [] { return trend::Stamp{kNow, kNow}; });
    QCustomPlot* plot = ShowWide(window, static_cast<int>(state.range(0)));
    window.Redraw();
    QCoreApplication::processEvents();
    const QRect rect = plot->axisRect()->rect();
    std::vector<double> micros;
    int step = 0;
    for (auto _ : state) {
        // Across the plot in steps of 7 px, as a quick sweep of the mouse.
        const QPointF at(rect.left() + (step++ * 7) % rect.width(), rect.center().y());
        QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        const auto t0 = std::chrono::steady_clock::now();
        QCoreApplication::sendEvent(plot, &move);
        QCoreApplication::processEvents(); // the repaint it queued
        const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        state.SetIterationTime(dt.count());
        micros.push_back(dt.count() * 1e6);
    }
    bench::Report(state, micros);
}

// range(0): 1 with the trend window open (8 channels, 10 s: as it opens).
void BM_TickPeriod(benchmark::State& state) {
    FrmMultiBuf& window = bench::AcquiringWindow();
    if (state.range(0) != 0) {
        window.ShowTrend();
        window.TrendWindow()->resize(1100, 720);
    } else if (window.TrendWindow()) {
        window.TrendWindow()->close();
    }
    QCoreApplication::processEvents();
    std::vector<double> micros, handler;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(g_spacingMs));
        const auto t0 = std::chrono::steady_clock::now();
        QCoreApplication::processEvents(); // timers due while the thread slept
        const auto t1 = std::chrono::steady_clock::now();
        window.TimerAD_Timer();
        const auto t2 = std::chrono::steady_clock::now();
        QCoreApplication::processEvents(); // the repaints the tick queued
        const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        state.SetIterationTime(dt.count());
        micros.push_back(dt.count() * 1e6);
        handler.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
    bench::Report(state, micros);
    bench::Report(state, handler, "handler_");
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = bench::TakeFlags(
        argc, argv, {{"--spacing_ms=", &g_spacingMs, 0}, {"--redraws=", &g_redraws, 1}, {"--ticks=", &g_ticks, 1}});
    int n = static_cast<int>(args.size());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(n, args.data());
    mox::ApplyDefaultFont(app);
    benchmark::Initialize(&n, args.data());
    bench::RegisterManualRuns({{"Redraw/1h/32ch", BM_Redraw, {3}, g_redraws},
                               {"Redraw/10s/32ch", BM_Redraw, {0}, g_redraws},
                               {"CursorMove/1h/32ch", BM_CursorMove, {3}, g_redraws},
                               {"TickPeriod/without_trend", BM_TickPeriod, {0}, g_ticks},
                               {"TickPeriod/with_trend", BM_TickPeriod, {1}, g_ticks}});
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
