// SPDX-License-Identifier: GPL-3.0-or-later
// The text both the trend export and moxctl write: UTC times on either side
// of 1970 and across leap days, values that read back bit for bit, and one
// column line and row for the same readings from both programs.
#include "csv.h"
#include "rows.h"
#include "text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using std::chrono::system_clock;

// ---------------------------------------------------------------- times

struct TimeCase {
    std::int64_t ms;
    const char* text;
};

class IsoUtcTable : public ::testing::TestWithParam<TimeCase> {};

TEST_P(IsoUtcTable, UtcWithMilliseconds) {
    EXPECT_EQ(mox::IsoUtc(GetParam().ms), GetParam().text);
    // The clock's own type reaches only so far (on Linux, 292 years either
    // side of 1970, in nanoseconds).
    const auto reach = std::chrono::duration_cast<std::chrono::milliseconds>(system_clock::duration::max()).count();
    if (GetParam().ms > -reach && GetParam().ms < reach) {
        EXPECT_EQ(mox::IsoUtc(system_clock::time_point(std::chrono::milliseconds(GetParam().ms))), GetParam().text);
    }
}

INSTANTIATE_TEST_SUITE_P(Days, IsoUtcTable,
                         ::testing::Values(TimeCase{0, "1970-01-01T00:00:00.000Z"},
                                           TimeCase{-1, "1969-12-31T23:59:59.999Z"},
                                           TimeCase{-86'400'000, "1969-12-31T00:00:00.000Z"},
                                           TimeCase{-14'182'940'000, "1969-07-20T20:17:40.000Z"},
                                           TimeCase{-2'203'891'200'000, "1900-03-01T00:00:00.000Z"},
                                           TimeCase{-11'670'998'400'000, "1600-02-29T00:00:00.000Z"},
                                           TimeCase{951'782'400'000, "2000-02-29T00:00:00.000Z"},
                                           TimeCase{1'709'251'199'999, "2024-02-29T23:59:59.999Z"},
                                           TimeCase{1'709'251'200'000, "2024-03-01T00:00:00.000Z"},
                                           TimeCase{4'107'542'399'999, "2100-02-28T23:59:59.999Z"},
                                           TimeCase{4'107'542'400'000, "2100-03-01T00:00:00.000Z"},
                                           TimeCase{1'796'649'798'200, "2026-12-07T13:23:18.200Z"}));

struct SubMsCase {
    std::int64_t us;
    const char* iso;
    const char* compact;
};

class SubMillisecond : public ::testing::TestWithParam<SubMsCase> {};

// A time between two milliseconds (or seconds) is the earlier one: before
// 1970 too, where dividing towards zero would give the later.
TEST_P(SubMillisecond, IsWrittenAsTheEarlierOne) {
    const system_clock::time_point t(
        std::chrono::duration_cast<system_clock::duration>(std::chrono::microseconds(GetParam().us)));
    EXPECT_EQ(mox::IsoUtc(t), GetParam().iso);
    EXPECT_EQ(mox::CompactUtc(t), GetParam().compact);
}

INSTANTIATE_TEST_SUITE_P(Rounding, SubMillisecond,
                         ::testing::Values(SubMsCase{1, "1970-01-01T00:00:00.000Z", "19700101T000000Z"},
                                           SubMsCase{999, "1970-01-01T00:00:00.000Z", "19700101T000000Z"},
                                           SubMsCase{-1, "1969-12-31T23:59:59.999Z", "19691231T235959Z"},
                                           SubMsCase{-999, "1969-12-31T23:59:59.999Z", "19691231T235959Z"},
                                           SubMsCase{-1001, "1969-12-31T23:59:59.998Z", "19691231T235959Z"},
                                           SubMsCase{-1'000'000, "1969-12-31T23:59:59.000Z", "19691231T235959Z"},
                                           SubMsCase{-1'000'001, "1969-12-31T23:59:58.999Z", "19691231T235958Z"},
                                           SubMsCase{1'796'643'000'999'999, "2026-12-07T11:30:00.999Z",
                                                     "20261207T113000Z"}));

// Against the standard library's calendar, over four centuries either side
// of 1970: every field of every time agrees.
TEST(IsoUtc, AgreesWithTheStandardCalendar) {
    using namespace std::chrono;
    std::mt19937_64 random(20261207);
    constexpr std::int64_t kSpan = 146'097LL * 86'400'000; // 400 years of ms
    std::uniform_int_distribution<std::int64_t> ms(-kSpan, kSpan);
    for (int i = 0; i < 20'000; ++i) {
        const std::int64_t t = ms(random);
        const sys_time<milliseconds> at{milliseconds(t)};
        const auto day = floor<days>(at);
        const year_month_day ymd{day};
        const hh_mm_ss<milliseconds> time{at - day};
        char want[64];
        std::snprintf(want, sizeof want, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                      static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                      static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                      static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
        ASSERT_EQ(mox::IsoUtc(t), want) << t;
    }
}

TEST(SecondsText, ThreeDecimalsFromMilliseconds) {
    const struct {
        std::int64_t ms;
        const char* text;
    } cases[] = {{0, "0.000"},
                 {1, "0.001"},
                 {999, "0.999"},
                 {1000, "1.000"},
                 {12'345, "12.345"},
                 {-1, "-0.001"},
                 {-1500, "-1.500"},
                 {86'400'123, "86400.123"},
                 {std::numeric_limits<std::int64_t>::min(), "-9223372036854775.808"}};
    for (const auto& c : cases) EXPECT_EQ(mox::SecondsText(c.ms), c.text) << c.ms;
}

// ---------------------------------------------------------------- values

template <typename T, typename Bits>
void ExpectReadsBack(Bits bits) {
    const T v = std::bit_cast<T>(bits);
    if (std::isnan(v)) return;
    const std::string text = mox::ShortestText(v);
    T back{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(ec, std::errc()) << text;
    ASSERT_EQ(end, text.data() + text.size()) << text;
    ASSERT_EQ(std::bit_cast<Bits>(back), bits) << text;
}

// Bit for bit, over random patterns (every exponent, so denormals and huge
// values too) and the edges.
TEST(ShortestText, FloatsReadBackBitIdentical) {
    std::mt19937 random(7);
    for (int i = 0; i < 200'000; ++i) ExpectReadsBack<float>(static_cast<std::uint32_t>(random()));
    for (const std::uint32_t edge : {0x00000000u, 0x80000000u, 0x00000001u, 0x807FFFFFu, 0x00800000u, 0x7F7FFFFFu,
                                     0xFF7FFFFFu, 0x3F800000u, 0x3DCCCCCDu})
        ExpectReadsBack<float>(edge);
}

TEST(ShortestText, DoublesReadBackBitIdentical) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 200'000; ++i) ExpectReadsBack<double>(static_cast<std::uint64_t>(random()));
    for (const std::uint64_t edge :
         {0x0ULL, 0x8000000000000000ULL, 0x1ULL, 0x000FFFFFFFFFFFFFULL, 0x7FEFFFFFFFFFFFFFULL, 0xFFEFFFFFFFFFFFFFULL})
        ExpectReadsBack<double>(edge);
}

TEST(ShortestText, IsShortest) {
    EXPECT_EQ(mox::ShortestText(0.1f), "0.1");
    EXPECT_EQ(mox::ShortestText(-0.0f), "-0");
    EXPECT_EQ(mox::ShortestText(4.9f), "4.9");
    EXPECT_EQ(mox::ShortestText(1e-45f), "1e-45");
    EXPECT_EQ(mox::ShortestText(32768.0f), "32768");
    EXPECT_EQ(mox::ShortestText(0.1), "0.1");
    EXPECT_EQ(mox::ShortestText(std::numeric_limits<float>::infinity()), "inf");
}

TEST(IdentityText, NamesEveryField) {
    EXPECT_EQ(mox::IdentityText({7710, 1, 100, 16}), "card 7710, type 1, speed 100K, resolution 16 bits");
}

// ---------------------------------------------------------------- columns

struct ColumnsCase {
    std::vector<int> channels;
    bool codes;
    bool volts;
    const char* line;
};

class ReadingsColumns : public ::testing::TestWithParam<ColumnsCase> {};

TEST_P(ReadingsColumns, NameTheWindowsChannels) {
    EXPECT_EQ(mox::ReadingsColumns(GetParam().channels, GetParam().codes, GetParam().volts), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadingsColumns,
    ::testing::Values(ColumnsCase{{0, 7, 31}, false, true, "utc,monotonic_s,AI00,AI07,AI31"},
                      ColumnsCase{{12}, true, false, "utc,monotonic_s,AI12"},
                      ColumnsCase{{3, 4}, true, true, "utc,monotonic_s,AI03_code,AI03_volts,AI04_code,AI04_volts"},
                      ColumnsCase{{-1, 32, 5}, false, true, "utc,monotonic_s,AI05"},
                      ColumnsCase{{}, false, true, "utc,monotonic_s"}));

std::vector<int> AllChannels() {
    std::vector<int> all(mox::kInputChannels);
    for (std::size_t k = 0; k < all.size(); ++k) all[k] = static_cast<int>(k);
    return all;
}

// The line after "# read mode: ..." and the first row of a trend export.
std::pair<std::string, std::string> TrendLines(const std::string& csv) {
    const auto second = csv.find('\n') + 1;
    const auto third = csv.find('\n', second) + 1;
    return {csv.substr(second, third - second), csv.substr(third, csv.find('\n', third) + 1 - third)};
}

// The same readings of all 32 inputs in volts, taken at the same times: the
// trend's export and moxctl give the same column line and the same row.
TEST(ReadingsCsv, TrendExportAndMoxctlWriteTheSameColumnsAndRows) {
    constexpr std::int64_t kWall = 1'709'251'199'999, kSteady = 83'456;
    trend::Volts volts{};
    moxctl::Reading reading;
    for (std::size_t k = 0; k < volts.size(); ++k) {
        volts[k] = static_cast<float>(std::sin(static_cast<double>(k)) * 4.9);
        reading.volts[k] = volts[k];
        reading.codes[k] = 32768 + static_cast<double>(k);
    }
    trend::History history;
    history.Append({kSteady, kWall}, 2, volts);
    const auto [header, row] =
        TrendLines(trend::CsvText(history, AllChannels(), {0, kSteady}, {"newest", "mean AD", "mean volts"}));

    const moxctl::ReadRequest voltsOnly{0, false, true};
    EXPECT_EQ(header, moxctl::CsvHeader(voltsOnly));
    const moxctl::Stamp stamp{system_clock::time_point(std::chrono::milliseconds(kWall)), kSteady};
    EXPECT_EQ(row, moxctl::CsvRow(voltsOnly, stamp, reading));
    EXPECT_EQ(row.substr(0, 34), "2024-02-29T23:59:59.999Z,83.456,0,");

    // With codes too, moxctl names each channel's pair after the same channel.
    EXPECT_EQ(moxctl::CsvHeader({0, true, true}), mox::ReadingsColumns(AllChannels(), true, true) + "\n");
}

} // namespace

// Report texts come from drivers and cards: whatever they hold, the XML
// stays well-formed.
TEST(XmlText, EntitiesAndNoCharacterXmlCannotCarry) {
    const struct {
        std::string in, out;
    } cases[] = {{"a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&apos;"},
                 {std::string("bell\aand\0nul", 12), "bell?and?nul"},
                 {"tab\tline\ncr\r", "tab\tline\ncr\r"},
                 {"\x1b[31mred", "?[31mred"},
                 {"电压 (V) µ", "电压 (V) µ"}};
    for (const auto& c : cases) EXPECT_EQ(mox::XmlText(c.in), c.out) << c.in;
}
