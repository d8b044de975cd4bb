// SPDX-License-Identifier: GPL-3.0-or-later
#include "DllDef.h"
#include "FrmMultiBuf.h"
#include "UpDown.h"
#include "fake_driver_client.h"
#include "frmSW.h"
#include "window_test.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

// ---------------------------------------------------------------- texts

TEST(InputTexts, ShowBothGroupsBitByBit) {
    const auto t = dio::BuildInputTexts(0x00A5, 0x0103);
    EXPECT_EQ(t.lblDI, "A5  3");
    EXPECT_EQ(t.lblDI_0, "A5      1   0   1   0   0   1   0   1");
    EXPECT_EQ(t.lblBit, "            7   6   5   4   3   2   1   0");
    EXPECT_EQ(t.lblDI_1, "3      0   0   0   0   0   0   1   1");

    const auto zero = dio::BuildInputTexts(0, 0);
    EXPECT_EQ(zero.lblDI, "0  0");
    EXPECT_EQ(zero.lblDI_0, "0      0   0   0   0   0   0   0   0");
    EXPECT_EQ(zero.lblDI_1, "0      0   0   0   0   0   0   0   0");

    const auto all = dio::BuildInputTexts(-1, 0x7FFF);
    EXPECT_EQ(all.lblDI, "FF  FF");
    EXPECT_EQ(all.lblDI_0, "FF      1   1   1   1   1   1   1   1");
}

// ---------------------------------------------------------------- window

class DigitalIO : public WindowTest<frmSW> {
protected:
    void Set(const char* box, const char* text) { Find<QLineEdit>(box)->setText(QString::fromUtf8(text)); }
};

TEST_F(DigitalIO, OpensWithTheInitialValuesAndARunningPoll) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("开关量测试例程"));
    EXPECT_EQ(window->size(), QSize(368, 318));
    EXPECT_EQ(Text("lblDI"), "00");
    EXPECT_EQ(Text("lblBit"), "Bit");
    EXPECT_EQ(Text("lblDI_0"), "DI0");
    EXPECT_EQ(Text("lblDI_1"), "DI1");
    EXPECT_EQ(Text("lblMsg"), QStringLiteral("检测状态:"));
    EXPECT_EQ(Text("txtswChn"), "0");
    EXPECT_EQ(Text("txtSWO_0"), "00");
    EXPECT_EQ(Text("txtDOValue"), "0");
    EXPECT_EQ(Text("txtDOChn"), "1");
    EXPECT_EQ(Find<UpDown>("UpDownBitNum")->value(), 1);
    auto* timer = Find<QTimer>("Timer_DI");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_NEAR(Find<QLabel>("lblDI")->font().pointSizeF(), 21.75, 0.01);
    EXPECT_EQ(Find<QGroupBox>("Frame3(0)")->title(), QStringLiteral("开关量输出--按位输出模式"));
    for (int i : {4, 6, 7, 8, 9, 10, 11, 12, 13}) Find<QLabel>(("Label1(" + std::to_string(i) + ")").c_str());
    for (auto* label : window->findChildren<QLabel*>()) EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

TEST_F(DigitalIO, FocusStartsOnExit) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), Find<QPushButton>("cmdExit"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("txtswChn"));
}

TEST_F(DigitalIO, SuccessfulPollFillsTheLabels) {
    FakeDriver::Get().SetInputs(0x00A5, 0x0103);
    window->Timer_DI_Timer();
    EXPECT_EQ(FakeDriver::Get().Calls(), Calls{"Mox_DI(2)"});
    EXPECT_EQ(Text("lblMsg"), QStringLiteral("通讯正常"));
    EXPECT_EQ(Text("lblDI"), "A5  3");
    EXPECT_EQ(Text("lblDI_0"), "A5      1   0   1   0   0   1   0   1");
    EXPECT_EQ(Text("lblBit"), "            7   6   5   4   3   2   1   0");
    EXPECT_EQ(Text("lblDI_1"), "3      0   0   0   0   0   0   1   1");
}

