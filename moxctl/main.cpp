// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl: a MOX card from the command line, through the same driver module
// and card driver library as the windows. `moxctl --help` and
// `moxctl COMMAND --help` describe the commands.
#include "DllDef.h"
#include "args.h"
#include "card_io.h"
#include "commands.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>

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

// The reading options shared by read and log.
struct ReadFlags {
    int mean = 0;
    bool volts = false;
    bool codes = false;
    void Add(CLI::App* app) {
        app->add_option("--mean", mean, "average over N samples (1..65536) instead of the newest sample")
            ->check(CLI::Range(1, 65536));
        app->add_flag("--volts", volts, "volts instead of AD codes");
        app->add_flag("--codes", codes, "AD codes (with --volts: codes and volts side by side)");
    }
    ReadRequest Request() const { return {mean, codes || !volts, volts}; }
};

const char* kDescription =
    "moxctl: a MOX data-acquisition card from the command line.\n"
    "The card is reached through the card driver library, as by moxpanel: the bundled virtual card,\n"
    "another libadcard.so named by LD_LIBRARY_PATH, or a card on the network with MOX_CARD_ADDRESS=host:port.\n"
    "Exit status: 0 done (selftest: passed), 1 the card did not answer or a check failed,\n"
    "2 usage error, 3 no card driver.";

} // namespace

