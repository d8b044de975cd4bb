// SPDX-License-Identifier: GPL-3.0-or-later
// The trend: its history ring, the per-column reduction, figures and CSV,
// and the window beside the acquisition window on the test driver.
#include "FrmMultiBuf.h"
#include "card_io.h"
#include "csv.h"
#include "fake_driver_client.h"
#include "frmTrend.h"
#include "history.h"
#include "reduce.h"
#include "widgets.h"
#include "window_test.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

using trend::History;
using trend::Span;
using trend::Volts;

namespace {

Volts Level(float v) {
    Volts volts{};
    volts.fill(v);
    return volts;
}

// Readings of channel 0 every `step` ms from `from`, value f(i).
template <typename F>
void Fill(History& h, std::int64_t from, std::int64_t step, int n, F f) {
    for (int i = 0; i < n; ++i) h.Append(from + step * i, 2, Level(static_cast<float>(f(i))));
}

std::size_t NaNs(const std::vector<trend::Point>& points) {
    std::size_t n = 0;
    for (const auto& p : points) n += std::isnan(p.value) ? 1 : 0;
    return n;
}

} // namespace

// ---------------------------------------------------------------- history

TEST(TrendHistory, KeepsTheNewestCapacitySamplesInOrderAcrossTheWrap) {
    History h(5);
    for (int i = 0; i < 12; ++i) h.Append(std::int64_t{200} * i, 2, Level(static_cast<float>(i)));
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
    h.Append(10'000, 0, Level(1));
    h.Append(5'000, 0, Level(2));
    h.Append(10'200, 0, Level(3));
    EXPECT_EQ(h.At(1).ms, 10'000);
    EXPECT_EQ(h.LowerBound(10'001), 2u);
}

TEST(TrendHistory, ClearStartsAfresh) {
    History h(3);
    Fill(h, 0, 200, 7, [](int i) { return i; });
    h.Clear();
    EXPECT_TRUE(h.Empty());
    h.Append(1, 1, Level(9));
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
    for (float v : {1000.25f, 1000.75f, 1000.25f, 1000.75f}) offset.Append(0, 2, Level(v));
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

// ---------------------------------------------------------------- CSV

struct TimeCase {
    std::int64_t ms;
    const char* text;
};

class IsoTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(IsoTimeTest, UtcWithMilliseconds) { EXPECT_EQ(trend::IsoTimeUtc(GetParam().ms), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Times, IsoTimeTest,
                         ::testing::Values(TimeCase{0, "1970-01-01T00:00:00.000Z"},
                                           TimeCase{-1, "1969-12-31T23:59:59.999Z"},
                                           TimeCase{951'782'400'000, "2000-02-29T00:00:00.000Z"},
                                           TimeCase{4'107'542'399'999, "2100-02-28T23:59:59.999Z"},
                                           TimeCase{1'796'649'798'200, "2026-12-07T13:23:18.200Z"}));

TEST(TrendCsv, ReadsBackTheShownChannelsOfTheSpanExactly) {
    History h(50);
    for (int i = 0; i < 60; ++i) {
        Volts v{};
        for (std::size_t k = 0; k < v.size(); ++k)
            v[k] = static_cast<float>(std::sin(i * 0.1 + static_cast<double>(k)) * 4.9 + 1e-7 * i);
        h.Append(1'796'649'798'000 + 200LL * i, i < 40 ? 2 : 0, v);
    }
    const std::vector<int> channels{0, 7, 31};
    const Span span{1'796'649'798'000 + 200LL * 20, 1'796'649'798'000 + 200LL * 45};
    const std::string csv = trend::CsvText(h, channels, span, {"newest", "mean AD", "mean volts"});

    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "# read mode: newest, mean volts");
    std::getline(in, line);
    EXPECT_EQ(line, "time_utc,AI00,AI07,AI31");
    std::size_t rows = 0;
    for (std::size_t i = h.LowerBound(span.fromMs); std::getline(in, line); ++i, ++rows) {
        ASSERT_LT(i, h.Size());
        std::istringstream row(line);
        std::string field;
        std::getline(row, field, ',');
        EXPECT_EQ(field, trend::IsoTimeUtc(h.At(i).ms));
        for (int k : channels) {
            ASSERT_TRUE(std::getline(row, field, ','));
            EXPECT_EQ(std::strtof(field.c_str(), nullptr), h.At(i).volts[static_cast<std::size_t>(k)]) << field;
        }
        EXPECT_FALSE(std::getline(row, field, ','));
    }
    EXPECT_EQ(rows, 26u); // readings 20..45 inclusive
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

class TrendExport : public ::testing::Test {
protected:
    History history;
    std::int64_t now = 1'796'649'798'000;
    frmTrend window{history, nullptr, [this] { return now; }};
};

TEST_F(TrendExport, CsvIsTheVisibleSpanOfTheShownChannels) {
    for (int i = 0; i < 100; ++i) history.Append(now - 19'800 + 200LL * i, 2, Level(static_cast<float>(i) / 10));
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
    for (int i = 0; i < 100; ++i)
        history.Append(now - 19'800 + 200LL * i, 2, Level(std::sin(static_cast<float>(i) * 0.2f)));
    window.resize(900, 600);
    window.show();
    window.Redraw();
    QTemporaryDir dir;
    const struct {
        const char* name;
        bool (frmTrend::*write)(const QString&);
        QByteArray magic;
    } kinds[] = {{"trend.png", &frmTrend::ExportPng, "\x89PNG"}, {"trend.pdf", &frmTrend::ExportPdf, "%PDF"}};
    for (const auto& kind : kinds) {
        const QString path = dir.filePath(QString::fromLatin1(kind.name));
        ASSERT_TRUE((window.*kind.write)(path)) << kind.name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().startsWith(kind.magic)) << kind.name;
    }
}

TEST_F(TrendExport, PauseFreezesTheViewWhileRecordingGoesOn) {
    window.SetSpan(0);
    const Span before = window.VisibleSpan();
    window.SetPaused(true);
    now += 5000;
    history.Append(now, 2, Level(1));
    EXPECT_EQ(window.VisibleSpan().toMs, before.toMs);
    window.SetPaused(false);
    EXPECT_EQ(window.VisibleSpan().toMs, now);
    EXPECT_EQ(history.Size(), 1u);
}
