// SPDX-License-Identifier: GPL-3.0-or-later
#include "DllDef.h"
#include "FrmMultiBuf.h"
#include "language.h"
#include "widgets.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace {

// A card driver that cannot be loaded, or lacks an entry, ends the program
// with a message; under a headless platform the message goes to stderr only.
void ShowDriverFailure(const std::string& message) {
    static bool reporting = false;
    std::fprintf(stderr, "moxpanel: %s\n", message.c_str());
    std::fflush(stderr);
    const QString platform = QGuiApplication::platformName();
    if (!reporting && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
        reporting = true;
        QMessageBox::critical(nullptr, QCoreApplication::applicationName(), QString::fromStdString(message));
    }
    std::_Exit(DllDef::kDriverFailureExitCode);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("moxpanel"));
    mox::ApplyDefaultFont(app);
    // The interface is Chinese unless another language is asked for.
    const QString language = mox::RequestedLanguage(QCoreApplication::arguments());
    if (!mox::InstallLanguage(app, language)) {
        std::fprintf(stderr, "moxpanel: no translation for language \"%s\"; the interface stays Chinese\n",
                     qPrintable(language));
    }
    DllDef::SetFailureHandler(&ShowDriverFailure);

    FrmMultiBuf window;
    window.show();
    return QApplication::exec();
}
