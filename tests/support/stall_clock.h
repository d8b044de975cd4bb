// SPDX-License-Identifier: GPL-3.0-or-later
// How long the GUI thread is held: by the handlers of given timers, and
// between two runs of a 2 ms timer (everything the event loop did).
#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <vector>

// Measures how long the handlers of the given timers hold the event loop:
// from the timer event reaching the timer to the end of the handlers
// connected to its timeout (the window's own handler is connected first).
class HandlerClock : public QObject {
public:
    void Watch(QTimer* timer) {
        timer->installEventFilter(this);
        QObject::connect(timer, &QTimer::timeout, this, [this] {
            if (!started_.isValid()) return;
            const double ms = static_cast<double>(started_.nsecsElapsed()) / 1e6;
            worstMs_ = std::max(worstMs_, ms);
            samplesMs_.push_back(ms);
            started_.invalidate();
        });
    }
    double WorstMs() const { return worstMs_; }
    const std::vector<double>& SamplesMs() const { return samplesMs_; }
    void Reset() {
        worstMs_ = 0;
        samplesMs_.clear();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer) started_.start();
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer started_;
    double worstMs_ = 0;
    std::vector<double> samplesMs_;
};

// Records the longest time the event loop went without running a 2 ms
// timer: driver calls, painting and the machine's own load together.
class StallMonitor {
public:
    StallMonitor() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (clock_.isValid()) worstMs_ = std::max(worstMs_, static_cast<double>(clock_.nsecsElapsed()) / 1e6);
            clock_.start();
        });
        timer_.start();
    }
    double WorstMs() const { return worstMs_; }
    void Reset() {
        worstMs_ = 0;
        clock_.invalidate();
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    double worstMs_ = 0;
};
