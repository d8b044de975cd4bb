// SPDX-License-Identifier: GPL-3.0-or-later
#include "UpDown.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QToolButton>

UpDown::UpDown(int minimum, int maximum, int value, QWidget* parent) : QAbstractSlider(parent) {
    setOrientation(Qt::Vertical);
    setRange(minimum, maximum);
    setSingleStep(1);
    setPageStep(1);
    setValue(value);
    setFocusPolicy(Qt::StrongFocus);
    // The buttons only draw and click; the spinner itself takes the focus
    // and the keys.
    up_ = new QToolButton(this);
    up_->setObjectName(QStringLiteral("up"));
    up_->setArrowType(Qt::UpArrow);
    up_->setAutoRepeat(true);
    up_->setFocusPolicy(Qt::NoFocus);
    down_ = new QToolButton(this);
    down_->setObjectName(QStringLiteral("down"));
    down_->setArrowType(Qt::DownArrow);
    down_->setAutoRepeat(true);
    down_->setFocusPolicy(Qt::NoFocus);
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
}

void UpDown::resizeEvent(QResizeEvent* event) {
    QAbstractSlider::resizeEvent(event);
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}

// A focus frame around the arrows while the spinner has the focus.
void UpDown::paintEvent(QPaintEvent*) {
    if (!hasFocus()) return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}
