#include "DllDef.h"
#include "fake_driver_client.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct DriverFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void Throw(const std::string& message) { throw DriverFailure(message); }

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        DllDef::SetFailureHandler(&Throw);
        FakeDriver::Get().Reset();
    }
    void TearDown() override { DllDef::SetFailureHandler(nullptr); }
};

using Calls = std::vector<std::string>;

} // namespace

TEST_F(DriverTest, BuffersAreZeroAndSizedAtStart) {
    EXPECT_EQ(DllDef::InBuf.size(), 32001u);
    EXPECT_EQ(DllDef::OutBuf.size(), 32001u);
    EXPECT_EQ(DllDef::DIBuf.size(), 129u);
    EXPECT_EQ(DllDef::DOBuf.size(), 9u);
    for (auto b : DllDef::InBuf) ASSERT_EQ(b, 0);
    for (auto b : DllDef::OutBuf) ASSERT_EQ(b, 0);
    for (auto b : DllDef::DIBuf) ASSERT_EQ(b, 0);
    for (auto b : DllDef::DOBuf) ASSERT_EQ(b, 0);
}

struct CallCase {
    const char* name;
    std::function<std::int32_t()> call;
    const char* recorded;
};

class DriverCallTest : public DriverTest, public ::testing::WithParamInterface<CallCase> {};

TEST_P(DriverCallTest, PassesArgumentsAtTheirWidths) {
    FakeDriver::Get().SetReturn(GetParam().name, 77);
    EXPECT_EQ(GetParam().call(), 77);
    EXPECT_EQ(FakeDriver::Get().Calls(), Calls{GetParam().recorded});
}

std::vector<CallCase> AllEntries() {
    static std::array<float, 34> results{};
    static std::array<std::uint8_t, 4> in{130, 64, 0, 0};
    static std::array<std::uint8_t, 8> out{};
    static std::array<std::int16_t, 2> di{};
    return {
        {"Initial", [] { return DllDef::Initial(0, 0, 0, 0); }, "Initial(0,0,0,0)"},
        {"IOCtl", [] { return DllDef::IOCtl(100, in.data(), 100, out.data()); }, "IOCtl(100,[130,64,0],100)"},
        {"StopIntr", [] { return DllDef::StopIntr(); }, "StopIntr()"},
        {"StartIntr", [] { return DllDef::StartIntr(10, 300, 0, 32, 1000, 0, 1); }, "StartIntr(10,300,0,32,1000,0,1)"},
        {"StartIntr", [] { return DllDef::StartIntr(-32768, -2147483647 - 1, 32767, -1, 2147483647, -5, -2); },
         "StartIntr(-32768,-2147483648,32767,-1,2147483647,-5,-2)"},
        {"GetLastADError", [] { return DllDef::GetLastADError(); }, "GetLastADError()"},
        {"ADResult_DV", [] { return DllDef::ADResult_DV(0, 32, 1, 1, 2.5f, results.data()); },
         "ADResult_DV(0,32,1,1,2.5)"},
        {"ADResult_DV", [] { return DllDef::ADResult_DV(0, 32, 0, 1, -3.0f, results.data()); },
         "ADResult_DV(0,32,0,1,-3)"},
        {"Mox_DA", [] { return DllDef::Mox_DA(3, -410); }, "Mox_DA(3,-410)"},
        {"Mox_DO", [] { return DllDef::Mox_DO(1, 255); }, "Mox_DO(1,255)"},
        {"Mox_DOBit", [] { return DllDef::Mox_DOBit(15, 1); }, "Mox_DOBit(15,1)"},
        {"Mox_DI", [] { return DllDef::Mox_DI(2, di.data()); }, "Mox_DI(2)"},
        {"StartSnapshot", [] { return DllDef::StartSnapshot(1, 2, 3, 4, 5, 6, 7, 8); },
         "StartSnapshot(1,2,3,4,5,6,7,8)"},
        {"RegisterNotify", [] { return DllDef::RegisterNotify(1, 2, 3, 4, 5); }, "RegisterNotify(1,2,3,4,5)"},
        {"QueryBuf", [] { return DllDef::QueryBuf(); }, "QueryBuf()"},
        {"ADResult", [] { return DllDef::ADResult(-1); }, "ADResult(-1)"},
        {"ADResultRecent", [] { return DllDef::ADResultRecent(9); }, "ADResultRecent(9)"},
        {"GetSnapshot", [] { return DllDef::GetSnapshot(1, 2, 3); }, "GetSnapshot(1,2,3)"},
        {"ConfigInfo", [] { return DllDef::ConfigInfo(8, 7, 6, 5, 4, 3, 2, 1); }, "ConfigInfo(8,7,6,5,4,3,2,1)"},
        {"ChannelFrq", [] { return DllDef::ChannelFrq(1, 2); }, "ChannelFrq(1,2)"},
        {"Mox_ADResult", [] { return DllDef::Mox_ADResult(1, 2); }, "Mox_ADResult(1,2)"},
        {"Mox_Init", [] { return DllDef::Mox_Init(1, 2, 3); }, "Mox_Init(1,2,3)"},
        {"Mox_USB_Inportb", [] { return DllDef::Mox_USB_Inportb(1, 2, 3); }, "Mox_USB_Inportb(1,2,3)"},
        {"Mox_USB_Outportb", [] { return DllDef::Mox_USB_Outportb(1, 2, 3); }, "Mox_USB_Outportb(1,2,3)"},
        {"Mox_Readb", [] { return DllDef::Mox_Readb(1, 2, 3, 4); }, "Mox_Readb(1,2,3,4)"},
    };
}

