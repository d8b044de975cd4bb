// SPDX-License-Identifier: GPL-3.0-or-later
// The trend: its history ring, the per-column reduction, figures and CSV,
// and the window beside the acquisition window on the test driver.
#include "FrmMultiBuf.h"
#include "card_io.h"
#include "columns.h"
#include "csv.h"
#include "engineering.h"
#include "fake_driver_client.h"
#include "frmTrend.h"
#include "history.h"
#include "reduce.h"
#include "text.h"
#include "widgets.h"
#include "window_test.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <sstream>

#ifdef __linux__
#include <sys/resource.h>
#endif

using trend::History;
using trend::Span;
using trend::Volts;

namespace {

// One clock for both times: a wall clock that is never set.
trend::Stamp T(std::int64_t ms) { return {ms, ms}; }

Volts Level(float v) {
    Volts volts{};
    volts.fill(v);
    return volts;
}

// Readings of channel 0 every `step` ms from `from`, value f(i).
template <typename F>
void Fill(History& h, std::int64_t from, std::int64_t step, int n, F f) {
    for (int i = 0; i < n; ++i) h.Append(T(from + step * i), 2, Level(static_cast<float>(f(i))));
}

double kNaN() { return std::numeric_limits<double>::quiet_NaN(); }

std::size_t NaNs(const std::vector<trend::Point>& points) {
    std::size_t n = 0;
    for (const auto& p : points) n += std::isnan(p.value) ? 1 : 0;
    return n;
}

} // namespace

// ---------------------------------------------------------------- history

TEST(TrendHistory, KeepsTheNewestCapacitySamplesInOrderAcrossTheWrap) {
    History h(5);
    for (int i = 0; i < 12; ++i) h.Append(T(std::int64_t{200} * i), 2, Level(static_cast<float>(i)));
    ASSERT_EQ(h.Size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(h.At(i).ms, static_cast<std::int64_t>(7 + i) * 200);
        EXPECT_EQ(h.At(i).volts[31], static_cast<float>(7 + i));
    }
    // Searches work on the wrapped ring.
    EXPECT_EQ(h.LowerBound(0), 0u);
    EXPECT_EQ(h.LowerBound(1401), 1u);
    EXPECT_EQ(h.LowerBound(1800), 2u);
    EXPECT_EQ(h.LowerBound(99999), 5u);
}

