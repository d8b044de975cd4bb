// SPDX-License-Identifier: GPL-3.0-or-later
#include "card_model.h"
#include "entries.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

using namespace vcard;

namespace {

// A card on a clock the test moves by hand.
struct ManualCard {
    double now = 100.0;
    VirtualCard card{[this] { return now; }};

    bool Start(std::int32_t depth = 1000) { return card.StartIntr(10, 300, 0, 32, depth, 0, 1) != 0; }
    std::array<float, 34> Results(std::int32_t unit, std::int32_t mode, float n) {
        std::array<float, 34> r{};
        card.ADResult_DV(0, 32, unit, mode, n, r.data());
        return r;
    }
};

double CodeOf(float element) { return element < 0 ? element + 65536.0 : element; }

} // namespace

TEST(VirtualCard, AnswersIdentityAndNetworkStatus) {
    VirtualCard card;
    std::array<std::uint8_t, 100> in{70, 64, 0}, out{};
    EXPECT_EQ(card.IOCtl(100, in.data(), 100, out.data()), 5);
    EXPECT_EQ(out[0] * 100 + out[1], 7710);
    EXPECT_EQ(out[2], 10);
    EXPECT_EQ(out[3], 16);
    EXPECT_EQ(out[4], 1);

    in[0] = 130;
    out.fill(0xEE);
    EXPECT_EQ(card.IOCtl(100, in.data(), 100, out.data()), 7);
    EXPECT_EQ(std::vector<int>(out.begin() + 1, out.begin() + 7), (std::vector<int>{192, 168, 1, 100, 0, 0}));
    EXPECT_EQ(out[7], 0xEE) << "writes no further than its reply";
}

TEST(VirtualCard, RejectsBadIoRequestsWithoutTouchingBuffers) {
    VirtualCard card;
    std::array<std::uint8_t, 8> in{70, 64, 0}, out{};
    out.fill(0xEE);
    EXPECT_EQ(card.IOCtl(100, nullptr, 100, out.data()), 0);
    EXPECT_EQ(card.IOCtl(100, in.data(), 100, nullptr), 0);
    EXPECT_EQ(card.IOCtl(1, in.data(), 100, out.data()), 0);
    EXPECT_EQ(card.IOCtl(100, in.data(), -5, out.data()), 0);
    in[0] = 99;
    EXPECT_EQ(card.IOCtl(100, in.data(), 100, out.data()), 0);
    EXPECT_EQ(out[0], 0xEE);
    in[0] = 70;
    EXPECT_EQ(card.IOCtl(100, in.data(), 2, out.data()), 2) << "a short reply buffer gets a short reply";
    EXPECT_EQ(out[2], 0xEE);
}

struct StartCase {
    std::int16_t rate;
    std::int32_t block;
    std::int16_t first, count;
    std::int32_t depth, gain;
    std::int16_t trigger;
    std::int32_t error;
};

class StartIntrTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartIntrTest, ValidatesItsParameters) {
    ManualCard m;
    const auto& c = GetParam();
    const std::int32_t r = m.card.StartIntr(c.rate, c.block, c.first, c.count, c.depth, c.gain, c.trigger);
    EXPECT_EQ(r != 0, c.error == kNoError);
    EXPECT_EQ(m.card.GetLastADError(), c.error);
    EXPECT_EQ(m.card.Acquiring(), c.error == kNoError);
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, StartIntrTest,
    ::testing::Values(StartCase{10, 300, 0, 32, 1000, 0, 1, kNoError}, StartCase{0, 300, 0, 32, 1000, 0, 1, kBadRate},
                      StartCase{101, 300, 0, 32, 1000, 0, 1, kBadRate}, StartCase{10, 0, 0, 32, 1000, 0, 1, kBadBlock},
                      StartCase{10, 300, 1, 32, 1000, 0, 1, kBadChannels},
                      StartCase{10, 300, -1, 4, 1000, 0, 1, kBadChannels},
                      StartCase{10, 300, 0, 0, 1000, 0, 1, kBadChannels}, StartCase{10, 300, 0, 32, 0, 0, 1, kBadDepth},
                      StartCase{10, 300, 0, 32, kMaxDepth + 1, 0, 1, kBadDepth},
                      StartCase{10, 300, 0, 32, 1000, 3, 1, kBadGain},
                      StartCase{10, 300, 0, 32, 1000, 0, 7, kBadTrigger}));

