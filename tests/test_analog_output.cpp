// SPDX-License-Identifier: GPL-3.0-or-later
#include "FrmMultiBuf.h"
#include "fake_driver_client.h"
#include "frmDA.h"
#include "window_test.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

class AnalogOutput : public WindowTest<frmDA> {
protected:
    // Replaces the whole text of a box in one edit, as pasting over it does.
    void Type(const char* box, const char* text) {
        auto* edit = Find<QLineEdit>(box);
        edit->selectAll();
        edit->insert(QString::fromUtf8(text));
    }
};

TEST_F(AnalogOutput, OpensWithTheInitialValues) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("DA输出测试例程"));
    EXPECT_EQ(window->size(), QSize(463, 269));
    EXPECT_EQ(Text("txtDAChn"), "0");
    EXPECT_EQ(Text("txtDAChn2"), "0");
    EXPECT_EQ(Text("txtDAValue"), "800");
    EXPECT_EQ(Text("txtDAV"), "0.000");
    EXPECT_TRUE(Find<QRadioButton>("OptionDA(0)")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("OptionDA(1)")->isChecked());
    EXPECT_EQ(Find<QScrollBar>("VSDA1")->value(), 0);
    EXPECT_EQ(Find<QScrollBar>("VSDA2")->maximum(), 3);
    EXPECT_EQ(Find<QLabel>("Label1(22)")->text(),
              QStringLiteral("测试方法：输出不同地DA值，用万用表在JA1的17.18.19.20上测量DA输出结果"));
    EXPECT_EQ(Find<QLabel>("Label1(21)")->text(),
              QStringLiteral("DA0的输出在JA1的17，DA1-18,DA2-19,DA3-20，地线为40针"));
    EXPECT_TRUE(Find<QLabel>("Label1(21)")->wordWrap());
    EXPECT_EQ(Find<QGroupBox>("Frame3(1)")->title(), QStringLiteral("DA输出测试--16进制DA值输入模式"));
    EXPECT_EQ(Find<QGroupBox>("Frame3(0)")->title(), QStringLiteral("DA输出测试--DA电压值输入"));
    for (const char* name :
         {"Label1(0)", "Label1(1)", "Label1(2)", "Label1(4)", "Label1(19)", "Label1(23)", "Label1(24)"})
        Find<QLabel>(name);
    EXPECT_TRUE(FakeDriver::Get().Calls().empty()) << "opening sends nothing";
    for (auto* box : window->findChildren<QLineEdit*>()) EXPECT_GT(box->maxLength(), 1'000'000) << "no length limit";
}

TEST_F(AnalogOutput, FocusStartsInTheChannelBox) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("txtDAChn"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("txtDAValue"));
}

struct CodeCase {
    const char* value;
    int code;
};

class CodeOutput : public AnalogOutput, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(CodeOutput, SendsTheLow12BitsOfTheHexText) {
    Type("txtDAValue", GetParam().value);
    EXPECT_EQ(Press("cmdDA"), Calls{"Mox_DA(0," + std::to_string(GetParam().code) + ")"}) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, CodeOutput,
                         ::testing::Values(CodeCase{"800", 2048}, CodeCase{"fff", 4095}, CodeCase{"1000", 0},
                                           CodeCase{"", 0}, CodeCase{"G5", 0}, CodeCase{"12345", 0x345},
                                           CodeCase{"1800", 0x800}, CodeCase{"FFFF", 4095}, CodeCase{" 7 f", 0x7F},
                                           CodeCase{"&H12", 0}, CodeCase{"123456789ABC", 4095},
                                           CodeCase{"FFFFFFFFFFFFFFFFFFFFFFFF", 4095}));

struct VoltCase {
    bool bipolar;
    const char* volts;
    int code;
};

class VoltageOutput : public AnalogOutput, public ::testing::WithParamInterface<VoltCase> {};

TEST_P(VoltageOutput, ScalesRoundsAndClips) {
    Find<QRadioButton>(GetParam().bipolar ? "OptionDA(0)" : "OptionDA(1)")->setChecked(true);
    Type("txtDAV", GetParam().volts);
    EXPECT_EQ(Press("cmdDA2"), Calls{"Mox_DA(0," + std::to_string(GetParam().code) + ")"}) << GetParam().volts;
}

INSTANTIATE_TEST_SUITE_P(Unipolar, VoltageOutput,
                         ::testing::Values(VoltCase{false, "0", 0}, VoltCase{false, "1", 410},
                                           VoltCase{false, "3", 1228}, VoltCase{false, "5", 2048},
                                           VoltCase{false, "10", 4095}, VoltCase{false, "12", 4095},
                                           VoltCase{false, "-1", -410}, VoltCase{false, "0.000", 0},
                                           VoltCase{false, "abc", 0}, VoltCase{false, "1e999", 4095},
                                           VoltCase{false, "-1e999", -32768}, VoltCase{false, "-90", -32768}));
