// SPDX-License-Identifier: GPL-3.0-or-later
#include "DllDef.h"
#include "FrmMultiBuf.h"
#include "fake_driver_client.h"
#include "frmDA.h"
#include "readouts.h"
#include "widgets.h"
#include "window_test.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

std::string Lines(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* l : lines) out += std::string(l) + "\r\n";
    return out;
}

std::array<std::uint8_t, 8> StatusReply(std::array<int, 4> ip, int b5, int b6) {
    return {0,
            static_cast<std::uint8_t>(ip[0]),
            static_cast<std::uint8_t>(ip[1]),
            static_cast<std::uint8_t>(ip[2]),
            static_cast<std::uint8_t>(ip[3]),
            static_cast<std::uint8_t>(b5),
            static_cast<std::uint8_t>(b6),
            0};
}

constexpr std::array<int, 4> kExpected{192, 168, 1, 100};

} // namespace

// ---------------------------------------------------------------- texts

struct IdentityCase {
    std::array<std::uint8_t, 5> reply;
    const char* caption;
};

class CardInfoTest : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(CardInfoTest, CaptionFromReplyBytes) {
    EXPECT_EQ(acq::CardInfoText(GetParam().reply.data()), GetParam().caption);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CardInfoTest,
    ::testing::Values(IdentityCase{{12, 34, 10, 16, 1}, "卡名: 1234 类型: 1  速度: 100K  精度: 16位"},
                      IdentityCase{{0, 0, 0, 0, 0}, "卡名: 0 类型: 0  速度: 0K  精度: 0位"},
                      IdentityCase{{255, 255, 255, 255, 255}, "卡名: 25755 类型: 255  速度: 2550K  精度: 255位"},
                      IdentityCase{{77, 10, 10, 16, 1}, "卡名: 7710 类型: 1  速度: 100K  精度: 16位"}));

struct StatusCase {
    std::array<std::uint8_t, 8> reply;
    std::string text;
};

class NetStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(NetStatusTest, StatusLines) { EXPECT_EQ(acq::NetStatusText(GetParam().reply.data()), GetParam().text); }

const char* const kAdvice = "请设置您的计算机IP地址为192.168.1.100";

INSTANTIATE_TEST_SUITE_P(
    Replies, NetStatusTest,
    ::testing::Values(StatusCase{StatusReply(kExpected, 0, 0), Lines({"网络通信正常"})},
                      StatusCase{StatusReply(kExpected, 0, 2), Lines({"网络通信正常"})},
                      StatusCase{StatusReply(kExpected, 0, 3), Lines({"网络断开时间(秒): 3"})},
                      StatusCase{StatusReply(kExpected, 1, 0), Lines({"网络断开时间(秒): 256"})},
                      StatusCase{StatusReply(kExpected, 255, 255), Lines({"网络断开时间(秒): 65535"})},
                      StatusCase{StatusReply({0, 0, 0, 0}, 0, 0),
                                 Lines({"PC的IP地址是： 0. 0. 0. 0", kAdvice, "网络通信正常"})},
                      StatusCase{StatusReply({200, 100, 10, 1}, 0, 10),
                                 Lines({"PC的IP地址是： 200. 100. 10. 1", kAdvice, "网络断开时间(秒): 10"})},
                      StatusCase{StatusReply({192, 168, 1, 101}, 0, 0),
                                 Lines({"PC的IP地址是： 192. 168. 1. 101", kAdvice, "网络通信正常"})},
                      StatusCase{StatusReply({100, 1, 168, 192}, 0, 0),
                                 Lines({"PC的IP地址是： 100. 1. 168. 192", kAdvice, "网络通信正常"})}));

TEST(ExpectedAddress, OneConstantForNumberAndText) { EXPECT_EQ(acq::ExpectedPcAddressText(), "192.168.1.100"); }

struct ResultCase {
    acq::ReadMode mode;
    float element;
    const char* line; // channel 05
};

class ResultLineTest : public ::testing::TestWithParam<ResultCase> {};

TEST_P(ResultLineTest, LineOfChannel5) {
    std::array<float, acq::kResultElements> results{};
    results[5] = GetParam().element;
    const std::string text = acq::ResultText(GetParam().mode, results);
    const auto start = text.find("\r\n05");
    ASSERT_NE(start, std::string::npos);
    const auto end = text.find("\r\n", start + 2);
    EXPECT_EQ(text.substr(start + 2, end - start - 2), GetParam().line);
}