TEST(VirtualCard, ResultsNeedARunningAcquisition) {
    ManualCard m;
    std::array<float, 34> r{};
    r.fill(7);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 0, 0, r.data()), 0);
    EXPECT_EQ(r[0], 7);
    ASSERT_TRUE(m.Start());
    EXPECT_NE(m.card.ADResult_DV(0, 32, 0, 0, 0, r.data()), 0);
    m.card.StopIntr();
    m.card.StopIntr(); // harmless when idle
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 0, 0, r.data()), 0);
}

TEST(VirtualCard, InvalidResultRequestsWriteNothing) {
    ManualCard m;
    ASSERT_TRUE(m.Start());
    std::array<float, 34> r{};
    r.fill(7);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(m.card.ADResult_DV(0, 33, 0, 0, 0, r.data()), 0);
    EXPECT_EQ(m.card.ADResult_DV(-1, 2, 0, 0, 0, r.data()), 0);
    EXPECT_EQ(m.card.ADResult_DV(31, 2, 0, 0, 0, r.data()), 0);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 2, 0, 0, r.data()), 0);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 5, 0, r.data()), 0);
    EXPECT_EQ(r[0], 7);
    EXPECT_EQ(m.card.ADResult_DV(30, 2, 0, 0, 0, r.data()), 1);
    EXPECT_NE(r[0], 7);
    EXPECT_EQ(r[2], 7) << "writes only the channels asked for";
}

TEST(VirtualCard, AveragingCountIsClampedToWhatIsHeld) {
    ManualCard m;
    ASSERT_TRUE(m.Start(100));
    std::array<float, 34> r{};
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 1, 20, r.data()), 1) << "only one sample exists at the start";
    m.now += 1.0;
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 1, 20, r.data()), 20);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 1, 2.5f, r.data()), 2);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 1, 0, r.data()), 1);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 1, -3, r.data()), 1);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 1, 1e30f, r.data()), 100);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 1, std::nanf(""), r.data()), 1);
    EXPECT_EQ(m.card.ADResult_DV(0, 32, 0, 1, INFINITY, r.data()), 1);
}

TEST(VirtualCard, ChannelsCarryTheirDocumentedSignals) {
    ManualCard m;
    ASSERT_TRUE(m.Start());
    m.now += 2.0;
    m.card.Mox_DA(0, 0);    // -5 V
    m.card.Mox_DA(1, 3072); // +2.5 V
    m.card.Mox_DA(2, 4095); // +5 V
    m.card.Mox_DA(3, -409); // below the range: the converter stops at 0
    m.now += 1.0;
    const auto volts = m.Results(1, 1, 50);
    EXPECT_NEAR(volts[0], -5.0, 0.01);
    EXPECT_NEAR(volts[1], 2.5, 0.01);
    EXPECT_NEAR(volts[2], 5.0, 0.01);
    EXPECT_NEAR(volts[3], -5.0, 0.01);
    EXPECT_NEAR(volts[4], -4.0, 0.01);
    EXPECT_NEAR(volts[7], 4.0, 0.01);
    for (int ch = 24; ch < 32; ++ch) EXPECT_NEAR(volts[ch], -1.75 + 0.5 * (ch - 24), 0.03) << ch;
    for (int ch = 8; ch < 24; ++ch) EXPECT_LE(std::fabs(volts[ch]), 5.0) << ch;

    const auto codes = m.Results(0, 1, 50);
    EXPECT_LT(codes[7], 0) << "codes above 32767 arrive negative";
    EXPECT_NEAR(CodeOf(codes[7]), 32768 + 4.0 / 5 * 32768, 30);
    EXPECT_NEAR(CodeOf(codes[4]), 32768 - 4.0 / 5 * 32768, 30);
}

TEST(VirtualCard, ReadingsMoveFromTickToTick) {
    ManualCard m;
    ASSERT_TRUE(m.Start());
    m.now += 0.2;
    const auto a = m.Results(0, 0, 0);
    m.now += 0.2;
    const auto b = m.Results(0, 0, 0);
    int changed = 0;
    for (int ch = 0; ch < 32; ++ch) changed += static_cast<int>(a[ch] != b[ch]);
    EXPECT_GE(changed, 28);
}

