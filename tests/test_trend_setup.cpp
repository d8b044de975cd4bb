// SPDX-License-Identifier: GPL-3.0-or-later
// The trend with a setup file: names, units, values in the unit, limit
// lines, the levels with hysteresis and the export's unit columns; first
// as the pure functions the window shows, then in the window itself.
#include "FrmMultiBuf.h"
#include "csv.h"
#include "engineering.h"
#include "fake_driver_client.h"
#include "frmTrend.h"
#include "history.h"
#include "text.h"
#include "widgets.h"

#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <variant>

using trend::History;
using vcard::Level;

namespace {

const std::string kExample = MOX_SOURCE_DIR "/examples/bench-setup.toml";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

mox::setup::Setup Example() {
    auto loaded = mox::setup::Load(kExample);
    if (const auto* e = std::get_if<mox::setup::Error>(&loaded)) ADD_FAILURE() << e->Text();
    return std::get<mox::setup::Setup>(loaded);
}

mox::setup::Setup FromText(const std::string& text) {
    auto parsed = mox::setup::Parse(text, "test.toml");
    if (const auto* e = std::get_if<mox::setup::Error>(&parsed)) ADD_FAILURE() << e->Text();
    return std::get<mox::setup::Setup>(parsed);
}

trend::Volts Each(float v) {
    trend::Volts volts{};
    volts.fill(v);
    return volts;
}

trend::Stamp T(std::int64_t ms) { return {ms, ms}; }

} // namespace

// ---------------------------------------------------------------- pure texts

TEST(TrendSetupTexts, NamesAndUnitsOnlyForWhatTheFileGives) {
    const auto setup = Example();
    const struct {
        int channel;
        const char* picker;
        const char* label;
        const char* unit;
    } cases[] = {{0, "00 pump_pressure [bar]", "pump_pressure", "bar"},
                 {1, "01 oil_temperature [°C]", "oil_temperature", "°C"},
                 {3, "03", "AI03", "V"}, // not in the file: as without a setup
                 {4, "04 supply_24v [V]", "supply_24v", "V"}};
    for (const auto& c : cases) {
        EXPECT_EQ(trend::PickerText(&setup, c.channel), QString::fromUtf8(c.picker));
        EXPECT_EQ(trend::ChannelLabel(&setup, c.channel), QString::fromUtf8(c.label));
        EXPECT_EQ(trend::UnitText(&setup, c.channel), QString::fromUtf8(c.unit));
        EXPECT_EQ(trend::PickerText(nullptr, c.channel), QStringLiteral("%1").arg(c.channel, 2, 10, QLatin1Char('0')));
    }
    const auto longName = FromText("version = 1\n[AI9]\nname = \"a_very_long_channel_name_indeed\"\n");
    EXPECT_EQ(trend::PickerText(&longName, 9), QStringLiteral("09 a_very_long_chann… [V]"));
}

