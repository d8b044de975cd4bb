// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition window: the program's start-up window.
#pragma once

#include "frmDA.h"
#include "frmSW.h"
#include "frmTrend.h"
#include "history.h"
#include "readouts.h"
#include "setup.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <map>
#include <optional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;

class FrmMultiBuf : public QWidget {
    Q_OBJECT

public:
    // Builds the controls and runs Form_Load.
    explicit FrmMultiBuf(QWidget* parent = nullptr);
    ~FrmMultiBuf() override;

    static constexpr int kTimerADIntervalMs = 200;

    // Handlers, named as the controls' events.
    void Form_Load();
    void cmdStart_Click();
    void cmdStop_Click();
    void TimerAD_Timer();
    void cmdExit_Click();
    void cmdDAOut_Click();
    void cmdSW_Click();
    // The trend window: from the list's context menu or Ctrl+T.
    void ShowTrend();
    // The setup the trend window starts with (moxpanel --setup FILE); the
    // other windows do not use it. One loaded in the trend window replaces it.
    void SetTrendSetup(const mox::setup::Setup& setup);

    // Procedures of the tick.
    void ShowNetStatus();
    void ShowNewestAD();
    void ShowMeanAD();
    void ShowMeanVoltage();

    // The open analog output and digital I/O windows, if any.
    frmDA* DAWindow() const { return m_frmDA; }
    frmSW* SWWindow() const { return m_frmSW; }
    frmTrend* TrendWindow() const { return m_frmTrend; }
    const trend::History& History() const { return history_; }

    // The list's context menu: the standard edit entries, then the trend.
    QMenu* CreateInfoMenu();

protected:
    void closeEvent(QCloseEvent* event) override; // Form_Unload

private:
    void CreateReadouts();
    void CreateBottomRow();
    void SetUpKeyboard();
    void SetAccessibleTexts();
    void CreateConnections();
    void CreateTrendAccess();
    void Form_Unload();
    void ShowResults(int mode);
    void RecordTrend(int mode, const std::array<float, acq::kResultElements>& results, bool read);

    QPlainTextEdit* txtInfo = nullptr;
    QPlainTextEdit* txtSts = nullptr;
    QGroupBox* Frame2 = nullptr;
    std::array<QRadioButton*, 3> optADRMode{};
    std::map<int, QLabel*> Label1;
    QLineEdit* txtMeanNum = nullptr;
    QCheckBox* chkUDP_Online = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lblCardInfo = nullptr;
    QPushButton* cmdStart = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdSW = nullptr;
    QPushButton* cmdDAOut = nullptr;
    QPushButton* cmdExit = nullptr;
    QTimer* TimerAD = nullptr;

    QPointer<frmDA> m_frmDA;
    QPointer<frmSW> m_frmSW;
    QPointer<frmTrend> m_frmTrend;
    trend::History history_; // every list read, in volts, for the trend window
    std::optional<mox::setup::Setup> trendSetup_;
    acq::Words words_; // of the identity caption and the status text, translated
};
