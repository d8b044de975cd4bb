// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmSW.h"

#include "DllDef.h"
#include "UpDown.h"
#include "card_io.h"
#include "conversions.h"
#include "widgets.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using mox::Twips;

namespace {

constexpr std::int32_t kInputGroups = 2;
constexpr double kLblDIPointSize = 21.75;

QString Text(const std::string& s) { return QString::fromStdString(s); }

std::string BoxText(const QLineEdit* box) { return box->text().toStdString(); }

} // namespace

namespace dio {

InputTexts BuildInputTexts(std::int16_t element0, std::int16_t element1) {
    const int g0 = element0 & 0xFF;
    const int g1 = element1 & 0xFF;
    auto bits = [](int g) {
        std::string out;
        for (int i = 7; i >= 0; --i) out += (g >> i) & 1 ? "   1" : "   0";
        return out;
    };
    std::string index;
    for (int i = 7; i >= 0; --i) index += "   " + mox::HexText(i);
    return {mox::HexText(g0) + "  " + mox::HexText(g1), mox::HexText(g0) + "   " + bits(g0), "         " + index,
            mox::HexText(g1) + "   " + bits(g1)};
}

} // namespace dio

frmSW::frmSW(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmSW"));
    setWindowTitle(tr("开关量测试例程"));
    setFixedSize(Twips(0, 0, 5520, 4770).size());

    // Created in this order: the order of the window's children, and Tab's
    // order among the controls SetTabOrder does not name.
    CreateInputs();
    CreateByteOutput();
    CreateBitOutput();
    cmdExit = mox::MakeButton(this, QStringLiteral("cmdExit"), tr("退出"), Twips(3825, 3690, 1185, 510));
    lblMsg = mox::MakeLabel(this, QStringLiteral("lblMsg"), tr("检测状态:"), Twips(225, 4455, 810, 180));

    Timer_DI = new QTimer(this);
    Timer_DI->setObjectName(QStringLiteral("Timer_DI"));
    Timer_DI->setInterval(kTimerDIIntervalMs);

    SetUpKeyboard();
    SetAccessibleTexts();
    CreateConnections();
    Timer_DI->start();
}

// Both input groups: as one hexadecimal pair, and bit by bit.
void frmSW::CreateInputs() {
    Label1[12] = mox::MakeLabel(this, mox::IndexedName("Label1", 12), tr("开关量输入:"), Twips(90, 135, 990, 180));
    lblDI = new QLabel(this);
    lblDI->setObjectName(QStringLiteral("lblDI"));
    lblDI->setFont(mox::UiFont(kLblDIPointSize));
    lblDI->setTextFormat(Qt::PlainText);
    lblDI->setGeometry(Twips(1170, 45, 450, 435));
    lblDI->setProperty("autoSize", true);
    mox::SetCaption(lblDI, QStringLiteral("00"));

    Frame2 = mox::MakeFrame(this, QStringLiteral("Frame2"), tr("开关量输入"), Twips(45, 540, 5475, 1440));
    Label1[4] = mox::MakeLabel(Frame2, mox::IndexedName("Label1", 4), tr("位:"), Twips(168, 336, 180, 192));
    lblBit = mox::MakeLabel(Frame2, QStringLiteral("lblBit"), QStringLiteral("Bit"), Twips(930, 300, 180, 195));
    Label1[6] = mox::MakeLabel(Frame2, mox::IndexedName("Label1", 6), tr("开关量输入0："), Twips(168, 696, 948, 192));
    lblDI_0 = mox::MakeLabel(Frame2, QStringLiteral("lblDI_0"), QStringLiteral("DI0"), Twips(1320, 690, 240, 195));
    Label1[7] = mox::MakeLabel(Frame2, mox::IndexedName("Label1", 7), tr("开关量输入1："), Twips(144, 1056, 948, 192));
    lblDI_1 = mox::MakeLabel(Frame2, QStringLiteral("lblDI_1"), QStringLiteral("DI1"), Twips(1320, 1050, 240, 195));
}

void frmSW::CreateByteOutput() {
    Frame1 =
        mox::MakeFrame(this, QStringLiteral("Frame1"), tr("开关量输出--按字节输出模式"), Twips(90, 2115, 3555, 1110));
    Label1[9] =
        mox::MakeLabel(Frame1, mox::IndexedName("Label1", 9), tr("通道组（0 或1）："), Twips(195, 330, 1545, 180));
    txtswChn = mox::MakeLineEdit(Frame1, QStringLiteral("txtswChn"), QStringLiteral("0"), Twips(2040, 270, 516, 300));
    Label1[8] =
        mox::MakeLabel(Frame1, mox::IndexedName("Label1", 8), tr("开关量输出值(hex)："), Twips(45, 750, 1740, 180));
    txtSWO_0 = mox::MakeLineEdit(Frame1, QStringLiteral("txtSWO_0"), QStringLiteral("00"), Twips(2064, 675, 516, 288));
    cmdSWO = mox::MakeButton(Frame1, QStringLiteral("cmdSWO"), tr("输出"), Twips(2700, 450, 768, 336));
}