using acq::ReadMode;
INSTANTIATE_TEST_SUITE_P(Elements, ResultLineTest,
                         ::testing::Values(ResultCase{ReadMode::NewestAD, 32768, "05:8000: 32768 0.000V"},
                                           ResultCase{ReadMode::MeanAD, 32768, "05:8000: 32768 0.000V"},
                                           ResultCase{ReadMode::NewestAD, -32768, "05:8000: 32768 0.000V"},
                                           ResultCase{ReadMode::MeanAD, -1, "05:FFFF: 65535 5.000V"},
                                           ResultCase{ReadMode::NewestAD, 0, "05:0: 0 -5.000V"},
                                           ResultCase{ReadMode::MeanAD, 32768.5f, "05:8000: 32768.5 0.000V"},
                                           ResultCase{ReadMode::MeanAD, 49152, "05:C000: 49152 2.500V"},
                                           ResultCase{ReadMode::MeanAD, -16384.25f, "05:C000: 49151.75 2.500V"},
                                           ResultCase{ReadMode::MeanAD, 0.5f, "05:0: 0.5 -5.000V"},
                                           ResultCase{ReadMode::MeanVoltage, 2.5f, "05 2.500V"},
                                           ResultCase{ReadMode::MeanVoltage, -0.25f, "05 -0.250V"},
                                           ResultCase{ReadMode::MeanVoltage, 0, "05 0.000V"},
                                           ResultCase{ReadMode::MeanVoltage, -32768, "05 -32768.000V"}));

TEST(ResultText, ThirtyTwoLabelledLinesEndingInCrLf) {
    std::array<float, acq::kResultElements> results{};
    results[32] = 99;
    results[33] = 99;
    for (auto mode : {ReadMode::NewestAD, ReadMode::MeanAD, ReadMode::MeanVoltage}) {
        const std::string text = acq::ResultText(mode, results);
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
        std::size_t lines = 0;
        std::size_t pos = 0;
        for (std::size_t next = text.find("\r\n"); next != std::string::npos; next = text.find("\r\n", pos)) {
            const std::string label = (lines < 10 ? "0" : "") + std::to_string(lines);
            EXPECT_EQ(text.substr(pos, 2), label);
            pos = next + 2;
            ++lines;
        }
        EXPECT_EQ(lines, 32u);
        EXPECT_EQ(text.find("99"), std::string::npos) << "elements 32 and 33 never appear";
    }
    EXPECT_EQ(acq::ResultText(ReadMode::NewestAD, results).substr(0, 17), "00:0: 0 -5.000V\r\n");
    EXPECT_EQ(acq::ResultText(ReadMode::MeanVoltage, results).substr(0, 11), "00 0.000V\r\n");
}

// ---------------------------------------------------------------- window

class AcquisitionWindow : public ::testing::Test {
protected:
    void SetUp() override {
        DllDef::InBuf.fill(0);
        DllDef::OutBuf.fill(0);
        fake().Reset();
        fake().SetReply(70, {12, 34, 10, 16, 1});
    }
    void TearDown() override { window.reset(); }

    static FakeDriver& fake() { return FakeDriver::Get(); }

    FrmMultiBuf& Open() {
        window = std::make_unique<FrmMultiBuf>();
        return *window;
    }
    template <typename T>
    T* Find(const char* name) {
        return FindIn<T>(window.get(), name);
    }
    QString BoxText(const char* name) { return Find<QPlainTextEdit>(name)->toPlainText(); }
    bool Acquiring() {
        const bool start = Find<QPushButton>("cmdStart")->isEnabled();
        const bool stop = Find<QPushButton>("cmdStop")->isEnabled();
        const bool timer = Find<QTimer>("TimerAD")->isActive();
        EXPECT_EQ(stop, timer);
        EXPECT_NE(start, stop);
        return timer;
    }
    void StartAcquiring() {
        Open();
        QTest::mouseClick(Find<QPushButton>("cmdStart"), Qt::LeftButton);
        ASSERT_TRUE(Acquiring());
        fake().ClearLog();
    }

    std::unique_ptr<FrmMultiBuf> window;
};

