// SPDX-License-Identifier: GPL-3.0-or-later
// The emulator's command line, fault commands and reply cache; the emulator
// serving on a loopback socket.
#include "emulator.h"
#include "options.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct OptionCase {
    const char* what;
    Args args;
    bool trace;
    bool exitWithStdin;
    std::uint16_t port;
};

class EmulatorOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(EmulatorOptions, FlagsInEitherSpelling) {
    const auto parsed = emu::ParseOptions(GetParam().args);
    ASSERT_TRUE(parsed.options) << parsed.text;
    EXPECT_EQ(parsed.options->trace, GetParam().trace);
    EXPECT_EQ(parsed.options->exitWithStdin, GetParam().exitWithStdin);
    EXPECT_EQ(parsed.options->port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, EmulatorOptions,
    ::testing::Values(OptionCase{"defaults", {}, false, false, 7710},
                      OptionCase{"flags", {"--trace", "--exit-with-stdin", "--port", "0"}, true, true, 0},
                      OptionCase{
                          "old spellings", {"--exit-with-stdin", "1", "--port", "9", "--trace", "1"}, true, true, 9},
                      OptionCase{"old spelling off", {"--trace", "0", "--exit-with-stdin", "0"}, false, false, 7710},
                      OptionCase{"flag before an option", {"--trace", "--port", "1"}, true, false, 1},
                      OptionCase{"highest port", {"--port=65535"}, false, false, 65535},
                      OptionCase{"leading zero is decimal", {"--port", "010"}, false, false, 10}),
    [](const auto& param) {
        std::string name = param.param.what;
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

class EmulatorBadOptions : public ::testing::TestWithParam<Args> {};

TEST_P(EmulatorBadOptions, EndWithStatus2AndNameTheArgument) {
    const auto parsed = emu::ParseOptions(GetParam());
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, 2);
    EXPECT_NE(parsed.text.find("--help"), std::string::npos) << parsed.text;
    const bool named = parsed.text.find(GetParam().front()) != std::string::npos ||
                       parsed.text.find(GetParam().back()) != std::string::npos;
    EXPECT_TRUE(named) << parsed.text;
}

INSTANTIATE_TEST_SUITE_P(Refused, EmulatorBadOptions,
                         ::testing::Values(Args{"--port", "70000"}, Args{"--port", "-1"}, Args{"--port", "abc"},
                                           Args{"--port"}, Args{"--drop", "1.5"}, Args{"--drop", "-0.1"},
                                           Args{"--delay", "nan"}, Args{"--delay", "-5"}, Args{"--silent", "x"},
                                           Args{"--delay", "1e17"}, Args{"--silent", "1e10"},
                                           Args{"--address", "localhost"}, Args{"--pc-address", "1.2.3"},
                                           Args{"--trace", "2"}, Args{"--bogus"}, Args{"extra"}, Args{"--port", "0x10"},
                                           Args{"--port", " 80"}, Args{"--port", "1e3"}, Args{"--port", "0x1e83"},
                                           Args{"--drop", "nan"}, Args{"--drop", "0x0.8"}, Args{"--delay", "inf"},
                                           Args{"--seed", "0x10"}, Args{"--seed", "-1"}));

TEST(EmulatorOptionsHelp, ListsOptionsAndCommandsAndEndsWell) {
    const auto parsed = emu::ParseOptions({"--help"});
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, 0);
    for (const char* word : {"--port", "--pc-address", "--trace", "--exit-with-stdin", "pc-address auto", "quit"}) {
        EXPECT_NE(parsed.text.find(word), std::string::npos) << word;
    }
}

struct CommandCase {
    const char* line;
    bool ok;
    double drop;
    double delayMs;
    bool stopped;
};

class FaultCommands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(FaultCommands, ChangeOnlyWhatTheySay) {
    emu::FaultState faults;
    faults.drop = 0.5;
    faults.delayMs = 3;
    bool quit = false;
    const std::string answer = faults.Apply(GetParam().line, quit);
    EXPECT_EQ(answer.rfind(GetParam().ok ? "ok " : "error ", 0), 0u) << answer;
    EXPECT_EQ(faults.drop, GetParam().drop);
    EXPECT_EQ(faults.delayMs, GetParam().delayMs);
    EXPECT_EQ(faults.stopped, GetParam().stopped);
    EXPECT_FALSE(quit);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FaultCommands,
    ::testing::Values(CommandCase{"drop 0.2", true, 0.2, 3, false}, CommandCase{"drop 1", true, 1, 3, false},
                      CommandCase{"drop 1.01", false, 0.5, 3, false}, CommandCase{"drop", false, 0.5, 3, false},
                      CommandCase{"delay 20", true, 0.5, 20, false}, CommandCase{"delay -1", false, 0.5, 3, false},
                      CommandCase{"delay inf", false, 0.5, 3, false}, CommandCase{"delay 1e17", false, 0.5, 3, false},
                      CommandCase{"delay 60000", true, 0.5, 60000, false},
                      CommandCase{"silent 1e10", false, 0.5, 3, false}, CommandCase{"stop", true, 0.5, 3, true},
                      CommandCase{"status", true, 0.5, 3, false},
                      CommandCase{"pc-address 999.1.1.1", false, 0.5, 3, false},
                      CommandCase{"reboot", false, 0.5, 3, false}));

TEST(FaultState, SilenceAndStopAreLiftedByResume) {
    emu::FaultState faults;
    bool quit = false;
    ASSERT_EQ(faults.Apply("silent 60", quit).rfind("ok", 0), 0u);
    EXPECT_TRUE(faults.Deaf(emu::Clock::now()));
    EXPECT_FALSE(faults.Deaf(emu::Clock::now() + std::chrono::seconds(61)));
    faults.Apply("stop", quit);
    faults.Apply("resume", quit);
    EXPECT_FALSE(faults.Deaf(emu::Clock::now()));
    faults.Apply("pc-address 192.168.1.100", quit);
    EXPECT_EQ(faults.pcAddress, (std::array<std::uint8_t, 4>{192, 168, 1, 100}));
    faults.Apply("pc-address auto", quit);
    EXPECT_FALSE(faults.pcAddress);
    faults.Apply("quit", quit);
    EXPECT_TRUE(quit);
}

vnet::Endpoint Endpoint(const char* address, std::uint16_t port) { return {*vnet::ParseIPv4(address), port}; }

TEST(ReplyCache, AnswersOnlyTheSameRequestFromTheSameSender) {
    vnet::ReplyCache cache;
    const vnet::Packet request{false, vnet::Op::Mox_DA, 41, 7, {0, 0, 0, 1, 0, 0, 8, 0}};
    const auto from = Endpoint("127.0.0.1", 5000);
    EXPECT_EQ(cache.Find(from, request), nullptr);
    cache.Store(from, request, {1, 2, 3});
    ASSERT_NE(cache.Find(from, request), nullptr);
    EXPECT_EQ(*cache.Find(from, request), (std::vector<std::uint8_t>{1, 2, 3}));

    auto otherSeq = request;
    otherSeq.seq = 42;
    auto otherPayload = request;
    otherPayload.payload.push_back(0);
    auto otherOp = request;
    otherOp.op = vnet::Op::Mox_DO;
    auto otherSession = request;
    otherSession.session = 8;
    EXPECT_EQ(cache.Find(from, otherSession), nullptr);
    EXPECT_EQ(cache.Find(from, otherSeq), nullptr);
    EXPECT_EQ(cache.Find(from, otherPayload), nullptr);
    EXPECT_EQ(cache.Find(from, otherOp), nullptr);
    EXPECT_EQ(cache.Find(Endpoint("127.0.0.1", 5001), request), nullptr);
    EXPECT_EQ(cache.Find(Endpoint("127.0.0.2", 5000), request), nullptr);
}

// A write resent after other requests were answered (the link polls while it
// waits) is still answered from the cache, so it runs once; only requests
// far in the past are forgotten.
TEST(ReplyCache, RemembersAWriteAcrossTheRequestsAnsweredAfterIt) {
    vnet::ReplyCache cache;
    const auto from = Endpoint("127.0.0.1", 5000);
    const vnet::Packet write{false, vnet::Op::Mox_DO, 100, 7, {0, 0, 0, 0, 0, 0, 0, 5}};
    cache.Store(from, write, {9});
    for (std::uint32_t seq = 101; seq < 101 + vnet::ReplyCache::kSize - 1; ++seq) {
        cache.Store(from, vnet::Packet{false, vnet::Op::Mox_DI, seq, 7, {0, 0, 0, 2}}, {1});
    }
    ASSERT_NE(cache.Find(from, write), nullptr);
    EXPECT_EQ(*cache.Find(from, write), std::vector<std::uint8_t>{9});
    cache.Store(from, vnet::Packet{false, vnet::Op::Mox_DI, 999, 7, {0, 0, 0, 2}}, {1});
    EXPECT_EQ(cache.Find(from, write), nullptr);
}

} // namespace

