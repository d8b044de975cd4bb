// SPDX-License-Identifier: GPL-3.0-or-later
// The driver bridge: its request handling with a card of the test's making,
// and mox-driver-bridge serving test card drivers to the driver library's
// network card, as moxpanel and moxctl reach it.
#include "bridge.h"
#include "card_model.h"
#include "driver_card.h"
#include "emulator_process.h"
#include "honest_driver.h"
#include "local_address.h"
#include "remote_card.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

// The virtual card, with Mox_DA held until the test lets it go and counted.
class HeldCard final : public vcard::CardApi {
public:
    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override {
        return card_.Initial(a, b, c, d);
    }
    std::int32_t IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) override {
        return card_.IOCtl(inLen, in, outLen, out);
    }
    std::int32_t StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                           std::int32_t depth, std::int32_t gain, std::int16_t trigger) override {
        return card_.StartIntr(rate, block, first, count, depth, gain, trigger);
    }
    std::int32_t StopIntr() override { return card_.StopIntr(); }
    std::int32_t GetLastADError() override { return card_.GetLastADError(); }
    std::int32_t ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode, float n,
                             float* results) override {
        return card_.ADResult_DV(first, count, unit, mode, n, results);
    }
    std::int32_t Mox_DA(std::int16_t channel, std::int16_t code) override {
        ++daCalls;
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return !held_; });
        return card_.Mox_DA(channel, code);
    }
    std::int32_t Mox_DO(std::int16_t group, std::int16_t value) override { return card_.Mox_DO(group, value); }
    std::int32_t Mox_DOBit(std::int16_t bit, std::int16_t value) override { return card_.Mox_DOBit(bit, value); }
    std::int32_t Mox_DI(std::int32_t count, std::int16_t* inputs) override { return card_.Mox_DI(count, inputs); }

    void Hold(bool held) {
        {
            std::lock_guard lock(m_);
            held_ = held;
        }
        cv_.notify_all();
    }
    std::atomic<int> daCalls{0};

private:
    vcard::VirtualCard card_;
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false;
};

const vnet::Endpoint kLocal{{127, 0, 0, 1}, 40000};

std::vector<std::uint8_t> Request(vnet::Op op, std::uint32_t seq, std::vector<std::uint8_t> payload) {
    return vnet::Encode(vnet::Packet{false, op, seq, 0x5E55, std::move(payload)});
}

// The reply's status, or nothing for a refusal.
std::optional<std::int32_t> StatusOf(const std::vector<std::uint8_t>& datagram) {
    const auto packet = vnet::Decode(datagram);
    if (!packet || !packet->reply || packet->payload.empty()) return std::nullopt;
    vnet::Reader r(packet->payload);
    return r.I32();
}

bridge::Options Bounded(std::chrono::milliseconds bound) {
    bridge::Options o;
    o.callBound = bound;
    o.allowed.push_back({192, 168, 1, 20});
    o.ownAddresses = [] { return std::vector<bridge::Address>{{192, 0, 2, 50}, {10, 8, 0, 1}}; };
    return o;
}

} // namespace

