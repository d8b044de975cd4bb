// SPDX-License-Identifier: GPL-3.0-or-later
// The GUI thread on a card across the network, with all three windows open
// and acquisition running: for each link condition (card fast, 29 ms round
// trip, 20 % of requests lost, card gone) the longest a timer handler of the
// windows held the event loop, its median and 99th percentile, and the
// longest gap of the event loop itself. With --in-process, the same with the
// in-process virtual card, for comparison.
//
//   bench_link [seconds per condition=10] [--in-process]
#include "FrmMultiBuf.h"
#include "emulator_process.h"
#include "stall_clock.h"
#include "timing.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Condition {
    const char* name;
    std::vector<std::string> commands;
};

void Watch(HandlerClock& clock, QWidget* window) {
    for (auto* timer : window->findChildren<QTimer*>()) clock.Watch(timer);
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    if (argc > 1) {
        const std::string text = argv[1];
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (ec != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 3600) {
            std::fprintf(stderr, "bench_link: seconds per condition must be 1 to 3600, not \"%s\"\n", argv[1]);
            return 2;
        }
    }
    const bool inProcess = argc > 2 && std::string(argv[2]) == "--in-process";
    EmulatorProcess emulator;
    if (!inProcess) {
        const std::uint16_t port = emulator.Start(0);
        if (port == 0) {
            std::fprintf(stderr, "bench_link: the card emulator did not start\n");
            return 1;
        }
        const std::string address = "127.0.0.1:" + std::to_string(port);
        ::setenv("MOX_CARD_ADDRESS", address.c_str(), 1);
    } else {
        ::unsetenv("MOX_CARD_ADDRESS");
    }
    QApplication app(argc, argv);

    FrmMultiBuf window;
    window.show();
    window.findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
    window.findChild<QPushButton*>(QStringLiteral("cmdDAOut"))->click();
    window.findChild<QPushButton*>(QStringLiteral("cmdSW"))->click();
    HandlerClock handlers;
    for (auto* top : QApplication::topLevelWidgets()) Watch(handlers, top);
    StallMonitor loop;

    const std::vector<Condition> onTheNetwork{
        {"fast", {"delay 0", "drop 0", "resume"}},
        {"29 ms round trip", {"delay 29"}},
        {"20 % lost", {"delay 0", "drop 0.2"}},
        {"gone", {"drop 0", "stop"}},
    };
    const std::vector<Condition> conditions =
        inProcess ? std::vector<Condition>{{"in-process card", {}}} : onTheNetwork;
    std::printf("%-18s %8s %10s %10s %10s %12s\n", "link", "ticks", "p50 ms", "p99 ms", "worst ms", "loop gap ms");
    for (const auto& c : conditions) {
        for (const auto& command : c.commands) {
            if (emulator.Command(command).rfind("ok", 0) != 0) {
                std::fprintf(stderr, "bench_link: the emulator refused \"%s\"\n", command.c_str());
                return 1;
            }
        }
        QTest::qWait(1500); // the link settles into the new condition
        handlers.Reset();
        loop.Reset();
        QTest::qWait(seconds * 1000);
        const auto& ms = handlers.SamplesMs();
        if (ms.empty()) {
            std::fprintf(stderr, "bench_link: no timer ran\n");
            return 1;
        }
        std::printf("%-18s %8zu %10.2f %10.2f %10.2f %12.2f\n", c.name, ms.size(), bench::Percentile(ms, 0.5),
                    bench::Percentile(ms, 0.99), handlers.WorstMs(), loop.WorstMs());
        std::fflush(stdout);
    }
    return 0;
}