void frmSW::CreateBitOutput() {
    Frame3[0] = mox::MakeFrame(this, mox::IndexedName("Frame3", 0), tr("开关量输出--按位输出模式"),
                               Twips(90, 3285, 3555, 1110));
    Label1[11] = mox::MakeLabel(Frame3[0], mox::IndexedName("Label1", 11), tr("开关量输出值(0 /1)："),
                                Twips(90, 360, 1800, 180));
    txtDOValue =
        mox::MakeLineEdit(Frame3[0], QStringLiteral("txtDOValue"), QStringLiteral("0"), Twips(1845, 270, 516, 300));
    Label1[13] =
        mox::MakeLabel(Frame3[0], mox::IndexedName("Label1", 13), tr("(双击改变)"), Twips(2385, 270, 900, 180));
    Label1[10] =
        mox::MakeLabel(Frame3[0], mox::IndexedName("Label1", 10), tr("通道组数(1-16)："), Twips(90, 765, 1440, 180));
    txtDOChn =
        mox::MakeLineEdit(Frame3[0], QStringLiteral("txtDOChn"), QStringLiteral("1"), Twips(1890, 675, 516, 288));
    UpDownBitNum = new UpDown(1, 16, 1, Frame3[0]);
    UpDownBitNum->setObjectName(QStringLiteral("UpDownBitNum"));
    UpDownBitNum->setGeometry(Twips(2385, 675, 240, 285));
    cmdDOOutput = mox::MakeButton(Frame3[0], QStringLiteral("cmdDOOutput"), tr("输出"), Twips(2790, 540, 630, 510));
}

void frmSW::SetUpKeyboard() {
    mox::SetTabOrder({cmdExit, txtswChn, txtSWO_0, cmdSWO, UpDownBitNum, cmdDOOutput, txtDOChn, txtDOValue});
    cmdExit->setFocus();
}

void frmSW::SetAccessibleTexts() {
    mox::SetAccessible(cmdExit, tr("退出"), tr("关闭开关量测试窗口"));
    mox::SetAccessible(txtswChn, tr("开关量输出通道组"), tr("输出组0或1"));
    mox::SetAccessible(txtSWO_0, tr("开关量输出值（十六进制）"), tr("一组8路输出的字节值，00到FF"));
    mox::SetAccessible(cmdSWO, tr("按字节输出"), tr("把字节值输出到所选通道组"));
    mox::SetAccessible(UpDownBitNum, tr("输出通道号步进"), tr("用上下箭头改变输出通道号，1到16"));
    mox::SetAccessible(cmdDOOutput, tr("按位输出"), tr("把0或1输出到所选通道"));
    mox::SetAccessible(txtDOChn, tr("输出通道号（1-16）"), tr("按位输出的通道号"));
    mox::SetAccessible(txtDOValue, tr("开关量输出值（0/1）"), tr("按位输出的值；双击改变"));
}

void frmSW::CreateConnections() {
    txtDOValue->installEventFilter(this);
    connect(Timer_DI, &QTimer::timeout, this, &frmSW::Timer_DI_Timer);
    connect(cmdSWO, &QPushButton::clicked, this, &frmSW::cmdSWO_Click);
    connect(cmdDOOutput, &QPushButton::clicked, this, &frmSW::cmdDOOutput_Click);
    connect(UpDownBitNum, &UpDown::valueChanged, this, &frmSW::UpDownBitNum_Change);
    connect(cmdExit, &QPushButton::clicked, this, &frmSW::cmdExit_Click);
}

void frmSW::Timer_DI_Timer() {
    const std::int32_t r = DllDef::Mox_DI(kInputGroups, DllDef::DIBuf.data());
    if ((r & 0xFFFF) == 0) {
        mox::SetCaption(lblMsg, tr("读取错误!,请检查连接"));
        return;
    }
    mox::SetCaption(lblMsg, tr("通讯正常"));
    const dio::InputTexts texts = dio::BuildInputTexts(DllDef::DIBuf[0], DllDef::DIBuf[1]);
    mox::SetCaption(lblDI, Text(texts.lblDI));
    mox::SetCaption(lblDI_0, Text(texts.lblDI_0));
    mox::SetCaption(lblBit, Text(texts.lblBit));
    mox::SetCaption(lblDI_1, Text(texts.lblDI_1));
}

void frmSW::cmdSWO_Click() {
    const std::int16_t group = mox::DoGroup(BoxText(txtswChn));
    DllDef::DOBuf[0] = mox::DoByteFromHex(BoxText(txtSWO_0));
    DllDef::Mox_DO(group, DllDef::DOBuf[0]);
}

void frmSW::cmdDOOutput_Click() {
    const std::int16_t v = mox::DoBitValue(BoxText(txtDOValue));
    txtDOValue->setText(Text(mox::NumberText(static_cast<double>(v))));
    DllDef::Mox_DOBit(mox::DoBitIndex(BoxText(txtDOChn)), v);
}

void frmSW::txtDOValue_DblClick() {
    const double x = mox::TextToNumber(txtDOValue->text().toStdString());
    txtDOValue->setText(Text(mox::NumberText(x == 0 ? 1.0 : 0.0)));
}

void frmSW::UpDownBitNum_Change() {
    txtDOChn->setText(Text(mox::NumberText(static_cast<double>(UpDownBitNum->value()))));
}

void frmSW::cmdExit_Click() { close(); }

bool frmSW::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtDOValue && event->type() == QEvent::MouseButtonDblClick) {
        txtDOValue_DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