// A call stuck in the driver is answered as refused within the bound, and so
// is everything after it until it returns; its request sent again is then
// answered with its own reply, not run a second time.
TEST(BridgeHandling, AStuckCallIsRefusedInTimeAndNeverRunTwice) {
    HeldCard card;
    bridge::Bridge server(card, Bounded(40ms));
    const auto da = Request(vnet::Op::Mox_DA, 7, vnet::Writer().I32(0).I32(3000).Take());
    card.Hold(true);
    const auto t0 = SteadyClock::now();
    const auto first = server.Handle(kLocal, da);
    EXPECT_LT(SteadyClock::now() - t0, 60ms);
    ASSERT_TRUE(first);
    EXPECT_FALSE(StatusOf(*first)) << "refused, not a made-up status";
    const auto ping = server.Handle(kLocal, Request(vnet::Op::Ping, 8, {}));
    ASSERT_TRUE(ping);
    EXPECT_FALSE(StatusOf(*ping)) << "nothing else runs while the driver is stuck";
    const auto again = server.Handle(kLocal, da);
    ASSERT_TRUE(again);
    EXPECT_FALSE(StatusOf(*again));

    card.Hold(false);
    std::this_thread::sleep_for(50ms);
    const auto late = server.Handle(kLocal, da);
    ASSERT_TRUE(late);
    EXPECT_EQ(StatusOf(*late), 1) << "the stuck call's own reply";
    EXPECT_EQ(server.Handle(kLocal, Request(vnet::Op::Ping, 9, {})).value_or(std::vector<std::uint8_t>{}),
              vnet::Encode(vnet::Packet{true, vnet::Op::Ping, 9, 0x5E55, {0, 0, 0, 1}}));
    EXPECT_EQ(card.daCalls.load(), 1) << "the output was set once";
    EXPECT_EQ(server.counters().refused, 3u);
    EXPECT_EQ(server.counters().repeated, 1u);
}

struct Sender {
    const char* what;
    vnet::Endpoint from;
    bool answered;
};

class BridgeSenders : public ::testing::TestWithParam<Sender> {};

TEST_P(BridgeSenders, OnlyAllowedSendersAreServed) {
    HeldCard card;
    bridge::Bridge server(card, Bounded(40ms));
    const auto reply =
        server.Handle(GetParam().from, Request(vnet::Op::Mox_DO, 1, vnet::Writer().I32(0).I32(5).Take()));
    EXPECT_EQ(reply.has_value(), GetParam().answered) << GetParam().what;
    EXPECT_EQ(server.counters().foreign, GetParam().answered ? 0u : 1u);
    std::array<std::int16_t, 2> di{};
    EXPECT_EQ(card.Mox_DI(2, di.data()), 1);
    EXPECT_EQ(di[0], GetParam().answered ? 5 : 0) << GetParam().what << ": the output";
}

INSTANTIATE_TEST_SUITE_P(Senders, BridgeSenders,
                         ::testing::Values(Sender{"this computer", {{127, 0, 0, 1}, 5000}, true},
                                           Sender{"this computer, another loopback", {{127, 1, 2, 3}, 5000}, true},
                                           Sender{"allowed", {{192, 168, 1, 20}, 5000}, true},
                                           Sender{"this computer's own address", {{192, 0, 2, 50}, 5000}, true},
                                           Sender{"this computer's other address", {{10, 8, 0, 1}, 5000}, true},
                                           Sender{"not allowed", {{192, 168, 1, 21}, 5000}, false},
                                           Sender{"not allowed either", {{10, 0, 0, 1}, 5000}, false}));

TEST(BridgeHandling, MalformedDatagramsAreDroppedAndCounted) {
    HeldCard card;
    bridge::Bridge server(card, Bounded(40ms));
    auto junkAfter = Request(vnet::Op::Mox_DO, 1, vnet::Writer().I32(0).I32(0x77).I32(1).Take());
    const std::vector<std::vector<std::uint8_t>> bad{
        {},
        {'M', 'O', 'X'},
        vnet::Encode(vnet::Packet{true, vnet::Op::Mox_DO, 1, 2, {0, 0, 0, 1}}), // a reply
        junkAfter,                                                              // trailing bytes
        Request(vnet::Op::Ping, 2, {1}),
    };
    for (const auto& datagram : bad) EXPECT_FALSE(server.Handle(kLocal, datagram));
    EXPECT_EQ(server.counters().malformed, bad.size());
    EXPECT_EQ(server.counters().served, 0u);
    std::array<std::int16_t, 2> di{};
    card.Mox_DI(2, di.data());
    EXPECT_EQ(di[0], 0) << "nothing of a malformed request ran";
}

