// SPDX-License-Identifier: GPL-3.0-or-later
// A channel's level against its limits: entering and leaving each level,
// jumps over several, values exactly on a threshold, hysteresis against a
// noisy signal, NaN samples and levels that were not given.
#include "limit_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

using vcard::Level;
using vcard::Limits;
using vcard::LimitWatch;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Index of the sample that changed the level, and the level it changed to.
using Changes = std::vector<std::pair<int, Level>>;

Changes FeedAll(const Limits& limits, const std::vector<double>& samples) {
    LimitWatch watch(limits);
    Changes changes;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (const auto level = watch.Feed(samples[i])) changes.emplace_back(static_cast<int>(i), *level);
    }
    return changes;
}

std::string Text(const Changes& changes) {
    std::string s;
    for (const auto& [i, level] : changes) s += "#" + std::to_string(i) + ":" + std::string(LevelName(level)) + " ";
    return s;
}

// Low alarm 1, low warning 2, high warning 8, high alarm 9.5, hysteresis 0.2.
const Limits kAll{1.0, 2.0, 8.0, 9.5, 0.2};
const Limits kAllNoHysteresis{1.0, 2.0, 8.0, 9.5, 0.0};
const Limits kHighWarnOnly{std::nullopt, std::nullopt, 8.0, std::nullopt, 0.2};
const Limits kHighAlarmOnly{std::nullopt, std::nullopt, std::nullopt, 9.5, 0.5};
const Limits kNone{};

struct Case {
    const char* name;
    Limits limits;
    std::vector<double> samples;
    Changes expected;
};