TEST(TrendSetupTexts, ThePlotIsInAUnitOnlyWhenEveryShownChannelHasIt) {
    const auto setup = Example();
    const struct {
        std::vector<int> channels;
        std::optional<std::string> unit;
    } cases[] = {{{0}, "bar"}, {{0, 1}, std::nullopt}, {{3, 4, 5}, "V"}, {{}, std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(trend::SharedUnit(&setup, c.channels), c.unit) << c.channels.size();
    EXPECT_EQ(trend::SharedUnit(nullptr, {3}), std::nullopt);
    // Channels the file leaves out are plain volts: no unit of the file's.
    EXPECT_EQ(trend::SharedUnit(&setup, {3, 5}), std::nullopt);
    const auto empty = FromText("version = 1\n");
    EXPECT_EQ(trend::SharedUnit(&empty, {0, 1, 2, 3}), std::nullopt);
    EXPECT_EQ(trend::AxisLabel(std::nullopt), QStringLiteral("电压 (V)"));
    EXPECT_EQ(trend::AxisLabel("bar"), QStringLiteral("数值 (bar)"));

    // The fixed range is the inputs' ±5.25 V through the shown scalings.
    const trend::Range bar = trend::FixedRange(&setup, {0}, true);
    EXPECT_DOUBLE_EQ(bar.lower, -10.5);
    EXPECT_DOUBLE_EQ(bar.upper, 10.5);
    const trend::Range volts = trend::FixedRange(&setup, {0, 1}, false);
    EXPECT_EQ(volts.lower, -5.25);
    EXPECT_EQ(volts.upper, 5.25);
}

// The figures go through the calibration and the scaling; a falling scale
// turns the lowest volts into the highest value, and the spread scales by
// the slope's size.
TEST(TrendSetupTexts, FiguresInTheChannelsUnit) {
    const auto setup = Example();
    const auto falling = FromText("version = 1\n[AI7]\nunit = \"mm\"\nscale = { gain = -2.0, offset = 1.0 }\n");
    trend::Stats st;
    st.count = 3;
    st.min = 1.0;
    st.max = 1.25;
    st.mean = 1.125;
    st.stddev = 0.1;
    const trend::Nearest cursor{true, 0, 1.25f};
    const struct {
        const mox::setup::Setup* setup;
        int channel;
        Level level;
        std::array<const char*, trend::kStatsColumns> texts;
    } cases[] = {
        {nullptr, 2, Level::Normal, {"AI02", "", "1.2500", "1.0000", "1.2500", "1.1250", "0.1000", ""}},
        // 10 A/V after the calibration 1.002 x - 0.0015: 1.25 V -> 12.51 A.
        {&setup,
         2,
         Level::AlarmHigh,
         {"coil_current", "A", "12.5100", "10.0050", "12.5100", "11.2575", "1.0020", "报警上限"}},
        {&falling, 7, Level::Normal, {"AI07", "mm", "-1.5000", "-1.5000", "-1.0000", "-1.2500", "0.2000", ""}},
    };
    for (const auto& c : cases) {
        const auto texts = trend::StatsTexts(c.setup, c.channel, st, cursor, c.level);
        for (std::size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(texts[i], QString::fromUtf8(c.texts[i])) << c.channel << " column " << i;
    }
    // No readings, no figures, in any unit.
    const auto none = trend::StatsTexts(&setup, 0, trend::Stats{0, kNaN, kNaN, kNaN, kNaN}, trend::Nearest{});
    for (std::size_t i = trend::kColCursor; i <= trend::kColStd; ++i) EXPECT_EQ(none[i], QStringLiteral("—")) << i;
}

TEST(TrendSetupTexts, AGapInTheBandStaysAGap) {
    const auto setup = Example();
    trend::Envelope band;
    band.low = {{1.0, 2.5}, {2.0, kNaN}};
    band.high = {{1.0, 3.0}, {2.0, kNaN}};
    const trend::Envelope bar = trend::InUnit(setup, 0, band);
    EXPECT_DOUBLE_EQ(bar.low[0].value, 5.0);
    EXPECT_DOUBLE_EQ(bar.high[0].value, 6.0);
    EXPECT_TRUE(std::isnan(bar.low[1].value));
    EXPECT_TRUE(std::isnan(bar.high[1].value));
}

// A falling scale (a negative gain) keeps each column's lowest value in the
// low list: the plot's fit to the data and the strokes follow from it.
TEST(TrendSetupTexts, AFallingScaleKeepsTheLowestValueLow) {
    for (const double gain : {2.0, -2.0}) {
        const auto setup =
            FromText("version = 1\n[AI0]\nunit = \"x\"\nscale = { gain = " + std::to_string(gain) + " }\n");
        trend::Envelope band;
        band.low = {{1.0, -0.5}, {2.0, 0.25}, {3.0, kNaN}};
        band.high = {{1.5, 0.5}, {2.5, 1.0}, {3.0, kNaN}};
        const trend::Envelope e = trend::InUnit(setup, 0, band);
        ASSERT_EQ(e.low.size(), 3U) << gain;
        for (std::size_t i = 0; i < 2; ++i) EXPECT_LT(e.low[i].value, e.high[i].value) << gain << " column " << i;
        // The lowest value keeps the time it was read at.
        EXPECT_DOUBLE_EQ(e.low[0].value, -1.0) << gain;
        EXPECT_DOUBLE_EQ(e.low[0].key, gain > 0 ? 1.0 : 1.5) << gain;
        EXPECT_TRUE(std::isnan(e.low[2].value) && std::isnan(e.high[2].value)) << gain;
    }
}

TEST(TrendSetupTexts, LimitLinesInTheUnitOrBackInVolts) {
    const auto setup = Example();
    const struct {
        int channel;
        bool inUnit;
        std::vector<std::pair<Level, double>> lines; // level, where drawn
    } cases[] = {
        {0, true, {{Level::WarnHigh, 8.0}, {Level::AlarmHigh, 9.5}}},
        {0, false, {{Level::WarnHigh, 4.0}, {Level::AlarmHigh, 4.75}}},
        // Through the calibration too: -25 A is -2.5 V calibrated, read as (-2.5 + 0.0015) / 1.002 V.
        {2,
         false,
         {{Level::AlarmLow, (-2.5 + 0.0015) / 1.002},
          {Level::WarnLow, (-2.0 + 0.0015) / 1.002},
          {Level::WarnHigh, (2.0 + 0.0015) / 1.002},
          {Level::AlarmHigh, (2.5 + 0.0015) / 1.002}}},
        {3, false, {}},
    };
    for (const auto& c : cases) {
        const auto lines = trend::LimitLines(setup, c.channel, c.inUnit);
        ASSERT_EQ(lines.size(), c.lines.size()) << c.channel;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].level, c.lines[i].first) << c.channel;
            EXPECT_NEAR(lines[i].axis, c.lines[i].second, 1e-12) << c.channel << " line " << i;
        }
    }
    const auto line = trend::LimitLines(setup, 0, false).front();
    EXPECT_EQ(trend::LimitLabel(setup, 0, line), QStringLiteral("pump_pressure 预警上限 8 bar"));
}