TEST_F(AcquisitionWindow, LoadInitialisesAndShowsTheIdentity) {
    Open();
    EXPECT_EQ(fake().Calls(), (Calls{"Initial(0,0,0,0)", "IOCtl(100,[70,64,0],100)"}));
    EXPECT_EQ(Find<QLabel>("lblCardInfo")->text(), QStringLiteral("卡名: 1234 类型: 1  速度: 100K  精度: 16位"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("MOX VB测试及编程源程序"));
    EXPECT_FALSE(Acquiring());
    EXPECT_TRUE(Find<QCheckBox>("chkUDP_Online")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>("optADRMode(2)")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("optADRMode(0)")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("optADRMode(1)")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("txtMeanNum")->text(), QStringLiteral("20"));
    EXPECT_EQ(BoxText("txtInfo"), QStringLiteral("Info"));
    EXPECT_EQ(BoxText("txtSts"), QStringLiteral("Info"));
    EXPECT_EQ(Find<QTimer>("TimerAD")->interval(), 200);
}

struct Placement {
    const char* name;
    QRect twips;
};

class AcquisitionLayout : public AcquisitionWindow, public ::testing::WithParamInterface<Placement> {};

TEST_P(AcquisitionLayout, ControlSitsWhereTheLayoutPutsIt) {
    Open();
    auto* w = Find<QWidget>(GetParam().name);
    ASSERT_NE(w, nullptr);
    const QRect t = GetParam().twips;
    EXPECT_EQ(w->pos(), QPoint(t.x() / 15, t.y() / 15)) << GetParam().name;
    if (!qobject_cast<QLabel*>(w)) {
        EXPECT_EQ(w->size(), QSize(t.width() / 15, t.height() / 15)) << GetParam().name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Controls, AcquisitionLayout,
    ::testing::Values(Placement{"txtInfo", {0, 45, 2475, 5865}}, Placement{"txtSts", {2520, 45, 2475, 3390}},
                      Placement{"Frame2", {2610, 3555, 1995, 1950}}, Placement{"optADRMode(0)", {90, 225, 1230, 285}},
                      Placement{"optADRMode(1)", {90, 495, 1230, 285}},
                      Placement{"optADRMode(2)", {90, 810, 1230, 285}}, Placement{"Label1(4)", {90, 1260, 810, 180}},
                      Placement{"txtMeanNum", {990, 1170, 645, 330}},
                      Placement{"chkUDP_Online", {225, 1530, 1140, 285}}, Placement{"Label2", {0, 6075, 810, 180}},
                      Placement{"lblCardInfo", {855, 6075, 990, 180}}, Placement{"cmdStart", {45, 6345, 936, 444}},
                      Placement{"cmdStop", {990, 6345, 936, 444}}, Placement{"cmdSW", {1935, 6345, 915, 465}},
                      Placement{"cmdDAOut", {2880, 6345, 825, 465}}, Placement{"cmdExit", {3735, 6345, 840, 480}}),
    [](const auto& param) {
        std::string n = param.param.name;
        for (char& c : n) {
            if (c == '(' || c == ')') c = '_';
        }
        return n;
    });

TEST_F(AcquisitionWindow, FocusStartsOnExitAndFollowsTheTabOrder) {
    Open();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), Find<QPushButton>("cmdExit"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QPushButton>("cmdStart"));
}

TEST_F(AcquisitionWindow, StartStopsFirstThenStartsWithTheFixedParameters) {
    Open();
    fake().ClearLog();
    QTest::mouseClick(Find<QPushButton>("cmdStart"), Qt::LeftButton);
    EXPECT_EQ(fake().Calls(), (Calls{"StopIntr()", "StartIntr(10,300,0,32,1000,0,1)"}));
    EXPECT_TRUE(Acquiring());
}

TEST_F(AcquisitionWindow, RefusedStartShowsTheMessageAndStaysIdle) {
    Open();
    fake().SetReturn("StartIntr", 0);
    fake().ClearLog();
    QString text;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QMessageBox::StandardButtons buttons;
    QTimer answer; // closes the box once it is up
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        answer.stop();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        box->accept();
    });
    answer.start(10);
    QTest::mouseClick(Find<QPushButton>("cmdStart"), Qt::LeftButton);
    EXPECT_EQ(text, QStringLiteral("启动错误!请检查网络设置是否正确，驱动程序是否是MOX7710? "));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(fake().Calls(), (Calls{"StopIntr()", "StartIntr(10,300,0,32,1000,0,1)", "GetLastADError()"}));
    EXPECT_FALSE(Acquiring());
}

