// SPDX-License-Identifier: GPL-3.0-or-later
// Resident memory over a long acquisition on the virtual card: the size
// after a first run of ticks and after many more must stay flat.
//
//   bench_memory [first=100] [total=3000]
#include "FrmMultiBuf.h"
#include "widgets.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

void Ticks(FrmMultiBuf& window, int count, int& done) {
    for (int i = 0; i < count; ++i, ++done) {
        // Cycle through the reading modes so every readout path is exercised.
        window.findChild<QRadioButton*>(QStringLiteral("optADRMode(%1)").arg(done % 3))->setChecked(true);
        window.TimerAD_Timer();
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

int main(int argc, char** argv) {
    const int first = argc > 1 ? static_cast<int>(std::strtol(argv[1], nullptr, 10)) : 100;
    const int total = argc > 2 ? static_cast<int>(std::strtol(argv[2], nullptr, 10)) : 3000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    mox::ApplyDefaultFont(app);
    FrmMultiBuf window;
    window.show();
    window.findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
    int done = 0;
    Ticks(window, first, done);
    const long after_first = ResidentKiB();
    Ticks(window, total - first, done);
    const long after_total = ResidentKiB();
    std::printf("rss_after_%d_ticks_kib=%ld rss_after_%d_ticks_kib=%ld growth_pct=%.2f\n", first, after_first, total,
                after_total, 100.0 * static_cast<double>(after_total - after_first) / static_cast<double>(after_first));
    return 0;
}