// The levels follow the history sample by sample, with the channel's
// hysteresis (0.1 bar on the pump pressure): a value just back
// under the warning keeps it; gaps change nothing.
TEST(TrendSetupLevels, FollowTheHistoryWithHysteresis) {
    const auto setup = Example();
    History h;
    trend::LevelFollower levels(setup);
    const struct {
        float volts; // on every channel; NaN: a failed read
        Level pump;  // AI0, 2 bar/V, warn 8, alarm 9.5
        Level coil;  // AI2, about 10 A/V, warn +-20, alarm +-25, no hysteresis
    } steps[] = {
        {3.0f, Level::Normal, Level::AlarmHigh},     {4.01f, Level::WarnHigh, Level::AlarmHigh},
        {3.98f, Level::WarnHigh, Level::AlarmHigh},  {kNaN, Level::WarnHigh, Level::AlarmHigh},
        {3.9f, Level::Normal, Level::AlarmHigh},     {4.8f, Level::AlarmHigh, Level::AlarmHigh},
        {4.72f, Level::AlarmHigh, Level::AlarmHigh}, {1.0f, Level::Normal, Level::Normal},
        {-2.1f, Level::Normal, Level::WarnLow},
    };
    std::int64_t ms = 0;
    for (const auto& s : steps) {
        if (std::isnan(s.volts)) {
            h.AppendGap(T(ms += 200), 2);
        } else {
            h.Append(T(ms += 200), 2, Each(s.volts));
        }
        levels.Follow(h, setup);
        EXPECT_EQ(levels.Current(0), s.pump) << s.volts;
        EXPECT_EQ(levels.Current(2), s.coil) << s.volts;
        EXPECT_EQ(levels.Current(3), Level::Normal); // no levels
    }
    // Followed afresh, all at once, the same.
    trend::LevelFollower again(setup);
    again.Follow(h, setup);
    EXPECT_EQ(again.Current(2), Level::WarnLow);
}

