// SPDX-License-Identifier: GPL-3.0-or-later
#include "FrmMultiBuf.h"

#include "DllDef.h"
#include "card_io.h"
#include "conversions.h"
#include "frmDA.h"
#include "frmSW.h"
#include "readouts.h"
#include "widgets.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>

using mox::Twips;

namespace {

using mox::kIoLength;

const char* const kStartFailure =
    QT_TRANSLATE_NOOP("FrmMultiBuf", "启动错误!请检查网络设置是否正确，驱动程序是否是MOX7710? ");

} // namespace

FrmMultiBuf::FrmMultiBuf(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FrmMultiBuf"));
    setWindowTitle(tr("MOX VB测试及编程源程序"));
    words_ = acq::SourceWords().Translated(
        [](const std::string& word) { return QCoreApplication::translate("Readouts", word.c_str()).toStdString(); });
    setFixedSize(Twips(0, 0, 5085, 6915).size());

    // Created in this order: the order of the window's children, and Tab's
    // order among the controls SetTabOrder does not name.
    CreateReadouts();
    CreateBottomRow();

    TimerAD = new QTimer(this);
    TimerAD->setObjectName(QStringLiteral("TimerAD"));
    TimerAD->setInterval(kTimerADIntervalMs);

    SetUpKeyboard();
    SetAccessibleTexts();
    CreateConnections();
    CreateTrendAccess();
    Form_Load();
}

// The inputs' and the network's boxes, and how the inputs are read.
void FrmMultiBuf::CreateReadouts() {
    txtInfo = mox::MakeTextBox(this, QStringLiteral("txtInfo"), QStringLiteral("Info"), Twips(0, 45, 2475, 5865));
    txtSts = mox::MakeTextBox(this, QStringLiteral("txtSts"), QStringLiteral("Info"), Twips(2520, 45, 2475, 3390));
    Frame2 = mox::MakeFrame(this, QStringLiteral("Frame2"), tr("读取数据方式"), Twips(2610, 3555, 1995, 1950));
    const char* const modeCaptions[] = {QT_TR_NOOP("最新AD值"), QT_TR_NOOP("平均AD值"), QT_TR_NOOP("平均电压值")};
    const int modeTops[] = {225, 495, 810};
    for (int i = 0; i < 3; ++i) {
        optADRMode[static_cast<std::size_t>(i)] = mox::MakeOption(
            Frame2, mox::IndexedName("optADRMode", i), tr(modeCaptions[i]), Twips(90, modeTops[i], 1230, 285));
    }
    optADRMode[2]->setChecked(true);
    Label1[4] = mox::MakeLabel(Frame2, mox::IndexedName("Label1", 4), tr("平均点数:"), Twips(90, 1260, 810, 180));
    txtMeanNum =
        mox::MakeLineEdit(Frame2, QStringLiteral("txtMeanNum"), QStringLiteral("20"), Twips(990, 1170, 645, 330));
    chkUDP_Online = new QCheckBox(tr("在线查询"), Frame2);
    chkUDP_Online->setObjectName(QStringLiteral("chkUDP_Online"));
    chkUDP_Online->setGeometry(Twips(225, 1530, 1140, 285));
    chkUDP_Online->setChecked(true);
}

// The card's identity and the command buttons under the boxes.
void FrmMultiBuf::CreateBottomRow() {
    Label2 = mox::MakeLabel(this, QStringLiteral("Label2"), tr("板卡信息:"), Twips(0, 6075, 810, 180));
    lblCardInfo =
        mox::MakeLabel(this, QStringLiteral("lblCardInfo"), QStringLiteral("lblCardInfo"), Twips(855, 6075, 990, 180));
    cmdStart = mox::MakeButton(this, QStringLiteral("cmdStart"), tr("开始采集"), Twips(45, 6345, 936, 444));
    cmdStop = mox::MakeButton(this, QStringLiteral("cmdStop"), tr("停止采集"), Twips(990, 6345, 936, 444));
    cmdSW = mox::MakeButton(this, QStringLiteral("cmdSW"), tr("开关量"), Twips(1935, 6345, 915, 465));
    cmdDAOut = mox::MakeButton(this, QStringLiteral("cmdDAOut"), tr("DA输出"), Twips(2880, 6345, 825, 465));
    cmdExit = mox::MakeButton(this, QStringLiteral("cmdExit"), tr("退出"), Twips(3735, 6345, 840, 480));
}

