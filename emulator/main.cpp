// SPDX-License-Identifier: GPL-3.0-or-later
// mox-card-emulator: the virtual card's firmware on the network. Answers the
// card protocol (docs/card-protocol.md) over UDP and prints
// "listening on ADDRESS:PORT" once it does; --help lists the options and the
// fault commands it takes on standard input.
#include "emulator.h"
#include "options.h"

#include <cstdio>
#include <optional>
#include <random>

namespace {

// The faults given on the command line.
emu::FaultState InitialFaults(const emu::Options& o) {
    emu::FaultState faults;
    if (o.pcAddress) faults.pcAddress = vnet::ParseIPv4(*o.pcAddress);
    faults.drop = o.drop.value_or(0);
    faults.delayMs = o.delayMs.value_or(0);
    if (o.silentSeconds) faults.SilenceFor(*o.silentSeconds);
    return faults;
}

} // namespace

int main(int argc, char** argv) {
    const auto parsed = emu::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n", parsed.text.c_str());
        return parsed.exitCode;
    }
    const emu::Options& o = *parsed.options;
    // A recording is read whole before the card answers: a bad file is
    // refused here, naming its line, never half played.
    std::optional<emu::Recording> recording;
    if (o.replay) {
        auto load = emu::ReadRecordingFile(*o.replay);
        if (!load.recording) {
            std::fprintf(stderr, "mox-card-emulator: --replay %s\n", load.error.c_str());
            return 2;
        }
        recording = std::move(load.recording);
    }
    std::string error;
    asio::io_context io;
    auto socket = vnet::OpenUdpSocket(io, vnet::Endpoint{*vnet::ParseIPv4(o.address), o.port}, error);
    if (!socket) {
        std::fprintf(stderr,
                     "mox-card-emulator: %s\nAnother program may hold port %u (an emulator or bridge already "
                     "running?): stop it, or choose another with --port (0 picks a free one)\n",
                     error.c_str(), static_cast<unsigned>(o.port));
        return 1;
    }
    asio::error_code ec;
    std::printf("listening on %s\n", vnet::EndpointText(vnet::FromAsio(socket->local_endpoint(ec))).c_str());
    std::fflush(stdout);
    emu::Emulator emulator(io, std::move(*socket), InitialFaults(o), o.seed.value_or(std::random_device{}()), o.trace,
                           o.exitWithStdin);
    if (recording) emulator.PlayBack(emu::Replay(std::move(*recording), *o.replay, !o.replayOnce));
    emulator.Run();
    std::fprintf(stderr, "mox-card-emulator: %s\n", emulator.Summary().c_str());
    return 0;
}