TEST(TrendSetupArgument, TheOptionAndItsFile) {
    const struct {
        QStringList arguments;
        bool given = false;
        const char* path = "";
    } cases[] = {{{"moxpanel"}, false, ""},
                 {{"moxpanel", "--lang", "en"}, false, ""},
                 {{"moxpanel", "--setup", "bench.toml", "--lang", "en"}, true, "bench.toml"},
                 {{"moxpanel", "--setup=/b/bench.toml"}, true, "/b/bench.toml"},
                 {{"moxpanel", "--setup"}, true, ""},
                 {{"moxpanel", "--setup", "--lang", "en"}, true, ""}};
    for (const auto& c : cases) {
        const trend::SetupArgument a = trend::RequestedSetup(c.arguments);
        EXPECT_EQ(a.given, c.given) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(a.path, QString::fromUtf8(c.path)) << c.arguments.join(' ').toStdString();
    }
}

// ---------------------------------------------------------------- CSV

// Volts kept as they were; each channel's value in its unit beside them,
// named as moxctl names it, and the units under the names.
TEST(TrendSetupCsv, UnitRowAndValuesBesideTheVolts) {
    const auto setup = Example();
    History h;
    h.Append(T(1'000), 2, Each(2.5f));
    h.AppendGap(T(1'200), 2);
    h.Append(T(1'400), 2, Each(-1.0f));
    const std::string text = trend::CsvText(h, {0, 2, 3, 4}, {0, 2'000}, {"a", "b", "c"}, &setup);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 7u) << text;
    EXPECT_EQ(lines[0], "# read mode: c");
    EXPECT_EQ(lines[1].rfind("# setup: /", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("examples/bench-setup.toml, sha256 " + setup.digest), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "utc,monotonic_s,AI00,AI02,AI03,AI04,pump_pressure[bar],coil_current[A],AI03[V],supply_24v[V]");
    EXPECT_EQ(lines[3], "#unit,s,V,V,V,V,bar,A,V,V");
    // 2.5 V: 5 bar; 10 * (1.002 * 2.5 - 0.0015) = 25.035 A; 2.5 V; 6 * 2.5 = 15 V.
    EXPECT_EQ(lines[4], mox::IsoUtc(1'000) + ",1.000,2.5,2.5,2.5,2.5,5,25.035,2.5,15");
    EXPECT_EQ(lines[5], mox::IsoUtc(1'200) + ",1.200,,,,,,,,");
    // -1 V: -2 bar; 10 * (-1.002 - 0.0015) = -10.035 A; -6 V.
    EXPECT_EQ(lines[6], mox::IsoUtc(1'400) + ",1.400,-1,-1,-1,-1,-2,-10.035,-1,-6");
    // Without a setup the export is what it always was.
    EXPECT_EQ(trend::CsvText(h, {0, 2}, {0, 2'000}, {"a", "b", "c"}),
              "# read mode: c\nutc,monotonic_s,AI00,AI02\n" + mox::IsoUtc(1'000) + ",1.000,2.5,2.5\n" +
                  mox::IsoUtc(1'200) + ",1.200,,\n" + mox::IsoUtc(1'400) + ",1.400,-1,-1\n");
}

// ---------------------------------------------------------------- window

class TrendSetupWindow : public ::testing::Test {
protected:
    void SetUp() override {
        // Ten seconds of 2.5 V, then the pump pressure input at 4.1 V (8.2
        // bar, past its warning) for the last two.
        for (int i = 0; i < 50; ++i) {
            trend::Volts v = Each(2.5f);
            if (i >= 40) v[0] = 4.1f;
            history.Append(T(now - 9'800 + 200LL * i), 2, v);
        }
        window.resize(1100, 720);
        window.show();
    }
    template <typename W>
    W* Find(const char* name) {
        auto* w = window.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QTableWidget* Table() { return Find<QTableWidget>("tblStats"); }
    std::vector<QCPItemStraightLine*> LimitLines() {
        std::vector<QCPItemStraightLine*> shown;
        for (int i = 0; i < 4; ++i) {
            auto* line = Find<QCPItemStraightLine>(mox::IndexedName("limitLine", i).toLatin1().constData());
            if (line != nullptr && line->visible()) shown.push_back(line);
        }
        return shown;
    }

    History history;
    std::int64_t now = 1'796'649'798'000;
    frmTrend window{history, nullptr, [this] { return T(now); }};
};

TEST_F(TrendSetupWindow, WithoutASetupNothingChanges) {
    window.Redraw();
    EXPECT_EQ(Find<QCheckBox>("chkChannel(0)")->text(), QStringLiteral("00"));
    EXPECT_TRUE(Table()->isColumnHidden(trend::kColUnit));
    EXPECT_EQ(Table()->horizontalHeaderItem(trend::kColMin)->text(), QStringLiteral("最小 (V)"));
    EXPECT_EQ(Table()->item(0, trend::kColChannel)->text(), QStringLiteral("AI00"));
    EXPECT_EQ(Table()->item(0, trend::kColChannel)->background().style(), Qt::NoBrush);
    EXPECT_TRUE(LimitLines().empty());
    EXPECT_EQ(Find<QCustomPlot>("plotTrend")->yAxis->label(), QStringLiteral("电压 (V)"));
}

TEST_F(TrendSetupWindow, TheExampleSetupNamesUnitsLimitsAndLevels) {
    ASSERT_TRUE(window.LoadSetup(QString::fromStdString(kExample))) << window.LastError().toStdString();
    window.Redraw();
    EXPECT_EQ(Find<QCheckBox>("chkChannel(0)")->text(), QStringLiteral("00 pump_pressure [bar]"));
    EXPECT_EQ(Find<QCheckBox>("chkChannel(3)")->text(), QStringLiteral("03"));
    EXPECT_FALSE(Table()->isColumnHidden(trend::kColUnit));
    EXPECT_EQ(Table()->item(1, trend::kColUnit)->text(), QStringLiteral("°C"));
    EXPECT_EQ(Table()->item(1, trend::kColMax)->text(), QStringLiteral("250.0000")); // 2.5 V at 100 °C/V
    // AI0 is past its warning: amber, and said in words.
    QTableWidgetItem* pump = Table()->item(0, trend::kColChannel);
    EXPECT_EQ(pump->background().color(), trend::LevelBackground(Level::WarnHigh));
    EXPECT_EQ(pump->text(), QStringLiteral("pump_pressure"));
    EXPECT_EQ(pump->data(Qt::AccessibleTextRole).toString(), QStringLiteral("pump_pressure, 预警上限"));
    EXPECT_EQ(Table()->item(0, trend::kColLevel)->text(), QStringLiteral("预警上限"));
    EXPECT_EQ(Table()->item(0, trend::kColLevel)->background().color(), trend::LevelBackground(Level::WarnHigh));
    EXPECT_EQ(Table()->item(3, trend::kColLevel)->text(), QString());
    EXPECT_EQ(Table()->item(3, trend::kColChannel)->background().style(), Qt::NoBrush);

    // Channels 0..7 mix units: volts on the axis, AI0's levels back in volts.
    auto* plot = Find<QCustomPlot>("plotTrend");
    EXPECT_EQ(plot->yAxis->label(), QStringLiteral("电压 (V)"));
    auto lines = LimitLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_DOUBLE_EQ(lines[0]->point1->coords().y(), 4.0);
    EXPECT_DOUBLE_EQ(lines[1]->point1->coords().y(), 4.75);
    // AI0 alone: the axis in bar, and so are its lines and its curve.
    window.SetChannels({0});
    window.Redraw();
    EXPECT_EQ(plot->yAxis->label(), QStringLiteral("数值 (bar)"));
    lines = LimitLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_DOUBLE_EQ(lines[1]->point1->coords().y(), 9.5);
    EXPECT_DOUBLE_EQ((plot->graph(0)->data()->constEnd() - 1)->value, 2.0 * static_cast<double>(4.1f));
    // The coil current selected: its four levels.
    window.SetChannels({0, 2});
    window.SelectChannel(2);
    EXPECT_EQ(LimitLines().size(), 4u);
    // The lines follow the current row when the shown channels change.
    window.SetChannels({0, 1, 2});
    window.SelectChannel(1);
    window.SetChannels({0, 2});
    const int row = window.findChild<QTableWidget*>(QStringLiteral("tblStats"))->currentRow();
    ASSERT_GE(row, 0);
    const int rowChannel = std::vector<int>{0, 2}.at(static_cast<std::size_t>(row));
    EXPECT_EQ(window.SelectedChannel(), rowChannel);
    EXPECT_EQ(LimitLines().size(), rowChannel == 2 ? 4u : 2u);
}

TEST_F(TrendSetupWindow, ABadFileIsRefusedAndTheSetupStays) {
    ASSERT_TRUE(window.LoadSetup(QString::fromStdString(kExample)));
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.toml"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("version = 1\n[AI0]\nname = \"other\"\nunit = \"a,b\"\n");
    file.close();
    EXPECT_FALSE(window.LoadSetup(bad));
    EXPECT_TRUE(window.LastError().contains(QStringLiteral("bad.toml:4:"))) << window.LastError().toStdString();
    EXPECT_TRUE(window.LastError().contains(QStringLiteral("AI0.unit"))) << window.LastError().toStdString();
    ASSERT_NE(window.CurrentSetup(), nullptr);
    EXPECT_EQ(window.CurrentSetup()->inputs[0].name, "pump_pressure");
    EXPECT_EQ(Find<QCheckBox>("chkChannel(0)")->text(), QStringLiteral("00 pump_pressure [bar]"));
}

// The export of the window with the example setup, against values worked
// out by hand from the file.
TEST_F(TrendSetupWindow, CsvExportCarriesUnitsAndValues) {
    ASSERT_TRUE(window.LoadSetup(QString::fromStdString(kExample)));
    window.SetChannels({0, 1, 2});
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trend.csv"));
    ASSERT_TRUE(window.ExportCsv(path)) << window.LastError().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4 + 50 + 1);
    EXPECT_EQ(lines[2], "utc,monotonic_s,AI00,AI01,AI02,pump_pressure[bar],oil_temperature[°C],coil_current[A]");
    EXPECT_EQ(lines[3], "#unit,s,V,V,V,bar,°C,A");
    // 2.5 V: 5 bar, 250 °C, 25.035 A; then AI0 at 4.1 V: 8.2 bar.
    EXPECT_TRUE(lines[4].endsWith(",2.5,2.5,2.5,5,250,25.035")) << lines[4].toStdString();
    EXPECT_TRUE(lines[53].endsWith(",4.1,2.5,2.5,8.2,250,25.035")) << lines[53].toStdString();
}

// Names widen the picker: at the usual size it shows them whole, whether
// the setup came before the window was shown or after.
TEST(TrendSetupPicker, NamesWidenThePickerToShowThemWhole) {
    for (const bool before : {true, false}) {
        SCOPED_TRACE(before ? "before showing" : "after showing");
        History history;
        frmTrend window(history, nullptr, [] { return T(1'796'649'798'000); });
        window.resize(1100, 720);
        const int bare =
            window.findChild<QScrollArea*>(QStringLiteral("channelPickerArea"))->widget()->sizeHint().width();
        if (before) window.SetSetup(Example());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        if (!before) window.SetSetup(Example());
        QCoreApplication::processEvents();
        auto* area = window.findChild<QScrollArea*>(QStringLiteral("channelPickerArea"));
        ASSERT_GT(area->widget()->sizeHint().width(), bare); // the names do need more room
        EXPECT_GE(area->viewport()->width(), area->widget()->sizeHint().width());
        EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
    }
}

TEST(TrendSetupFromMain, TheAcquisitionWindowHandsItsSetupToTheTrend) {
    FakeDriver::Get().Reset();
    FrmMultiBuf without;
    without.ShowTrend();
    EXPECT_EQ(without.TrendWindow()->CurrentSetup(), nullptr);
    without.TrendWindow()->close();

    FrmMultiBuf window;
    window.SetTrendSetup(Example());
    window.ShowTrend();
    ASSERT_NE(window.TrendWindow()->CurrentSetup(), nullptr);
    EXPECT_EQ(window.TrendWindow()->CurrentSetup()->path, kExample);
    EXPECT_EQ(window.TrendWindow()->findChild<QCheckBox*>(QStringLiteral("chkChannel(1)"))->text(),
              QStringLiteral("01 oil_temperature [°C]"));
    window.TrendWindow()->close();
}