struct LocalCase {
    const char* what;
    bridge::Address sender;
    bool local;
};

class LocalSenders : public ::testing::TestWithParam<LocalCase> {};

TEST_P(LocalSenders, AreLoopbackOrOneOfTheOwnAddresses) {
    const std::vector<bridge::Address> own{{127, 0, 0, 1}, {192, 168, 7, 3}, {10, 0, 0, 9}};
    EXPECT_EQ(bridge::IsLocal(GetParam().sender, own), GetParam().local) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Addresses, LocalSenders,
                         ::testing::Values(LocalCase{"loopback", {127, 0, 0, 1}, true},
                                           LocalCase{"another loopback", {127, 200, 1, 1}, true},
                                           LocalCase{"own address", {192, 168, 7, 3}, true},
                                           LocalCase{"other own address", {10, 0, 0, 9}, true},
                                           LocalCase{"neighbour on the same network", {192, 168, 7, 4}, false},
                                           LocalCase{"bytes of an own address reversed", {3, 7, 168, 192}, false},
                                           LocalCase{"elsewhere", {8, 8, 8, 8}, false},
                                           LocalCase{"no address", {0, 0, 0, 0}, false}));

TEST(LocalSenders, ThisComputersAddressesIncludeLoopback) {
    const auto own = bridge::OwnAddresses();
    EXPECT_NE(std::find(own.begin(), own.end(), bridge::Address{127, 0, 0, 1}), own.end());
}

// A write that was overtaken on the way by a newer one arrives after it: it
// is refused, not run, so the newer output stays; the newer one resent is
// answered from the reply cache.
TEST(BridgeHandling, AWriteOlderThanOneRunIsRefused) {
    HeldCard card;
    bridge::Bridge server(card, Bounded(40ms));
    const auto newer = Request(vnet::Op::Mox_DA, 11, vnet::Writer().I32(0).I32(3072).Take());
    const auto older = Request(vnet::Op::Mox_DA, 10, vnet::Writer().I32(0).I32(1024).Take());
    EXPECT_EQ(StatusOf(server.Handle(kLocal, newer).value_or(std::vector<std::uint8_t>{})), 1);
    const auto refused = server.Handle(kLocal, older);
    ASSERT_TRUE(refused);
    EXPECT_FALSE(StatusOf(*refused)) << "a refusal";
    EXPECT_EQ(StatusOf(server.Handle(kLocal, newer).value_or(std::vector<std::uint8_t>{})), 1);
    EXPECT_EQ(StatusOf(server.Handle(kLocal, Request(vnet::Op::Mox_DI, 9, vnet::Writer().I32(2).Take()))
                           .value_or(std::vector<std::uint8_t>{})),
              1)
        << "an older read still runs";
    EXPECT_EQ(card.daCalls.load(), 1);
    EXPECT_EQ(server.counters().stale, 1u);
    EXPECT_EQ(server.counters().repeated, 1u);
}

// Calls handed to the driver module with a count or length beyond the
// buffer it gives the driver: refused, the driver not called.
struct ModuleCall {
    const char* what;
    std::function<std::int32_t(vcard::CardApi&)> call;
    std::int32_t status;
};

class DriverModuleBounds : public ::testing::TestWithParam<ModuleCall> {};

TEST_P(DriverModuleBounds, NeverHandsTheDriverMoreThanItsBuffer) {
    bridge::HonestDriver driver;
    bridge::DriverModuleCard module(&driver);
    EXPECT_EQ(GetParam().call(module), GetParam().status) << GetParam().what;
    EXPECT_LE(driver.largestInputs.load(), 129) << GetParam().what;
    EXPECT_LE(driver.largestResults.load(), 129) << GetParam().what;
    EXPECT_LE(driver.largestIn.load(), 32001) << GetParam().what;
    EXPECT_LE(driver.largestOut.load(), 32001) << GetParam().what;
}

