// SPDX-License-Identifier: GPL-3.0-or-later
#include "DllDef.h"
#include "FrmMultiBuf.h"
#include "engineering.h"
#include "language.h"
#include "setup.h"
#include "version_text.h"
#include "widgets.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
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
constexpr int kUsageExitCode = 2;    // as the other programs' for an unknown option

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

const char* const kHelp =
    "Usage: moxpanel [OPTIONS]\n"
    "Test and programming panel for MOX data-acquisition cards: the acquisition window (inputs AI00..AI31),\n"
    "with the analog output window (AO0..AO3, shown there as DA0..DA3) and the digital I/O window (DI and\n"
    "DO groups 0 and 1, outputs DO1..DO16).\n"
    "\n"
    "Options:\n"
    "  -h,--help          Print this help message and exit\n"
    "  --version          Display program version information and exit\n"
    "  --setup FILE       setup file for the trend window: channel names, units and limits; a bad file\n"
    "                     ends the program before any window opens\n"
    "  --lang LANG        language of the windows: zh (the default) or en; also MOXPANEL_LANG=LANG\n"
    "\n"
    "The card is reached through the card driver library libadcard.so (adcard.dll on Windows): the one in\n"
    "a folder of LD_LIBRARY_PATH, else the bundled virtual card from the program's own library folder.\n"
    "With MOX_CARD_ADDRESS=HOST:PORT the bundled driver sends to the card emulator or a driver bridge\n"
    "there. The library loaded is named on standard error at start.\n"
    "Exit status: 0 closed, 2 an unknown argument or a bad --setup file, 3 the card driver library cannot be loaded or "
    "lacks an entry.";

// --help and --version are answered before anything else: no display, no
// driver and no window are needed for them. Only arguments before "--" count.
std::optional<int> AnswerInformationRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            std::printf("%s\n", kHelp);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s\n", mox::VersionText("moxpanel", MOX_VERSION).c_str());
            return 0;
        }
    }
    return std::nullopt;
}

// The first argument, once Qt has taken its own (-platform, -style, ...),
// that is none of moxpanel's: a mistyped option would otherwise start the
// panel without what was asked for, with no word said. "--" ends the
// options.
std::optional<QString> UnknownArgument(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--")) break;
        if (arg.startsWith(QLatin1String("--lang=")) || arg.startsWith(QLatin1String("--setup="))) continue;
        if (arg == QLatin1String("--lang")) {
            ++i; // its language, as RequestedLanguage reads it
        } else if (arg == QLatin1String("--setup")) {
            // Its file, unless the next is an option: then the setup's own
            // check says the file is missing.
            if (i + 1 < arguments.size() && !arguments[i + 1].startsWith(QLatin1String("--"))) ++i;
        } else {
            return arg;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto status = AnswerInformationRequest(argc, argv)) return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("moxpanel"));
    if (const auto unknown = UnknownArgument(QCoreApplication::arguments())) {
        std::fprintf(stderr, "moxpanel: unknown argument \"%s\"; moxpanel --help lists the options\n",
                     qPrintable(*unknown));
        return kUsageExitCode;
    }
    mox::ApplyDefaultFont(app);
    // The interface is Chinese unless another language is asked for.
    const QString language = mox::RequestedLanguage(QCoreApplication::arguments());
    if (!mox::InstallLanguage(app, language)) {
        std::fprintf(stderr,
                     "moxpanel: no translation for language \"%s\" (from --lang or MOXPANEL_LANG); the interface "
                     "stays Chinese. Languages: zh, en\n",
                     qPrintable(language));
    }
    // Qt's own menus and buttons in the interface's language; without Qt's
    // translation they stay English.
    (void)mox::InstallQtTexts(app, language);
    std::optional<mox::setup::Setup> setup;
    if (!LoadRequestedSetup(setup)) return kBadSetupExitCode;
    DllDef::SetFailureHandler(&ShowDriverFailure);
    // Which driver answers is the first thing to know when the card does
    // not behave as expected.
    std::fprintf(stderr, "moxpanel: %s\n", DllDef::LoadedText().c_str());
    std::fflush(stderr);

    FrmMultiBuf window;
    if (setup) window.SetTrendSetup(*setup);
    window.show();
    return QApplication::exec();
}
