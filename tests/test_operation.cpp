// SPDX-License-Identifier: GPL-3.0-or-later
// Operating the windows without a mouse and in another language: the focus
// order with Tab, the arrow keys on the scroll bars and the spinner, what a
// screen reader is told about each control, and the English interface.
#include "FrmMultiBuf.h"
#include "UpDown.h"
#include "fake_driver_client.h"
#include "frmDA.h"
#include "frmSW.h"
#include "language.h"
#include "window_test.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

std::unique_ptr<QWidget> Make(const std::string& window) {
    if (window == "FrmMultiBuf") return std::make_unique<FrmMultiBuf>();
    if (window == "frmDA") return std::make_unique<frmDA>();
    return std::make_unique<frmSW>();
}

QStringList TabChain(QWidget* window, int presses) {
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QStringList chain{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < presses; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        chain << QApplication::focusWidget()->objectName();
    }
    return chain;
}

bool HasChinese(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x2E80; });
}

// The texts a window shows: its title, and every caption of a label,
// button, option, check box or frame, by object name.
std::map<QString, QString> ShownTexts(QWidget* window) {
    std::map<QString, QString> texts{{QStringLiteral("(title)"), window->windowTitle()}};
    for (auto* w : window->findChildren<QLabel*>()) texts[w->objectName()] = w->text();
    for (auto* w : window->findChildren<QAbstractButton*>()) texts[w->objectName()] = w->text();
    for (auto* w : window->findChildren<QGroupBox*>()) texts[w->objectName()] = w->title();
    return texts;
}

class English {
public:
    English() { EXPECT_TRUE(mox::InstallLanguage(*QCoreApplication::instance(), QStringLiteral("en"))); }
    ~English() {
        for (auto* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }
};

} // namespace

struct ChainCase {
    const char* window;
    QStringList order; // from the control with the focus at the start, round to it again
};

class FocusOrder : public ::testing::TestWithParam<ChainCase> {};

TEST_P(FocusOrder, TabVisitsEveryControlInTheLaidDownOrderAndComesRound) {
    FakeDriver::Get().Reset();
    const auto window = Make(GetParam().window);
    EXPECT_EQ(TabChain(window.get(), static_cast<int>(GetParam().order.size()) - 1), GetParam().order);
}

INSTANTIATE_TEST_SUITE_P(Windows, FocusOrder,
                         ::testing::Values(
                             // cmdStop is disabled until acquisition runs; of an option group Tab
                             // reaches the chosen option, and the arrow keys the others.
                             ChainCase{"FrmMultiBuf",
                                       {"cmdExit", "cmdStart", "txtInfo", "cmdDAOut", "cmdSW", "optADRMode(2)",
                                        "txtMeanNum", "chkUDP_Online", "txtSts", "cmdExit"}},
                             ChainCase{"frmDA",
                                       {"txtDAChn", "txtDAValue", "cmdDA", "VSDA1", "VSDA2", "cmdDA2", "txtDAV",
                                        "txtDAChn2", "OptionDA(0)", "cmdExit", "txtDAChn"}},
                             ChainCase{"frmSW",
                                       {"cmdExit", "txtswChn", "txtSWO_0", "cmdSWO", "UpDownBitNum", "cmdDOOutput",
                                        "txtDOChn", "txtDOValue", "cmdExit"}}),
                         [](const auto& param) { return std::string(param.param.window); });

class Keyboard : public WindowTest<frmDA> {};

TEST_F(Keyboard, ArrowKeysStepTheChannelScrollBarsAsTheirArrowsDo) {
    for (const auto& [bar, box] : {std::pair{"VSDA1", "txtDAChn"}, std::pair{"VSDA2", "txtDAChn2"}}) {
        auto* scroll = Find<QScrollBar>(bar);
        QTest::keyClick(scroll, Qt::Key_Down);
        EXPECT_EQ(Text(box), " 1") << bar;
        QTest::keyClick(scroll, Qt::Key_Down);
        QTest::keyClick(scroll, Qt::Key_Down);
        QTest::keyClick(scroll, Qt::Key_Down);
        EXPECT_EQ(Text(box), " 3") << bar << ": stops at 3";
        QTest::keyClick(scroll, Qt::Key_Up);
        EXPECT_EQ(Text(box), " 2") << bar;
    }
}

TEST_F(Keyboard, TabIntoTheRangeOptionsLandsOnTheChosenOne) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    Find<QRadioButton>("OptionDA(1)")->setChecked(true);
    Find<QLineEdit>("txtDAChn2")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "OptionDA(1)");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "txtDAChn2");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "OptionDA(1)");
    EXPECT_TRUE(Find<QRadioButton>("OptionDA(1)")->isChecked()) << "moving the focus chooses nothing";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "OptionDA(0)");
    EXPECT_TRUE(Find<QRadioButton>("OptionDA(0)")->isChecked()) << "the arrow keys choose within the group";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "cmdExit");
}

TEST_F(Keyboard, SpaceOnAButtonPressesIt) {
    FakeDriver::Get().ClearLog();
    QTest::keyClick(Find<QPushButton>("cmdDA"), Qt::Key_Space);
    EXPECT_EQ(FakeDriver::Get().Calls(), Calls{"Mox_DA(0,2048)"});
}

