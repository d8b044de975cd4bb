// SPDX-License-Identifier: GPL-3.0-or-later
// The interface language. Chinese, the language the interface is written
// in, is the default; English is built in as a translation and chosen with
// --lang en on the command line or MOXPANEL_LANG=en in the environment.
#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

namespace mox {

// The language asked for: the value of --lang (or --lang=...) among the
// arguments, else MOXPANEL_LANG; empty when neither is given.
QString RequestedLanguage(const QStringList& arguments);

// Installs the translation for `language` ("en"). "", "zh" and "zh_CN" keep
// the interface as written. False, with nothing installed, for a language
// there is no translation for.
bool InstallLanguage(QCoreApplication& app, const QString& language);

// Installs Qt's own texts (the file dialog, the edit menu of a text box, a
// message box's buttons) in the language the interface shows for
// `language` as asked for: Chinese unless there is a translation for it.
// English needs nothing, Qt's texts being English. False when Qt's
// translation for that language is not installed on this system: Qt's
// texts then stay English, which is no reason to stop or to warn.
bool InstallQtTexts(QCoreApplication& app, const QString& language);
// The same with Qt's translations (qtbase_<language>.qm) taken from `folder`
// instead of Qt's own folder for them (Debian: qt6-translations-l10n).
bool InstallQtTextsFrom(QCoreApplication& app, const QString& language, const QString& folder);

} // namespace mox