class FailedPoll : public DigitalIO, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(FailedPoll, OnlyTheStatusChanges) {
    FakeDriver::Get().SetInputs(0x00A5, 0x0103);
    window->Timer_DI_Timer();
    FakeDriver::Get().SetInputs(0, 0);
    FakeDriver::Get().SetReturn("Mox_DI", GetParam());
    window->Timer_DI_Timer();
    EXPECT_EQ(Text("lblMsg"), QStringLiteral("读取错误!,请检查连接"));
    EXPECT_EQ(Text("lblDI"), "A5  3") << "the last good reading stays";
    EXPECT_EQ(Text("lblDI_1"), "3      0   0   0   0   0   0   1   1");
}

INSTANTIATE_TEST_SUITE_P(Results, FailedPoll, ::testing::Values(0, 0x10000, static_cast<std::int32_t>(0xFFFF0000)));

TEST_F(DigitalIO, NonZeroLow16BitsCountAsSuccess) {
    FakeDriver::Get().SetReturn("Mox_DI", 0x10001);
    window->Timer_DI_Timer();
    EXPECT_EQ(Text("lblMsg"), QStringLiteral("通讯正常"));
    EXPECT_EQ(Text("lblDI"), "0  0");
}

TEST_F(DigitalIO, TimerPollsEvery100ms) {
    QSignalSpy spy(Find<QTimer>("Timer_DI"), &QTimer::timeout);
    ASSERT_TRUE(spy.wait(1000));
    EXPECT_EQ(Text("lblMsg"), QStringLiteral("通讯正常"));
}

struct ByteCase {
    const char* group;
    const char* value;
    const char* call;
};

class ByteOutput : public DigitalIO, public ::testing::WithParamInterface<ByteCase> {};

TEST_P(ByteOutput, SendsGroupAndLowByte) {
    Set("txtswChn", GetParam().group);
    Set("txtSWO_0", GetParam().value);
    EXPECT_EQ(Press("cmdSWO"), Calls{GetParam().call});
    EXPECT_EQ(DllDef::DOBuf[0],
              std::stoi(std::string(GetParam().call).substr(std::string(GetParam().call).find(',') + 1)));
}

INSTANTIATE_TEST_SUITE_P(Values, ByteOutput,
                         ::testing::Values(ByteCase{"0", "00", "Mox_DO(0,0)"}, ByteCase{"0", "ff", "Mox_DO(0,255)"},
                                           ByteCase{"0", "1FF", "Mox_DO(0,255)"}, ByteCase{"0", "100", "Mox_DO(0,0)"},
                                           ByteCase{"0", "G", "Mox_DO(0,0)"}, ByteCase{"5", "A5", "Mox_DO(1,165)"},
                                           ByteCase{"-1", "1", "Mox_DO(-1,1)"}, ByteCase{"1", "", "Mox_DO(1,0)"},
                                           ByteCase{"abc", "7", "Mox_DO(0,7)"},
                                           ByteCase{"1e999", "FFFFFFFFFFFFFF", "Mox_DO(1,255)"},
                                           ByteCase{"-1e999", "12345678", "Mox_DO(-32768,120)"}));

struct BitCase {
    const char* value;
    const char* channel;
    const char* call;
    const char* shown;
};

class BitOutput : public DigitalIO, public ::testing::WithParamInterface<BitCase> {};

