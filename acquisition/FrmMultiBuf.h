// SPDX-License-Identifier: GPL-3.0-or-later
// The acquisition window: the program's start-up window.
#pragma once

#include "frmDA.h"
#include "frmSW.h"
#include "readouts.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <map>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
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

    // Procedures of the tick.
    void ShowNetStatus();
    void ShowNewestAD();
    void ShowMeanAD();
    void ShowMeanVoltage();

    // The open analog output and digital I/O windows, if any.
    frmDA* DAWindow() const { return m_frmDA; }
    frmSW* SWWindow() const { return m_frmSW; }

protected:
    void closeEvent(QCloseEvent* event) override; // Form_Unload

private:
    void Form_Unload();
    void ShowResults(int mode);

    QPlainTextEdit* txtInfo;
    QPlainTextEdit* txtSts;
    QGroupBox* Frame2;
    std::array<QRadioButton*, 3> optADRMode{};
    std::map<int, QLabel*> Label1;
    QLineEdit* txtMeanNum;
    QCheckBox* chkUDP_Online;
    QLabel* Label2;
    QLabel* lblCardInfo;
    QPushButton* cmdStart;
    QPushButton* cmdStop;
    QPushButton* cmdSW;
    QPushButton* cmdDAOut;
    QPushButton* cmdExit;
    QTimer* TimerAD;

    QPointer<frmDA> m_frmDA;
    QPointer<frmSW> m_frmSW;
    acq::Words words_; // of the identity caption and the status text, translated
};