TEST(VirtualCard, DigitalOutputsAreWiredBackToInputs) {
    VirtualCard card;
    std::array<std::int16_t, 4> in{};
    EXPECT_EQ(card.Mox_DO(0, 0xA5), 1);
    EXPECT_EQ(card.Mox_DO(1, 0x1FF), 1) << "only the low byte counts";
    ASSERT_EQ(card.Mox_DI(2, in.data()), 1);
    EXPECT_EQ(in[0], 0xA5);
    EXPECT_EQ(in[1], 0xFF);
    EXPECT_EQ(card.Mox_DOBit(0, 0), 1);
    EXPECT_EQ(card.Mox_DOBit(15, 0), 1);
    EXPECT_EQ(card.Mox_DOBit(9, 5), 1);
    ASSERT_EQ(card.Mox_DI(2, in.data()), 1);
    EXPECT_EQ(in[0], 0xA4);
    EXPECT_EQ(in[1], 0x7F);

    in.fill(-7);
    EXPECT_EQ(card.Mox_DO(2, 1), 0);
    EXPECT_EQ(card.Mox_DO(-1, 1), 0);
    EXPECT_EQ(card.Mox_DOBit(16, 1), 0);
    EXPECT_EQ(card.Mox_DOBit(-1, 1), 0);
    EXPECT_EQ(card.Mox_DI(2, nullptr), 0);
    EXPECT_EQ(card.Mox_DI(3, in.data()), 0);
    EXPECT_EQ(card.Mox_DI(1, in.data()), 1);
    EXPECT_EQ(in[1], -7) << "a one-group read writes one element";
    EXPECT_EQ(card.Mox_DA(4, 100), 0);
    EXPECT_EQ(card.Mox_DA(-1, 100), 0);
}

TEST(VirtualCard, SamplesTakenBeforeADaChangeKeepTheOldVoltage) {
    ManualCard m;
    ASSERT_TRUE(m.Start(1000));
    m.now += 1.0;
    m.card.Mox_DA(0, 2048 + 1638); // +4 V
    m.now += 0.1;                  // 312 of the last 1000 samples at 3125 Hz
    const double mixed = m.Results(1, 1, 1000)[0];
    EXPECT_NEAR(mixed, 4.0 * 312 / 1000, 0.02);
    EXPECT_NEAR(m.Results(1, 1, 300)[0], 4.0, 0.01);
    EXPECT_NEAR(m.Results(1, 0, 0)[0], 4.0, 0.01);
}

TEST(VirtualCard, RemembersABoundedNumberOfDaChanges) {
    ManualCard m;
    ASSERT_TRUE(m.Start(1000));
    for (int i = 0; i < 5000; ++i) {
        m.card.Mox_DA(static_cast<std::int16_t>(i % 4), static_cast<std::int16_t>(i % 4096));
        m.now += 1e-5;
    }
    EXPECT_LE(m.card.DaChangesHeld(), 4 * kMaxDaChanges);
    m.card.Mox_DA(1, 3072);
    m.now += 3600.0 * 24; // a day without a call
    EXPECT_NEAR(m.Results(1, 1, 1000)[1], 2.5, 0.01);
    EXPECT_EQ(m.card.DaChangesHeld(), 0u) << "changes older than every averageable sample are folded";
    m.card.StopIntr();
    EXPECT_EQ(m.card.DaChangesHeld(), 0u);
}

TEST(VirtualCard, IsSafeFromSeveralThreads) {
    VirtualCard card;
    ASSERT_NE(card.StartIntr(10, 300, 0, 32, 1000, 0, 1), 0);
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&card, t] {
            std::array<float, 34> r{};
            std::array<std::int16_t, 2> in{};
            for (int i = 0; i < 500; ++i) {
                card.ADResult_DV(0, 32, t % 2, 1, 20, r.data());
                card.Mox_DA(static_cast<std::int16_t>(i % 4), static_cast<std::int16_t>(i));
                card.Mox_DOBit(static_cast<std::int16_t>(i % 16), static_cast<std::int16_t>(t % 2));
                card.Mox_DI(2, in.data());
                if (i % 100 == 0) card.StartIntr(10, 300, 0, 32, 1000, 0, 1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_TRUE(card.Acquiring());
}

TEST(VirtualCardLibrary, ExportsEveryEntryByPlainName) {
    void* lib = dlopen(VIRTUAL_CARD_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const auto& entry : DllDef::kEntries) {
        const std::string name(entry.name);
        EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
    }
    EXPECT_EQ(dlsym(lib, "_ZN5vcard11VirtualCard7InitialEiiii"), nullptr) << "the model stays private";
    auto queryBuf = reinterpret_cast<std::int32_t (*)()>(dlsym(lib, "QueryBuf"));
    EXPECT_EQ(queryBuf(), 0);
    dlclose(lib);
}
