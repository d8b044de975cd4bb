// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition window on the virtual card, shown and acquiring, with its
// timer stopped: the benchmarks drive its ticks themselves.
#pragma once

#include "FrmMultiBuf.h"

#include <QPushButton>
#include <QTimer>

namespace bench {

// One window for the whole run, kept until the program ends.
inline FrmMultiBuf& AcquiringWindow() {
    static FrmMultiBuf* window = [] {
        auto* w = new FrmMultiBuf;
        w->show();
        w->findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
        w->findChild<QTimer*>(QStringLiteral("TimerAD"))->stop();
        return w;
    }();
    return *window;
}

} // namespace bench
