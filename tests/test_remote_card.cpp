// SPDX-License-Identifier: GPL-3.0-or-later
// The driver's network transport against the card emulator on loopback.
#include "emulator_process.h"
#include "protocol.h"
#include "remote_card.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using vnet::RemoteCard;
using SteadyClock = std::chrono::steady_clock;

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Runs a call and checks that it did not block its caller for more than 50 ms.
template <typename F>
auto Timed(F&& f, double* worstMs = nullptr) {
    const auto t0 = SteadyClock::now();
    auto result = f();
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - t0).count();
    EXPECT_LE(ms, 50.0);
    if (worstMs != nullptr && ms > *worstMs) *worstMs = ms;
    return result;
}

std::array<std::uint8_t, 8> Status(RemoteCard& card) {
    std::array<std::uint8_t, 100> in{130, 64, 0};
    std::array<std::uint8_t, 8> out{};
    Timed([&] { return card.IOCtl(100, in.data(), 8, out.data()); });
    return out;
}

class RemoteCardTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = emulator.Start(0, {"--pc-address", "192.168.1.100"});
        ASSERT_NE(port, 0);
        card = std::make_unique<RemoteCard>(Loopback(port));
    }

    EmulatorProcess emulator;
    std::uint16_t port = 0;
    std::unique_ptr<RemoteCard> card;
};

} // namespace

TEST(AddressText, Parses) {
    EXPECT_TRUE(vnet::ParseAddress("127.0.0.1:7710"));
    EXPECT_TRUE(vnet::ParseAddress("localhost:1"));
    for (const char* bad : {"", "127.0.0.1", ":7710", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "1.2.3.4:x",
                            "no.such.host.invalid:7710"}) {
        EXPECT_FALSE(vnet::ParseAddress(bad)) << bad;
    }
}

TEST_F(RemoteCardTest, IdentityAndLiveReadingsThroughTheNetwork) {
    std::array<std::uint8_t, 100> in{70, 64, 0};
    std::array<std::uint8_t, 8> out{};
    EXPECT_EQ(card->Initial(0, 0, 0, 0), 1);
    EXPECT_EQ(card->IOCtl(100, in.data(), 8, out.data()), 5);
    EXPECT_EQ(out[0] * 100 + out[1], 7710);
    EXPECT_EQ(Status(*card), (std::array<std::uint8_t, 8>{0, 192, 168, 1, 100, 0, 0, 0}));

    ASSERT_EQ(card->StopIntr(), 1);
    ASSERT_EQ(card->StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    ASSERT_EQ(card->Mox_DA(2, 3072), 1);
    std::this_thread::sleep_for(100ms);
    std::array<float, 34> a{}, b{};
    a.fill(-99);
    EXPECT_EQ(card->ADResult_DV(0, 32, 1, 1, 20, a.data()), 20);
    EXPECT_NEAR(a[2], 2.5, 0.02);
    EXPECT_NEAR(a[4], -4.0, 0.02);
    EXPECT_EQ(a[32], -99) << "writes no more than asked";
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(card->ADResult_DV(0, 32, 0, 0, 0, b.data()), 1);
    int changed = 0;
    for (int ch = 0; ch < 32; ++ch) changed += static_cast<int>(a[ch] != b[ch]);
    EXPECT_GE(changed, 28);

    ASSERT_EQ(card->Mox_DO(0, 0xA5), 1);
    ASSERT_EQ(card->Mox_DOBit(15, 1), 1);
    std::array<std::int16_t, 2> di{};
    EXPECT_EQ(card->Mox_DI(2, di.data()), 1);
    EXPECT_EQ(di[0], 0xA5);
    EXPECT_EQ(di[1], 0x80);
    EXPECT_EQ(card->ADResult_DV(0, 33, 1, 1, 20, a.data()), 0) << "refused before sending";
    EXPECT_EQ(card->StartIntr(0, 300, 0, 32, 1000, 0, 1), 0);
    EXPECT_EQ(card->GetLastADError(), 1);
}

TEST_F(RemoteCardTest, ReportsTheAddressItSeesUnlessTold) {
    EXPECT_EQ(emulator.Command("pc-address auto").rfind("ok", 0), 0u);
    EXPECT_EQ(Status(*card), (std::array<std::uint8_t, 8>{0, 127, 0, 0, 1, 0, 0, 0}));
}

TEST_F(RemoteCardTest, SurvivesDroppedRequests) {
    ASSERT_EQ(emulator.Command("drop 0.2").rfind("ok", 0), 0u);
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        std::array<std::int16_t, 2> di{};
        answered += static_cast<int>(Timed([&] { return card->Mox_DI(2, di.data()); }) == 1);
    }
    EXPECT_GE(answered, 190);
}

TEST_F(RemoteCardTest, DelayedRepliesWithinTheBudgetArrive) {
    ASSERT_EQ(emulator.Command("delay 14").rfind("ok", 0), 0u);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Timed([&] { return card->Mox_DO(0, static_cast<std::int16_t>(i)); }), 1);
        std::array<std::int16_t, 2> di{};
        ASSERT_EQ(Timed([&] { return card->Mox_DI(2, di.data()); }), 1);
        EXPECT_EQ(di[0], i);
    }
}

