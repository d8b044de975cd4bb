// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers the windows share for building fixed layouts given in twips.
#pragma once

#include <QRect>
#include <QString>

#include <initializer_list>
#include <string>

class QApplication;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace mox {

constexpr int kTwipsPerPixel = 15;

constexpr QRect Twips(int left, int top, int width, int height) {
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel};
}

// The user-interface font the windows are laid out for: a 9-point face that
// shows Simplified Chinese and gives ASCII characters one fixed width, so
// runs of blanks keep columns aligned.
QFont DefaultUiFont();
// The same face at another size.
QFont UiFont(double pointSize);
void ApplyDefaultFont(QApplication& app);

// Joins a control array member's name and index: "Label1(4)".
QString IndexedName(const char* name, int index);

// A plain-text label at a fixed position; with autoSize it takes the size of
// its text whenever the text is set through SetCaption.
QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QRect geometry, bool autoSize = true);
void SetCaption(QLabel* label, const QString& text);

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text, QRect geometry);
QLineEdit* MakeLineEdit(QWidget* parent, const QString& name, const QString& text, QRect geometry);
QPlainTextEdit* MakeTextBox(QWidget* parent, const QString& name, const QString& text, QRect geometry);
QGroupBox* MakeFrame(QWidget* parent, const QString& name, const QString& title, QRect geometry);
QRadioButton* MakeOption(QWidget* parent, const QString& name, const QString& text, QRect geometry);

// Sets the keyboard focus order to the given sequence.
void SetTabOrder(std::initializer_list<QWidget*> order);

// Tab into a group of options lands on the chosen one, as the arrow keys
// then move within the group.
void TabToCheckedOption(std::initializer_list<QRadioButton*> group);

// What a screen reader announces for a control: its name (a caption, or the
// label that names a box) and what it does.
void SetAccessible(QWidget* control, const QString& name, const QString& description);

// Replaces the whole text of a multi-line box with a text built with "\r\n"
// line ends, as ReplaceBoxText does.
void SetBoxText(QPlainTextEdit* box, const std::string& text);

// Replaces the whole text of a multi-line box that a refresh rewrites while
// the operator reads it. The view keeps its scroll positions: the same line
// stays at the top, or the view shows the end when the new text is too
// short to reach that line. The caret and any selection keep their
// character positions, cut back to the end of a shorter text. A box that
// already shows exactly that text is not touched at all.
void ReplaceBoxText(QPlainTextEdit* box, const QString& text);

} // namespace mox
