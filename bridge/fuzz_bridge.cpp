// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary datagrams from arbitrary senders to the driver bridge's
// request handling. The driver behind it writes exactly as much as each
// call's arguments say (honest_driver.h), so any count or length that
// outgrows a buffer on the way is caught by AddressSanitizer: one bridge
// runs it through the driver module's buffers (DriverModuleCard, as
// mox-driver-bridge does), one hands it the request handling's own buffers.
// Built for libFuzzer under clang; with MOX_FUZZ_STANDALONE it runs the
// files named on its command line, or a fixed number of generated inputs.
#include "bridge.h"
#include "driver_card.h"
#include "fuzz_standalone.h"
#include "honest_driver.h"

#include <cstddef>
#include <cstdint>

namespace {

bridge::Options FuzzOptions() {
    bridge::Options o;
    o.allowed.push_back({192, 168, 1, 20});
    o.callBound = std::chrono::milliseconds(1000);
    // Fixed, so that the sender not allowed is never this computer.
    o.ownAddresses = [] { return std::vector<bridge::Address>{{10, 1, 2, 3}}; };
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bridge::HonestDriver driver;
    static bridge::DriverModuleCard module(&driver);
    static bridge::Bridge throughModule(module, FuzzOptions());
    static bridge::Bridge direct(driver, FuzzOptions());
    if (size < 1) return 0;
    // The first byte picks the sender (this computer, an allowed one, or
    // not) and the bridge.
    const vnet::Endpoint from{data[0] % 3 == 0   ? std::array<std::uint8_t, 4>{127, 0, 0, 1}
                              : data[0] % 3 == 1 ? std::array<std::uint8_t, 4>{192, 168, 1, 20}
                                                 : std::array<std::uint8_t, 4>{192, 168, 1, 66},
                              static_cast<std::uint16_t>(5000 + data[0])};
    bridge::Bridge& server = (data[0] / 3) % 2 == 0 ? throughModule : direct;
    const auto before = server.counters();
    const auto reply = server.Handle(from, std::span(data + 1, size - 1));
    const auto after = server.counters();
    if (data[0] % 3 == 2 && (reply || after.foreign != before.foreign + 1)) __builtin_trap();
    if (reply) {
        const auto packet = vnet::Decode(*reply);
        if (!packet || !packet->reply) __builtin_trap();
    }
    return 0;
}

#ifdef MOX_FUZZ_STANDALONE
int main(int argc, char** argv) { return FuzzStandalone(argc, argv, 20000, 1); }
#endif
