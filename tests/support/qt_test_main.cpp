// SPDX-License-Identifier: GPL-3.0-or-later
// Entry point of the widget tests: one offscreen application for all cases.
#include "widgets.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("moxpanel"));
    mox::ApplyDefaultFont(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