std::int32_t Inputs(vcard::CardApi& card, std::int32_t count) {
    std::vector<std::int16_t> inputs(4000);
    return card.Mox_DI(count, inputs.data());
}

std::int32_t Results(vcard::CardApi& card, std::int32_t first, std::int32_t count) {
    std::vector<float> results(4000);
    return card.ADResult_DV(first, count, 1, 1, 1, results.data());
}

std::int32_t Io(vcard::CardApi& card, std::int32_t inLen, std::int32_t outLen) {
    std::vector<std::uint8_t> in(70000, 1);
    std::vector<std::uint8_t> out(70000);
    return card.IOCtl(inLen, in.data(), outLen, out.data());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, DriverModuleBounds,
    ::testing::Values(ModuleCall{"Mox_DI 2", [](auto& c) { return Inputs(c, 2); }, 1},
                      ModuleCall{"Mox_DI 129", [](auto& c) { return Inputs(c, 129); }, 1},
                      ModuleCall{"Mox_DI 130", [](auto& c) { return Inputs(c, 130); }, 0},
                      ModuleCall{"Mox_DI 200", [](auto& c) { return Inputs(c, 200); }, 0},
                      ModuleCall{"Mox_DI 2000", [](auto& c) { return Inputs(c, 2000); }, 0},
                      ModuleCall{"Mox_DI -1", [](auto& c) { return Inputs(c, -1); }, 0},
                      ModuleCall{"ADResult_DV 0, 32", [](auto& c) { return Results(c, 0, 32); }, 32},
                      ModuleCall{"ADResult_DV 0, 130", [](auto& c) { return Results(c, 0, 130); }, 0},
                      ModuleCall{"ADResult_DV 100, 30", [](auto& c) { return Results(c, 100, 30); }, 0},
                      ModuleCall{"ADResult_DV 0, 3000", [](auto& c) { return Results(c, 0, 3000); }, 0},
                      ModuleCall{"IOCtl 32001, 32001", [](auto& c) { return Io(c, 32001, 32001); }, 32001},
                      ModuleCall{"IOCtl in 40000", [](auto& c) { return Io(c, 40000, 10); }, 0},
                      ModuleCall{"IOCtl out 40000", [](auto& c) { return Io(c, 10, 40000); }, 0},
                      ModuleCall{"IOCtl out -1", [](auto& c) { return Io(c, 10, -1); }, 0}));

// Through the bridge as deployed: the request handling and the driver
// module between the network and a driver that writes all it is told.
TEST(BridgeHandling, DigitalInputCountsBeyondTheBufferAreRefused) {
    bridge::HonestDriver driver;
    bridge::DriverModuleCard module(&driver);
    bridge::Bridge server(module, Bounded(1000ms));
    std::uint32_t seq = 1;
    for (const std::int32_t count : {2000, 200, 130, 3}) {
        const auto reply = server.Handle(kLocal, Request(vnet::Op::Mox_DI, seq++, vnet::Writer().I32(count).Take()));
        ASSERT_TRUE(reply) << count;
        EXPECT_EQ(StatusOf(*reply), 0) << count << ": answered as failed";
    }
    for (const std::int32_t count : {40, 33}) {
        const auto reply = server.Handle(kLocal, Request(vnet::Op::ADResult_DV, seq++,
                                                         vnet::Writer().I32(0).I32(count).I32(1).I32(1).F32(1).Take()));
        ASSERT_TRUE(reply) << count;
        EXPECT_EQ(StatusOf(*reply), 0) << count;
    }
    EXPECT_EQ(driver.largestInputs.load(), 0) << "the driver was never called";
    EXPECT_EQ(driver.largestResults.load(), 0);
    const auto good = vnet::Decode(server.Handle(kLocal, Request(vnet::Op::Mox_DI, seq++, vnet::Writer().I32(2).Take()))
                                       .value_or(std::vector<std::uint8_t>{}));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->payload, (std::vector<std::uint8_t>{0, 0, 0, 1, 0, 0, 0, 1})) << "two groups, as many as asked";
}