const std::vector<Case> kCases{
    {"StaysNormalInside", kAll, {5, 2, 8, 7.9, 2.1}, {}},
    {"EntersAndLeavesWarnHigh", kAll, {5, 8.1, 8.5, 7.7, 5}, {{1, Level::WarnHigh}, {3, Level::Normal}}},
    {"EntersAndLeavesWarnLow", kAll, {5, 1.9, 1.5, 2.3}, {{1, Level::WarnLow}, {3, Level::Normal}}},
    {"StepsUpAndDownThroughHighLevels",
     kAll,
     {5, 8.5, 9.6, 9.2, 7.5},
     {{1, Level::WarnHigh}, {2, Level::AlarmHigh}, {3, Level::WarnHigh}, {4, Level::Normal}}},
    {"StepsDownAndUpThroughLowLevels",
     kAll,
     {5, 1.5, 0.5, 1.5, 2.5},
     {{1, Level::WarnLow}, {2, Level::AlarmLow}, {3, Level::WarnLow}, {4, Level::Normal}}},
    {"JumpsFromNormalToAlarmHighInOneChange", kAll, {5, 12}, {{1, Level::AlarmHigh}}},
    {"JumpsFromAlarmHighBackToNormalInOneChange", kAll, {12, 5}, {{0, Level::AlarmHigh}, {1, Level::Normal}}},
    {"JumpsFromNormalToAlarmLowInOneChange", kAll, {5, -3}, {{1, Level::AlarmLow}}},
    {"JumpsAcrossFromAlarmHighToAlarmLow", kAll, {10, 0}, {{0, Level::AlarmHigh}, {1, Level::AlarmLow}}},
    {"JumpsAcrossFromWarnLowToWarnHigh", kAll, {1.5, 8.5}, {{0, Level::WarnLow}, {1, Level::WarnHigh}}},
    // A value on a threshold is not past it: no level is entered.
    {"EqualToWarnThresholdsEntersNothing", kAll, {8, 2, 8, 2}, {}},
    {"EqualToAlarmHighFromWarnHighStaysWarnHigh", kAll, {8.5, 9.5, 9.5}, {{0, Level::WarnHigh}}},
    {"EqualToAlarmLowFromWarnLowStaysWarnLow", kAll, {1.5, 1, 1}, {{0, Level::WarnLow}}},
    {"EqualToAlarmHighAloneEntersNothing", kHighAlarmOnly, {9.5, 9.5}, {}},
    // ... and one exactly the hysteresis inside has not come back yet.
    {"EqualToLeavingPointKeepsWarnHigh",
     kAllNoHysteresis,
     {8.5, 8, 8, 7.99},
     {{0, Level::WarnHigh}, {3, Level::Normal}}},
    {"EqualToLeavingPointKeepsAlarmHigh", kHighAlarmOnly, {10, 9, 8.99}, {{0, Level::AlarmHigh}, {2, Level::Normal}}},
    // Hysteresis: back below the threshold but not by 0.2 yet.
    {"HysteresisHoldsWarnHigh", kAll, {8.1, 7.9, 7.85, 8.05, 7.81, 7.79}, {{0, Level::WarnHigh}, {5, Level::Normal}}},
    {"HysteresisHoldsWarnLow", kAll, {1.9, 2.1, 2.19, 2.21}, {{0, Level::WarnLow}, {3, Level::Normal}}},
    {"HysteresisHoldsAlarmHighThenWarnHigh",
     kAll,
     {9.6, 9.35, 9.29, 7.85, 7.7},
     {{0, Level::AlarmHigh}, {2, Level::WarnHigh}, {4, Level::Normal}}},
    // From an alarm straight into the warning's hysteresis band: still a warning.
    {"AlarmHighFallsIntoWarnHighBand", kAll, {9.6, 7.9}, {{0, Level::AlarmHigh}, {1, Level::WarnHigh}}},
    {"AlarmLowRisesIntoWarnLowBand",
     kAll,
     {0.5, 2.1, 2.3},
     {{0, Level::AlarmLow}, {1, Level::WarnLow}, {2, Level::Normal}}},
    // The hysteresis band below a threshold does not let a value in from Normal.
    {"BandAloneDoesNotEnter", kAll, {7.9, 7.95, 9.4, 1.1}, {{2, Level::WarnHigh}, {3, Level::WarnLow}}},
    {"NaNChangesNothing",
     kAll,
     {kNaN, 8.5, kNaN, kNaN, 5, kNaN, 1.5},
     {{1, Level::WarnHigh}, {4, Level::Normal}, {6, Level::WarnLow}}},
    {"NaNDoesNotLeaveALevel", kAll, {9.7, kNaN, kNaN, 9.7}, {{0, Level::AlarmHigh}}},
    {"OnlyWarnHighGiven", kHighWarnOnly, {-100, 8.5, 1e6, 7.7, -1e6}, {{1, Level::WarnHigh}, {3, Level::Normal}}},
    // A missing warning level: an alarm goes straight back to normal.
    {"OnlyAlarmHighGiven", kHighAlarmOnly, {9, 9.6, 9.1, 8.9, -50}, {{1, Level::AlarmHigh}, {3, Level::Normal}}},
    {"NoLevelsNeverTrip", kNone, {-1e300, 1e300, 0, -5, 5}, {}},
    {"InfinityIsPastEveryThreshold",
     kAll,
     {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()},
     {{0, Level::AlarmHigh}, {1, Level::AlarmLow}}},
    // A negative hysteresis is none: on the threshold the level holds,
    // just inside it the value is back.
    {"NegativeHysteresisCountsAsNone",
     {std::nullopt, std::nullopt, 8.0, std::nullopt, -1.0},
     {8.5, 8, 7.99},
     {{0, Level::WarnHigh}, {2, Level::Normal}}},
};

class LimitSequence : public ::testing::TestWithParam<Case> {};

