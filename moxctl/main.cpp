// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl: a MOX card from the command line, through the same driver module
// and card driver library as the windows. `moxctl --help` and
// `moxctl COMMAND --help` describe the commands.
#include "DllDef.h"
#include "args.h"
#include "calibrate.h"
#include "card_io.h"
#include "commands.h"
#include "output_limits.h"
#include "recipe_run.h"
#include "setup_columns.h"
#include "version_text.h"
#include "watch.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

using namespace moxctl;

[[noreturn]] void NoDriver(const std::string& message) {
    std::fprintf(stderr, "moxctl: %s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(kExitNoDriver);
}

void OnStopSignal(int) { g_stop = true; }

// A usage error for one argument: reported like CLI11's own.
struct BadValue : CLI::ValidationError {
    BadValue(const std::string& name, const std::string& text, const std::string& want)
        : CLI::ValidationError(name, "\"" + text + "\" is not " + want) {}
};

// Numeric options go through our own strict readings, not CLI11's: it reads
// integers with 0x, 0 (octal) and 0b prefixes and lets "nan" through its
// ranges, so a value would not always be what was typed.
template <typename T>
CLI::Option* IntegerOption(CLI::App* app, const std::string& name, T& target, long long low, long long high,
                           const std::string& help) {
    auto take = [&target, name, low, high](const std::string& text) {
        const auto v = IntegerIn(text, low, high);
        if (!v) throw BadValue(name, text, "a whole number " + std::to_string(low) + ".." + std::to_string(high));
        target = static_cast<T>(*v);
    };
    return app->add_option_function<std::string>(name, take, help)->type_name("INT");
}

// "0.0001", "1000000000": limits as they are typed.
std::string Plain(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

CLI::Option* NumberOption(CLI::App* app, const std::string& name, double& target, double low, double high,
                          const std::string& help) {
    auto take = [&target, name, low, high](const std::string& text) {
        const auto v = NumberIn(text, low, high);
        if (!v) throw BadValue(name, text, "a number " + Plain(low) + ".." + Plain(high));
        target = *v;
    };
    return app->add_option_function<std::string>(name, take, help)->type_name("NUMBER");
}

// The reading options shared by read and log.
struct ReadFlags {
    int mean = 0;
    bool volts = false;
    bool codes = false;
    void Add(CLI::App* app) {
        IntegerOption(app, "--mean", mean, limits::kMean.low, limits::kMean.high,
                      "average over N samples (1..65536) instead of the newest sample");
        app->add_flag("--volts", volts, "volts instead of AD codes");
        app->add_flag("--codes", codes, "AD codes (with --volts: codes and volts side by side)");
    }
    ReadRequest Request() const { return {mean, codes || !volts, volts}; }
};

// Each sub-command: its name and help as `moxctl --help` lists them, the
// options it reads into its own members, and what it runs once they are read.
// info and di: text, or one JSON object.
struct TextOrJsonCommand {
    bool json = false;

    void Add(CLI::App* cmd) { cmd->add_flag("--json", json, "one JSON object instead of text"); }
};

struct InfoCommand : TextOrJsonCommand {
    static constexpr const char* kName = "info";
    static constexpr const char* kHelp = "card identity and network link";

    int Run() const { return Info(json); }
};

struct ReadCommand {
    static constexpr const char* kName = "read";
    static constexpr const char* kHelp = "start acquisition and print the 32 inputs AI00..AI31 (CSV, or JSON lines)";
    ReadOptions options;
    ReadFlags flags;
    long interval = 200;
    bool json = false;
    std::string setupPath;

    void Add(CLI::App* cmd) {
        flags.Add(cmd);
        IntegerOption(cmd, "--count", options.count, 0, 1000000000, "rows to print; 0 = until Ctrl-C")
            ->default_str(std::to_string(options.count));
        IntegerOption(cmd, "--interval", interval, limits::kIntervalMs.low, limits::kIntervalMs.high,
                      "milliseconds between rows (10..3600000)")
            ->default_str(std::to_string(interval));
        cmd->add_flag("--json", json, "JSON lines instead of CSV");
        cmd->add_option("--setup", setupPath, "setup file: each input also in its unit, and the limits passed");
    }
    int Run() {
        options.request = flags.Request();
        options.interval = std::chrono::milliseconds(interval);
        options.format = json ? Format::Json : Format::Csv;
        if (!LoadSetup(setupPath, options.setup)) return kExitUsage;
        return Read(options);
    }
};

struct LogCommand {
    static constexpr const char* kName = "log";
    static constexpr const char* kHelp = "append readings to a CSV file that survives a crash or power cut";
    LogOptions options;
    ReadFlags flags;
    long interval = 200;
    double duration = 0;
    std::uint64_t rotateSize = 0;
    long rotateTime = 0;
    std::string setupPath;

    void Add(CLI::App* cmd) {
        cmd->add_option("file", options.path, "CSV file; an existing file is continued")->required();
        flags.Add(cmd);
        IntegerOption(cmd, "--interval", interval, limits::kIntervalMs.low, limits::kIntervalMs.high,
                      "milliseconds between rows (10..3600000)")
            ->default_str(std::to_string(interval));
        NumberOption(cmd, "--duration", duration, 0.001, 1e9, "seconds to log; without it, until Ctrl-C");
        IntegerOption(cmd, "--rotate-size", rotateSize, 65536, 1LL << 50,
                      "start a new file once this one has BYTES (at least 65536)");
        IntegerOption(cmd, "--rotate-time", rotateTime, 1, 100000000, "start a new file every SECONDS (at least 1)");
        cmd->add_option("--setup", setupPath, "setup file: each input also in its unit, and the limits passed");
    }
    int Run() {
        options.request = flags.Request();
        options.interval = std::chrono::milliseconds(interval);
        if (duration > 0) options.duration = std::chrono::duration<double>(duration);
        options.rotate = {rotateSize, std::chrono::seconds(rotateTime)};
        if (!LoadSetup(setupPath, options.setup)) return kExitUsage;
        return Log(options);
    }
};

// The output commands. Their values are read here, strictly, and only the
// values read are sent: the windows' own conversions read a prefixed text
// such as "0xFF" as 0.
struct DaCommand {
    static constexpr const char* kName = "da";
    static constexpr const char* kHelp =
        "set an analog output AO0..AO3 from a DA code, a voltage or a value in its unit";
    std::string channel, code, volts, unitValue, setupPath, range = "bipolar";
    CLI::Option* codeOpt = nullptr;
    CLI::Option* voltsOpt = nullptr;
    CLI::Option* valueOpt = nullptr;

    void Add(CLI::App* cmd) {
        cmd->add_option("channel", channel, "analog output 0..3: AO0..AO3, DA0..DA3 in the analog output window")
            ->required();
        codeOpt = cmd->add_option("--code", code, "hexadecimal DA code 0..FFF");
        voltsOpt = cmd->add_option("--volts", volts, "voltage within the range");
        codeOpt->excludes(voltsOpt);
        valueOpt = cmd->add_option("--value", unitValue, "value in the output's unit, as the setup file scales it");
        valueOpt->excludes(codeOpt)->excludes(voltsOpt);
        cmd->add_option("--setup", setupPath,
                        "setup file giving the output's unit and scaling (with --value); with any value, a code "
                        "beyond the output's alarm levels is refused");
        cmd->add_option("--range", range,
                        "output range of --volts and --value: bipolar (-5..+5 V) or unipolar (0..10 V)")
            ->check(CLI::IsMember({"bipolar", "unipolar"}))
            ->capture_default_str();
    }

    int Run() const {
        const auto ch = IntegerIn(channel, limits::kDaChannel.low, limits::kDaChannel.high);
        if (!ch) throw BadValue("channel", channel, "an analog output 0..3 (AO0..AO3)");
        const auto da = static_cast<std::int16_t>(*ch);
        if (valueOpt->count() > 0) return RunValue(da);
        if (codeOpt->count() == 0 && voltsOpt->count() == 0)
            throw CLI::RequiredError("--code or --volts (or --value with --setup)");
        // A setup given is read, and its limits kept, whichever way the value comes.
        std::optional<mox::setup::Setup> setup;
        if (!setupPath.empty() && !LoadSetup(setupPath, setup)) return kExitUsage;
        const bool bipolar = range == "bipolar";
        if (codeOpt->count() > 0) {
            const auto value = HexIn(code, static_cast<unsigned long>(limits::kDaCode.high));
            if (!value) throw BadValue("--code", code, "a hexadecimal DA code 0..FFF");
            CheckAlarms(setup, da, static_cast<int>(*value), bipolar, "--code");
            return SetDa(da, static_cast<std::int16_t>(*value), "");
        }
        const auto v = NumberIn(volts, limits::DaVolts(bipolar).low, limits::DaVolts(bipolar).high);
        if (!v) throw BadValue("--volts", volts, bipolar ? "a voltage -5..5" : "a voltage 0..10");
        const std::int16_t daCode = mox::DaCodeFromVolts(*v, bipolar);
        CheckAlarms(setup, da, daCode, bipolar, "--volts");
        return SetDa(da, daCode, " from " + volts + " V, " + range);
    }

    static void CheckAlarms(const std::optional<mox::setup::Setup>& setup, int da, int daCode, bool bipolar,
                            const char* option) {
        std::string why;
        if (setup && !DaCodeWithinAlarms(*setup, da, daCode, bipolar, why)) throw CLI::ValidationError(option, why);
    }

    // The value goes through the output's scaling and calibration exactly;
    // one the output cannot give is refused, never clipped.
    int RunValue(std::int16_t da) const {
        if (setupPath.empty()) throw CLI::RequiredError("--setup (--value is in the unit a setup file gives)");
        const auto v = NumberIn(unitValue, -1e300, 1e300);
        if (!v) throw BadValue("--value", unitValue, "a plain number such as 12.5 or -3e-2");
        std::optional<mox::setup::Setup> setup;
        if (!LoadSetup(setupPath, setup)) return kExitUsage;
        const bool bipolar = range == "bipolar";
        std::string why;
        const auto daCode = DaCodeForValue(*setup, da, *v, bipolar, why);
        if (!daCode) throw CLI::ValidationError("--value", why);
        const auto& out = setup->outputs[static_cast<std::size_t>(da)];
        return SetDa(da, static_cast<std::int16_t>(*daCode),
                     " from " + unitValue + " " + out.unit + " (" + out.name + ", " + range + "); the code gives " +
                         ValueText(DaValueOfCode(*setup, da, *daCode, bipolar)) + " " + out.unit);
    }
};

struct DoCommand {
    static constexpr const char* kName = "do";
    static constexpr const char* kHelp =
        "set a group of eight digital outputs (group 0: DO1..DO8, 1: DO9..DO16) from a hexadecimal byte";
    std::string group, byte;

    void Add(CLI::App* cmd) {
        cmd->add_option("group", group, "output group 0 or 1")->required();
        cmd->add_option("byte", byte, "hexadecimal byte 0..FF")->required();
    }
    int Run() const {
        const auto g = IntegerIn(group, limits::kDoGroup.low, limits::kDoGroup.high);
        if (!g) throw BadValue("group", group, "an output group 0 or 1");
        const auto b = HexIn(byte, static_cast<unsigned long>(limits::kDoByte.high));
        if (!b) throw BadValue("byte", byte, "a hexadecimal byte 0..FF");
        return SetDo(static_cast<std::int16_t>(*g), static_cast<std::int16_t>(*b));
    }
};

struct DoBitCommand {
    static constexpr const char* kName = "dobit";
    static constexpr const char* kHelp = "set one digital output DO1..DO16";
    std::string bit, value;

    void Add(CLI::App* cmd) {
        cmd->add_option("bit", bit, "digital output 1..16 (DO1..DO16), as numbered in the digital I/O window")
            ->required();
        cmd->add_option("value", value, "0 or 1")->required();
    }
    int Run() const {
        const auto n = IntegerIn(bit, limits::kDoBit.low, limits::kDoBit.high);
        if (!n) throw BadValue("bit", bit, "a digital output 1..16 (DO1..DO16)");
        const auto v = IntegerIn(value, limits::kBitValue.low, limits::kBitValue.high);
        if (!v) throw BadValue("value", value, "0 or 1");
        // Numbered 1..16 as in the window; the driver counts from 0.
        return SetDoBit(static_cast<std::int16_t>(*n - 1), static_cast<std::int16_t>(*v));
    }
};

struct DiCommand : TextOrJsonCommand {
    static constexpr const char* kName = "di";
    static constexpr const char* kHelp = "read both digital input groups (DI group 0 and 1)";

    int Run() const { return ReadDi(json); }
};

struct SelfTestCommand {
    static constexpr const char* kName = "selftest";
    static constexpr const char* kHelp =
        "loopback self-test (AO0..AO3 -> AI00..AI03, DO group n -> DI group n): pass/fail table";
    SelfTestOptions options;
    SelfTestFiles files;
    long settleMs = 100;

    void Add(CLI::App* cmd) {
        NumberOption(cmd, "--tolerance", options.toleranceVolts, 0.001, 5, "largest analog loop error, volts")
            ->default_str(Plain(options.toleranceVolts));
        NumberOption(cmd, "--noise", options.noiseLimitVolts, 0.0001, 5,
                     "largest input noise (standard deviation), volts")
            ->default_str(Plain(options.noiseLimitVolts));
        IntegerOption(cmd, "--settle", settleMs, 1, 10000, "milliseconds between setting an output and reading it")
            ->default_str(std::to_string(settleMs));
        // --json alone is a switch, as for info and read; with a FILE, as written before.
        jsonOpt = cmd->add_option("--json", files.json,
                                  "the report as one JSON object instead of the table; with FILE, the table and "
                                  "the JSON written to FILE")
                      ->expected(0, 1);
        cmd->add_option("--junit", files.junit, "write the report as JUnit XML to FILE");
    }
    int Run() {
        options.settle = std::chrono::milliseconds(settleMs);
        files.jsonToStandardOutput = jsonOpt->count() > 0 && files.json.empty();
        return SelfTest(options, files);
    }

private:
    CLI::Option* jsonOpt = nullptr;
};

struct WatchCommand {
    static constexpr const char* kName = "watch";
    static constexpr const char* kHelp =
        "print each limit crossing of a setup file's inputs; exit 1 if an alarm level was reached";
    WatchOptions options;
    long interval = 200;
    double duration = 0;

    void Add(CLI::App* cmd) {
        cmd->add_option("--setup", options.setupPath, "setup file with the inputs' limits")->required();
        IntegerOption(cmd, "--interval", interval, limits::kIntervalMs.low, limits::kIntervalMs.high,
                      "milliseconds between readings (10..3600000)")
            ->default_str(std::to_string(interval));
        NumberOption(cmd, "--duration", duration, 0.001, 1e9, "seconds to watch; without it, until Ctrl-C");
    }
    int Run() {
        options.interval = std::chrono::milliseconds(interval);
        if (duration > 0) options.duration = std::chrono::duration<double>(duration);
        return Watch(options);
    }
};

struct CalibrateCommand {
    static constexpr const char* kName = "calibrate";
    static constexpr const char* kHelp =
        "loopback calibration (AO0..AO3 -> AI00..AI03): gain and offset of each input, or of each output, "
        "written to a calibration file";
    CalibrateOptions options;
    std::string channels;

    void Add(CLI::App* cmd) {
        cmd->footer("A loopback measures the pair AO -> AI, never one end alone, so one end is trusted:\n"
                    "  inputs (the default): each input against its AO at the DA code's nominal volts;\n"
                    "  outputs (--outputs): each AO against its input, read through the input's calibration\n"
                    "  in force (--setup; an input without one is taken at its nominal volts).\n"
                    "The chosen outputs are driven over the whole sweep and left at 0 V: fit the loopback plug,\n"
                    "with nothing else on them. A channel whose fit is poor (off a straight line, saturated, not\n"
                    "following its output, gain or offset implausible) is refused with the reason and not written;\n"
                    "the others are. An existing --out file is replaced only if moxctl calibrate wrote it; its\n"
                    "tables for the channels not calibrated in this run, refused ones included, are kept.\n"
                    "Exit status: 0 every chosen channel calibrated and written, 1 a channel refused (the others\n"
                    "written), the card failed or the run was stopped (nothing written), 2 a bad argument or file.");
        cmd->add_option("--out", options.out, "calibration file to write (named by the setup file's calibration)")
            ->required();
        cmd->add_option("--operator", options.operatorName, "who calibrates, written in the file")->required();
        cmd->add_option("--setup", options.setupPath,
                        "setup file whose calibration is in force: the errors before, and the inputs' "
                        "correction with --outputs");
        cmd->add_flag("--outputs", options.outputs, "calibrate the outputs against the inputs instead");
        channelsOption =
            cmd->add_option("--channels", channels, "loopback pairs to calibrate, e.g. 0,2 (default 0,1,2,3)");
        IntegerOption(cmd, "--points", options.points, 3, 101, "set points over -4.5..+4.5 V (3..101)")
            ->default_str(std::to_string(options.points));
        IntegerOption(cmd, "--mean", options.mean, 1, 1000, "samples averaged at each point (1..1000)")
            ->default_str(std::to_string(options.mean));
        IntegerOption(cmd, "--settle", settleMs, 1, 10000, "milliseconds for an output to settle after each change")
            ->default_str(std::to_string(settleMs));
        IntegerOption(cmd, "--valid-days", options.validDays, 1, 36500, "days until the calibration is due")
            ->default_str(std::to_string(options.validDays));
        NumberOption(cmd, "--max-residual", options.limits.maxResidual, 0.0001, 1,
                     "largest distance of a point from the fitted line, volts, before a channel is refused")
            ->default_str(Plain(options.limits.maxResidual));
    }
    int Run() {
        // Given empty (an unset shell variable, say) is refused, not taken
        // for every pair.
        if (channelsOption != nullptr && channelsOption->count() > 0) {
            const auto list = ChannelList(channels);
            if (!list) throw BadValue("--channels", channels, "a list of loopback pairs 0..3, each once, e.g. 0,2");
            options.channels = *list;
        }
        options.settle = std::chrono::milliseconds(settleMs);
        return Calibrate(options);
    }

private:
    long settleMs = 50;
    CLI::Option* channelsOption = nullptr;
};

struct RunCommand {
    static constexpr const char* kName = "run";
    static constexpr const char* kHelp =
        "run a test recipe (docs/recipes.md): set outputs, wait, check inputs; safe state at the end";
    RunOptions options;

    void Add(CLI::App* cmd) {
        cmd->footer("The recipe is read whole, with the setup file it names, before the card is touched; a\n"
                    "mistake is reported with its file, line and column. The outputs the run set go back to\n"
                    "the recipe's [safe] values (0 V / 0 otherwise) after a pass, a failure, a card error or\n"
                    "Ctrl-C. Exit status: 0 every check passed, 1 a check failed or the run was stopped,\n"
                    "2 a bad recipe or argument, 3 no card driver, 4 the card failed or did not confirm a step.");
        cmd->add_option("recipe", options.recipe, "recipe file (TOML)")->required();
        cmd->add_flag("--dry-run", options.dryRun, "check the recipe and print the plan; the card is not touched");
        cmd->add_option("--json", options.json, "write the report as JSON to FILE");
        cmd->add_option("--junit", options.junit, "write the report as JUnit XML to FILE (one test case per check)");
    }
    int Run() const { return RunRecipe(options); }
};

// In the order `moxctl --help` lists them.
using Commands = std::tuple<InfoCommand, ReadCommand, LogCommand, WatchCommand, DaCommand, DoCommand, DoBitCommand,
                            DiCommand, SelfTestCommand, CalibrateCommand, RunCommand>;

// What each value stands for in --help, the same in every command, in
// place of the parser's TEXT and INT.
void NameValues(CLI::App* cmd) {
    static const std::map<std::string, std::string, std::less<>> kNames = {{"file", "FILE"},
                                                                           {"recipe", "FILE"},
                                                                           {"--setup", "FILE"},
                                                                           {"--out", "FILE"},
                                                                           {"--junit", "FILE"},
                                                                           {"--json", "FILE"},
                                                                           {"--operator", "NAME"},
                                                                           {"--channels", "LIST"},
                                                                           {"channel", "AO"},
                                                                           {"--code", "HEX"},
                                                                           {"--volts", "VOLTS"},
                                                                           {"--value", "VALUE"},
                                                                           {"--range", "RANGE"},
                                                                           {"group", "GROUP"},
                                                                           {"byte", "HEX"},
                                                                           {"bit", "DO"},
                                                                           {"value", "0|1"},
                                                                           {"--interval", "MS"},
                                                                           {"--settle", "MS"},
                                                                           {"--count", "N"},
                                                                           {"--mean", "N"},
                                                                           {"--points", "N"},
                                                                           {"--rotate-size", "BYTES"},
                                                                           {"--rotate-time", "SECONDS"},
                                                                           {"--duration", "SECONDS"},
                                                                           {"--valid-days", "DAYS"},
                                                                           {"--tolerance", "VOLTS"},
                                                                           {"--noise", "VOLTS"},
                                                                           {"--max-residual", "VOLTS"}};
    for (CLI::Option* option : cmd->get_options()) {
        const auto found = kNames.find(option->get_name());
        if (found == kNames.end()) continue;
        // A switch keeps its empty name; an optional value shows as [FILE].
        if (option->get_type_size() == 0 || option->get_type_name().empty()) continue;
        option->type_name(option->get_expected_min() == 0 ? "[" + found->second + "]" : found->second);
    }
}

// A command's result is the program's exit status; a usage error found
// while it runs is thrown as CLI11's own.
template <typename Command>
void AddCommand(CLI::App& app, Command& command, int& result) {
    auto* cmd = app.add_subcommand(Command::kName, Command::kHelp);
    command.Add(cmd);
    NameValues(cmd);
    cmd->callback([&command, &result] { result = command.Run(); });
}

// CLI11 would only say that a command is required.
bool UnknownCommand(CLI::App& app, int argc, char** argv) {
    if (argc <= 1 || argv[1][0] == '-') return false;
    try {
        app.get_subcommand(argv[1]);
    } catch (const CLI::OptionNotFound&) {
        std::fprintf(stderr, "moxctl: unknown command \"%s\"\nRun with --help for the commands.\n", argv[1]);
        return true;
    }
    return false;
}

const char* kDescription =
    "moxctl: a MOX data-acquisition card from the command line.\n"
    "The card is reached through the card driver library, as by moxpanel: the bundled virtual card,\n"
    "another libadcard.so named by LD_LIBRARY_PATH, or a card on the network with MOX_CARD_ADDRESS=host:port\n"
    "(moxctl info names the library loaded). Ports are named as the windows number them: inputs AI00..AI31,\n"
    "analog outputs AO0..AO3 (DA0..DA3), digital outputs DO1..DO16 in groups 0 and 1, DI groups 0 and 1.\n"
    "Exit status: 0 done (selftest: passed; watch: no alarm level reached), 1 the card did not answer,\n"
    "refused or a check failed (watch: an input reached an alarm level),\n"
    "2 usage error (a bad MOX_CARD_ADDRESS too), 3 no card driver, 4 a write (da, do, dobit) was not confirmed by the "
    "card:\n"
    "it may or may not have been applied.";

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Texts are UTF-8 ("°C", the driver's own messages): the console is told
    // so, or it shows them in its ANSI code page.
    SetConsoleOutputCP(CP_UTF8);
#endif
    DllDef::SetFailureHandler(&NoDriver);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    CLI::App app(kDescription, "moxctl");
    app.set_version_flag("--version", mox::VersionText("moxctl", MOX_VERSION));
    app.require_subcommand(1);
    int result = kExitOk;
    Commands commands;
    std::apply([&](auto&... command) { (AddCommand(app, command, result), ...); }, commands);

    if (UnknownCommand(app, argc, argv)) return kExitUsage;
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    } catch (const BadCardAddress& e) {
        std::fprintf(stderr, "moxctl: %s\n", e.what());
        return kExitUsage;
    }
    return result;
}