TEST_F(AcquisitionWindow, StartStopStartStopsTheDriverEachTime) {
    Open();
    fake().ClearLog();
    QTest::mouseClick(Find<QPushButton>("cmdStart"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>("cmdStop"), Qt::LeftButton);
    EXPECT_FALSE(Acquiring());
    QTest::mouseClick(Find<QPushButton>("cmdStart"), Qt::LeftButton);
    EXPECT_EQ(fake().Calls(), (Calls{"StopIntr()", "StartIntr(10,300,0,32,1000,0,1)", "StopIntr()", "StopIntr()",
                                     "StartIntr(10,300,0,32,1000,0,1)"}));
    EXPECT_TRUE(Acquiring());
}

TEST_F(AcquisitionWindow, StopRestoresIdleWhateverTheDriverSays) {
    StartAcquiring();
    fake().SetReturn("StopIntr", 0);
    QTest::mouseClick(Find<QPushButton>("cmdStop"), Qt::LeftButton);
    EXPECT_FALSE(Acquiring());
}

struct TickCase {
    int mode;
    bool online;
    const char* meanNum;
    Calls calls;
};

class TickTest : public AcquisitionWindow, public ::testing::WithParamInterface<TickCase> {};

TEST_P(TickTest, NetworkStatusThenTheSelectedReadout) {
    StartAcquiring();
    Find<QRadioButton>(("optADRMode(" + std::to_string(GetParam().mode) + ")").c_str())->setChecked(true);
    Find<QCheckBox>("chkUDP_Online")->setChecked(GetParam().online);
    Find<QLineEdit>("txtMeanNum")->setText(QString::fromUtf8(GetParam().meanNum));
    window->TimerAD_Timer();
    EXPECT_EQ(fake().Calls(), GetParam().calls);
}

const char* const kStatusCall = "IOCtl(100,[130,64,0],100)";
INSTANTIATE_TEST_SUITE_P(
    Modes, TickTest,
    ::testing::Values(TickCase{2, true, "20", {kStatusCall, "ADResult_DV(0,32,1,1,20)"}},
                      TickCase{1, true, "20", {kStatusCall, "ADResult_DV(0,32,0,1,20)"}},
                      TickCase{0, true, "20", {kStatusCall, "ADResult_DV(0,32,0,0,0)"}},
                      TickCase{2, false, "20", {kStatusCall}}, TickCase{0, false, "20", {kStatusCall}},
                      TickCase{2, true, "abc", {kStatusCall, "ADResult_DV(0,32,1,1,0)"}},
                      TickCase{1, true, " 2 0", {kStatusCall, "ADResult_DV(0,32,0,1,20)"}},
                      TickCase{2, true, "2.5", {kStatusCall, "ADResult_DV(0,32,1,1,2.5)"}},
                      TickCase{1, true, "-3", {kStatusCall, "ADResult_DV(0,32,0,1,-3)"}},
                      TickCase{2, true, "0.1", {kStatusCall, "ADResult_DV(0,32,1,1,0.100000001)"}},
                      TickCase{2, true, "1e999", {kStatusCall, "ADResult_DV(0,32,1,1,3.40282347e+38)"}},
                      TickCase{0, true, "abc", {kStatusCall, "ADResult_DV(0,32,0,0,0)"}}));

TEST_F(AcquisitionWindow, TimerTicksEvery200ms) {
    StartAcquiring();
    QSignalSpy spy(Find<QTimer>("TimerAD"), &QTimer::timeout);
    ASSERT_TRUE(spy.wait(1000));
    EXPECT_EQ(fake().Calls(), (Calls{kStatusCall, "ADResult_DV(0,32,1,1,20)"}));
}

TEST_F(AcquisitionWindow, TickWritesStatusAndResultBoxes) {
    StartAcquiring();
    const auto reply = StatusReply({200, 100, 10, 1}, 0, 10);
    fake().SetReply(130, std::vector<std::uint8_t>(reply.begin(), reply.end()));
    std::vector<float> results(34, 0.0f);
    results[5] = 2.5f;
    fake().SetResults(results);
    window->TimerAD_Timer();
    EXPECT_EQ(BoxText("txtSts"),
              QStringLiteral("PC的IP地址是： 200. 100. 10. 1\n请设置您的计算机IP地址为192.168.1.100\n"
                             "网络断开时间(秒): 10\n"));
    const QStringList lines = BoxText("txtInfo").split('\n');
    ASSERT_EQ(lines.size(), 33); // 32 lines and the empty one after the last line end
    EXPECT_EQ(lines[5], QStringLiteral("05 2.500V"));
    EXPECT_EQ(lines[31], QStringLiteral("31 0.000V"));

    // Unticked: only the status is refreshed; the list keeps what it showed.
    Find<QCheckBox>("chkUDP_Online")->setChecked(false);
    results[5] = 1.0f;
    fake().SetResults(results);
    window->TimerAD_Timer();
    EXPECT_EQ(BoxText("txtInfo").split('\n')[5], QStringLiteral("05 2.500V"));
}

TEST_F(AcquisitionWindow, StatusRequestKeepsByteTwoFromStartUp) {
    StartAcquiring();
    DllDef::InBuf[3] = 0;
    window->ShowNetStatus();
    EXPECT_EQ(DllDef::InBuf[0], 130);
    EXPECT_EQ(DllDef::InBuf[1], 64);
    EXPECT_EQ(DllDef::InBuf[2], 0);
}

TEST_F(AcquisitionWindow, ExitStopsTheDriverAndEndsTheProgramWithoutUnload) {
    StartAcquiring();
    window->show();
    QTimer press;
    press.setSingleShot(true);
    QObject::connect(&press, &QTimer::timeout,
                     [&] { QTest::mouseClick(Find<QPushButton>("cmdExit"), Qt::LeftButton); });
    press.start(0);
    QTimer guard; // against a hang
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(fake().Calls(), Calls{"StopIntr()"});
    EXPECT_FALSE(Find<QTimer>("TimerAD")->isActive());
}

TEST_F(AcquisitionWindow, CloseBoxStopsAcquisitionButLeavesOtherWindowsOpen) {
    StartAcquiring();
    window->show();
    QTest::mouseClick(Find<QPushButton>("cmdDAOut"), Qt::LeftButton);
    ASSERT_NE(window->DAWindow(), nullptr);
    fake().ClearLog();
    EXPECT_TRUE(window->close());
    EXPECT_EQ(fake().Calls(), Calls{"StopIntr()"});
    EXPECT_FALSE(Find<QTimer>("TimerAD")->isActive());
    EXPECT_TRUE(window->DAWindow()->isVisible());
}

// ---------------------------------------------------------------- refreshed boxes

namespace {

QString NumberedLines(int count, const QString& value = QStringLiteral("0.000V")) {
    QString text;
    for (int i = 0; i < count; ++i) text += QStringLiteral("%1 %2\n").arg(i, 2, 10, QLatin1Char('0')).arg(value);
    return text;
}

// A box as the windows make them, ten lines high, shown.
class RefreshedBox : public ::testing::Test {
protected:
    void SetUp() override {
        parent.resize(400, 400);
        box = mox::MakeTextBox(&parent, QStringLiteral("box"), QString(), QRect(0, 0, 200, 160));
        parent.show();
    }
    QScrollBar* Vertical() { return box->verticalScrollBar(); }

    QWidget parent;
    QPlainTextEdit* box = nullptr;
};

enum class Top { Kept, End };

struct ScrollCase {
    const char* name;
    int linesBefore;
    int scrollTo; // -1: to the end
    int linesAfter;
    Top top; // the line that was at the top, or the end of the new text
};

class RefreshedBoxScroll : public RefreshedBox, public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(RefreshedBoxScroll, KeepsTheLineAtTheTopAsFarAsTheNewTextReaches) {
    const ScrollCase& c = GetParam();
    mox::ReplaceBoxText(box, NumberedLines(c.linesBefore));
    ASSERT_GT(Vertical()->maximum(), 0) << "the text must be longer than the box";
    Vertical()->setValue(c.scrollTo < 0 ? Vertical()->maximum() : c.scrollTo);
    const int before = Vertical()->value();
    ASSERT_GT(before, 0);

    mox::ReplaceBoxText(box, NumberedLines(c.linesAfter, QStringLiteral("2.500V")));
    ASSERT_TRUE(box->toPlainText().contains(QStringLiteral("2.500V"))) << "the text was replaced";
    if (c.top == Top::Kept) {
        EXPECT_EQ(Vertical()->value(), before);
    } else {
        EXPECT_EQ(Vertical()->value(), Vertical()->maximum());
        EXPECT_LE(Vertical()->maximum(), before);
    }
    EXPECT_EQ(box->textCursor().position(), 0) << "the caret stays where it was";
}

INSTANTIATE_TEST_SUITE_P(Texts, RefreshedBoxScroll,
                         ::testing::Values(ScrollCase{"SameLength", 32, 15, 32, Top::Kept},
                                           ScrollCase{"SameLengthAtTheEnd", 32, -1, 32, Top::Kept},
                                           ScrollCase{"LongerKeepsTheTopLineNotTheEnd", 32, -1, 100, Top::Kept},
                                           ScrollCase{"ShorterClampsToItsEnd", 100, 80, 40, Top::End},
                                           ScrollCase{"ShorterThanTheBoxShowsItAll", 100, 50, 3, Top::End}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(RefreshedBox, KeepsASelectionOnTheSameCharactersAndCutsItAtAShorterEnd) {
    mox::ReplaceBoxText(box, NumberedLines(32));
    QTextCursor selection = box->textCursor();
    selection.setPosition(21);
    selection.setPosition(30, QTextCursor::KeepAnchor); // "2 0.000V" and its line end
    box->setTextCursor(selection);
    Vertical()->setValue(10);

    mox::ReplaceBoxText(box, NumberedLines(32, QStringLiteral("1.250V")));
    EXPECT_EQ(box->textCursor().anchor(), 21);
    EXPECT_EQ(box->textCursor().position(), 30);
    EXPECT_EQ(box->textCursor().selectedText(), QStringLiteral("2 1.250V\u2029"));
    EXPECT_EQ(Vertical()->value(), 10) << "restoring the selection must not scroll to it";

    selection.setPosition(40);
    selection.setPosition(20, QTextCursor::KeepAnchor); // selected upwards
    box->setTextCursor(selection);
    mox::ReplaceBoxText(box, QStringLiteral("00 9.000V\n01 9.000V\n02 9"));
    EXPECT_EQ(box->textCursor().anchor(), 24) << "cut back to the end of the text";
    EXPECT_EQ(box->textCursor().position(), 20);
}

TEST_F(RefreshedBox, AnUnchangedTextIsNotRewritten) {
    mox::ReplaceBoxText(box, NumberedLines(32));
    QTextCursor selection = box->textCursor();
    selection.setPosition(3);
    selection.setPosition(9, QTextCursor::KeepAnchor);
    box->setTextCursor(selection);
    Vertical()->setValue(12);
    QSignalSpy changes(box, &QPlainTextEdit::textChanged);

    mox::SetBoxText(box, NumberedLines(32).replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdString());
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(box->textCursor().selectedText(), QStringLiteral("0.000V"));
    EXPECT_EQ(Vertical()->value(), 12);
}

TEST_F(RefreshedBox, KeepsTheSidewaysScrollOfUnwrappedLines) {
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QString wide = QString(300, QLatin1Char('x'));
    mox::ReplaceBoxText(box, NumberedLines(32, wide));
    ASSERT_GT(box->horizontalScrollBar()->maximum(), 100);
    box->horizontalScrollBar()->setValue(100);
    Vertical()->setValue(7);

    mox::ReplaceBoxText(box, NumberedLines(32, QString(300, QLatin1Char('y'))));
    EXPECT_EQ(box->horizontalScrollBar()->value(), 100);
    EXPECT_EQ(Vertical()->value(), 7);
}

} // namespace

TEST_F(AcquisitionWindow, TheInputListKeepsItsScrollPositionThroughTheTicks) {
    StartAcquiring();
    window->show();
    std::vector<float> results(34, 0.0f);
    fake().SetResults(results);
    window->TimerAD_Timer();
    auto* list = Find<QPlainTextEdit>("txtInfo");
    QScrollBar* bar = list->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the 32 inputs do not fit the box";
    bar->setValue(bar->maximum());
    const int bottom = bar->value();

    // The operator reads the last inputs while the values change.
    for (float volts : {1.0f, 2.0f, 3.0f}) {
        results[31] = volts;
        fake().SetResults(results);
        window->TimerAD_Timer();
        ASSERT_EQ(BoxText("txtInfo").split('\n')[31], QStringLiteral("31 %1.000V").arg(static_cast<int>(volts)));
        EXPECT_EQ(bar->value(), bottom) << volts;
    }
}
