// SPDX-License-Identifier: GPL-3.0-or-later
// A fixture for one window on the test driver: finds controls by their
// names and presses buttons, returning the driver calls the press made.
#pragma once

#include "fake_driver_client.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using Calls = std::vector<std::string>;

template <typename T>
T* FindIn(const QObject* parent, const char* name) {
    T* w = parent->findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

template <typename Window>
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeDriver::Get().Reset();
        window = std::make_unique<Window>();
    }

    template <typename T>
    T* Find(const char* name) {
        return FindIn<T>(window.get(), name);
    }
    // The text of a label or a single-line box.
    QString Text(const char* name) {
        if (auto* label = window->template findChild<QLabel*>(QString::fromUtf8(name))) return label->text();
        return Find<QLineEdit>(name)->text();
    }
    Calls Press(const char* button) {
        FakeDriver::Get().ClearLog();
        QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton);
        return FakeDriver::Get().Calls();
    }

    std::unique_ptr<Window> window;
};
