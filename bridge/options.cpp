// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "strict_options.h"
#include "version_text.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace bridge {
namespace {

const CLI::Validator kIPv4(
    [](const std::string& text) { return vnet::ParseIPv4(text) ? std::string() : "not an IPv4 address: " + text; },
    ""); // --help names the value A.B.C.D (type_name)

std::string Dotted(const Address& a) {
    const auto withPort = vnet::EndpointText({a, 0});
    return withPort.substr(0, withPort.rfind(':'));
}

// No single computer has these: 0.0.0.0 (every interface, or none), the
// limited broadcast and the multicast groups.
bool NoComputersAddress(const Address& a) {
    return a == Address{} || a == Address{255, 255, 255, 255} || (a[0] >> 4) == 0xE;
}

// Why the listening address or an allowed client cannot be served, or
// nothing when it can. Listening on an address that is not this
// computer's would fail natively and listen on every interface under Wine.
std::optional<std::string> RefusedAddress(const Options& o) {
    const Address listen = *vnet::ParseIPv4(o.address);
    if (NoComputersAddress(listen)) {
        return "--address " + o.address + ": no computer has that address (0.0.0.0, broadcast or multicast)";
    }
    const auto own = o.ownAddresses();
    if (!IsLocal(listen, own)) {
        return "--address " + o.address + " is not an address of this computer; its addresses: " + AddressList(own);
    }
    for (const auto& a : o.allowed) {
        if (NoComputersAddress(a)) {
            return "--allow " + Dotted(a) + ": no computer has that address (0.0.0.0, broadcast or multicast)";
        }
    }
    return std::nullopt;
}

} // namespace

std::string AddressList(const std::vector<Address>& addresses) {
    std::string text = "127.0.0.1";
    for (const auto& a : addresses) {
        if (a[0] == 127 || a == Address{}) continue;
        text += ", " + Dotted(a);
    }
    return text;
}

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
    mox::StrictIntegerOption<std::uint16_t>(app, "--port", o.port, 0, 65535, "UDP port; 0 picks a free one")
        ->default_str(std::to_string(o.port))
        ->type_name("PORT");
    app.add_option(
           "--allow", allowed,
           "a client address allowed besides this computer (repeatable); no authentication: anyone able to send\n"
           "from it can drive the card's outputs")
        ->check(kIPv4)
        ->type_name("A.B.C.D");
    mox::StrictIntegerOption(app, "--call-timeout", boundMs, 5, 10000,
                             "milliseconds a driver call may take before it is answered as failed")
        ->default_str(std::to_string(boundMs))
        ->type_name("MS");
    app.add_flag("--trace", o.trace, "print a line for each request and each datagram dropped");
    app.add_flag("--exit-with-stdin", o.exitWithStdin, "end when standard input closes");
    // Two blanks at least between each option and its help, as help2man
    // needs to tell them apart in the manual page.
    app.get_formatter()->column_width(34);
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
    if (const auto refused = RefusedAddress(o)) {
        return {std::nullopt, 2, "mox-driver-bridge: " + *refused + "\nRun with --help for more information."};
    }
    return {o, 0, {}};
}

bool ReachableFromOutside(const std::array<std::uint8_t, 4>& address) { return address[0] != 127; }

} // namespace bridge