class Spinner : public WindowTest<frmSW> {};

TEST_F(Spinner, IsARangeControlThatKeysAndAutomationDrive) {
    auto* spinner = Find<UpDown>("UpDownBitNum");
    EXPECT_EQ(spinner->property("minimum").toInt(), 1);
    EXPECT_EQ(spinner->property("maximum").toInt(), 16);
    EXPECT_EQ(spinner->property("value").toInt(), 1);
    QSignalSpy changes(spinner, &UpDown::valueChanged);
    QTest::keyClick(spinner, Qt::Key_Down);
    EXPECT_EQ(changes.count(), 0) << "no change at the bottom end";
    QTest::keyClick(spinner, Qt::Key_Up);
    EXPECT_EQ(Text("txtDOChn"), " 2");
    ASSERT_TRUE(spinner->setProperty("value", 16));
    EXPECT_EQ(Text("txtDOChn"), " 16");
    spinner->setProperty("value", 40);
    EXPECT_EQ(spinner->value(), 16);
    EXPECT_EQ(changes.count(), 2);

    QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(spinner);
    ASSERT_NE(a11y, nullptr);
    ASSERT_NE(a11y->valueInterface(), nullptr);
    EXPECT_EQ(a11y->valueInterface()->currentValue().toInt(), 16);
    EXPECT_EQ(a11y->valueInterface()->minimumValue().toInt(), 1);
    EXPECT_EQ(a11y->valueInterface()->maximumValue().toInt(), 16);
    a11y->valueInterface()->setCurrentValue(3);
    EXPECT_EQ(Text("txtDOChn"), " 3");
}

class ScreenReader : public ::testing::TestWithParam<const char*> {};

TEST_P(ScreenReader, EveryFocusableControlHasANameAndADescription) {
    FakeDriver::Get().Reset();
    const auto window = Make(GetParam());
    int controls = 0;
    for (auto* w : window->findChildren<QWidget*>()) {
        if ((w->focusPolicy() & Qt::TabFocus) == 0 || w->objectName().isEmpty()) continue;
        if (qobject_cast<QScrollBar*>(w) && w->parent() && qobject_cast<QPlainTextEdit*>(w->parent()->parent())) {
            continue; // a text box's own scroll bar
        }
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a11y, nullptr) << w->objectName().toStdString();
        EXPECT_FALSE(a11y->text(QAccessible::Name).isEmpty()) << w->objectName().toStdString();
        EXPECT_FALSE(a11y->text(QAccessible::Description).isEmpty()) << w->objectName().toStdString();
        ++controls;
    }
    EXPECT_GE(controls, 8);
}

INSTANTIATE_TEST_SUITE_P(Windows, ScreenReader, ::testing::Values("FrmMultiBuf", "frmDA", "frmSW"));

TEST(ScreenReaderValues, ChannelScrollBarsReportTheirValues) {
    FakeDriver::Get().Reset();
    frmDA window;
    auto* bar = window.findChild<QScrollBar*>(QStringLiteral("VSDA2"));
    bar->setValue(2);
    QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(bar);
    ASSERT_NE(a11y->valueInterface(), nullptr);
    EXPECT_EQ(a11y->valueInterface()->currentValue().toInt(), 2);
    EXPECT_EQ(a11y->valueInterface()->maximumValue().toInt(), 3);
    EXPECT_EQ(a11y->text(QAccessible::Name), QStringLiteral("DA通道号步进（电压输入）"));
}

class Language : public ::testing::TestWithParam<const char*> {};

TEST_P(Language, EveryChineseTextOfTheWindowIsEnglishUnderEn) {
    FakeDriver::Get().Reset();
    const auto chinese = ShownTexts(Make(GetParam()).get());
    std::map<QString, QString> english;
    {
        English en;
        english = ShownTexts(Make(GetParam()).get());
    }
    int translated = 0;
    for (const auto& [name, text] : chinese) {
        ASSERT_TRUE(english.count(name)) << name.toStdString();
        if (HasChinese(text)) {
            EXPECT_NE(english[name], text) << name.toStdString();
            ++translated;
        }
        EXPECT_FALSE(HasChinese(english[name])) << name.toStdString() << ": " << english[name].toStdString();
    }
    EXPECT_GE(translated, 5);
    // Back to Chinese once the translation is gone.
    EXPECT_EQ(ShownTexts(Make(GetParam()).get()), chinese);
}

INSTANTIATE_TEST_SUITE_P(Windows, Language, ::testing::Values("FrmMultiBuf", "frmDA", "frmSW"));

TEST(LanguageReadouts, StatusAndCardInformationFollowTheLanguage) {
    FakeDriver::Get().Reset();
    FakeDriver::Get().SetReply(70, {77, 10, 10, 16, 1});
    English en;
    FrmMultiBuf window;
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lblCardInfo"))->text(),
              QStringLiteral("No. 7710 Type: 1, 100K, 16 bits"));
    FakeDriver::Get().SetReply(130, {0, 192, 168, 1, 100, 0, 9});
    window.ShowNetStatus();
    EXPECT_EQ(window.findChild<QPlainTextEdit*>(QStringLiteral("txtSts"))->toPlainText(),
              QStringLiteral("Link down for (s): 9\n"));
}