namespace {

class BridgeProcess : public ::testing::Test {
protected:
    // The bridge serving the test card driver with the given fault.
    std::uint16_t Start(const std::string& fault, std::uint16_t port = 0) {
        bridge.SetEnvironment({"LD_LIBRARY_PATH=" FAULT_CARD_DIR, "MOX_TEST_FAULT=" + fault});
        return bridge.Start(port);
    }
    // The bridge with the fault, and the network card on it acquiring.
    std::uint16_t StartAcquiring(const std::string& fault) {
        const std::uint16_t port = Start(fault);
        if (port == 0) return 0;
        card.emplace(vnet::LoopbackEndpoint(port));
        if (card->StartIntr(10, 300, 0, 32, 1000, 0, 1) != 1 || !Readings(1s)) return 0;
        return port;
    }
    // Readings come within the limit.
    bool Readings(std::chrono::milliseconds limit);

    EmulatorProcess bridge{MOX_BRIDGE};
    std::optional<vnet::RemoteCard> card;
    std::array<float, 34> r{};
};

template <typename F>
auto Timed(F&& f) {
    const auto t0 = SteadyClock::now();
    auto result = f();
    EXPECT_LE(SteadyClock::now() - t0, 50ms);
    return result;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < limit;) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

} // namespace

bool BridgeProcess::Readings(std::chrono::milliseconds limit) {
    return WaitFor([&] { return card->ADResult_DV(0, 32, 1, 1, 20, r.data()) > 0; }, limit);
}