TEST_P(LimitSequence, ReportsEachChangeOnce) {
    const Case& c = GetParam();
    EXPECT_EQ(Text(FeedAll(c.limits, c.samples)), Text(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Limits, LimitSequence, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// From `from` slowly to the threshold (samples 0..100), a long stretch
// sitting on it with noise (101..2100), and slowly back (2101..2201).
std::vector<double> NoisyVisit(double from, double threshold, double noise) {
    std::vector<double> v;
    for (int i = 0; i <= 100; ++i) v.push_back(from + (threshold - from) * i / 100.0);
    for (int i = 0; i < 2000; ++i) v.push_back(threshold + noise * std::sin(i * 0.37));
    for (int i = 0; i <= 100; ++i) v.push_back(threshold + (from - threshold) * i / 100.0);
    return v;
}

TEST(LimitHysteresis, NoiseSmallerThanHysteresisOnAThresholdIsOneCrossing) {
    const Changes changes = FeedAll(kAll, NoisyVisit(7.0, 8.0, 0.15));
    ASSERT_EQ(changes.size(), 2u) << Text(changes);
    EXPECT_EQ(changes[0].second, Level::WarnHigh);
    EXPECT_LE(changes[0].first, 102); // as soon as the noise takes it past 8
    EXPECT_EQ(changes[1].second, Level::Normal);
    EXPECT_GT(changes[1].first, 2101); // left only on the way back
}

TEST(LimitHysteresis, WithoutHysteresisTheSameNoiseChatters) {
    // What the hysteresis is for: the same signal with none changes level
    // again and again.
    const Changes changes = FeedAll(kAllNoHysteresis, NoisyVisit(7.0, 8.0, 0.15));
    EXPECT_GT(changes.size(), 100u);
}

TEST(LimitHysteresis, NoiseSmallerThanHysteresisOnALowAlarmIsOneCrossing) {
    // From inside the low warning down onto the low alarm and back.
    const Changes changes = FeedAll(kAll, NoisyVisit(1.5, 1.0, 0.15));
    ASSERT_EQ(changes.size(), 3u) << Text(changes);
    EXPECT_EQ(changes[0], std::make_pair(0, Level::WarnLow));
    EXPECT_EQ(changes[1].second, Level::AlarmLow);
    EXPECT_LE(changes[1].first, 101 + 17); // in the noise's first dip under 1.0
    EXPECT_EQ(changes[2].second, Level::WarnLow);
    EXPECT_GT(changes[2].first, 2101);
}

// Whatever the signal: a change is never reported twice in a row, a level
// entered is one the value is past, and the watch's level is the last
// change reported.
TEST(LimitHysteresis, RandomWalkKeepsTheRules) {
    constexpr double kUlps = 1e-12; // 8 - 0.2 need not be the double nearest 7.8
    std::mt19937 rng(12345);
    std::normal_distribution<double> step(0.0, 0.3);
    LimitWatch watch(kAll);
    double v = 5;
    Level last = Level::Normal;
    int changes = 0;
    for (int i = 0; i < 200000; ++i) {
        v = std::clamp(v + step(rng), -2.0, 12.0);
        const auto level = watch.Feed(v);
        ASSERT_EQ(watch.Current(), level.value_or(last));
        if (!level) continue;
        ++changes;
        ASSERT_NE(*level, last);
        // From below, a level is entered only past its threshold; from a
        // level above it, only within the hysteresis under it.
        const bool fromHigh = last == Level::WarnHigh || last == Level::AlarmHigh;
        const bool fromLow = last == Level::WarnLow || last == Level::AlarmLow;
        switch (*level) {
        case Level::AlarmHigh:
            ASSERT_GT(v, 9.5);
            break;
        case Level::AlarmLow:
            ASSERT_LT(v, 1.0);
            break;
        case Level::WarnHigh:
            ASSERT_TRUE(last == Level::AlarmHigh ? v >= 7.8 - kUlps && v <= 9.3 + kUlps : v > 8) << v;
            break;
        case Level::WarnLow:
            ASSERT_TRUE(last == Level::AlarmLow ? v <= 2.2 + kUlps && v >= 1.2 - kUlps : v < 2) << v;
            break;
        case Level::Normal:
            ASSERT_TRUE(v >= 2 && v <= 8) << v;
            ASSERT_TRUE(!fromHigh || v < 7.8 + kUlps) << v;
            ASSERT_TRUE(!fromLow || v > 2.2 - kUlps) << v;
            break;
        }
        last = *level;
    }
    EXPECT_GT(changes, 100);
}

} // namespace