void FrmMultiBuf::SetUpKeyboard() {
    // Focus order by TabIndex; cmdExit (0) has the focus at start.
    mox::SetTabOrder({cmdExit, cmdStart, cmdStop, Label2, lblCardInfo, txtInfo, cmdDAOut, cmdSW, Frame2, optADRMode[0],
                      optADRMode[1], optADRMode[2], Label1[4], txtMeanNum, chkUDP_Online, txtSts});
    cmdExit->setFocus();
    mox::TabToCheckedOption({optADRMode[0], optADRMode[1], optADRMode[2]});
}

void FrmMultiBuf::SetAccessibleTexts() {
    mox::SetAccessible(txtInfo, tr("32路输入读数"), tr("每个输入一行：通道号和读数"));
    mox::SetAccessible(txtSts, tr("网络状态"), tr("板卡看到的PC地址和网络断开时间"));
    mox::SetAccessible(optADRMode[0], tr("最新AD值"), tr("读取方式：每路最新的AD值"));
    mox::SetAccessible(optADRMode[1], tr("平均AD值"), tr("读取方式：平均点数个AD值的平均"));
    mox::SetAccessible(optADRMode[2], tr("平均电压值"), tr("读取方式：平均点数个采样的平均电压"));
    mox::SetAccessible(txtMeanNum, tr("平均点数"), tr("平均读取方式所平均的采样点数"));
    mox::SetAccessible(chkUDP_Online, tr("在线查询"), tr("采集时每200毫秒刷新输入读数"));
    mox::SetAccessible(cmdStart, tr("开始采集"), tr("启动板卡的中断采集"));
    mox::SetAccessible(cmdStop, tr("停止采集"), tr("停止板卡的采集"));
    mox::SetAccessible(cmdSW, tr("开关量"), tr("打开开关量测试窗口"));
    mox::SetAccessible(cmdDAOut, tr("DA输出"), tr("打开DA输出测试窗口"));
    mox::SetAccessible(cmdExit, tr("退出"), tr("停止采集并结束程序"));
}

void FrmMultiBuf::CreateConnections() {
    connect(cmdStart, &QPushButton::clicked, this, &FrmMultiBuf::cmdStart_Click);
    connect(cmdStop, &QPushButton::clicked, this, &FrmMultiBuf::cmdStop_Click);
    connect(cmdExit, &QPushButton::clicked, this, &FrmMultiBuf::cmdExit_Click);
    connect(cmdDAOut, &QPushButton::clicked, this, &FrmMultiBuf::cmdDAOut_Click);
    connect(cmdSW, &QPushButton::clicked, this, &FrmMultiBuf::cmdSW_Click);
    connect(TimerAD, &QTimer::timeout, this, &FrmMultiBuf::TimerAD_Timer);
}

void FrmMultiBuf::CreateTrendAccess() {
    // The trend window, without a control of its own on this fixed layout.
    txtInfo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(txtInfo, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = CreateInfoMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(txtInfo->viewport()->mapToGlobal(at));
    });
    auto* trendKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    trendKey->setObjectName(QStringLiteral("shortcutTrend"));
    connect(trendKey, &QShortcut::activated, this, &FrmMultiBuf::ShowTrend);
    // Neither way shows until tried: the list says where they are.
    txtInfo->setToolTip(
        tr("右键菜单的“%1”或 %2 打开趋势图").arg(tr("趋势图…"), trendKey->key().toString(QKeySequence::NativeText)));
}

FrmMultiBuf::~FrmMultiBuf() {
    // The other windows have no owner; they go with the program.
    delete m_frmDA.data();
    delete m_frmSW.data();
    delete m_frmTrend.data(); // reads history_
}

void FrmMultiBuf::Form_Load() {
    cmdStop->setEnabled(false);
    cmdStart->setEnabled(true);
    DllDef::Initial(0, 0, 0, 0);
    DllDef::InBuf[0] = 70;
    DllDef::InBuf[1] = 64;
    DllDef::InBuf[2] = 0;
    DllDef::IOCtl(kIoLength, DllDef::InBuf.data(), kIoLength, DllDef::OutBuf.data());
    mox::SetCaption(lblCardInfo, QString::fromStdString(acq::CardInfoText(DllDef::OutBuf.data(), words_)));
}

void FrmMultiBuf::cmdStart_Click() {
    try {
        DllDef::StopIntr();
        const mox::StartParameters p;
        const std::int32_t started = DllDef::StartIntr(p.rate, p.block, p.first, p.count, p.depth, p.gain, p.trigger);
        if (started != 0) {
            TimerAD->start();
            cmdStop->setEnabled(true);
            cmdStart->setEnabled(false);
        } else {
            (void)DllDef::GetLastADError();
            QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), tr(kStartFailure),
                            QMessageBox::Ok, this);
            box.exec();
        }
    } catch (...) {
        // A failure inside the start ends it silently, leaving what was done.
    }
}