int main(int argc, char** argv) {
    DllDef::SetFailureHandler(&NoDriver);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    CLI::App app(kDescription, "moxctl");
    app.set_version_flag("--version", "moxctl " MOX_VERSION);
    app.require_subcommand(1);
    int result = kExitOk;

    bool infoJson = false;
    auto* info = app.add_subcommand("info", "card identity and network link");
    info->add_flag("--json", infoJson, "one JSON object instead of text");
    info->callback([&] { result = Info(infoJson); });

    ReadOptions readOptions;
    ReadFlags readFlags;
    long readInterval = 200;
    bool readJson = false;
    auto* read = app.add_subcommand("read", "start acquisition and print the 32 inputs (CSV, or JSON lines)");
    readFlags.Add(read);
    read->add_option("--count", readOptions.count, "rows to print; 0 = until Ctrl-C")
        ->check(CLI::Range(0L, 1000000000L))
        ->capture_default_str();
    read->add_option("--interval", readInterval, "milliseconds between rows (10..3600000)")
        ->check(CLI::Range(10L, 3600000L))
        ->capture_default_str();
    read->add_flag("--json", readJson, "JSON lines instead of CSV");
    read->callback([&] {
        readOptions.request = readFlags.Request();
        readOptions.interval = std::chrono::milliseconds(readInterval);
        readOptions.format = readJson ? Format::Json : Format::Csv;
        result = Read(readOptions);
    });

    LogOptions logOptions;
    ReadFlags logFlags;
    long logInterval = 200;
    double logDuration = 0;
    std::uint64_t rotateSize = 0;
    long rotateTime = 0;
    auto* log = app.add_subcommand("log", "append readings to a CSV file that survives a crash or power cut");
    log->add_option("file", logOptions.path, "CSV file; an existing file is continued")->required();
    logFlags.Add(log);
    log->add_option("--interval", logInterval, "milliseconds between rows (10..3600000)")
        ->check(CLI::Range(10L, 3600000L))
        ->capture_default_str();
    log->add_option("--duration", logDuration, "seconds to log; without it, until Ctrl-C")
        ->check(CLI::Range(0.001, 1e9));
    log->add_option("--rotate-size", rotateSize, "start a new file once this one has BYTES (at least 65536)")
        ->check(CLI::Range(std::uint64_t{65536}, std::uint64_t{1} << 50));
    log->add_option("--rotate-time", rotateTime, "start a new file every SECONDS (at least 1)")
        ->check(CLI::Range(1L, 100000000L));
    log->callback([&] {
        logOptions.request = logFlags.Request();
        logOptions.interval = std::chrono::milliseconds(logInterval);
        if (logDuration > 0) {
            logOptions.duration = std::chrono::seconds(static_cast<long long>(std::ceil(logDuration)));
        }
        logOptions.rotate = {rotateSize, std::chrono::seconds(rotateTime)};
        result = Log(logOptions);
    });

    std::string daChannel, daCode, daVolts, daRange = "bipolar";
    auto* da = app.add_subcommand("da", "set an analog output from a DA code or a voltage");
    da->add_option("channel", daChannel, "DA channel 0..3")->required();
    auto* codeOpt = da->add_option("--code", daCode, "hexadecimal DA code 0..FFF");
    auto* voltsOpt = da->add_option("--volts", daVolts, "voltage within the range");
    codeOpt->excludes(voltsOpt);
    da->add_option("--range", daRange, "output range of --volts: bipolar (-5..+5 V) or unipolar (0..10 V)")
        ->check(CLI::IsMember({"bipolar", "unipolar"}))
        ->capture_default_str();
    da->callback([&] {
        const auto ch = IntegerIn(daChannel, 0, 3);
        if (!ch) throw BadValue("channel", daChannel, "a DA channel 0..3");
        if (codeOpt->count() == 0 && voltsOpt->count() == 0) throw CLI::RequiredError("--code or --volts");
        if (codeOpt->count() > 0) {
            if (!HexIn(daCode, 0xFFF)) throw BadValue("--code", daCode, "a hexadecimal DA code 0..FFF");
            result = SetDa(mox::DaChannel(daChannel), mox::DaCodeFromHex(daCode), "");
            return;
        }
        const bool bipolar = daRange == "bipolar";
        if (!NumberIn(daVolts, bipolar ? -5 : 0, bipolar ? 5 : 10)) {
            throw BadValue("--volts", daVolts, bipolar ? "a voltage -5..5" : "a voltage 0..10");
        }
        result = SetDa(mox::DaChannel(daChannel), mox::DaCodeFromVolts(daVolts, bipolar),
                       " from " + daVolts + " V, " + daRange);
    });

    std::string doGroup, doByte;
    auto* dout = app.add_subcommand("do", "set a group of eight digital outputs from a hexadecimal byte");
    dout->add_option("group", doGroup, "output group 0 or 1")->required();
    dout->add_option("byte", doByte, "hexadecimal byte 0..FF")->required();
    dout->callback([&] {
        if (!IntegerIn(doGroup, 0, 1)) throw BadValue("group", doGroup, "an output group 0 or 1");
        if (!HexIn(doByte, 0xFF)) throw BadValue("byte", doByte, "a hexadecimal byte 0..FF");
        result = SetDo(mox::DoGroup(doGroup), mox::DoByteFromHex(doByte));
    });

    std::string bitNumber, bitValue;
    auto* dobit = app.add_subcommand("dobit", "set one digital output");
    dobit->add_option("bit", bitNumber, "output 1..16, as numbered in the digital I/O window")->required();
    dobit->add_option("value", bitValue, "0 or 1")->required();
    dobit->callback([&] {
        if (!IntegerIn(bitNumber, 1, 16)) throw BadValue("bit", bitNumber, "an output 1..16");
        if (!IntegerIn(bitValue, 0, 1)) throw BadValue("value", bitValue, "0 or 1");
        result = SetDoBit(mox::DoBitIndex(bitNumber), mox::DoBitValue(bitValue));
    });

    bool diJson = false;
    auto* di = app.add_subcommand("di", "read both digital input groups");
    di->add_flag("--json", diJson, "one JSON object instead of text");
    di->callback([&] { result = ReadDi(diJson); });

    SelfTestOptions selfOptions;
    SelfTestFiles selfFiles;
    long settleMs = 100;
    auto* self = app.add_subcommand(
        "selftest", "loopback self-test (DA0..3 -> inputs 0..3, DO group n -> DI group n): pass/fail table");
    self->add_option("--tolerance", selfOptions.toleranceVolts, "largest analog loop error, volts")
        ->check(CLI::Range(0.001, 5.0))
        ->capture_default_str();
    self->add_option("--noise", selfOptions.noiseLimitVolts, "largest input noise (standard deviation), volts")
        ->check(CLI::Range(0.0001, 5.0))
        ->capture_default_str();
    self->add_option("--settle", settleMs, "milliseconds between setting an output and reading it")
        ->check(CLI::Range(1L, 10000L))
        ->capture_default_str();
    self->add_option("--json", selfFiles.json, "write the report as JSON to FILE");
    self->add_option("--junit", selfFiles.junit, "write the report as JUnit XML to FILE");
    self->callback([&] {
        selfOptions.settle = std::chrono::milliseconds(settleMs);
        result = SelfTest(selfOptions, selfFiles);
    });

    // CLI11 would only say that a command is required.
    if (argc > 1 && argv[1][0] != '-') {
        try {
            app.get_subcommand(argv[1]);
        } catch (const CLI::OptionNotFound&) {
            std::fprintf(stderr, "moxctl: unknown command \"%s\"\nRun with --help for the commands.\n", argv[1]);
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    return result;
}
