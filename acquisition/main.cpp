// SPDX-License-Identifier: GPL-3.0-or-later
#include "DllDef.h"
#include "FrmMultiBuf.h"
#include "engineering.h"
#include "language.h"
#include "setup.h"
#include "widgets.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <variant>

namespace {

bool Headless() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// A card driver that cannot be loaded, or lacks an entry, ends the program
// with a message; under a headless platform the message goes to stderr only.
void ShowDriverFailure(const std::string& message) {
    static bool reporting = false;
    std::fprintf(stderr, "moxpanel: %s\n", message.c_str());
    std::fflush(stderr);
    if (!reporting && !Headless()) {
        reporting = true;
        QMessageBox::critical(nullptr, QCoreApplication::applicationName(), QString::fromStdString(message));
    }
    std::_Exit(DllDef::kDriverFailureExitCode);
}

constexpr int kBadSetupExitCode = 2; // as moxctl's for a bad setup

// The setup file asked for with --setup, for the trend window; false, with
// the message given, when it cannot be taken. The program then ends before
// any window opens: an engineer who named a setup watches for its limits,
// and a panel that came up without them would look the same as one that
// has them.
bool LoadRequestedSetup(std::optional<mox::setup::Setup>& setup) {
    const trend::SetupArgument argument = trend::RequestedSetup(QCoreApplication::arguments());
    if (!argument.given) return true;
    std::string failure = "--setup needs a file: moxpanel --setup FILE";
    if (!argument.path.isEmpty()) {
        auto loaded = mox::setup::Load(QFile::encodeName(argument.path).toStdString());
        if (auto* taken = std::get_if<mox::setup::Setup>(&loaded)) {
            setup = std::move(*taken);
            return true;
        }
        failure = std::get<mox::setup::Error>(loaded).Text();
    }
    std::fprintf(stderr, "moxpanel: %s\n", failure.c_str());
    if (!Headless()) {
        QMessageBox::critical(nullptr, QCoreApplication::applicationName(),
                              QCoreApplication::translate("frmTrend", "设置文件有误，程序未启动:\n%1")
                                  .arg(QString::fromStdString(failure)));
    }
    return false;
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
    std::optional<mox::setup::Setup> setup;
    if (!LoadRequestedSetup(setup)) return kBadSetupExitCode;
    DllDef::SetFailureHandler(&ShowDriverFailure);

    FrmMultiBuf window;
    if (setup) window.SetTrendSetup(*setup);
    window.show();
    return QApplication::exec();
}
