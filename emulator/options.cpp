// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "emulator.h"
#include "strict_options.h"
#include "udp.h"
#include "version_text.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>

namespace emu {
namespace {

// "--trace 1" / "--trace 0" as written before the flags took no value.
std::vector<std::string> WithFlagValuesJoined(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool flag = args[i] == "--trace" || args[i] == "--exit-with-stdin";
        if (flag && i + 1 < args.size() && (args[i + 1] == "0" || args[i + 1] == "1")) {
            out.push_back(args[i] + "=" + (args[i + 1] == "1" ? "true" : "false"));
            ++i;
        } else {
            out.push_back(args[i]);
        }
    }
    return out;
}

const CLI::Validator kIPv4(
    [](const std::string& text) { return vnet::ParseIPv4(text) ? std::string() : "not an IPv4 address: " + text; },
    ""); // --help names the value A.B.C.D (type_name)

// The faults in force from the start, as the commands of the same names.
void AddFaultOptions(CLI::App& app, Options& o) {
    mox::StrictNumberOption(app, "--drop", o.drop, 0.0, 1.0, "0..1", "fraction of requests lost, 0..1")
        ->type_name("FRACTION");
    const auto maxDelay = "0.." + std::to_string(static_cast<long long>(emu::kMaxDelayMs));
    mox::StrictNumberOption(app, "--delay", o.delayMs, 0.0, emu::kMaxDelayMs, maxDelay,
                            "milliseconds added before each reply, " + maxDelay)
        ->type_name("MS");
    const auto maxSilent = "0.." + std::to_string(static_cast<long long>(emu::kMaxSilentSeconds));
    mox::StrictNumberOption(app, "--silent", o.silentSeconds, 0.0, emu::kMaxSilentSeconds, maxSilent,
                            "seconds without any answer from the start, " + maxSilent)
        ->type_name("SECONDS");
    mox::StrictIntegerOption<std::uint64_t>(app, "--seed", o.seed, 0, UINT64_MAX, "seed of the drop decisions")
        ->type_name("N");
}

} // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    Options o;
    CLI::App app("The virtual MOX card on the network: answers the card protocol over UDP.\n"
                 "Faults can be switched while it runs, one command a line on standard input:\n"
                 "  drop FRACTION | delay MS | silent SECONDS | stop | resume |\n"
                 "  pc-address A.B.C.D | pc-address auto | status | quit\n"
                 "With --replay FILE the inputs recorded in FILE carry the recorded volts.",
                 "mox-card-emulator");
    app.add_option("--address", o.address, "IPv4 address to listen on")
        ->capture_default_str()
        ->check(kIPv4)
        ->type_name("A.B.C.D");
    mox::StrictIntegerOption<std::uint16_t>(app, "--port", o.port, 0, 65535, "UDP port; 0 picks a free one")
        ->default_str(std::to_string(o.port))
        ->type_name("PORT");
    app.add_option("--pc-address", o.pcAddress, "PC address reported instead of the one seen")
        ->check(kIPv4)
        ->type_name("A.B.C.D");
    AddFaultOptions(app, o);
    auto* replay =
        app.add_option("--replay", o.replay, "play a moxctl log (or a trend CSV export) back on the inputs it recorded")
            ->type_name("FILE");
    auto* once =
        app.add_flag("--replay-once", o.replayOnce, "play the recording once, then give the card's own inputs again")
            ->needs(replay);
    bool loop = false; // the default, said for clarity
    app.add_flag("--replay-loop", loop, "play the recording again from its start at its end (the default)")
        ->needs(replay)
        ->excludes(once);
    app.add_flag("--trace", o.trace, "print a line for each request answered");
    app.add_flag("--exit-with-stdin", o.exitWithStdin, "end when standard input closes");
    // Two blanks at least between each option and its help, as help2man
    // needs to tell them apart in the manual page.
    app.get_formatter()->column_width(34);
    app.set_version_flag("--version", mox::VersionText("mox-card-emulator", MOX_VERSION));

    // CLI11 takes the arguments last to first.
    std::vector<std::string> reversed = WithFlagValuesJoined(args);
    std::reverse(reversed.begin(), reversed.end());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {std::nullopt, 0, app.help()};
    } catch (const CLI::CallForVersion&) {
        return {std::nullopt, 0, app.version()};
    } catch (const CLI::ParseError& e) {
        return {std::nullopt, 2,
                std::string("mox-card-emulator: ") + e.what() + "\nRun with --help for more information."};
    }
    return {o, 0, {}};
}

} // namespace emu