INSTANTIATE_TEST_SUITE_P(Bipolar, VoltageOutput,
                         ::testing::Values(VoltCase{true, "-5", 0}, VoltCase{true, "0", 2048},
                                           VoltCase{true, "2.5", 3072}, VoltCase{true, "5", 4095},
                                           VoltCase{true, "+5", 4095}, VoltCase{true, "-6", -409},
                                           VoltCase{true, "0.1", 2089}, VoltCase{true, "0.000", 2048},
                                           VoltCase{true, "75", 4095}));

TEST_F(AnalogOutput, VoltageOutputUsesItsOwnChannelBox) {
    Type("txtDAChn2", "2");
    EXPECT_EQ(Press("cmdDA2"), Calls{"Mox_DA(2,2048)"});
    EXPECT_EQ(Press("cmdDA"), Calls{"Mox_DA(0,2048)"});
}

struct ChannelCase {
    const char* typed;
    const char* shown;
    int value;
};

class ChannelBox : public AnalogOutput, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(ChannelBox, NormalisesItselfAndMovesItsScrollBar) {
    for (auto [box, bar, button] :
         {std::tuple{"txtDAChn", "VSDA1", "cmdDA"}, std::tuple{"txtDAChn2", "VSDA2", "cmdDA2"}}) {
        Type(box, GetParam().typed);
        EXPECT_EQ(Text(box), QString::fromUtf8(GetParam().shown)) << box << " " << GetParam().typed;
        EXPECT_EQ(Find<QScrollBar>(bar)->value(), GetParam().value) << bar;
        const auto calls = Press(button);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].substr(0, 9), "Mox_DA(" + std::to_string(GetParam().value) + ",");
    }
}

INSTANTIATE_TEST_SUITE_P(Typed, ChannelBox,
                         ::testing::Values(ChannelCase{"2", " 2", 2}, ChannelCase{"7", " 3", 3},
                                           ChannelCase{"9", " 3", 3}, ChannelCase{"2.5", " 2", 2},
                                           ChannelCase{"3.5", " 3", 3}, ChannelCase{"-", " 0", 0},
                                           ChannelCase{"x", " 0", 0}, ChannelCase{"", " 0", 0},
                                           ChannelCase{"99999999999", " 3", 3}, ChannelCase{"-7", " 0", 0},
                                           ChannelCase{"1e1", " 3", 3}, ChannelCase{"&H3", " 3", 3}));

TEST_F(AnalogOutput, ScrollBarArrowsStepTheChannelWithinRange) {
    window->show();
    auto* bar = Find<QScrollBar>("VSDA1");
    for (int expected : {1, 2, 3, 3}) {
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        EXPECT_EQ(bar->value(), expected);
        EXPECT_EQ(Text("txtDAChn"), " " + QString::number(expected));
    }
    for (int expected : {2, 1, 0, 0}) {
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        EXPECT_EQ(Text("txtDAChn"), " " + QString::number(expected));
    }
    EXPECT_EQ(Text("txtDAChn2"), "0") << "the other box is not touched";
}

TEST_F(AnalogOutput, ChannelChangeRaisesOneNotificationEach) {
    int textChanges = 0;
    QObject::connect(Find<QLineEdit>("txtDAChn"), &QLineEdit::textChanged, [&] { ++textChanges; });
    Find<QLineEdit>("txtDAChn")->setText("2");
    // "2" typed, then " 2" written back by the scroll bar's notification.
    EXPECT_EQ(textChanges, 2);
    EXPECT_EQ(Text("txtDAChn"), " 2");
}

TEST_F(AnalogOutput, ExitClosesTheWindow) {
    window->show();
    QTest::mouseClick(Find<QPushButton>("cmdExit"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

TEST(AnalogOutputWindow, OneInstanceReloadedAfterClosing) {
    FakeDriver::Get().Reset();
    FrmMultiBuf main;
    auto* open = main.findChild<QPushButton*>("cmdDAOut");
    QTest::mouseClick(open, Qt::LeftButton);
    QPointer<frmDA> first = main.DAWindow();
    ASSERT_NE(first, nullptr);
    QTest::mouseClick(open, Qt::LeftButton);
    EXPECT_EQ(main.DAWindow(), first.data());
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) count += static_cast<int>(qobject_cast<frmDA*>(w) != nullptr);
    EXPECT_EQ(count, 1);

    first->findChild<QLineEdit*>("txtDAValue")->setText("123");
    first->findChild<QRadioButton*>("OptionDA(1)")->setChecked(true);
    first->findChild<QLineEdit*>("txtDAV")->setText("9");
    QTest::mouseClick(first->findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "closing destroys the window";

    QTest::mouseClick(open, Qt::LeftButton);
    frmDA* again = main.DAWindow();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->isVisible());
    EXPECT_EQ(again->findChild<QLineEdit*>("txtDAValue")->text(), "800");
    EXPECT_EQ(again->findChild<QLineEdit*>("txtDAV")->text(), "0.000");
    EXPECT_TRUE(again->findChild<QRadioButton*>("OptionDA(0)")->isChecked());
}
