// SPDX-License-Identifier: GPL-3.0-or-later
#include "DllDef.h"
#include "fake_driver_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
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
    std::string name;
    std::function<std::int32_t()> call;
    std::string recorded;
};

class DriverCallTest : public DriverTest, public ::testing::WithParamInterface<CallCase> {};

TEST_P(DriverCallTest, PassesArgumentsAtTheirWidths) {
    FakeDriver::Get().SetReturn(GetParam().name.c_str(), 77);
    EXPECT_EQ(GetParam().call(), 77);
    EXPECT_EQ(FakeDriver::Get().Calls(), Calls{GetParam().recorded});
}

// Arguments at the edges of their widths, for the entries the windows call.
std::vector<CallCase> WidthCases() {
    static std::array<float, 34> results{};
    static std::array<std::uint8_t, 4> in{130, 64, 0, 0};
    static std::array<std::uint8_t, 8> out{};
    static std::array<std::int16_t, 2> di{};
    return {
        {"Initial", [] { return DllDef::Initial(0, 0, 0, 0); }, "Initial(0,0,0,0)"},
        {"IOCtl", [] { return DllDef::IOCtl(100, in.data(), 100, out.data()); }, "IOCtl(100,[130,64,0],100)"},
        {"StartIntr", [] { return DllDef::StartIntr(10, 300, 0, 32, 1000, 0, 1); }, "StartIntr(10,300,0,32,1000,0,1)"},
        {"StartIntr", [] { return DllDef::StartIntr(-32768, -2147483647 - 1, 32767, -1, 2147483647, -5, -2); },
         "StartIntr(-32768,-2147483648,32767,-1,2147483647,-5,-2)"},
        {"ADResult_DV", [] { return DllDef::ADResult_DV(0, 32, 1, 1, 2.5f, results.data()); },
         "ADResult_DV(0,32,1,1,2.5)"},
        {"ADResult_DV", [] { return DllDef::ADResult_DV(0, 32, 0, 1, -3.0f, results.data()); },
         "ADResult_DV(0,32,0,1,-3)"},
        {"Mox_DA", [] { return DllDef::Mox_DA(3, -410); }, "Mox_DA(3,-410)"},
        {"Mox_DO", [] { return DllDef::Mox_DO(1, 255); }, "Mox_DO(1,255)"},
        {"Mox_DOBit", [] { return DllDef::Mox_DOBit(15, 1); }, "Mox_DOBit(15,1)"},
        {"Mox_DI", [] { return DllDef::Mox_DI(2, di.data()); }, "Mox_DI(2)"},
    };
}

INSTANTIATE_TEST_SUITE_P(Widths, DriverCallTest, ::testing::ValuesIn(WidthCases()),
                         [](const auto& param) { return param.param.name + std::to_string(param.index); });

// A distinct value for each argument position, of the argument's type; the
// request buffer carries a network status request, and the other buffers
// are large enough for any reply.
template <typename T>
T Sample(std::size_t i) {
    static std::array<std::uint8_t, 32001> request{130, 64, 0};
    static std::array<std::uint8_t, 32001> reply{};
    static std::array<float, 34> results{};
    static std::array<std::int16_t, 129> inputs{};
    const int sign = i % 2 ? -1 : 1;
    if constexpr (std::is_same_v<T, std::uint8_t*>) {
        return i == 1 ? request.data() : reply.data();
    } else if constexpr (std::is_same_v<T, float*>) {
        return results.data();
    } else if constexpr (std::is_same_v<T, std::int16_t*>) {
        return inputs.data();
    } else if constexpr (std::is_same_v<T, float>) {
        return static_cast<float>(i) + 0.5f;
    } else if constexpr (sizeof(T) == 2) {
        return static_cast<T>(sign * static_cast<int>(1000 * (i + 1) + 7));
    } else {
        return static_cast<T>(sign * static_cast<long long>(100000 * (i + 1) + 7));
    }
}

