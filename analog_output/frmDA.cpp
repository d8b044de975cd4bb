// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmDA.h"

#include "DllDef.h"
#include "card_io.h"
#include "conversions.h"
#include "widgets.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

using mox::Twips;

namespace {

constexpr std::int16_t kMaxChannel = 3;

QScrollBar* MakeSpinBar(QWidget* parent, const QString& name, QRect geometry) {
    auto* bar = new QScrollBar(Qt::Vertical, parent);
    bar->setObjectName(name);
    bar->setGeometry(geometry);
    bar->setRange(0, kMaxChannel);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setValue(0);
    // Reached with Tab and stepped with the arrow keys, as with its arrows.
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

std::string Text(const QLineEdit* box) { return box->text().toStdString(); }

// Keeps a channel box and its spin bar on one value in 0..3.
void NormaliseChannel(QLineEdit* box, QScrollBar* bar) {
    std::int16_t n = mox::ToInt16(mox::TextToNumber(box->text().toStdString()));
    if (n > kMaxChannel) n = kMaxChannel;
    if (n < 0) n = 0;
    bar->setValue(n);
    box->setText(QString::fromStdString(mox::NumberText(static_cast<double>(n))));
}

} // namespace

frmDA::frmDA(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmDA"));
    setWindowTitle(tr("DA输出测试例程"));
    setFixedSize(Twips(0, 0, 6945, 4035).size());

    // Created in this order: the order of the window's children, and Tab's
    // order among the controls SetTabOrder does not name.
    CreateInstructions();
    CreateHexFrame();
    CreateVoltageFrame();
    // Empty members of the label array, below the visible part of their frames.
    Label1[4] = mox::MakeLabel(Frame3[1], mox::IndexedName("Label1", 4), QString(), Twips(120, 1020, 15, 180));
    Label1[19] = mox::MakeLabel(Frame3[0], mox::IndexedName("Label1", 19), QString(), Twips(120, 1290, 15, 180));

    cmdExit = mox::MakeButton(this, QStringLiteral("cmdExit"), tr("退出"), Twips(2475, 3285, 2940, 600));

    SetUpKeyboard();
    SetAccessibleTexts();
    CreateConnections();
    Form_Load();
}

void frmDA::CreateInstructions() {
    Label1[22] = mox::MakeLabel(this, mox::IndexedName("Label1", 22),
                                tr("测试方法：输出不同地DA值，用万用表在JA1的17.18.19.20上测量DA输出结果"),
                                Twips(405, 225, 6120, 180));
    Label1[21] =
        mox::MakeLabel(this, mox::IndexedName("Label1", 21), tr("DA0的输出在JA1的17，DA1-18,DA2-19,DA3-20，地线为40针"),
                       Twips(405, 495, 5340, 360), false);
    Label1[21]->setWordWrap(true);
    Label1[21]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void frmDA::CreateHexFrame() {
    Frame3[1] = mox::MakeFrame(this, mox::IndexedName("Frame3", 1), tr("DA输出测试--16进制DA值输入模式"),
                               Twips(405, 900, 6465, 990));
    Label1[23] = mox::MakeLabel(Frame3[1], mox::IndexedName("Label1", 23), tr("通道号（0-3:DA0-DA3）："),
                                Twips(120, 360, 2070, 180));
    txtDAChn =
        mox::MakeLineEdit(Frame3[1], QStringLiteral("txtDAChn"), QStringLiteral("0"), Twips(2520, 240, 555, 300));
    VSDA1 = MakeSpinBar(Frame3[1], QStringLiteral("VSDA1"), Twips(3015, 225, 195, 330));
    Label1[24] =
        mox::MakeLabel(Frame3[1], mox::IndexedName("Label1", 24), tr("DA值(hex0-FFFH)："), Twips(120, 600, 1530, 180));
    txtDAValue =
        mox::MakeLineEdit(Frame3[1], QStringLiteral("txtDAValue"), QStringLiteral("800"), Twips(2520, 600, 735, 288));
    cmdDA = mox::MakeButton(Frame3[1], QStringLiteral("cmdDA"), tr("输出"), Twips(3360, 360, 768, 336));
}

void frmDA::CreateVoltageFrame() {
    Frame3[0] = mox::MakeFrame(this, mox::IndexedName("Frame3", 0), tr("DA输出测试--DA电压值输入"),
                               Twips(405, 1980, 6465, 1260));
    Label1[1] = mox::MakeLabel(Frame3[0], mox::IndexedName("Label1", 1), tr("通道号（0-3:DA0-DA3）："),
                               Twips(90, 540, 2070, 180));
    txtDAChn2 =
        mox::MakeLineEdit(Frame3[0], QStringLiteral("txtDAChn2"), QStringLiteral("0"), Twips(2340, 495, 555, 300));
    VSDA2 = MakeSpinBar(Frame3[0], QStringLiteral("VSDA2"), Twips(2880, 495, 195, 330));
    Label1[0] = mox::MakeLabel(Frame3[0], mox::IndexedName("Label1", 0), tr("DA值(V)："), Twips(120, 945, 810, 180));
    txtDAV =
        mox::MakeLineEdit(Frame3[0], QStringLiteral("txtDAV"), QStringLiteral("0.000"), Twips(2340, 855, 735, 288));
    Label1[2] =
        mox::MakeLabel(Frame3[0], mox::IndexedName("Label1", 2), QStringLiteral("V"), Twips(3150, 900, 90, 180));
    cmdDA2 = mox::MakeButton(Frame3[0], QStringLiteral("cmdDA2"), tr("输出"), Twips(3330, 270, 768, 600));
    Frame1 = mox::MakeFrame(Frame3[0], QStringLiteral("Frame1"), tr("DA输出量程"), Twips(4635, 225, 1545, 825));
    OptionDA[0] =
        mox::MakeOption(Frame1, mox::IndexedName("OptionDA", 0), QStringLiteral("-5V~+5V"), Twips(180, 270, 1140, 285));
    OptionDA[1] =
        mox::MakeOption(Frame1, mox::IndexedName("OptionDA", 1), QStringLiteral("0-10V"), Twips(180, 495, 1140, 285));
    OptionDA[0]->setChecked(true);
}

void frmDA::SetUpKeyboard() {
    mox::SetTabOrder(
        {txtDAChn, txtDAValue, cmdDA, VSDA1, VSDA2, cmdDA2, txtDAV, txtDAChn2, OptionDA[0], OptionDA[1], cmdExit});
    txtDAChn->setFocus();
    mox::TabToCheckedOption({OptionDA[0], OptionDA[1]});
}

void frmDA::SetAccessibleTexts() {
    mox::SetAccessible(txtDAChn, tr("DA通道号（十六进制输入）"), tr("DA通道0到3"));
    mox::SetAccessible(txtDAValue, tr("DA值（十六进制）"), tr("十六进制DA码，0到FFF"));
    mox::SetAccessible(cmdDA, tr("输出十六进制DA值"), tr("把十六进制DA值输出到所选通道"));
    mox::SetAccessible(VSDA1, tr("DA通道号步进（十六进制输入）"), tr("用上下箭头改变DA通道号"));
    mox::SetAccessible(VSDA2, tr("DA通道号步进（电压输入）"), tr("用上下箭头改变DA通道号"));
    mox::SetAccessible(cmdDA2, tr("输出DA电压"), tr("把电压值按所选量程输出到所选通道"));
    mox::SetAccessible(txtDAV, tr("DA电压值（V）"), tr("要输出的电压，单位伏"));
    mox::SetAccessible(txtDAChn2, tr("DA通道号（电压输入）"), tr("DA通道0到3"));
    mox::SetAccessible(OptionDA[0], tr("-5V~+5V"), tr("DA输出量程：双极性"));
    mox::SetAccessible(OptionDA[1], tr("0-10V"), tr("DA输出量程：单极性"));
    mox::SetAccessible(cmdExit, tr("退出"), tr("关闭DA输出测试窗口"));
}

void frmDA::CreateConnections() {
    connect(cmdDA, &QPushButton::clicked, this, &frmDA::cmdDA_Click);
    connect(cmdDA2, &QPushButton::clicked, this, &frmDA::cmdDA2_Click);
    connect(txtDAChn, &QLineEdit::textChanged, this, &frmDA::txtDAChn_Change);
    connect(txtDAChn2, &QLineEdit::textChanged, this, &frmDA::txtDAChn2_Change);
    connect(VSDA1, &QScrollBar::valueChanged, this, &frmDA::VSDA1_Change);
    connect(VSDA2, &QScrollBar::valueChanged, this, &frmDA::VSDA2_Change);
    connect(cmdExit, &QPushButton::clicked, this, &frmDA::cmdExit_Click);
}

void frmDA::Form_Load() { VSDA1->setValue(0); }

void frmDA::cmdDA_Click() { DllDef::Mox_DA(mox::DaChannel(Text(txtDAChn)), mox::DaCodeFromHex(Text(txtDAValue))); }

void frmDA::cmdDA2_Click() {
    const bool bipolar = OptionDA[0]->isChecked();
    DllDef::Mox_DA(mox::DaChannel(Text(txtDAChn2)), mox::DaCodeFromVolts(Text(txtDAV), bipolar));
}

void frmDA::txtDAChn_Change() { NormaliseChannel(txtDAChn, VSDA1); }
void frmDA::txtDAChn2_Change() { NormaliseChannel(txtDAChn2, VSDA2); }

void frmDA::VSDA1_Change() {
    txtDAChn->setText(QString::fromStdString(mox::NumberText(static_cast<double>(VSDA1->value()))));
}
void frmDA::VSDA2_Change() {
    txtDAChn2->setText(QString::fromStdString(mox::NumberText(static_cast<double>(VSDA2->value()))));
}

void frmDA::cmdExit_Click() { close(); }