namespace {

// An emulator on a loopback port, run by the test, and a PC socket.
class EmulatorOnLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        auto socket = vnet::OpenUdpSocket(io, vnet::Endpoint{{127, 0, 0, 1}, 0}, error);
        ASSERT_TRUE(socket) << error;
        asio::error_code ec;
        card = socket->local_endpoint(ec);
        emulator.emplace(io, std::move(*socket), emu::FaultState{}, 1, false, false);
        emulator->Start();
        pc.open(asio::ip::udp::v4());
        pc.bind(asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    }
    void Send(vnet::Op op, std::uint32_t seq, std::vector<std::uint8_t> payload) {
        const auto datagram = vnet::Encode(vnet::Packet{false, op, seq, 0x5E55, std::move(payload)});
        pc.send_to(asio::buffer(datagram), card);
        io.poll(); // loopback: the datagram is there already
    }
    // The reply to the request just sent, run through the emulator first.
    std::optional<vnet::Packet> Ask(vnet::Op op, std::uint32_t seq, std::vector<std::uint8_t> payload) {
        Send(op, seq, std::move(payload));
        std::array<std::uint8_t, vnet::kMaxDatagram> buffer{};
        asio::ip::udp::endpoint from;
        asio::error_code ec;
        pc.non_blocking(true);
        const std::size_t got = pc.receive_from(asio::buffer(buffer), from, 0, ec);
        if (ec) return std::nullopt;
        return vnet::Decode(std::span(buffer.data(), got));
    }

