// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "version_text.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace bridge {
namespace {

const CLI::Validator kIPv4(
    [](const std::string& text) { return vnet::ParseIPv4(text) ? std::string() : "not an IPv4 address: " + text; },
    ""); // --help names the value A.B.C.D (type_name)

} // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    Options o;
    std::vector<std::string> allowed;
    int boundMs = static_cast<int>(o.callBound.count());
    CLI::App app("Serves a MOX card driver library over the card protocol, so that moxpanel and moxctl\n"
                 "reach the card it drives with MOX_CARD_ADDRESS=address:port.\n"
                 "The driver is loaded as moxpanel loads it: libadcard.so through the system loader on\n"
                 "Linux, adcard.dll from this program's folder or the system folder on Windows.\n"
                 "Standard input takes the commands: status | quit. SIGINT and SIGTERM end it as quit does;\n"
                 "it then prints its summary (requests served, refused, senders dropped) on standard error.",
                 "mox-driver-bridge");
    app.add_option("--address", o.address,
                   "IPv4 address to listen on; another than 127.0.0.1 lets the network drive the card")
        ->capture_default_str()
        ->check(kIPv4)
        ->type_name("A.B.C.D");
    app.add_option("--port", o.port, "UDP port; 0 picks a free one")->capture_default_str()->type_name("PORT");
    app.add_option(
           "--allow", allowed,
           "a client address allowed besides this computer (repeatable); no authentication: anyone able to send\n"
           "from it can drive the card's outputs")
        ->check(kIPv4)
        ->type_name("A.B.C.D");
    app.add_option("--call-timeout", boundMs, "milliseconds a driver call may take before it is answered as failed")
        ->capture_default_str()
        ->check(CLI::Range(5, 10000).description(""))
        ->type_name("MS");
    app.add_flag("--trace", o.trace, "print a line for each request and each datagram dropped");
    app.add_flag("--exit-with-stdin", o.exitWithStdin, "end when standard input closes");
    app.set_version_flag("--version", mox::VersionText("mox-driver-bridge", MOX_VERSION));

    // CLI11 takes the arguments last to first.
    std::vector<std::string> reversed = args;
    std::reverse(reversed.begin(), reversed.end());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {std::nullopt, 0, app.help()};
    } catch (const CLI::CallForVersion&) {
        return {std::nullopt, 0, app.version()};
    } catch (const CLI::ParseError& e) {
        return {std::nullopt, 2,
                std::string("mox-driver-bridge: ") + e.what() + "\nRun with --help for more information."};
    }
    for (const auto& a : allowed) o.allowed.push_back(*vnet::ParseIPv4(a));
    o.callBound = std::chrono::milliseconds(boundMs);
    return {o, 0, {}};
}

bool ReachableFromOutside(const std::array<std::uint8_t, 4>& address) { return address[0] != 127; }

} // namespace bridge