TEST_F(BridgeProcess, ServesTheCardItsDriverDrives) {
    ASSERT_NE(StartAcquiring(""), 0);
    std::array<std::uint8_t, 100> in{70, 64, 0};
    std::array<std::uint8_t, 8> out{};
    EXPECT_EQ(card->Initial(0, 0, 0, 0), 1);
    EXPECT_EQ(card->IOCtl(100, in.data(), 8, out.data()), 5);
    EXPECT_EQ(out[0] * 100 + out[1], 7710);
    ASSERT_EQ(card->Mox_DA(2, 3072), 1);
    ASSERT_EQ(card->Mox_DO(1, 0x3C), 1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(card->ADResult_DV(0, 32, 1, 1, 20, r.data()), 20);
    EXPECT_NEAR(r[2], 2.5, 0.02) << "DA2 -> input 2";
    std::array<std::int16_t, 2> di{};
    EXPECT_EQ(card->Mox_DI(2, di.data()), 1);
    EXPECT_EQ(di[1], 0x3C) << "DO group 1 -> DI group 1";
}

TEST_F(BridgeProcess, RepliesCarryExactlyTheDeclaredLengths) {
    ASSERT_NE(StartAcquiring("exact:0:0"), 0);
    for (const std::int32_t declared : {1, 8, 100, 256}) {
        std::array<std::uint8_t, 300> in{200};
        std::array<std::uint8_t, 300> out{};
        out.fill(0x11);
        EXPECT_EQ(card->IOCtl(100, in.data(), declared, out.data()), declared);
        for (std::int32_t i = 0; i < declared; ++i) ASSERT_EQ(out[i], 0xA5) << declared << " at " << i;
        for (std::size_t i = static_cast<std::size_t>(declared); i < out.size(); ++i) {
            ASSERT_EQ(out[i], 0x11) << "written past the declared " << declared << " at " << i;
        }
    }
}

// A driver that hangs in one entry: the program's call fails within its
// bound, the link shows as down while the driver is stuck, and everything
// works again once the call returns.
TEST_F(BridgeProcess, AHungDriverNeverHoldsTheProgram) {
    ASSERT_NE(StartAcquiring("hang:Mox_DA:2"), 0);
    EXPECT_EQ(Timed([&] { return card->Mox_DA(0, 3000); }), 0);
    EXPECT_EQ(Timed([&] { return card->Mox_DO(0, 1); }), 0) << "refused while the driver is stuck";
    EXPECT_TRUE(WaitFor([&] { return !card->LinkUp(); }, 1s)) << "the link shows as down";
    for (int i = 0; i < 10; ++i) Timed([&] { return card->ADResult_DV(0, 32, 1, 1, 20, r.data()); });
    EXPECT_TRUE(WaitFor([&] { return card->LinkUp(); }, 3s)) << "back once the call returned";
    EXPECT_TRUE(WaitFor([&] { return card->Mox_DO(0, 2) == 1; }, 1s));
    EXPECT_TRUE(Readings(1s));
}

// A driver that crashes ends the bridge, not the program; the bridge started
// again serves again, and acquisition is restored with no new start.
TEST_F(BridgeProcess, ACrashedDriverEndsOnlyTheBridge) {
    const std::uint16_t port = StartAcquiring("crash:Mox_DOBit:0");
    ASSERT_NE(port, 0);
    EXPECT_EQ(Timed([&] { return card->Mox_DOBit(0, 1); }), 0);
    EXPECT_TRUE(WaitFor([&] { return !card->LinkUp(); }, 2s));
    ASSERT_EQ(Start("", port), port) << "the bridge serves again on its port";
    EXPECT_TRUE(Readings(2s)) << "acquisition restored without a new start from the program";
    EXPECT_NEAR(r[7], 4.0, 0.02);
}

namespace {

// The bridge as a child of its own, its standard error in a file, standard
// input held open (so only the signal can end it); the status it ended with
// and what it wrote there.
struct Ended {
    int status = -1; // exit status; -1 when killed by the signal, or not started
    std::string err;
    std::string startLine; // the driver named at start
};

Ended BridgeEndedBy(int signal, const std::uint16_t requests) {
    const std::string errPath = ::testing::TempDir() + "bridge-stderr-" + std::to_string(::getpid());
    int toChild[2];
    int fromChild[2];
    if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, 2);
        ::setenv("LD_LIBRARY_PATH", FAULT_CARD_DIR, 1);
        ::execl(MOX_BRIDGE, MOX_BRIDGE, "--port", "0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    Ended ended;
    std::string out;
    std::array<char, 256> buf{};
    while (out.find('\n') == std::string::npos) {
        const ssize_t got = ::read(fromChild[0], buf.data(), buf.size());
        if (got <= 0) break;
        out.append(buf.data(), static_cast<std::size_t>(got));
    }
    const auto colon = out.rfind(':');
    if (out.starts_with("listening on ") && colon != std::string::npos) {
        vnet::RemoteCard card(vnet::LoopbackEndpoint(static_cast<std::uint16_t>(std::stoi(out.substr(colon + 1)))));
        for (std::uint16_t i = 0; i < requests; ++i) card.Mox_DO(0, static_cast<std::int16_t>(i));
    }
    ::kill(pid, signal);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    ::close(toChild[1]);
    ::close(fromChild[0]);
    ended.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(errPath);
    for (std::string line; std::getline(in, line);) {
        if (ended.startLine.empty()) ended.startLine = line;
        ended.err += line + "\n";
    }
    std::remove(errPath.c_str());
    return ended;
}

} // namespace

// Ctrl-C and a service manager's stop end the bridge as "quit" does: status
// 0 and its summary, the requests it served counted.
class BridgeStopSignal : public ::testing::TestWithParam<int> {};

TEST_P(BridgeStopSignal, EndsCleanlyWithItsSummary) {
    const Ended ended = BridgeEndedBy(GetParam(), 3);
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_NE(ended.err.find("mox-driver-bridge: 3 served, "), std::string::npos) << ended.err;
    EXPECT_NE(ended.err.find("dropped from senders not allowed"), std::string::npos) << ended.err;
    // The test driver is not one built with moxpanel: named by its path, never called the virtual card.
    EXPECT_NE(ended.startLine.find("card driver: " FAULT_CARD_DIR "/libadcard.so (not built with moxpanel"),
              std::string::npos)
        << ended.err;
}

INSTANTIATE_TEST_SUITE_P(Signals, BridgeStopSignal, ::testing::Values(SIGTERM, SIGINT));

// A stop sent as soon as "listening on" is read still ends with status 0
// and the summary: the signals are caught before the line is printed.
TEST(BridgeStopSignal, AStopAtOnceStillEndsWithTheSummary) {
    for (int run = 0; run < 5; ++run) {
        const Ended ended = BridgeEndedBy(SIGTERM, 0);
        ASSERT_EQ(ended.status, 0) << "run " << run << ":\n" << ended.err;
        EXPECT_NE(ended.err.find("mox-driver-bridge: 0 served, "), std::string::npos) << ended.err;
    }
}

namespace {

struct RefusedCase {
    std::vector<std::string> args;
    std::string named; // what the message names
};

class BridgeRefusedOptions : public ::testing::TestWithParam<RefusedCase> {};

} // namespace

// Numbers are whole decimal texts (no octal, hexadecimal, blanks or
// exponent), and the bridge listens only on an address of this computer and
// lets in only addresses a computer can have.
TEST_P(BridgeRefusedOptions, EndWithStatus2NamingTheValue) {
    const auto parsed = bridge::ParseOptions(GetParam().args);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, 2);
    EXPECT_NE(parsed.text.find(GetParam().named), std::string::npos) << parsed.text;
    EXPECT_NE(parsed.text.find("--help"), std::string::npos) << parsed.text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, BridgeRefusedOptions,
    ::testing::Values(RefusedCase{{"--port", "0x10"}, "--port"}, RefusedCase{{"--port", " 80"}, "--port"},
                      RefusedCase{{"--port", "1e3"}, "--port"}, RefusedCase{{"--port", "+80"}, "--port"},
                      RefusedCase{{"--call-timeout", "0x20"}, "--call-timeout"},
                      RefusedCase{{"--call-timeout", "nan"}, "--call-timeout"},
                      RefusedCase{{"--call-timeout", "4"}, "--call-timeout"},
                      RefusedCase{{"--address", "203.0.113.77"}, "203.0.113.77 is not an address of this computer"},
                      RefusedCase{{"--address", "0.0.0.0"}, "--address 0.0.0.0"},
                      RefusedCase{{"--address", "255.255.255.255"}, "--address 255.255.255.255"},
                      RefusedCase{{"--address", "239.1.1.1"}, "--address 239.1.1.1"},
                      RefusedCase{{"--allow", "0.0.0.0"}, "--allow 0.0.0.0"},
                      RefusedCase{{"--allow", "10.0.0.2", "--allow", "255.255.255.255"}, "--allow 255.255.255.255"}));

// Taken as typed: a leading zero is decimal, and this computer's own
// addresses, not only loopback, may be listened on.
TEST(BridgeOptions, DecimalValuesAndOwnAddressesAreTaken) {
    const auto parsed = bridge::ParseOptions({"--port", "010", "--call-timeout", "0020", "--address", "127.0.0.2"});
    ASSERT_TRUE(parsed.options) << parsed.text;
    EXPECT_EQ(parsed.options->port, 10);
    EXPECT_EQ(parsed.options->callBound, 20ms);
    for (const auto& own : bridge::OwnAddresses()) {
        if (own == bridge::Address{}) continue;
        const std::string dotted = std::to_string(own[0]) + "." + std::to_string(own[1]) + "." +
                                   std::to_string(own[2]) + "." + std::to_string(own[3]);
        EXPECT_TRUE(bridge::ParseOptions({"--address", dotted}).options) << dotted;
    }
}
