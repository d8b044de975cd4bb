// SPDX-License-Identifier: GPL-3.0-or-later
// An up-down spinner: two arrow buttons over a value in [minimum, maximum],
// with no text of its own. A QAbstractSlider, so that minimum, maximum and
// value are Qt properties and screen readers and UI automation read and set
// it as a range control. The up arrow (and the Up key) adds one, the down
// arrow (and the Down key) takes one away; the value stops at the ends, and
// valueChanged is raised only when it changes.
#pragma once

#include <QAbstractSlider>

class QToolButton;

class UpDown : public QAbstractSlider {
    Q_OBJECT

public:
    UpDown(int minimum, int maximum, int value, QWidget* parent = nullptr);

    void stepUp() { triggerAction(SliderSingleStepAdd); }
    void stepDown() { triggerAction(SliderSingleStepSub); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QToolButton* up_;
    QToolButton* down_;
};