    asio::io_context io;
    asio::ip::udp::endpoint card;
    std::optional<emu::Emulator> emulator;
    asio::ip::udp::socket pc{io};
};

} // namespace

// With the longest delay, a flood of requests fills the delay queue to its
// bound and no further; what did not fit is counted and shown by status.
TEST_F(EmulatorOnLoopback, TheDelayQueueIsBoundedAndItsDropsCounted) {
    ASSERT_EQ(emulator->Command("delay 60000").rfind("ok", 0), 0u);
    const std::uint32_t flood = emu::kMaxDelayedReplies + 1500;
    for (std::uint32_t seq = 1; seq <= flood; ++seq) {
        Send(vnet::Op::Ping, seq, {});
        ASSERT_LE(emulator->Delayed(), emu::kMaxDelayedReplies) << "after " << seq;
    }
    EXPECT_EQ(emulator->Delayed(), emu::kMaxDelayedReplies);
    const std::string status = emulator->Command("status");
    EXPECT_NE(status.find("1500 dropped from a full delay queue"), std::string::npos) << status;
    EXPECT_NE(emulator->Summary().find("1500 dropped"), std::string::npos) << emulator->Summary();
    // With the delay lifted, the replies waiting go out and new ones queue.
    emulator->Command("delay 0");
    io.poll();
    EXPECT_EQ(emulator->Delayed(), 0u);
}

// A DA request overtaken on the way by the next one, which the card already
// ran, does not undo it: refused, and input 0 keeps reading +2.5 V.
TEST_F(EmulatorOnLoopback, AnOvertakenWriteDoesNotUndoTheNewerOne) {
    const auto started =
        Ask(vnet::Op::StartIntr, 1, vnet::Writer().I32(10).I32(300).I32(0).I32(32).I32(1000).I32(0).I32(1).Take());
    ASSERT_TRUE(started);
    const auto newer = Ask(vnet::Op::Mox_DA, 3, vnet::Writer().I32(0).I32(3072).Take()); // +2.5 V
    ASSERT_TRUE(newer);
    EXPECT_EQ(newer->payload, (std::vector<std::uint8_t>{0, 0, 0, 1}));
    const auto older = Ask(vnet::Op::Mox_DA, 2, vnet::Writer().I32(0).I32(1024).Take()); // -2.5 V
    ASSERT_TRUE(older);
    EXPECT_TRUE(older->payload.empty()) << "refused";
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const auto reading = Ask(vnet::Op::ADResult_DV, 4, vnet::Writer().I32(0).I32(1).I32(1).I32(1).F32(5).Take());
    ASSERT_TRUE(reading);
    vnet::Reader r(reading->payload);
    EXPECT_GT(r.I32(), 0);
    EXPECT_NEAR(r.F32(), 2.5, 0.02);
    const auto again = Ask(vnet::Op::Mox_DA, 3, vnet::Writer().I32(0).I32(3072).Take());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->payload, (std::vector<std::uint8_t>{0, 0, 0, 1})) << "the newer one resent: from the cache";
    EXPECT_NE(emulator->Command("status").find("1 stale writes refused"), std::string::npos);
}
