// SPDX-License-Identifier: GPL-3.0-or-later
// An up-down spinner: two arrow buttons over a value in [minimum, maximum].
// The up arrow adds one step, the down arrow takes one away (so do the Up
// and Down keys while it has the focus); the value stops at the ends.
// valueChanged is raised only when the value changes.
#pragma once

#include <QWidget>

class QToolButton;

class UpDown : public QWidget {
    Q_OBJECT

public:
    UpDown(int minimum, int maximum, int value, QWidget* parent = nullptr);

    int value() const { return value_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    void setValue(int value);

    void stepUp() { setValue(value_ + 1); }
    void stepDown() { setValue(value_ - 1); }

signals:
    void valueChanged(int value);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override; // the arrow keys step too

private:
    int minimum_;
    int maximum_;
    int value_;
    QToolButton* up_;
    QToolButton* down_;
};
