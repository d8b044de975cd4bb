// SPDX-License-Identifier: GPL-3.0-or-later
#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace mox {

QString RequestedLanguage(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--lang") && i + 1 < arguments.size()) return arguments[i + 1];
        if (arguments[i].startsWith(QLatin1String("--lang="))) return arguments[i].mid(7);
    }
    return qEnvironmentVariable("MOXPANEL_LANG");
}

namespace {

bool IsChinese(const QString& language) {
    return language.isEmpty() || language == QLatin1String("zh") || language == QLatin1String("zh_CN");
}

QString InterfaceFile(const QString& language) {
    return QStringLiteral(":/i18n/moxpanel_") + language + QStringLiteral(".qm");
}

// Loads `file` from `folder` as QTranslator::load finds it, and installs
// it; nothing is left behind when there is no such file.
bool InstallTranslation(QCoreApplication& app, const QString& file, const QString& folder) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(file, folder)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace

bool InstallLanguage(QCoreApplication& app, const QString& language) {
    if (IsChinese(language)) return true;
    return InstallTranslation(app, InterfaceFile(language), QString());
}

bool InstallQtTexts(QCoreApplication& app, const QString& language) {
    return InstallQtTextsFrom(app, language, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

bool InstallQtTextsFrom(QCoreApplication& app, const QString& language, const QString& folder) {
    // Qt's texts go with the interface, not with what was asked for: a
    // language without a translation of ours leaves the interface Chinese.
    QString shown = QStringLiteral("zh_CN"); // Simplified, as the interface is written
    QTranslator ours;
    if (!IsChinese(language) && ours.load(InterfaceFile(language))) shown = ours.language();
    const QLocale locale(shown);
    if (locale.language() == QLocale::English) return true;
    return InstallTranslation(app, QStringLiteral("qtbase_") + locale.name(), folder);
}

} // namespace mox
