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

} // namespace mox
