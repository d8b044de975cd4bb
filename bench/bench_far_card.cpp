// SPDX-License-Identifier: GPL-3.0-or-later
// The program on a card far away: the emulator answering every request a
// given round trip late, from the first request on. Reports how long the
// window's load, the start of acquisition and one DA write held the GUI
// thread and whether each succeeded, then the timer handlers of the three
// windows and the longest gap of the event loop over the ticks that follow.
// The driver keeps one card per process, so one run measures one link.
//
//   bench_far_card ROUND_TRIP_MS [seconds of ticks=10]
#include "DllDef.h"
#include "FrmMultiBuf.h"
#include "emulator_process.h"
#include "frmDA.h"
#include "stall_clock.h"
#include "timing.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

bool WholeNumber(const char* text, int low, int high, int& value) {
    const std::string s = text;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() && value >= low && value <= high;
}

double TimedMs(const std::function<void()>& action) {
    QElapsedTimer clock;
    clock.start();
    action();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

void Watch(HandlerClock& clock) {
    for (auto* top : QApplication::topLevelWidgets()) {
        for (auto* timer : top->findChildren<QTimer*>()) clock.Watch(timer);
    }
}

} // namespace

int main(int argc, char** argv) {
    int roundTrip = 0;
    int seconds = 10;
    if (argc < 2 || !WholeNumber(argv[1], 0, 2000, roundTrip) ||
        (argc > 2 && !WholeNumber(argv[2], 1, 3600, seconds))) {
        std::fprintf(stderr, "usage: bench_far_card ROUND_TRIP_MS(0..2000) [SECONDS(1..3600)]\n");
        return 2;
    }
    EmulatorProcess emulator;
    const std::uint16_t port =
        emulator.Start(0, {"--pc-address", "192.168.1.100", "--delay", std::to_string(roundTrip)});
    if (port == 0) {
        std::fprintf(stderr, "bench_far_card: the card emulator did not start\n");
        return 1;
    }
    const std::string address = "127.0.0.1:" + std::to_string(port);
    ::setenv("MOX_CARD_ADDRESS", address.c_str(), 1);
    QApplication app(argc, argv);

    FrmMultiBuf* window = nullptr;
    const double loadMs = TimedMs([&] { window = new FrmMultiBuf; });
    window->show();
    const bool identified = window->findChild<QLabel*>("lblCardInfo")->text().contains("7710");
    auto* start = window->findChild<QPushButton*>("cmdStart");
    const double startMs = TimedMs([&] { start->click(); });
    const bool started = !start->isEnabled();
    window->findChild<QPushButton*>("cmdDAOut")->click();
    window->findChild<QPushButton*>("cmdSW")->click();
    window->DAWindow()->findChild<QLineEdit*>("txtDAValue")->setText("C00");
    const double daMs = TimedMs([&] { window->DAWindow()->findChild<QPushButton*>("cmdDA")->click(); });
    const bool daConfirmed = DllDef::GetLastADError() != 100;

    HandlerClock handlers;
    Watch(handlers);
    StallMonitor loop;
    QTest::qWait(seconds * 1000);
    const auto& ms = handlers.SamplesMs();
    std::printf("round trip %d ms: load %.0f ms (%s), start %.0f ms (%s), DA write %.0f ms (%s); "
                "%zu ticks: handler p50 %.2f / p99 %.2f / worst %.2f ms, event-loop gap %.1f ms\n",
                roundTrip, loadMs, identified ? "card identified" : "NOT identified", startMs,
                started ? "started" : "NOT started", daMs, daConfirmed ? "confirmed" : "NOT confirmed", ms.size(),
                ms.empty() ? 0.0 : bench::Percentile(ms, 0.5), ms.empty() ? 0.0 : bench::Percentile(ms, 0.99),
                handlers.WorstMs(), loop.WorstMs());
    int slow = 0;
    for (double m : ms) slow += m > 20 ? 1 : 0;
    std::printf("handlers over 20 ms: %d", slow);
    for (std::size_t i = 0; i < ms.size(); ++i)
        if (ms[i] > 20) std::printf(" #%zu %.0f", i, ms[i]);
    std::printf("\n");
    delete window;
    return identified && started && daConfirmed && !ms.empty() ? 0 : 1;
}
