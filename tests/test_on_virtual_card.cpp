// SPDX-License-Identifier: GPL-3.0-or-later
// The windows against the bundled virtual card driver.
#include "FrmMultiBuf.h"
#include "frmDA.h"
#include "frmSW.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cmath>
#include <functional>

namespace {

QString Box(QWidget* w, const char* name) { return w->findChild<QPlainTextEdit*>(name)->toPlainText(); }

void Click(QWidget* w, const char* name) { QTest::mouseClick(w->findChild<QPushButton*>(name), Qt::LeftButton); }

// Volts listed for a channel in the mean-voltage list.
double ListedVolts(const QString& list, int channel) {
    const QString line = list.split('\n').value(channel);
    return line.mid(3).chopped(1).toDouble();
}

} // namespace

TEST(OnVirtualCard, ShowsTheIdentity) {
    FrmMultiBuf window;
    EXPECT_EQ(window.findChild<QLabel*>("lblCardInfo")->text(),
              QStringLiteral("卡名: 7710 类型: 1  速度: 100K  精度: 16位"));
}

// Runs the event loop until the condition holds or the limit passes.
bool WaitFor(const std::function<bool()>& condition, int limitMs = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limitMs) return false;
        QTest::qWait(10);
    }
    return true;
}

TEST(OnVirtualCard, AcquisitionListsLiveValuesInEveryMode) {
    FrmMultiBuf window;
    window.show();
    Click(&window, "cmdStart");
    ASSERT_FALSE(window.findChild<QPushButton*>("cmdStart")->isEnabled());
    const char* const firstLine[] = {"00:", "00:", "00 "};
    for (int mode : {0, 1, 2}) {
        window.findChild<QRadioButton*>(QStringLiteral("optADRMode(%1)").arg(mode))->setChecked(true);
        // A tick in the new mode, then the next one.
        ASSERT_TRUE(WaitFor([&] { return Box(&window, "txtInfo").startsWith(QLatin1String(firstLine[mode])); }));
        const QString first = Box(&window, "txtInfo");
        ASSERT_TRUE(WaitFor([&] { return Box(&window, "txtInfo") != first; })) << "mode " << mode;
        const QStringList a = first.split('\n'), b = Box(&window, "txtInfo").split('\n');
        ASSERT_EQ(a.size(), 33) << mode;
        ASSERT_EQ(b.size(), 33) << mode;
        int changed = 0;
        for (int ch = 0; ch < 32; ++ch) changed += static_cast<int>(a[ch] != b[ch]);
        EXPECT_GE(changed, 16) << "mode " << mode;
    }
    EXPECT_EQ(Box(&window, "txtSts"), QStringLiteral("网络通信正常\n"));
    Click(&window, "cmdStop");
}

TEST(OnVirtualCard, AnalogOutputsReadBackOnInputs0To3) {
    FrmMultiBuf window;
    Click(&window, "cmdStart");
    Click(&window, "cmdDAOut");
    frmDA* da = window.DAWindow();
    ASSERT_NE(da, nullptr);
    const double volts[] = {-4.0, -1.5, 2.5, 4.5};
    for (int ch = 0; ch < 4; ++ch) {
        da->findChild<QLineEdit*>("txtDAChn2")->setText(QString::number(ch));
        da->findChild<QLineEdit*>("txtDAV")->setText(QString::number(volts[ch]));
        Click(da, "cmdDA2");
    }
    const auto readBack = [&] {
        const QString list = Box(&window, "txtInfo");
        for (int ch = 0; ch < 4; ++ch) {
            if (std::fabs(ListedVolts(list, ch) - volts[ch]) > 0.02) return false;
        }
        return true;
    };
    EXPECT_TRUE(WaitFor(readBack)) << Box(&window, "txtInfo").toStdString();
}

TEST(OnVirtualCard, DigitalOutputsShowOnTheInputsWithinOnePoll) {
    FrmMultiBuf window;
    Click(&window, "cmdSW");
    frmSW* sw = window.SWWindow();
    ASSERT_NE(sw, nullptr);
    sw->findChild<QLineEdit*>("txtswChn")->setText("0");
    sw->findChild<QLineEdit*>("txtSWO_0")->setText("A5");
    Click(sw, "cmdSWO");
    sw->findChild<QLineEdit*>("txtDOChn")->setText("10");
    sw->findChild<QLineEdit*>("txtDOValue")->setText("1");
    Click(sw, "cmdDOOutput");
    sw->Timer_DI_Timer(); // one poll
    EXPECT_EQ(sw->findChild<QLabel*>("lblMsg")->text(), QStringLiteral("通讯正常"));
    EXPECT_EQ(sw->findChild<QLabel*>("lblDI")->text(), "A5  2");
    EXPECT_EQ(sw->findChild<QLabel*>("lblDI_1")->text(), "2      0   0   0   0   0   0   1   0");
}