void FrmMultiBuf::cmdStop_Click() {
    DllDef::StopIntr();
    TimerAD->stop();
    cmdStart->setEnabled(true);
    cmdStop->setEnabled(false);
}

void FrmMultiBuf::TimerAD_Timer() {
    ShowNetStatus();
    if (chkUDP_Online->checkState() != Qt::Checked) return;
    if (optADRMode[0]->isChecked()) ShowNewestAD();
    if (optADRMode[1]->isChecked()) ShowMeanAD();
    if (optADRMode[2]->isChecked()) ShowMeanVoltage();
}

void FrmMultiBuf::ShowNetStatus() {
    DllDef::InBuf[0] = 130;
    DllDef::InBuf[1] = 64;
    DllDef::IOCtl(kIoLength, DllDef::InBuf.data(), kIoLength, DllDef::OutBuf.data());
    mox::SetBoxText(txtSts, acq::NetStatusText(DllDef::OutBuf.data(), words_));
}

void FrmMultiBuf::ShowNewestAD() { ShowResults(0); }
void FrmMultiBuf::ShowMeanAD() { ShowResults(1); }
void FrmMultiBuf::ShowMeanVoltage() { ShowResults(2); }

void FrmMultiBuf::ShowResults(int mode) {
    float n = 0;
    if (mode != 0) n = mox::ToSingle(mox::TextToNumber(txtMeanNum->text().toStdString()));
    std::array<float, acq::kResultElements> results{};
    const std::int32_t unit = mode == 2 ? 1 : 0;
    const std::int32_t average = mode == 0 ? 0 : 1;
    const bool read = DllDef::ADResult_DV(0, acq::kChannels, unit, average, n, results.data()) > 0;
    mox::SetBoxText(txtInfo, acq::ResultText(static_cast<acq::ReadMode>(mode), results));
    RecordTrend(mode, results, read);
}

// Keeps what the list just showed, in volts: codes scaled as the list
// scales them, mean voltages as they are. A read the driver reported as
// failed is kept as a gap: the list shows what the driver left, the trend
// must not take it for data.
void FrmMultiBuf::RecordTrend(int mode, const std::array<float, acq::kResultElements>& results, bool read) {
    if (!read) {
        history_.AppendGap(trend::Now(), static_cast<std::uint8_t>(mode));
        return;
    }
    trend::Volts volts{};
    for (std::size_t k = 0; k < volts.size(); ++k) {
        volts[k] = mode == 2 ? results[k] : mox::CodeVolts(mox::CorrectedCode(results[k]));
    }
    history_.Append(trend::Now(), static_cast<std::uint8_t>(mode), volts);
}

void FrmMultiBuf::cmdExit_Click() {
    DllDef::StopIntr();
    TimerAD->stop();
    QCoreApplication::exit(0);
}

void FrmMultiBuf::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void FrmMultiBuf::Form_Unload() {
    DllDef::StopIntr();
    TimerAD->stop();
}

namespace {

template <typename Window>
void ShowSingle(QPointer<Window>& window) {
    if (!window) {
        window = new Window();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void FrmMultiBuf::cmdDAOut_Click() { ShowSingle(m_frmDA); }
void FrmMultiBuf::cmdSW_Click() { ShowSingle(m_frmSW); }

void FrmMultiBuf::ShowTrend() {
    if (!m_frmTrend) {
        m_frmTrend = new frmTrend(history_);
        m_frmTrend->setAttribute(Qt::WA_DeleteOnClose);
        if (trendSetup_) m_frmTrend->SetSetup(*trendSetup_);
        // Opened again later, it starts with the setup last loaded in it.
        connect(m_frmTrend, &frmTrend::SetupChanged, this, [this] {
            if (m_frmTrend && m_frmTrend->CurrentSetup()) trendSetup_ = *m_frmTrend->CurrentSetup();
        });
    }
    m_frmTrend->show();
    m_frmTrend->raise();
    m_frmTrend->activateWindow();
}

void FrmMultiBuf::SetTrendSetup(const mox::setup::Setup& setup) {
    trendSetup_ = setup;
    if (m_frmTrend) m_frmTrend->SetSetup(setup);
}

QMenu* FrmMultiBuf::CreateInfoMenu() {
    QMenu* menu = txtInfo->createStandardContextMenu();
    menu->setParent(this, menu->windowFlags());
    menu->addSeparator();
    QAction* trendAction = menu->addAction(tr("趋势图…"), this, &FrmMultiBuf::ShowTrend);
    trendAction->setObjectName(QStringLiteral("actTrend"));
    trendAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    return menu;
}
