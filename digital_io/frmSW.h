// SPDX-License-Identifier: GPL-3.0-or-later
// The digital I/O window: shows both input groups and writes the outputs by
// byte or by bit.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <map>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class UpDown;

namespace dio {

// Label texts of one successful input poll.
struct InputTexts {
    std::string lblDI;
    std::string lblDI_0;
    std::string lblBit;
    std::string lblDI_1;
};
InputTexts BuildInputTexts(std::int16_t element0, std::int16_t element1);

} // namespace dio

class frmSW : public QWidget {
    Q_OBJECT

public:
    // Builds the controls with their initial values; the poll timer runs
    // from here on.
    explicit frmSW(QWidget* parent = nullptr);

    static constexpr int kTimerDIIntervalMs = 100;

    void Timer_DI_Timer();
    void cmdSWO_Click();
    void cmdDOOutput_Click();
    void txtDOValue_DblClick();
    void UpDownBitNum_Change();
    void cmdExit_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateInputs();
    void CreateByteOutput();
    void CreateBitOutput();
    void SetUpKeyboard();
    void SetAccessibleTexts();
    void CreateConnections();

    std::map<int, QLabel*> Label1;
    std::array<QGroupBox*, 1> Frame3{};
    QLabel* lblDI = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLabel* lblBit = nullptr;
    QLabel* lblDI_0 = nullptr;
    QLabel* lblDI_1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* txtswChn = nullptr;
    QLineEdit* txtSWO_0 = nullptr;
    QPushButton* cmdSWO = nullptr;
    QLineEdit* txtDOValue = nullptr;
    QLineEdit* txtDOChn = nullptr;
    UpDown* UpDownBitNum = nullptr;
    QPushButton* cmdDOOutput = nullptr;
    QPushButton* cmdExit = nullptr;
    QLabel* lblMsg = nullptr;
    QTimer* Timer_DI = nullptr;
};