TEST(LanguageChoice, CommandLineBeforeEnvironment) {
    qputenv("MOXPANEL_LANG", "en");
    EXPECT_EQ(mox::RequestedLanguage({"moxpanel"}), "en");
    EXPECT_EQ(mox::RequestedLanguage({"moxpanel", "--lang", "zh"}), "zh");
    EXPECT_EQ(mox::RequestedLanguage({"moxpanel", "--lang=fr"}), "fr");
    qunsetenv("MOXPANEL_LANG");
    EXPECT_EQ(mox::RequestedLanguage({"moxpanel"}), "");
    EXPECT_EQ(mox::RequestedLanguage({"moxpanel", "--lang"}), "");
    EXPECT_FALSE(mox::InstallLanguage(*QCoreApplication::instance(), QStringLiteral("fr")));
    EXPECT_TRUE(mox::InstallLanguage(*QCoreApplication::instance(), QStringLiteral("zh")));
    EXPECT_TRUE(QCoreApplication::instance()->findChildren<QTranslator*>().isEmpty());
}

// Qt's own texts: the edit menu of a text box and a message box's buttons.
namespace {

// Removes every translation installed while it lived.
struct Untranslated {
    ~Untranslated() {
        for (auto* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }
};

QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) texts << action->text().remove(QLatin1Char('&'));
    return texts;
}

bool AnyContains(const QStringList& texts, const char* part) {
    return std::any_of(texts.begin(), texts.end(),
                       [part](const QString& t) { return t.contains(QString::fromUtf8(part)); });
}

bool QtChineseInstalled() {
    return QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm"));
}

} // namespace

struct QtTextsCase {
    const char* language; // as asked for on the command line
    const char* copy;
    const char* paste;
    const char* selectAll;
    const char* ok;
};

class QtTexts : public ::testing::TestWithParam<QtTextsCase> {};

TEST_P(QtTexts, FollowTheLanguageTheInterfaceShows) {
    const QtTextsCase& c = GetParam();
    if (QByteArray(c.language) != "en" && !QtChineseInstalled()) {
        GTEST_SKIP() << "Qt's Chinese translation (qtbase_zh_CN.qm, Debian package qt6-translations-l10n, "
                        "installed by tools/setup.sh) is not in "
                     << QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString();
    }
    FakeDriver::Get().Reset();
    Untranslated restore;
    (void)mox::InstallLanguage(*QCoreApplication::instance(), QString::fromUtf8(c.language));
    EXPECT_TRUE(mox::InstallQtTexts(*QCoreApplication::instance(), QString::fromUtf8(c.language)));
    EXPECT_EQ(QCoreApplication::instance()->findChildren<QTranslator*>().size(), 1)
        << "one translation: the interface's English, or Qt's Chinese";

    QLineEdit line;
    const std::unique_ptr<QMenu> lineMenu(line.createStandardContextMenu());
    FrmMultiBuf window;
    const std::unique_ptr<QMenu> listMenu(window.CreateInfoMenu());
    for (const QStringList& texts : {MenuTexts(lineMenu.get()), MenuTexts(listMenu.get())}) {
        EXPECT_TRUE(AnyContains(texts, c.copy)) << texts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(AnyContains(texts, c.paste)) << texts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(AnyContains(texts, c.selectAll)) << texts.join(QLatin1Char('|')).toStdString();
    }
    QMessageBox box(QMessageBox::NoIcon, QString(), QString(), QMessageBox::Ok);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text().remove(QLatin1Char('&')), QString::fromUtf8(c.ok));
}

INSTANTIATE_TEST_SUITE_P(Languages, QtTexts,
                         ::testing::Values(QtTextsCase{"", "复制", "粘贴", "全选", "确定"},
                                           QtTextsCase{"zh", "复制", "粘贴", "全选", "确定"},
                                           // No translation of ours: the interface stays Chinese, and Qt's
                                           // texts with it.
                                           QtTextsCase{"fr", "复制", "粘贴", "全选", "确定"},
                                           QtTextsCase{"en", "Copy", "Paste", "Select All", "OK"}),
                         [](const auto& param) {
                             return *param.param.language ? std::string(param.param.language) : std::string("default");
                         });

TEST(QtTextsMissing, WithoutQtsTranslationTheTextsStayEnglishAndNothingIsInstalled) {
    Untranslated restore;
    const QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    EXPECT_FALSE(mox::InstallQtTextsFrom(*QCoreApplication::instance(), QStringLiteral("zh"), empty.path()));
    EXPECT_TRUE(QCoreApplication::instance()->findChildren<QTranslator*>().isEmpty());
    QLineEdit line;
    const std::unique_ptr<QMenu> menu(line.createStandardContextMenu());
    EXPECT_TRUE(AnyContains(MenuTexts(menu.get()), "Copy"));
}