TEST(TrendHistory, AClockSetBackNeverMakesTimesRunBackwards) {
    History h(4);
    h.Append(T(10'000), 0, Level(1));
    h.Append(T(5'000), 0, Level(2));
    h.Append(T(10'200), 0, Level(3));
    EXPECT_EQ(h.At(1).ms, 10'000);
    EXPECT_EQ(h.LowerBound(10'001), 2u);
}

TEST(TrendHistory, ClearStartsAfresh) {
    History h(3);
    Fill(h, 0, 200, 7, [](int i) { return i; });
    h.Clear();
    EXPECT_TRUE(h.Empty());
    h.Append(T(1), 1, Level(9));
    ASSERT_EQ(h.Size(), 1u);
    EXPECT_EQ(h.At(0).volts[0], 9.0f);
}

// ---------------------------------------------------------------- reduction

struct ReduceCase {
    const char* name;
    int samples;
    int columns;
};

class MinMaxTest : public ::testing::TestWithParam<ReduceCase> {};

// Whatever the density, each column's band runs exactly from its lowest to
// its highest reading, with at most two points per edge, times in order.
TEST_P(MinMaxTest, EachColumnKeepsItsExtremes) {
    const char* const name = GetParam().name;
    const int samples = GetParam().samples;
    const int columns = GetParam().columns;
    History h(static_cast<std::size_t>(samples));
    const auto f = [](int i) { return 4.0 * std::sin(i * 0.037) + 0.3 * std::sin(i * 1.7); };
    Fill(h, 1'000'000, 200, samples, f);
    const Span span{1'000'000, 1'000'000 + 200LL * samples - 1};
    const trend::Envelope band = trend::MinMaxColumns(h, 0, span, columns);
    ASSERT_EQ(band.low.size(), band.high.size());
    EXPECT_LE(band.low.size(), static_cast<std::size_t>(2 * columns)) << name;
    EXPECT_EQ(NaNs(band.low) + NaNs(band.high), 0u);
    for (std::size_t i = 1; i < band.low.size(); ++i) {
        ASSERT_LT(band.low[i - 1].key, band.low[i].key) << name;
        ASSERT_EQ(band.low[i].key, band.high[i].key) << name;
    }

    // Brute force per column.
    const std::int64_t width = span.toMs - span.fromMs + 1;
    const auto column = [&](std::int64_t ms) { return static_cast<std::size_t>((ms - span.fromMs) * columns / width); };
    std::vector<double> lo(static_cast<std::size_t>(columns), 1e9), hi(static_cast<std::size_t>(columns), -1e9);
    for (int i = 0; i < samples; ++i) {
        const std::size_t c = column(span.fromMs + 200LL * i);
        const double v = static_cast<float>(f(i));
        lo[c] = std::min(lo[c], v);
        hi[c] = std::max(hi[c], v);
    }
    std::vector<double> gotLo(lo.size(), 1e9), gotHi(hi.size(), -1e9);
    const auto ColumnOf = [&](const trend::Point& p) { return column(std::llround(p.key * 1000)); };
    for (const auto& p : band.low) gotLo[ColumnOf(p)] = std::min(gotLo[ColumnOf(p)], p.value);
    for (const auto& p : band.high) gotHi[ColumnOf(p)] = std::max(gotHi[ColumnOf(p)], p.value);
    EXPECT_EQ(gotLo, lo) << name;
    EXPECT_EQ(gotHi, hi) << name;
}

INSTANTIATE_TEST_SUITE_P(Densities, MinMaxTest,
                         ::testing::Values(ReduceCase{"one hour at 1600 px", 18000, 1600},
                                           ReduceCase{"sparser than the pixels", 50, 1600},
                                           ReduceCase{"one column", 300, 1},
                                           ReduceCase{"exactly two per column", 200, 100},
                                           ReduceCase{"odd split", 997, 13}));

TEST(TrendReduce, ReadingsFartherApartThanTheGapAreNotJoined) {
    History h;
    Fill(h, 0, 200, 10, [](int) { return 1.0; });    // 0 .. 1800
    Fill(h, 5000, 200, 10, [](int) { return 2.0; }); // 5000 .. 6800: query was off in between
    Fill(h, 7000, 200, 10, [](int) { return 3.0; }); // contiguous with the previous run
    const auto points = trend::MinMaxColumns(h, 0, {0, 9000}, 900).high;
    ASSERT_EQ(NaNs(points), 1u);
    const auto gap = std::find_if(points.begin(), points.end(), [](const auto& p) { return std::isnan(p.value); });
    EXPECT_GT(gap->key, 1.8);
    EXPECT_LT(gap->key, 5.0);
    EXPECT_EQ((gap - 1)->value, 1.0);
    EXPECT_EQ((gap + 1)->value, 2.0);
}

TEST(TrendReduce, OnlyTheSpanAndOnlyRealReadings) {
    History h;
    Fill(h, 0, 200, 100, [](int i) { return i == 50 ? std::numeric_limits<double>::quiet_NaN() : i; });
    // The span is inclusive at both ends.
    const auto points = trend::MinMaxColumns(h, 0, {2000, 4000}, 1000).low;
    ASSERT_FALSE(points.empty());
    EXPECT_EQ(points.front().key, 2.0);
    EXPECT_EQ(points.back().key, 4.0);
    // The NaN reading at 10 s is left out; its neighbours 400 ms apart stay joined.
    const auto whole = trend::MinMaxColumns(h, 0, {0, 20'000}, 1000).high;
    EXPECT_EQ(NaNs(whole), 0u);
    EXPECT_EQ(whole.size(), 99u);
    EXPECT_TRUE(trend::MinMaxColumns(h, 0, {100'000, 200'000}, 10).high.empty());
    EXPECT_TRUE(trend::MinMaxColumns(h, 32, {0, 20'000}, 10).high.empty());
    EXPECT_TRUE(trend::MinMaxColumns(h, -1, {0, 20'000}, 10).high.empty());
    EXPECT_TRUE(trend::MinMaxColumns(h, 0, {0, 20'000}, 0).high.empty());
    EXPECT_TRUE(trend::MinMaxColumns(h, 0, {20'000, 0}, 10).high.empty());
}

TEST(TrendReduce, StatsOverTheSpan) {
    History h(8);
    Fill(h, 0, 200, 12, [](int i) { return i; }); // keeps 4..11
    const trend::Stats all = trend::SpanStats(h, 3, {0, 100'000});
    EXPECT_EQ(all.count, 8u);
    EXPECT_EQ(all.min, 4.0);
    EXPECT_EQ(all.max, 11.0);
    EXPECT_DOUBLE_EQ(all.mean, 7.5);
    EXPECT_DOUBLE_EQ(all.stddev, std::sqrt(5.25));
    const trend::Stats part = trend::SpanStats(h, 3, {1000, 1400}); // 5, 6, 7
    EXPECT_EQ(part.count, 3u);
    EXPECT_DOUBLE_EQ(part.mean, 6.0);
    const trend::Stats none = trend::SpanStats(h, 3, {50'000, 60'000});
    EXPECT_EQ(none.count, 0u);
    EXPECT_TRUE(std::isnan(none.mean));

    // A large offset loses no precision in the spread.
    History offset(4);
    for (float v : {1000.25f, 1000.75f, 1000.25f, 1000.75f}) offset.Append(T(0), 2, Level(v));
    EXPECT_DOUBLE_EQ(trend::SpanStats(offset, 0, {0, 0}).stddev, 0.25);
}

TEST(TrendReduce, NearestReadingWithinTheGap) {
    History h;
    Fill(h, 1000, 200, 5, [](int i) { return i; }); // 1000 .. 1800
    EXPECT_EQ(trend::NearestReading(h, 0, 1290).volts, 1.0f);
    EXPECT_EQ(trend::NearestReading(h, 0, 1310).volts, 2.0f);
    EXPECT_EQ(trend::NearestReading(h, 0, 0).volts, 0.0f);
    EXPECT_TRUE(trend::NearestReading(h, 0, 0).found);
    EXPECT_FALSE(trend::NearestReading(h, 0, -1).found);
    EXPECT_FALSE(trend::NearestReading(h, 0, 2801).found);
}

// All channels reduced in one pass give what each channel gives alone, also
// where channels differ: a reading that is not a number on one channel only,
// failed reads, a pause in the readings, columns of one reading and of many.
TEST(TrendReduce, AllChannelsAtOnceAsEachAlone) {
    History h;
    for (int i = 0; i < 3000; ++i) {
        const std::int64_t ms = 10'000 + 200LL * i + (i >= 1500 ? 30'000 : 0); // a 30 s pause half-way
        if (i % 397 == 5) {
            h.AppendGap(T(ms), 2);
            continue;
        }
        Volts v{};
        for (std::size_t k = 0; k < v.size(); ++k)
            v[k] = static_cast<float>(std::sin(i * 0.05 * static_cast<double>(k + 1)) * 4);
        if (i % 7 == 3) v[5] = std::numeric_limits<float>::quiet_NaN();
        if (i % 11 == 0) v[30] = std::numeric_limits<float>::infinity();
        h.Append(T(ms), 2, v);
    }
    const std::vector<int> channels{0, 5, 30, 31, 99, 5};
    for (const Span span : {Span{10'000, 10'000 + 660'000}, Span{200'000, 400'000}, Span{0, 5'000}}) {
        for (const int columns : {1, 97, 1600, 20'000}) {
            const auto all = trend::MinMaxColumns(h, channels, span, columns);
            const auto figures = trend::SpanStats(h, channels, span);
            ASSERT_EQ(all.size(), channels.size());
            ASSERT_EQ(figures.size(), channels.size());
            for (std::size_t i = 0; i < channels.size(); ++i) {
                const trend::Envelope alone = trend::MinMaxColumns(h, channels[i], span, columns);
                const auto same = [](const std::vector<trend::Point>& a, const std::vector<trend::Point>& b) {
                    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& p, const auto& q) {
                        return p.key == q.key && (p.value == q.value || (std::isnan(p.value) && std::isnan(q.value)));
                    });
                };
                EXPECT_TRUE(same(all[i].low, alone.low)) << "channel " << channels[i] << ", " << columns << " columns";
                EXPECT_TRUE(same(all[i].high, alone.high)) << "channel " << channels[i] << ", " << columns;
                const trend::Stats st = trend::SpanStats(h, channels[i], span);
                EXPECT_EQ(figures[i].count, st.count) << channels[i];
                if (st.count == 0) continue;
                EXPECT_EQ(figures[i].min, st.min) << channels[i];
                EXPECT_EQ(figures[i].max, st.max) << channels[i];
                EXPECT_DOUBLE_EQ(figures[i].mean, st.mean) << channels[i];
            }
            EXPECT_TRUE(all[4].low.empty()); // no channel 99
        }
    }
    // A channel whose every column is broken by a not-a-number still gets its readings.
    const auto band = trend::MinMaxColumns(h, std::vector<int>{5}, Span{10'000, 10'000 + 300'000}, 100).front();
    EXPECT_GT(NaNs(band.low), 0u);
    EXPECT_GT(band.low.size(), NaNs(band.low) + 100);
}

// ---------------------------------------------------------------- pixel columns

struct RunsCase {
    const char* name;
    std::vector<QPointF> points;
    std::vector<std::array<int, 3>> runs; // column, first row, last row
};

class ColumnRunsTest : public ::testing::TestWithParam<RunsCase> {};

// What a polyline covers in a 10 x 10 image: each column's rows between the
// line's heights at the column's edges, rounded; nothing across a break.
TEST_P(ColumnRunsTest, CoversTheRowsTheLinePassesThrough) {
    std::vector<std::array<int, 3>> got;
    for (const trend::ColumnRun& r : trend::PolylineRuns(GetParam().points, 10, 10))
        got.push_back({r.column, r.first, r.last});
    EXPECT_EQ(got, GetParam().runs) << GetParam().name;
}

constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Lines, ColumnRunsTest,
    ::testing::Values(
        RunsCase{"a column's stroke", {{2.3, 1.4}, {2.7, 6.6}}, {{2, 1, 7}}},
        RunsCase{"steep across columns", {{1.5, 2}, {3.5, 6}}, {{1, 2, 3}, {2, 3, 5}, {3, 5, 6}}},
        RunsCase{"shallow: a row per column",
                 {{0.5, 4.2}, {4.5, 4.6}},
                 {{0, 4, 4}, {1, 4, 4}, {2, 4, 4}, {3, 4, 5}, {4, 5, 5}}},
        RunsCase{"a break stays empty", {{1.2, 2}, {1.8, 3}, {3, kBreak}, {5.2, 4}, {5.8, 5}}, {{1, 2, 3}, {5, 4, 5}}},
        RunsCase{"a reading alone is one pixel", {{1, kBreak}, {4.5, 4.4}, {6, kBreak}}, {{4, 4, 4}}},
        RunsCase{"clipped at the left", {{-3, 5}, {2.5, 5}}, {{0, 5, 5}, {1, 5, 5}, {2, 5, 5}}},
        RunsCase{"far above and below", {{7.5, -100}, {7.5, 1e300}}, {{7, 0, 9}}},
        RunsCase{"wholly off the image", {{10, 1}, {12, 3}, {-5, kBreak}, {-3, 20}, {-2, 30}}, {}},
        RunsCase{"runs of a column merged", {{3.1, 4}, {3.9, 6}, {4.1, 6}}, {{3, 4, 6}, {4, 6, 6}}}),
    [](const auto& line) {
        std::string name = line.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

// Later lines lie over earlier ones; what no line covers stays transparent.
TEST(ColumnRaster, LaterLinesOnTopTheRestTransparent) {
    trend::ColumnRaster raster;
    raster.Reset(4, 10);
    raster.Add(trend::PolylineRuns(std::vector<QPointF>{{1.5, 0}, {1.5, 5}}, 4, 10), qRgb(255, 0, 0));
    raster.Add(trend::PolylineRuns(std::vector<QPointF>{{1.5, 3}, {1.5, 8}}, 4, 10), qRgb(0, 0, 255));
    QImage image;
    raster.Paint(image);
    ASSERT_EQ(image.size(), QSize(4, 10));
    for (int y = 0; y < 10; ++y) {
        const QRgb expected = y <= 2 ? qRgb(255, 0, 0) : y <= 8 ? qRgb(0, 0, 255) : 0;
        EXPECT_EQ(image.pixel(1, y), expected) << y;
        for (int x : {0, 2, 3}) EXPECT_EQ(qAlpha(image.pixel(x, y)), 0) << x << "," << y;
    }
    // Painted again into the same image, smaller: nothing of the last one stays.
    raster.Reset(2, 3);
    raster.Paint(image);
    ASSERT_EQ(image.size(), QSize(2, 3));
    for (int y = 0; y < 3; ++y) EXPECT_EQ(qAlpha(image.pixel(1, y)), 0);
}

// A highlighted line is two pixels wide: a row more above and below, and
// again in the next column, still in column order and within the image.
TEST(ColumnRaster, WideRunsGrowARowEachWayAndAColumnRight) {
    using Runs = std::vector<std::array<int, 3>>;
    const struct {
        const char* name;
        Runs runs, wide;
    } cases[] = {
        {"inside", {{1, 3, 4}, {2, 5, 5}}, {{1, 2, 5}, {2, 4, 6}, {2, 2, 5}, {3, 4, 6}}},
        {"at the edges", {{0, 0, 0}, {9, 9, 9}}, {{0, 0, 1}, {1, 0, 1}, {9, 8, 9}}},
        {"none", {}, {}},
    };
    for (const auto& c : cases) {
        std::vector<trend::ColumnRun> runs;
        for (const auto& r : c.runs) runs.push_back({r[0], r[1], r[2]});
        Runs got;
        for (const trend::ColumnRun& r : trend::WidenRuns(runs, 10, 10)) got.push_back({r.column, r.first, r.last});
        EXPECT_EQ(got, c.wide) << c.name;
    }
}

// What the pointer is near: a curve's values between two keys, with its
// segments cut at the keys; a break or no data there is nothing.
TEST(ColumnGraphExtent, ValuesBetweenTwoKeys) {
    QCPGraphDataContainer data;
    data.set(QVector<QCPGraphData>{{0, 1}, {1, 3}, {2, -1}, {4, 2}, {5, kNaN()}, {6, 4}, {8, 6}});
    const struct {
        double from = 0, to = 0;
        std::optional<std::pair<double, double>> extent;
    } cases[] = {
        {0.5, 1.5, std::pair{1.0, 3.0}},    // 2 at 0.5, 3 at 1, 1 at 1.5
        {2.5, 3.5, std::pair{-0.25, 1.25}}, // a segment alone, cut at both keys
        {1, 1, std::pair{3.0, 3.0}},
        {3.5, 5.5, std::pair{1.25, 2.0}}, // 5.5 lies in the break
        {5.2, 5.8, std::nullopt},
        {9, 10, std::nullopt},
        {-2, -1, std::nullopt},
        {6.5, 7.5, std::pair{4.5, 5.5}},
    };
    for (const auto& c : cases) EXPECT_EQ(trend::ValueExtent(data, c.from, c.to), c.extent) << c.from << ".." << c.to;
}

// ---------------------------------------------------------------- CSV

// The time text itself is tested with moxctl's, in test_text.cpp.

TEST(TrendCsv, ReadsBackTheShownChannelsOfTheSpanExactly) {
    History h(50);
    for (int i = 0; i < 60; ++i) {
        Volts v{};
        for (std::size_t k = 0; k < v.size(); ++k)
            v[k] = static_cast<float>(std::sin(i * 0.1 + static_cast<double>(k)) * 4.9 + 1e-7 * i);
        h.Append(T(1'796'649'798'000 + 200LL * i), i < 40 ? 2 : 0, v);
    }
    const std::vector<int> channels{0, 7, 31};
    const Span span{1'796'649'798'000 + 200LL * 20, 1'796'649'798'000 + 200LL * 45};
    const std::string csv = trend::CsvText(h, channels, span, {"newest", "mean AD", "mean volts"});

    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "# read mode: newest, mean volts");
    std::getline(in, line);
    EXPECT_EQ(line, "utc,monotonic_s,AI00,AI07,AI31");
    std::size_t rows = 0;
    for (std::size_t i = h.LowerBound(span.fromMs); std::getline(in, line); ++i, ++rows) {
        ASSERT_LT(i, h.Size());
        std::istringstream row(line);
        std::string field;
        std::getline(row, field, ',');
        EXPECT_EQ(field, mox::IsoUtc(h.At(i).wallMs));
        std::getline(row, field, ',');
        EXPECT_EQ(field, mox::SecondsText(h.At(i).ms));
        for (int k : channels) {
            ASSERT_TRUE(std::getline(row, field, ','));
            EXPECT_EQ(std::strtof(field.c_str(), nullptr), h.At(i).volts[static_cast<std::size_t>(k)]) << field;
        }
        EXPECT_FALSE(std::getline(row, field, ','));
    }
    EXPECT_EQ(rows, 26u); // readings 20..45 inclusive
}

// ---------------------------------------------------------------- failed reads

// A read the driver reported as failed between readings 200 ms either side:
// not drawn, not counted, not read off by the cursor, and empty in the CSV.
TEST(TrendGap, AFailedReadIsNeitherDrawnNorCountedNorExportedAsData) {
    History h;
    Fill(h, 0, 200, 10, [](int) { return 1.0; }); // 0 .. 1800
    h.AppendGap(T(2000), 0);
    Fill(h, 2200, 200, 10, [](int) { return 3.0; }); // 2200 .. 4000
    const Span all{0, 10'000};

    const trend::Envelope band = trend::MinMaxColumns(h, 0, all, 1000);
    for (const auto* points : {&band.low, &band.high}) {
        ASSERT_EQ(NaNs(*points), 1u);
        const auto gap =
            std::find_if(points->begin(), points->end(), [](const auto& p) { return std::isnan(p.value); });
        EXPECT_GT(gap->key, 1.8);
        EXPECT_LE(gap->key, 2.2);
        EXPECT_EQ((gap - 1)->value, 1.0);
        EXPECT_EQ((gap + 1)->value, 3.0);
    }

    const trend::Stats st = trend::SpanStats(h, 0, all);
    EXPECT_EQ(st.count, 20u);
    EXPECT_EQ(st.min, 1.0);
    EXPECT_DOUBLE_EQ(st.mean, 2.0);

    const struct {
        std::int64_t ms;
        bool found;
        float volts;
    } cursor[] = {{1900, true, 1.0f}, {1950, false, 0}, {2000, false, 0}, {2150, true, 3.0f}};
    for (const auto& c : cursor) {
        const trend::Nearest at = trend::NearestReading(h, 0, c.ms);
        EXPECT_EQ(at.found, c.found) << c.ms;
        if (c.found) {
            EXPECT_EQ(at.volts, c.volts) << c.ms;
        }
    }

    // The gap's mode was asked for, never read: the header names only the
    // readings' mode.
    const std::string csv = trend::CsvText(h, {0, 9}, {1800, 2200}, {"newest", "mean AD", "mean volts"});
    EXPECT_EQ(csv, "# read mode: mean volts\nutc,monotonic_s,AI00,AI09\n"
                   "1970-01-01T00:00:01.800Z,1.800,1,1\n"
                   "1970-01-01T00:00:02.000Z,2.000,,\n"
                   "1970-01-01T00:00:02.200Z,2.200,3,3\n");
}

// ---------------------------------------------------------------- the window

class TrendWindow : public WindowTest<FrmMultiBuf> {
protected:
    void StartAcquiring() {
        QTest::mouseClick(Find<QPushButton>("cmdStart"), Qt::LeftButton);
        Find<QTimer>("TimerAD")->stop(); // ticks are driven by the test
    }
    Calls Ticks(int n) {
        FakeDriver::Get().ClearLog();
        for (int i = 0; i < n; ++i) {
            window->TimerAD_Timer();
            QCoreApplication::processEvents();
        }
        return FakeDriver::Get().Calls();
    }
};

TEST_F(TrendWindow, OpensFromCtrlTOnceRaisedAgainAndRecreatedAfterClosing) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->TrendWindow(), nullptr);
    QTest::keyClick(window.get(), Qt::Key_T, Qt::ControlModifier);
    QPointer<frmTrend> first = window->TrendWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->objectName(), QStringLiteral("frmTrend"));

    first->showMinimized();
    window->ShowTrend();
    EXPECT_EQ(window->TrendWindow(), first.data()); // the same one, shown again
    EXPECT_TRUE(first->isVisible());

    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(window->TrendWindow(), nullptr);
    window->ShowTrend();
    EXPECT_NE(window->TrendWindow(), nullptr);
}

TEST_F(TrendWindow, TheListsContextMenuKeepsTheEditEntriesAndAddsTheTrend) {
    std::unique_ptr<QMenu> menu(window->CreateInfoMenu());
    const QList<QAction*> actions = menu->actions();
    auto* trendAction = menu->findChild<QAction*>(QStringLiteral("actTrend"));
    ASSERT_NE(trendAction, nullptr);
    EXPECT_EQ(actions.back(), trendAction);
    EXPECT_EQ(trendAction->text(), QStringLiteral("趋势图…"));
    std::unique_ptr<QMenu> standard(Find<QPlainTextEdit>("txtInfo")->createStandardContextMenu());
    EXPECT_EQ(actions.size(), standard->actions().size() + 2); // separator and the trend
    trendAction->trigger();
    EXPECT_NE(window->TrendWindow(), nullptr);
}

// Neither the menu entry nor the key shows until tried: the list's tooltip
// names both, as the menu shows them.
TEST_F(TrendWindow, TheListsTooltipNamesTheMenuEntryAndTheKey) {
    std::unique_ptr<QMenu> menu(window->CreateInfoMenu());
    auto* trendAction = menu->findChild<QAction*>(QStringLiteral("actTrend"));
    ASSERT_NE(trendAction, nullptr);
    const QString tip = Find<QPlainTextEdit>("txtInfo")->toolTip();
    EXPECT_TRUE(tip.contains(trendAction->text())) << tip.toStdString();
    EXPECT_TRUE(tip.contains(trendAction->shortcut().toString(QKeySequence::NativeText))) << tip.toStdString();
}

TEST_F(TrendWindow, TicksMakeTheSameDriverCallsWithTheTrendOpen) {
    StartAcquiring();
    for (int mode : {0, 1, 2}) {
        Find<QRadioButton>(mox::IndexedName("optADRMode", mode).toUtf8().constData())->setChecked(true);
        const Calls without = Ticks(3);
        window->ShowTrend();
        window->TrendWindow()->Redraw();
        QTest::qWait(250); // its own redraw timer runs too
        const Calls with = Ticks(3);
        EXPECT_EQ(with, without) << "mode " << mode;
        EXPECT_EQ(with.size(), 6u);
        window->TrendWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(TrendWindow, RecordsWhatTheListShowsInVoltsAndNothingWhenNotRead) {
    StartAcquiring();
    std::vector<float> results(34, 0.0f);
    results[0] = 2.5f;
    results[1] = -32768.0f; // a code: 32768 after correction, 0 V
    results[2] = 0.0f;      // a code: -5 V
    FakeDriver::Get().SetResults(results);
    window->TimerAD_Timer(); // mean volts
    Find<QRadioButton>("optADRMode(0)")->setChecked(true);
    window->TimerAD_Timer(); // codes
    const History& h = window->History();
    ASSERT_EQ(h.Size(), 2u);
    EXPECT_EQ(h.At(0).mode, 2);
    EXPECT_EQ(h.At(0).volts[0], 2.5f);
    EXPECT_EQ(h.At(0).volts[1], -32768.0f);
    EXPECT_EQ(h.At(1).mode, 0);
    EXPECT_EQ(h.At(1).volts[0], mox::CodeVolts(mox::CorrectedCode(2.5f)));
    EXPECT_EQ(h.At(1).volts[1], 0.0f);
    EXPECT_EQ(h.At(1).volts[2], -5.0f);

    Find<QCheckBox>("chkUDP_Online")->setChecked(false);
    window->TimerAD_Timer();
    QTest::mouseClick(Find<QPushButton>("cmdStop"), Qt::LeftButton);
    EXPECT_EQ(h.Size(), 2u);
}

// What a stopped card leaves behind (codes 0, i.e. -5 V; mean volts 0 V)
// stays in the list as the driver left it, but only reads the driver
// reported as good become readings of the trend.
TEST_F(TrendWindow, AFailedReadIsAGapInTheTrendWhileTheListIsUnchanged) {
    StartAcquiring();
    FakeDriver::Get().SetResults(std::vector<float>(34, 0.0f));
    const struct {
        int mode;
        std::int32_t returned;
        bool read;
    } cases[] = {{0, 1, true},  {0, 0, false}, {1, 1, true},  {1, 0, false},
                 {2, 20, true}, {2, 0, false}, {2, -1, false}};
    const History& h = window->History();
    std::map<int, QString> listAfterGoodRead;
    for (const auto& c : cases) {
        Find<QRadioButton>(mox::IndexedName("optADRMode", c.mode).toUtf8().constData())->setChecked(true);
        FakeDriver::Get().SetReturn("ADResult_DV", c.returned);
        const std::size_t before = h.Size();
        window->TimerAD_Timer();
        ASSERT_EQ(h.Size(), before + 1);
        EXPECT_EQ(h.Newest().read, c.read) << "mode " << c.mode << " returned " << c.returned;
        EXPECT_EQ(h.Newest().mode, c.mode);
        const QString list = Find<QPlainTextEdit>("txtInfo")->toPlainText();
        if (c.read) listAfterGoodRead[c.mode] = list;
        EXPECT_EQ(list, listAfterGoodRead[c.mode]) << "mode " << c.mode << " returned " << c.returned;
    }

    window->ShowTrend();
    frmTrend* trendWindow = window->TrendWindow();
    const trend::Stats st = trend::SpanStats(h, 0, trendWindow->VisibleSpan());
    EXPECT_EQ(st.count, 3u);
    EXPECT_EQ(st.min, -5.0);
    EXPECT_EQ(st.max, 0.0);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trend.csv"));
    ASSERT_TRUE(trendWindow->ExportCsv(path)) << trendWindow->LastError().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 2 + 7 + 1); // header, the samples, and the empty text after the last newline
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const QByteArray& row = lines[static_cast<qsizetype>(i) + 2];
        EXPECT_EQ(row.endsWith(",,,,,,,,"), !cases[i].read) << row.toStdString();
        EXPECT_EQ(row.count(','), 9) << row.toStdString(); // the two times, 8 channels
    }
}

class TrendExport : public ::testing::Test {
protected:
    // Twenty seconds of a sine on every channel, drawn.
    void Plot() {
        for (int i = 0; i < 100; ++i)
            history.Append(T(now - 19'800 + 200LL * i), 2, Level(std::sin(static_cast<float>(i) * 0.2f)));
        window.resize(900, 600);
        window.show();
        window.Redraw();
    }

    History history;
    std::int64_t now = 1'796'649'798'000;
    frmTrend window{history, nullptr, [this] { return T(now); }};
};

TEST_F(TrendExport, CsvIsTheVisibleSpanOfTheShownChannels) {
    for (int i = 0; i < 100; ++i) history.Append(T(now - 19'800 + 200LL * i), 2, Level(static_cast<float>(i) / 10));
    window.SetChannels({3, 4});
    window.SetSpan(0); // 10 s
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trend.csv"));
    ASSERT_TRUE(window.ExportCsv(path)) << window.LastError().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_EQ(text.toStdString(),
              trend::CsvText(history, {3, 4}, window.VisibleSpan(), {"最新AD值", "平均AD值", "平均电压值"}));
    EXPECT_EQ(text.count('\n'), 2 + 50);

    EXPECT_FALSE(window.ExportCsv(dir.filePath(QStringLiteral("no/such/folder/trend.csv"))));
    EXPECT_FALSE(window.LastError().isEmpty());
}

TEST_F(TrendExport, PlotAsPngAndPdf) {
    Plot();
    QTemporaryDir dir;
    const struct {
        const char* name;
        bool (frmTrend::*write)(const QString&);
        QByteArray magic;
    } kinds[] = {{"trend.png", &frmTrend::ExportPng, "\x89PNG"}, {"trend.pdf", &frmTrend::ExportPdf, "%PDF"}};
    for (const auto& kind : kinds) {
        const QString path = dir.filePath(QString::fromLatin1(kind.name));
        // Written twice: the second replaces the first whole.
        for (int pass = 0; pass < 2; ++pass) ASSERT_TRUE((window.*kind.write)(path)) << kind.name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(bytes.startsWith(kind.magic)) << kind.name;
    }
    const QSize plotSize = window.findChild<QCustomPlot*>(QStringLiteral("plotTrend"))->size();
    const QImage png(dir.filePath(QStringLiteral("trend.png")));
    EXPECT_EQ(png.size(), plotSize);
    QFile pdf(dir.filePath(QStringLiteral("trend.pdf")));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    const QByteArray document = pdf.readAll();
    EXPECT_TRUE(document.trimmed().endsWith("%%EOF"));
    // One page the plot's size in points.
    const qsizetype box = document.indexOf("/MediaBox [");
    ASSERT_GE(box, 0);
    const QList<QByteArray> corners =
        document.mid(box + 11, document.indexOf(']', box) - box - 11).simplified().split(' ');
    ASSERT_EQ(corners.size(), 4);
    EXPECT_DOUBLE_EQ(corners[2].toDouble(), plotSize.width());
    EXPECT_DOUBLE_EQ(corners[3].toDouble(), plotSize.height());
}

struct ExportCase {
    const char* name;
    bool (frmTrend::*write)(const QString&);
};

class TrendExportFailure : public TrendExport, public ::testing::WithParamInterface<ExportCase> {
protected:
    bool Write(const QString& path) { return (window.*GetParam().write)(path); }
    std::string Error() const { return window.LastError().toStdString(); }
};

// A device that is always full: every write fails, and the message says
// why and where.
TEST_P(TrendExportFailure, AFullDeviceFailsNamingTheReason) {
    if (!QFileInfo(QStringLiteral("/dev/full")).exists()) GTEST_SKIP() << "no /dev/full here";
    Plot();
    EXPECT_FALSE(Write(QStringLiteral("/dev/full")));
    EXPECT_NE(Error().find(std::strerror(ENOSPC)), std::string::npos) << Error();
    EXPECT_NE(Error().find("/dev/full"), std::string::npos) << Error();
}

// A write that fails half-way (here: the process may write no file larger
// than 16 bytes) leaves the file that was there as it was, and no litter.
TEST_P(TrendExportFailure, AFailedWriteLeavesTheOldFileUntouched) {
#ifdef __linux__
    Plot();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trend.out"));
    const QByteArray old = "the previous export\n";
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(old), old.size());
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 16;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = Write(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_NE(Error().find(std::strerror(EFBIG)), std::string::npos) << Error();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("trend.out")});
#else
    GTEST_SKIP() << "needs a file size limit";
#endif
}

INSTANTIATE_TEST_SUITE_P(Formats, TrendExportFailure,
                         ::testing::Values(ExportCase{"csv", &frmTrend::ExportCsv},
                                           ExportCase{"png", &frmTrend::ExportPng},
                                           ExportCase{"pdf", &frmTrend::ExportPdf}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(TrendExport, PauseFreezesTheViewWhileRecordingGoesOn) {
    window.SetSpan(0);
    const Span before = window.VisibleSpan();
    window.SetPaused(true);
    now += 5000;
    history.Append(T(now), 2, Level(1));
    EXPECT_EQ(window.VisibleSpan().toMs, before.toMs);
    window.SetPaused(false);
    EXPECT_EQ(window.VisibleSpan().toMs, now);
    EXPECT_EQ(history.Size(), 1u);
}

// The wall clock set back an hour a minute into three minutes of readings:
// the curves, the figures and the export still hold every reading, in the
// order taken; each exported row carries the wall time it was taken at.
TEST(TrendClock, AWallClockSetBackAnHourHidesNothing) {
    History history;
    constexpr int kSamples = 900;
    constexpr std::int64_t kSteady0 = 42'000, kWall0 = 1'796'649'798'000, kHour = 3'600'000;
    std::vector<std::int64_t> walls;
    for (int i = 0; i < kSamples; ++i) {
        walls.push_back(kWall0 + 200LL * i - (i >= 300 ? kHour : 0));
        history.Append({kSteady0 + 200LL * i, walls.back()}, 2, Level(static_cast<float>(i) / 100));
    }
    const trend::Stamp end{kSteady0 + 200LL * (kSamples - 1), walls.back()};
    frmTrend window(history, nullptr, [end] { return end; });
    window.SetChannels({0});
    window.SetSpan(2); // 10 min
    window.resize(900, 600);
    window.show();
    window.Redraw();

    EXPECT_EQ(trend::SpanStats(history, 0, window.VisibleSpan()).count, static_cast<std::size_t>(kSamples));
    // The axis reads the wall clock as it is now, the curve spans all the readings.
    auto* plot = window.findChild<QCustomPlot*>(QStringLiteral("plotTrend"));
    EXPECT_DOUBLE_EQ(plot->xAxis->range().upper, static_cast<double>(walls.back()) / 1000.0);
    const auto data = plot->graph(0)->data();
    ASSERT_FALSE(data->isEmpty());
    const double firstKey = static_cast<double>(walls.back() - 200LL * (kSamples - 1)) / 1000.0;
    EXPECT_DOUBLE_EQ(data->constBegin()->key, firstKey);
    EXPECT_DOUBLE_EQ((data->constEnd() - 1)->key, static_cast<double>(walls.back()) / 1000.0);
    for (auto it = data->constBegin(); it != data->constEnd(); ++it) {
        ASSERT_FALSE(std::isnan(it->value)) << "the curve is broken at " << it->key;
        ASSERT_TRUE(plot->xAxis->range().contains(it->key)) << it->key;
    }
    window.PlaceCursor(kSteady0 + 200LL * 450);
    EXPECT_TRUE(window.findChild<QLabel*>(QStringLiteral("lblCursor"))
                    ->text()
                    .contains(QDateTime::fromMSecsSinceEpoch(walls[450]).toString(QStringLiteral("hh:mm:ss.zzz"))));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trend.csv"));
    ASSERT_TRUE(window.ExportCsv(path)) << window.LastError().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 2 + kSamples + 1);
    for (int i = 0; i < kSamples; ++i) {
        const QList<QByteArray> cells = lines[i + 2].split(',');
        ASSERT_EQ(cells.size(), 3);
        EXPECT_EQ(cells[0].toStdString(), mox::IsoUtc(walls[static_cast<std::size_t>(i)]));
        // The monotonic column runs on while the wall clock steps back.
        EXPECT_EQ(cells[1].toStdString(), mox::SecondsText(kSteady0 + 200LL * i));
        EXPECT_EQ(cells[2].toFloat(), static_cast<float>(i) / 100) << i;
    }
}

// ---------------------------------------------------------------- dense curves

// An hour of readings on channels 0 and 3 swinging between two levels at
// every reading, with 30 s of nothing at half-time: every column holds both
// levels, except the ones in the pause, which hold nothing.
class TrendDense : public ::testing::Test {
protected:
    static constexpr std::int64_t kNow = 1'796'649'798'000;
    static constexpr std::int64_t kPauseFrom = kNow - 1'800'000, kPauseTo = kPauseFrom + 30'000;
    static constexpr float kHigh = 3.0f, kLow = -2.0f;

    void SetUp() override {
        for (std::int64_t ms = kNow - 3'599'800; ms <= kNow; ms += 200) {
            if (ms > kPauseFrom && ms < kPauseTo) continue;
            Volts v = Level(0.5f);
            v[0] = (ms / 200) % 2 == 0 ? kHigh : kLow;
            v[3] = (ms / 200) % 2 == 0 ? 1.0f : 4.0f;
            history.Append(T(ms), 2, v);
        }
        window.SetChannels({0});
        window.SetSpan(3);
        window.resize(900, 600);
        window.show();
        window.Redraw();
        plot()->replot();
    }
    QCustomPlot* plot() { return window.findChild<QCustomPlot*>(QStringLiteral("plotTrend")); }
    QRgb Colour() { return plot()->graph(0)->pen().color().rgb(); } // channel 0's
    const trend::ColumnCanvas* canvas() {
        return plot()->findChild<trend::ColumnCanvas*>(QStringLiteral("trendCanvas"));
    }
    // The image column of a monotonic time, and the image row of a value.
    int Column(std::int64_t ms) {
        const double key = static_cast<double>(ms) / 1000.0; // the wall clock is the monotonic one here
        return static_cast<int>(std::floor(plot()->xAxis->coordToPixel(key) - plot()->axisRect()->left()));
    }
    int Row(double value) {
        return static_cast<int>(std::floor(plot()->yAxis->coordToPixel(value) - plot()->axisRect()->top() + 0.5));
    }
    // The first and last painted row of an image column, or {-1, -1}.
    static std::pair<int, int> Painted(const QImage& image, int x) {
        std::pair<int, int> rows{-1, -1};
        for (int y = 0; y < image.height(); ++y) {
            if (qAlpha(image.pixel(x, y)) == 0) continue;
            if (rows.first < 0) rows.first = y;
            rows.second = y;
        }
        return rows;
    }

    History history;
    frmTrend window{history, nullptr, [] { return T(kNow); }};
};

TEST_F(TrendDense, EachColumnRunsFromItsLowestToItsHighestPixelAndThePauseStaysEmpty) {
    const QImage& image = canvas()->LastImage();
    ASSERT_EQ(image.size(), plot()->axisRect()->rect().size());
    const std::pair<int, int> both{Row(kHigh), Row(kLow)};
    ASSERT_LT(both.first, both.second);
    const int pauseFirst = Column(kPauseFrom) + 1, pauseLast = Column(kPauseTo) - 1;
    ASSERT_GE(pauseLast - pauseFirst, 3); // the pause spans whole columns
    int checked = 0;
    for (int x = Column(kNow - 3'590'000); x < Column(kNow - 10'000); ++x) {
        if (x >= pauseFirst && x <= pauseLast) {
            EXPECT_EQ(Painted(image, x), std::make_pair(-1, -1)) << x;
            continue;
        }
        if (x == pauseFirst - 1 || x == pauseLast + 1) continue; // the pause's edges: part of a column
        ASSERT_EQ(Painted(image, x), both) << "column " << x;
        EXPECT_EQ(image.pixel(x, both.first), Colour()) << x;
        ++checked;
    }
    EXPECT_GT(checked, plot()->axisRect()->width() * 9 / 10);
}

TEST_F(TrendDense, TheCursorReadsTheReadingUnderItAndOnlyItsColumnFollows) {
    window.SetChannels({0, 3});
    window.Redraw();
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tblStats"));
    const auto texts = [&](int column) {
        return std::vector<QString>{table->item(0, column)->text(), table->item(1, column)->text()};
    };
    const trend::Span span = window.VisibleSpan();
    std::vector<std::vector<QString>> figures;
    for (int column : {trend::kColMin, trend::kColMax, trend::kColMean, trend::kColStd})
        figures.push_back(texts(column));
    const trend::Stats st = trend::SpanStats(history, 3, span);
    EXPECT_EQ(figures[0][1], trend::Figure(st.min));
    EXPECT_EQ(figures[2][1], trend::Figure(st.mean));

    const struct {
        std::int64_t ms;
        QString ai0, ai3;
    } moves[] = {{kNow - 800, trend::Figure(kHigh), trend::Figure(1.0)}, // even steps of 200 ms: the high level
                 {kNow - 1'000'200 + 40, trend::Figure(kLow), trend::Figure(4.0)},
                 {kPauseFrom + 15'000, QStringLiteral("—"), QStringLiteral("—")}, // no reading within a second
                 {kNow + 5'000, QStringLiteral("—"), QStringLiteral("—")}};       // beyond the span
    for (const auto& move : moves) {
        window.PlaceCursor(move.ms);
        EXPECT_EQ(texts(trend::kColCursor), (std::vector<QString>{move.ai0, move.ai3})) << move.ms;
        int i = 0;
        for (int column : {trend::kColMin, trend::kColMax, trend::kColMean, trend::kColStd})
            EXPECT_EQ(texts(column), figures[static_cast<std::size_t>(i++)]) << move.ms;
    }

    // The mouse over the plot places the cursor where it points.
    const std::int64_t at = kNow - 600'000;
    const QPoint pixel(static_cast<int>(std::lround(plot()->xAxis->coordToPixel(static_cast<double>(at) / 1000.0))),
                       plot()->axisRect()->center().y());
    QTest::mouseMove(plot(), pixel);
    const double seconds = plot()->xAxis->pixelToCoord(pixel.x());
    const trend::Nearest expected = trend::NearestReading(history, 3, std::llround(seconds * 1000.0));
    ASSERT_TRUE(expected.found);
    EXPECT_EQ(table->item(1, trend::kColCursor)->text(), trend::Figure(expected.volts));
    // A redraw keeps the reading under the cursor.
    window.Redraw();
    EXPECT_EQ(table->item(1, trend::kColCursor)->text(), trend::Figure(expected.volts));
}

// A dense view exported: the PNG shows the columns where the screen has
// them; the PDF holds them as an image, and the screen's curves are back
// at the screen's resolution afterwards.
TEST_F(TrendDense, ExportsShowTheColumns) {
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("trend.png")), pdf = dir.filePath(QStringLiteral("trend.pdf"));
    const qsizetype points = plot()->graph(0)->data()->size();
    ASSERT_TRUE(window.ExportPng(png)) << window.LastError().toStdString();
    ASSERT_TRUE(window.ExportPdf(pdf)) << window.LastError().toStdString();
    EXPECT_EQ(plot()->graph(0)->data()->size(), points);

    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    const QPoint corner = plot()->axisRect()->topLeft();
    const int x = Column(kNow - 2'000'000);
    for (int y = Row(kHigh); y <= Row(kLow); ++y) ASSERT_EQ(image.pixel(corner.x() + x, corner.y() + y), Colour()) << y;
    EXPECT_NE(image.pixel(corner.x() + x, corner.y() + Row(kHigh) - 2), Colour());

    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray document = file.readAll();
    EXPECT_TRUE(document.startsWith("%PDF"));
    EXPECT_TRUE(document.trimmed().endsWith("%%EOF"));
    EXPECT_TRUE(document.contains("/Subtype /Image"));
}

// ---------------------------------------------------------------- highlight

// Channels 0 and 3 of the dense hour: 0 swings over -2..3 V, 3 over 1..4 V,
// so 1..3 V is painted by both and 3 lies on top unless 0 is highlighted.
class TrendHighlight : public TrendDense {
protected:
    void SetUp() override {
        TrendDense::SetUp();
        window.SetChannels({0, 3});
        window.Redraw();
        plot()->replot();
    }
    QPointF At(double value) {
        return {plot()->xAxis->coordToPixel(static_cast<double>(kNow - 2'000'000) / 1000.0),
                plot()->yAxis->coordToPixel(value)};
    }
    // A move, and the pointer resting there.
    void MovePointer(QWidget* widget, QPointF at) {
        QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &move);
        auto* rest = window.findChild<QTimer*>(QStringLiteral("TimerHighlight"));
        ASSERT_NE(rest, nullptr);
        EXPECT_TRUE(QTest::qWaitFor([rest] { return !rest->isActive(); }, 5000));
    }
    static void Leave(QWidget* widget) {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(widget, &leave);
    }
    QTableWidget* table() { return window.findChild<QTableWidget*>(QStringLiteral("tblStats")); }
    QCheckBox* box(int k) { return window.findChild<QCheckBox*>(mox::IndexedName("chkChannel", k)); }
    QCPItemText* name() { return plot()->findChild<QCPItemText*>(QStringLiteral("channelName")); }
    QPen Pen(int k) { return plot()->graph(k)->pen(); }
    // Channel `k` stands out: wide and opaque, every other shown one faint.
    void ExpectHighlighted(int k) {
        EXPECT_EQ(window.HighlightedChannel(), k);
        for (int c : {0, 3}) {
            EXPECT_EQ(Pen(c).width(), c == k ? 2 : 1) << c;
            if (k < 0 || c == k) {
                EXPECT_EQ(Pen(c).color().alpha(), 255) << c;
            } else {
                EXPECT_LT(Pen(c).color().alpha(), 128) << c;
            }
        }
    }
};

// The same highlight whichever way the channel is pointed at, gone when the
// pointer leaves.
TEST_F(TrendHighlight, PointingAtACurveARowOrABoxHighlightsItsChannelUntilLeft) {
    ASSERT_NE(name(), nullptr);
    const struct {
        const char* way;
        QWidget* widget;
        std::function<void(int)> point;
    } ways[] = {
        {"curve", plot(), [&](int k) { MovePointer(plot(), At(k == 3 ? 3.6 : -1.5)); }},
        {"row", table()->viewport(),
         [&](int k) {
             MovePointer(table()->viewport(), table()->visualItemRect(table()->item(k == 3 ? 1 : 0, 0)).center());
         }},
        {"box", box(3),
         [&](int k) {
             QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
             QCoreApplication::sendEvent(box(k), &enter);
         }},
    };
    for (const auto& w : ways) {
        SCOPED_TRACE(w.way);
        ExpectHighlighted(-1);
        w.point(3);
        ExpectHighlighted(3);
        w.point(0);
        ExpectHighlighted(0);
        Leave(w.way == std::string("box") ? box(0) : w.widget);
        ExpectHighlighted(-1);
    }
}

// A sweep across the curves highlights none of those it passes: only the
// curve the pointer rests on.
TEST_F(TrendHighlight, ASweepHighlightsOnlyWhereThePointerRests) {
    for (const double value : {3.6, -1.5, 3.6}) {
        const QPointF at = At(value);
        QMouseEvent move(QEvent::MouseMove, at, plot()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(plot(), &move);
        QCoreApplication::processEvents();
        EXPECT_EQ(window.HighlightedChannel(), -1) << value;
    }
    MovePointer(plot(), At(-1.5));
    EXPECT_EQ(window.HighlightedChannel(), 0);
}

// Near the curve its name shows by the pointer; far from every curve, or
// outside the plot, none is highlighted.
TEST_F(TrendHighlight, TheCurveUnderThePointerIsNamedAndNoneFarFromThem) {
    MovePointer(plot(), At(3.6));
    ASSERT_EQ(window.HighlightedChannel(), 3);
    EXPECT_TRUE(name()->visible());
    EXPECT_EQ(name()->text(), QStringLiteral("AI03"));
    MovePointer(plot(), At(-4.5));
    EXPECT_EQ(window.HighlightedChannel(), -1);
    EXPECT_FALSE(name()->visible());
    MovePointer(plot(), At(-1.5));
    EXPECT_EQ(window.HighlightedChannel(), 0);
    MovePointer(plot(), QPointF(2, 2)); // over the axis' margin
    EXPECT_EQ(window.HighlightedChannel(), -1);
    window.HighlightChannel(5); // not shown: nothing to highlight
    EXPECT_EQ(window.HighlightedChannel(), -1);
}

// The dense curves are one image: the highlighted one lies over the other
// there, two pixels wide, the other faint; the PNG shows the same.
TEST_F(TrendHighlight, TheCanvasPaintsTheHighlightedCurveOnTopAndWide) {
    const int x = Column(kNow - 2'000'000);
    const QRgb three = plot()->graph(3)->pen().color().rgb();
    EXPECT_EQ(canvas()->LastImage().pixel(x, Row(2.0)), three); // the later curve on top
    window.HighlightChannel(0);
    plot()->replot();
    const QImage& image = canvas()->LastImage();
    EXPECT_EQ(image.pixel(x, Row(2.0)), Colour());
    EXPECT_EQ(image.pixel(x, Row(kHigh) - 1), Colour()); // a row wider
    EXPECT_LT(qAlpha(image.pixel(x, Row(3.6))), 128);    // channel 3, faint

    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("trend.png"));
    ASSERT_TRUE(window.ExportPng(png)) << window.LastError().toStdString();
    const QImage exported(png);
    const QPoint corner = plot()->axisRect()->topLeft();
    EXPECT_EQ(exported.pixel(corner.x() + x, corner.y() + Row(2.0)), Colour());
}

// ---------------------------------------------------------------- size

// A 1920 x 1080 screen at 200 % leaves 960 x 540 logical pixels, less a task
// bar: the window fits, and at that size the plot keeps room for a curve.
TEST(TrendSize, FitsASmallScreenWithTheControlsAndAUsablePlot) {
    History history;
    frmTrend window(history, nullptr, [] { return T(1'000'000); });
    const QSize fit(960, 500);
    const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
    EXPECT_LE(least.width(), fit.width());
    EXPECT_LE(least.height(), fit.height());
    window.resize(fit);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.size(), fit);
    const auto* plot = window.findChild<QCustomPlot*>(QStringLiteral("plotTrend"));
    EXPECT_GE(plot->axisRect()->width(), 200);
    EXPECT_GE(plot->axisRect()->height(), 100);
    for (const char* name : {"cboSpan", "cboScale", "cmdPause", "cmdExport", "cmdSetup", "lblMode", "tblStats",
                             "channelPickerArea", "lblCursor"}) {
        const auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_TRUE(widget->isVisible()) << name;
        EXPECT_GE(widget->width(), widget->minimumSizeHint().width()) << name;
        EXPECT_GE(widget->height(), std::max(widget->minimumSizeHint().height(), 1)) << name;
        const QRect inside = QRect(QPoint(0, 0), window.size());
        EXPECT_TRUE(inside.contains(QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size()))) << name;
    }
}

// The plot is painted without what lies under it: its own background must
// cover every pixel, margins and corners included.
TEST_F(TrendHighlight, ThePlotPaintsAllOfItself) {
    const QImage shot = plot()->grab().toImage();
    ASSERT_EQ(shot.size(), plot()->size() * shot.devicePixelRatio());
    const QRgb white = qRgb(255, 255, 255);
    for (const QPoint at : {QPoint(0, 0), QPoint(shot.width() - 1, 0), QPoint(0, shot.height() - 1),
                            QPoint(shot.width() - 1, shot.height() - 1), QPoint(shot.width() / 2, 1)})
        EXPECT_EQ(shot.pixel(at), white) << at.x() << "," << at.y();
}
