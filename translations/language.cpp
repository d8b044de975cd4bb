// SPDX-License-Identifier: GPL-3.0-or-later
#include "language.h"

#include <QCoreApplication>
#include <QTranslator>

namespace mox {

QString RequestedLanguage(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--lang") && i + 1 < arguments.size()) return arguments[i + 1];
        if (arguments[i].startsWith(QLatin1String("--lang="))) return arguments[i].mid(7);
    }
    return qEnvironmentVariable("MOXPANEL_LANG");
}

bool InstallLanguage(QCoreApplication& app, const QString& language) {
    if (language.isEmpty() || language == QLatin1String("zh") || language == QLatin1String("zh_CN")) return true;
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral(":/i18n/moxpanel_") + language + QStringLiteral(".qm"))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace mox
