// SPDX-License-Identifier: GPL-3.0-or-later
// The analog output window: sets DA0..DA3 from a hexadecimal code or a voltage.
#pragma once

#include <QWidget>

#include <array>
#include <map>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

class frmDA : public QWidget {
    Q_OBJECT

public:
    // Builds the controls with their initial values and runs Form_Load.
    explicit frmDA(QWidget* parent = nullptr);

    void Form_Load();
    void cmdDA_Click();
    void cmdDA2_Click();
    void txtDAChn_Change();
    void txtDAChn2_Change();
    void VSDA1_Change();
    void VSDA2_Change();
    void cmdExit_Click();

private:
    void CreateInstructions();
    void CreateHexFrame();
    void CreateVoltageFrame();
    void SetUpKeyboard();
    void SetAccessibleTexts();
    void CreateConnections();

    std::map<int, QLabel*> Label1;
    std::array<QGroupBox*, 2> Frame3{};
    QGroupBox* Frame1 = nullptr;
    QLineEdit* txtDAChn = nullptr;
    QScrollBar* VSDA1 = nullptr;
    QLineEdit* txtDAValue = nullptr;
    QPushButton* cmdDA = nullptr;
    QLineEdit* txtDAChn2 = nullptr;
    QScrollBar* VSDA2 = nullptr;
    QLineEdit* txtDAV = nullptr;
    QPushButton* cmdDA2 = nullptr;
    std::array<QRadioButton*, 2> OptionDA{};
    QPushButton* cmdExit = nullptr;
};