// The test driver's record of a call with those values.
template <typename T>
std::string SampleText(std::size_t i) {
    if constexpr (std::is_same_v<T, std::uint8_t*>) {
        return i == 1 ? "[130,64,0]" : "";
    } else if constexpr (std::is_pointer_v<T>) {
        return "";
    } else if constexpr (std::is_same_v<T, float>) {
        return std::to_string(i) + ".5";
    } else {
        return std::to_string(static_cast<long long>(Sample<T>(i)));
    }
}

template <typename... A, std::size_t... I>
CallCase Generated(const char* name, std::int32_t (*entry)(A...), std::index_sequence<I...> /*positions*/) {
    std::string text = std::string(name) + "(";
    for (const std::string& arg : {std::string(), SampleText<A>(I)...}) {
        if (arg.empty()) continue;
        if (text.back() != '(') text += ',';
        text += arg;
    }
    text += ')';
    return {name, [entry] { return entry(Sample<A>(I)...); }, text};
}

template <typename... A>
CallCase Generated(const char* name, std::int32_t (*entry)(A...)) {
    return Generated(name, entry, std::index_sequence_for<A...>{});
}

// Every entry of the list through the driver module, but the one the test
// driver leaves out (see MissingEntryIsReportedByNameWithTheLoadersReason).
std::vector<CallCase> EveryEntry() {
    std::vector<CallCase> cases;
#define MOX_TEST_ENTRY(name, params, args) cases.push_back(Generated(#name, &DllDef::name));
    MOX_ADCARD_ENTRIES(MOX_TEST_ENTRY)
#undef MOX_TEST_ENTRY
    std::erase_if(cases, [](const CallCase& c) { return c.name == "Mox_Writeb"; });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Entries, DriverCallTest, ::testing::ValuesIn(EveryEntry()),
                         [](const auto& param) { return param.param.name + std::to_string(param.index); });

// The names a 32-bit Windows card driver exports, as the card's maker
// documents them.
TEST(DriverEntries, DecoratedNamesCarryTheirArgumentBytes) {
    const std::map<std::string, std::string> documented{
        {"Initial", "_Initial@16"},
        {"IOCtl", "_IOCtl@16"},
        {"StopIntr", "_StopIntr@0"},
        {"StartIntr", "_StartIntr@28"},
        {"GetLastADError", "_GetLastADError@0"},
        {"ADResult_DV", "_ADResult_DV@24"},
        {"Mox_DA", "_Mox_DA@8"},
        {"Mox_DO", "_Mox_DO@8"},
        {"Mox_DOBit", "_Mox_DOBit@8"},
        {"Mox_DI", "_Mox_DI@8"},
        {"StartSnapshot", "_StartSnapshot@32"},
        {"RegisterNotify", "_RegisterNotify@20"},
        {"QueryBuf", "_QueryBuf@0"},
        {"ADResult", "_ADResult@4"},
        {"ADResultRecent", "_ADResultRecent@4"},
        {"GetSnapshot", "_GetSnapshot@12"},
        {"ConfigInfo", "_ConfigInfo@32"},
        {"ChannelFrq", "_ChannelFrq@8"},
        {"Mox_ADResult", "_Mox_ADResult@8"},
        {"Mox_Init", "_Mox_Init@12"},
        {"Mox_USB_Inportb", "_Mox_USB_Inportb@12"},
        {"Mox_USB_Outportb", "_Mox_USB_Outportb@12"},
        {"Mox_Readb", "_Mox_Readb@16"},
        {"Mox_Writeb", "_Mox_Writeb@16"},
    };
    std::map<std::string, std::string> listed;
    for (const auto& entry : DllDef::kEntries) listed[std::string(entry.name)] = std::string(entry.decorated);
    EXPECT_EQ(listed, documented);
    EXPECT_EQ(
        std::count_if(DllDef::kEntries.begin(), DllDef::kEntries.end(), [](auto& e) { return e.calledByWindows; }), 10);
}

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
