// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace mox {
namespace {

// Text of a multi-line box built with "\r\n" line ends, as the box keeps it.
QString BoxText(const std::string& text) {
    QString out = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return out;
}

// A control of the window's fixed layout: made with its text, named, placed.
template <typename Control>
Control* Place(QWidget* parent, const QString& name, QRect geometry, const QString& text) {
    auto* control = new Control(text, parent);
    control->setObjectName(name);
    control->setGeometry(geometry);
    return control;
}

} // namespace

QFont UiFont(double pointSize) {
    QFont font;
    // SimSun where it exists; otherwise CJK faces with fixed-width ASCII.
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("宋体"),
                      QStringLiteral("WenQuanYi Zen Hei Mono"), QStringLiteral("Noto Sans Mono CJK SC"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("monospace")});
    font.setPointSizeF(pointSize);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

QFont DefaultUiFont() { return UiFont(9); }

void ApplyDefaultFont(QApplication& app) { app.setFont(DefaultUiFont()); }

QString IndexedName(const char* name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QRect geometry, bool autoSize) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    label->setProperty("autoSize", autoSize);
    SetCaption(label, text);
    return label;
}

void SetCaption(QLabel* label, const QString& text) {
    label->setText(text);
    if (label->property("autoSize").toBool()) label->resize(label->sizeHint());
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text, QRect geometry) {
    auto* button = Place<QPushButton>(parent, name, geometry, text);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* MakeLineEdit(QWidget* parent, const QString& name, const QString& text, QRect geometry) {
    auto* edit = Place<QLineEdit>(parent, name, geometry, text);
    edit->setMaxLength(std::numeric_limits<int>::max()); // no length limit
    return edit;
}

QPlainTextEdit* MakeTextBox(QWidget* parent, const QString& name, const QString& text, QRect geometry) {
    auto* box = Place<QPlainTextEdit>(parent, name, geometry, text);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Tab moves on to the next control, as in every other box.
    box->setTabChangesFocus(true);
    return box;
}

QGroupBox* MakeFrame(QWidget* parent, const QString& name, const QString& title, QRect geometry) {
    return Place<QGroupBox>(parent, name, geometry, title);
}

QRadioButton* MakeOption(QWidget* parent, const QString& name, const QString& text, QRect geometry) {
    return Place<QRadioButton>(parent, name, geometry, text);
}

void SetTabOrder(std::initializer_list<QWidget*> order) {
    QWidget* previous = nullptr;
    for (QWidget* w : order) {
        if (previous) QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void TabToCheckedOption(std::initializer_list<QRadioButton*> group) {
    // Only the chosen option is a Tab stop; the others still take the focus
    // from a click or the arrow keys.
    const std::vector<QRadioButton*> options(group);
    auto update = [options] {
        for (QRadioButton* o : options) o->setFocusPolicy(o->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    };
    for (QRadioButton* option : options) QObject::connect(option, &QRadioButton::toggled, option, update);
    update();
}

void SetAccessible(QWidget* control, const QString& name, const QString& description) {
    control->setAccessibleName(name);
    control->setAccessibleDescription(description);
}

void SetBoxText(QPlainTextEdit* box, const std::string& text) { ReplaceBoxText(box, BoxText(text)); }

void ReplaceBoxText(QPlainTextEdit* box, const QString& text) {
    if (box->toPlainText() == text) return;
    // setPlainText puts the caret at the start and the view at the top; a
    // box refreshed while it is being read would jump back there on every
    // refresh. The caret, the selection and the lines in view are put back
    // where they were, as far as the new text reaches.
    QScrollBar* vertical = box->verticalScrollBar();
    QScrollBar* horizontal = box->horizontalScrollBar();
    const int top = vertical->value();
    const int left = horizontal->value();
    const QTextCursor before = box->textCursor();
    const int anchor = before.anchor();
    const int position = before.position();

    box->setPlainText(text);

    const int end = box->document()->characterCount() - 1; // the last position, after the text
    QTextCursor after = box->textCursor();
    after.setPosition(std::min(anchor, end));
    after.setPosition(std::min(position, end), QTextCursor::KeepAnchor);
    box->setTextCursor(after); // scrolls to the caret: the view is put back after it
    vertical->setValue(top);
    horizontal->setValue(left);
}

} // namespace mox