TEST_F(RemoteCardTest, LateRepliesNeverBlockOrConfuseLaterCalls) {
    ASSERT_EQ(card->Mox_DO(0, 0x11), 1);
    ASSERT_EQ(emulator.Command("delay 70").rfind("ok", 0), 0u);
    for (int i = 0; i < 5; ++i) {
        std::array<std::int16_t, 2> di{};
        EXPECT_EQ(Timed([&] { return card->Mox_DI(2, di.data()); }), 0);
        EXPECT_EQ(Timed([&] { return card->Mox_DO(0, static_cast<std::int16_t>(0x20 + i)); }), 0);
    }
    ASSERT_EQ(emulator.Command("delay 0").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(150ms); // the late replies arrive meanwhile
    std::array<std::int16_t, 2> di{};
    ASSERT_EQ(card->Mox_DI(2, di.data()), 1);
    EXPECT_EQ(di[0], 0x24) << "the late replies of earlier calls were not taken for this one";
    EXPECT_TRUE(card->LinkUp());
}

TEST_F(RemoteCardTest, OutageIsCountedAndTheLinkComesBack) {
    EXPECT_EQ(Status(*card)[1], 192);
    ASSERT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    double worst = 0;
    const auto t0 = SteadyClock::now();
    std::array<std::uint8_t, 8> status{};
    while (SteadyClock::now() - t0 < 3500ms) {
        status = Status(*card);
        std::array<float, 34> r{};
        EXPECT_EQ(Timed([&] { return card->ADResult_DV(0, 32, 1, 1, 20, r.data()); }, &worst), 0);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(card->LinkUp());
    EXPECT_EQ(status[1], 192) << "the last address the card reported";
    EXPECT_EQ(status[4], 100);
    EXPECT_GE(status[5] * 256 + status[6], 3);
    EXPECT_LT(worst, 25.0) << "a down link is probed briefly, not with the whole budget";

    ASSERT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
    status = Status(*card);
    EXPECT_TRUE(card->LinkUp());
    EXPECT_GE(status[5] * 256 + status[6], 3) << "the card tells how long it did not hear from the PC";
    EXPECT_EQ(Status(*card)[6], 0);
}

TEST_F(RemoteCardTest, AcquisitionIsRestartedAfterTheCardRestarts) {
    ASSERT_EQ(card->StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    std::array<float, 34> r{};
    ASSERT_GT(card->ADResult_DV(0, 32, 1, 1, 20, r.data()), 0);
    emulator.Kill();
    EXPECT_EQ(Timed([&] { return card->ADResult_DV(0, 32, 1, 1, 20, r.data()); }), 0);
    ASSERT_EQ(emulator.Start(port, {"--pc-address", "192.168.1.100"}), port);
    std::int32_t got = 0;
    for (int i = 0; i < 5 && got == 0; ++i) {
        got = Timed([&] { return card->ADResult_DV(0, 32, 1, 1, 20, r.data()); });
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GT(got, 0) << "acquisition goes on without a new start from the program";
    EXPECT_NEAR(r[7], 4.0, 0.02);
}

TEST_F(RemoteCardTest, StoppedAcquisitionIsNotRestarted) {
    ASSERT_EQ(card->StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    ASSERT_EQ(card->StopIntr(), 1);
    std::array<float, 34> r{};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(card->ADResult_DV(0, 32, 1, 1, 20, r.data()), 0);
}

TEST_F(RemoteCardTest, ForeignAndMalformedPacketsChangeNothing) {
    std::atomic<bool> done{false};
    std::thread flood([&] {
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in target = Loopback(card->LocalPort());
        std::mt19937 rng(1);
        for (std::uint32_t seq = 0; !done; ++seq) {
            std::vector<std::uint8_t> junk(rng() % 80);
            for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
            // Well-formed replies with plausible sequence numbers and wrong data, from a foreign port.
            const auto forged =
                vnet::Encode(vnet::Packet{true, vnet::Op::Mox_DI, seq % 64, {0, 0, 0, 1, 0, 0x77, 0, 0x77}});
            ::sendto(s, junk.data(), junk.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
            ::sendto(s, forged.data(), forged.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
            std::this_thread::sleep_for(50us);
        }
        ::close(s);
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(Timed([&] { return card->Mox_DO(0, static_cast<std::int16_t>(i)); }), 1);
        std::array<std::int16_t, 2> di{};
        ASSERT_EQ(Timed([&] { return card->Mox_DI(2, di.data()); }), 1);
        EXPECT_EQ(di[0], i);
        EXPECT_EQ(di[1], 0);
    }
    done = true;
    flood.join();
}

TEST(RemoteCardUnreachable, AnswersTheStatusItselfAndFailsTheRest) {
    // A port nobody listens on.
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ::close(s);
    RemoteCard card(a);
    EXPECT_EQ(Timed([&] { return card.Initial(0, 0, 0, 0); }), 0);
    EXPECT_EQ(Timed([&] { return card.StartIntr(10, 300, 0, 32, 1000, 0, 1); }), 0);
    EXPECT_EQ(Timed([&] { return card.GetLastADError(); }), vnet::kNoReplyError);
    std::array<std::uint8_t, 100> in{70, 64, 0};
    std::array<std::uint8_t, 8> out{};
    out.fill(9);
    EXPECT_EQ(Timed([&] { return card.IOCtl(100, in.data(), 8, out.data()); }), 0);
    EXPECT_EQ(out[0], 9) << "no identity is made up";
    std::array<std::int16_t, 2> di{7, 7};
    EXPECT_EQ(Timed([&] { return card.Mox_DI(2, di.data()); }), 0);
    EXPECT_EQ(di[0], 7);
    EXPECT_EQ(Status(card), (std::array<std::uint8_t, 8>{0, 0, 0, 0, 0, 0, 0, 0}));
}