TEST_P(BitOutput, SendsBitIndexAndValue) {
    Set("txtDOValue", GetParam().value);
    Set("txtDOChn", GetParam().channel);
    EXPECT_EQ(Press("cmdDOOutput"), Calls{GetParam().call});
    EXPECT_EQ(Text("txtDOValue"), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BitOutput,
    ::testing::Values(BitCase{"5", "1", "Mox_DOBit(0,1)", " 1"}, BitCase{"abc", "1", "Mox_DOBit(0,0)", " 0"},
                      BitCase{"0.4", "1", "Mox_DOBit(0,0)", " 0"}, BitCase{"0.6", "1", "Mox_DOBit(0,1)", " 1"},
                      BitCase{"-1", "1", "Mox_DOBit(0,1)", " 1"}, BitCase{"1", "0", "Mox_DOBit(0,1)", " 1"},
                      BitCase{"1", "-3", "Mox_DOBit(0,1)", " 1"}, BitCase{"1", "16", "Mox_DOBit(15,1)", " 1"},
                      BitCase{"1", "17", "Mox_DOBit(16,1)", " 1"}, BitCase{"1", "2.5", "Mox_DOBit(1,1)", " 1"},
                      BitCase{"1e999", "1e999", "Mox_DOBit(32766,1)", " 1"},
                      BitCase{"0", "-1e999", "Mox_DOBit(0,0)", " 0"}));

struct ToggleCase {
    const char* before;
    const char* after;
};

class Toggle : public DigitalIO, public ::testing::WithParamInterface<ToggleCase> {};

TEST_P(Toggle, DoubleClickFlipsTheValueAndSendsNothing) {
    Set("txtDOValue", GetParam().before);
    FakeDriver::Get().ClearLog();
    QTest::mouseDClick(Find<QLineEdit>("txtDOValue"), Qt::LeftButton);
    EXPECT_EQ(Text("txtDOValue"), GetParam().after);
    for (const auto& call : FakeDriver::Get().Calls()) EXPECT_EQ(call, "Mox_DI(2)");
}

INSTANTIATE_TEST_SUITE_P(Values, Toggle,
                         ::testing::Values(ToggleCase{"0", " 1"}, ToggleCase{" 1", " 0"}, ToggleCase{"0.4", " 0"},
                                           ToggleCase{"x1", " 1"}, ToggleCase{"", " 1"}, ToggleCase{"-0", " 1"}));

TEST_F(DigitalIO, DoubleClickTwiceRestores) {
    auto* box = Find<QLineEdit>("txtDOValue");
    QTest::mouseDClick(box, Qt::LeftButton);
    EXPECT_EQ(Text("txtDOValue"), " 1");
    QTest::mouseDClick(box, Qt::LeftButton);
    EXPECT_EQ(Text("txtDOValue"), " 0");
}

TEST_F(DigitalIO, SpinnerWritesTheChannelAndStaysWithin1To16) {
    window->show();
    auto* spinner = Find<UpDown>("UpDownBitNum");
    auto* up = spinner->findChild<QToolButton*>("up");
    auto* down = spinner->findChild<QToolButton*>("down");
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(Text("txtDOChn"), " 2");
    QTest::mouseClick(down, Qt::LeftButton);
    QTest::mouseClick(down, Qt::LeftButton);
    EXPECT_EQ(spinner->value(), 1);
    EXPECT_EQ(Text("txtDOChn"), " 1");
    for (int i = 0; i < 20; ++i) QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(spinner->value(), 16);
    EXPECT_EQ(Text("txtDOChn"), " 16");

    // Typing does not move the spinner; its next arrow continues from its own value.
    Set("txtDOChn", "5");
    EXPECT_EQ(spinner->value(), 16);
    QTest::mouseClick(down, Qt::LeftButton);
    EXPECT_EQ(Text("txtDOChn"), " 15");
    QTest::keyClick(spinner, Qt::Key_Down);
    EXPECT_EQ(Text("txtDOChn"), " 14");
    QTest::keyClick(spinner, Qt::Key_Up);
    EXPECT_EQ(Text("txtDOChn"), " 15");
}

TEST(DigitalIOWindow, OneInstanceReloadedAfterClosing) {
    FakeDriver::Get().Reset();
    FrmMultiBuf main;
    auto* open = main.findChild<QPushButton*>("cmdSW");
    QTest::mouseClick(open, Qt::LeftButton);
    QPointer<frmSW> first = main.SWWindow();
    ASSERT_NE(first, nullptr);
    QTest::mouseClick(open, Qt::LeftButton);
    EXPECT_EQ(main.SWWindow(), first.data());
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) count += static_cast<int>(qobject_cast<frmSW*>(w) != nullptr);
    EXPECT_EQ(count, 1);

    first->findChild<QLineEdit*>("txtDOChn")->setText("9");
    first->Timer_DI_Timer();
    QTest::mouseClick(first->findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "closing destroys the window and its timer";

    QTest::mouseClick(open, Qt::LeftButton);
    frmSW* again = main.SWWindow();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->findChild<QLineEdit*>("txtDOChn")->text(), "1");
    EXPECT_EQ(again->findChild<QLabel*>("lblMsg")->text(), QStringLiteral("检测状态:"));
    EXPECT_TRUE(again->findChild<QTimer*>("Timer_DI")->isActive());
}