INSTANTIATE_TEST_SUITE_P(Entries, DriverCallTest, ::testing::ValuesIn(AllEntries()),
                         [](const auto& param) { return param.param.name + std::to_string(param.index); });

TEST_F(DriverTest, RepliesArriveInTheCallersBuffers) {
    FakeDriver::Get().SetReply(70, {12, 34, 10, 16, 1});
    FakeDriver::Get().SetInputs(0x1A5, 0x0103);
    FakeDriver::Get().SetResults({1.5f, -2.0f});
    DllDef::InBuf[0] = 70;
    DllDef::IOCtl(100, DllDef::InBuf.data(), 100, DllDef::OutBuf.data());
    EXPECT_EQ(std::vector<int>(DllDef::OutBuf.begin(), DllDef::OutBuf.begin() + 6),
              (std::vector<int>{12, 34, 10, 16, 1, 0}));
    DllDef::Mox_DI(2, DllDef::DIBuf.data());
    EXPECT_EQ(DllDef::DIBuf[0], 0x1A5);
    EXPECT_EQ(DllDef::DIBuf[1], 0x0103);
    std::array<float, 34> results{};
    DllDef::ADResult_DV(0, 32, 0, 0, 0, results.data());
    EXPECT_EQ(results[0], 1.5f);
    EXPECT_EQ(results[1], -2.0f);
    DllDef::OutBuf.fill(0);
    DllDef::InBuf.fill(0);
    DllDef::DIBuf.fill(0);
}

TEST_F(DriverTest, MissingEntryIsReportedByNameWithTheLoadersReason) {
    try {
        DllDef::Mox_Writeb(1, 2, 3, 4);
        FAIL() << "a missing entry must be reported";
    } catch (const DriverFailure& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("Mox_Writeb"), std::string::npos) << message;
        EXPECT_NE(message.find("libadcard.so"), std::string::npos) << message;
        EXPECT_NE(message.find("undefined symbol"), std::string::npos) << message;
    }
    // The entries that exist go on working.
    EXPECT_EQ(DllDef::QueryBuf(), 0);
}

TEST_F(DriverTest, EntriesAreLookedUpOnceAndStayUsable) {
    for (int i = 0; i < 3; ++i) DllDef::StopIntr();
    EXPECT_EQ(FakeDriver::Get().Calls(), (Calls{"StopIntr()", "StopIntr()", "StopIntr()"}));
}

TEST(DriverDeath, DefaultHandlerEndsTheProcessWithAMessage) {
    DllDef::SetFailureHandler(nullptr);
    EXPECT_EXIT(DllDef::Mox_Writeb(0, 0, 0, 0), ::testing::ExitedWithCode(DllDef::kDriverFailureExitCode),
                "has no entry Mox_Writeb");
}
