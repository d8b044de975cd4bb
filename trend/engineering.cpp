// SPDX-License-Identifier: GPL-3.0-or-later
#include "engineering.h"

#include "text.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace trend {

namespace {

constexpr double kInputSpanVolts = 5.25; // the fixed axis' ±5 V with its margin
constexpr qsizetype kLongestPickerName = 18;

// lupdate finds the texts by their QT_TRANSLATE_NOOP marks; the window's context
// holds them, so one translation file serves the window and these texts.
QString Translate(const char* text) { return QCoreApplication::translate("frmTrend", text); }

const mox::setup::Channel* Input(const Setup* setup, int channel) {
    if (setup == nullptr || channel < 0 || channel >= kChannels) return nullptr;
    return &setup->inputs[static_cast<std::size_t>(channel)];
}

vcard::Linear Correction(const mox::setup::Channel& c) {
    return c.calibration ? c.calibration->correction : vcard::Linear{};
}

// How much a difference in volts grows on its way to the unit.
double Slope(const mox::setup::Channel& c) { return Correction(c).gain * c.scale.gain; }

QString Number(double value) { return QString::fromStdString(mox::ShortestText(static_cast<float>(value))); }

} // namespace

QString PickerText(const Setup* setup, int channel) {
    QString text = QStringLiteral("%1").arg(channel, 2, 10, QLatin1Char('0'));
    const mox::setup::Channel* c = Input(setup, channel);
    if (c == nullptr || !c->given) return text;
    QString name = QString::fromStdString(c->name);
    if (name.size() > kLongestPickerName) name = name.left(kLongestPickerName - 1) + QChar(0x2026);
    return text + QLatin1Char(' ') + name + QStringLiteral(" [") + QString::fromStdString(c->unit) + QLatin1Char(']');
}

QString ChannelLabel(const Setup* setup, int channel) {
    const mox::setup::Channel* c = Input(setup, channel);
    if (c == nullptr) return QStringLiteral("AI%1").arg(channel, 2, 10, QLatin1Char('0'));
    return QString::fromStdString(c->name);
}

QString UnitText(const Setup* setup, int channel) {
    const mox::setup::Channel* c = Input(setup, channel);
    return c == nullptr ? QStringLiteral("V") : QString::fromStdString(c->unit);
}

std::optional<std::string> SharedUnit(const Setup* setup, const std::vector<int>& channels) {
    std::optional<std::string> unit;
    bool fromFile = false; // channels the file leaves out are plain volts
    for (int k : channels) {
        const mox::setup::Channel* c = Input(setup, k);
        if (c == nullptr || (unit && *unit != c->unit)) return std::nullopt;
        unit = c->unit;
        fromFile = fromFile || c->given || c->calibration.has_value();
    }
    return fromFile ? unit : std::nullopt;
}

QString AxisLabel(const std::optional<std::string>& sharedUnit) {
    if (!sharedUnit) return Translate(QT_TRANSLATE_NOOP("frmTrend", "电压 (V)"));
    return Translate(QT_TRANSLATE_NOOP("frmTrend", "数值 (%1)")).arg(QString::fromStdString(*sharedUnit));
}

QStringList StatsHeaders(bool withSetup) {
    if (!withSetup) {
        return {Translate(QT_TRANSLATE_NOOP("frmTrend", "通道")),
                QString(),
                Translate(QT_TRANSLATE_NOOP("frmTrend", "光标处 (V)")),
                Translate(QT_TRANSLATE_NOOP("frmTrend", "最小 (V)")),
                Translate(QT_TRANSLATE_NOOP("frmTrend", "最大 (V)")),
                Translate(QT_TRANSLATE_NOOP("frmTrend", "平均 (V)")),
                Translate(QT_TRANSLATE_NOOP("frmTrend", "标准差 (V)")),
                QString()};
    }
    return {Translate(QT_TRANSLATE_NOOP("frmTrend", "通道")),   Translate(QT_TRANSLATE_NOOP("frmTrend", "单位")),
            Translate(QT_TRANSLATE_NOOP("frmTrend", "光标处")), Translate(QT_TRANSLATE_NOOP("frmTrend", "最小")),
            Translate(QT_TRANSLATE_NOOP("frmTrend", "最大")),   Translate(QT_TRANSLATE_NOOP("frmTrend", "平均")),
            Translate(QT_TRANSLATE_NOOP("frmTrend", "标准差")), Translate(QT_TRANSLATE_NOOP("frmTrend", "限值"))};
}

QString Figure(double value) {
    if (std::isnan(value)) return QStringLiteral("—");
    if (std::fabs(value) < 0.00005) value = 0; // no "-0.0000"
    return QString::number(value, 'f', 4);
}

std::array<QString, kStatsColumns> StatsTexts(const Setup* setup, int channel, const Stats& volts,
                                              const Nearest& cursor, vcard::Level level) {
    Stats st = volts;
    double at = cursor.found ? static_cast<double>(cursor.volts) : std::numeric_limits<double>::quiet_NaN();
    if (const mox::setup::Channel* c = Input(setup, channel)) {
        const double a = setup->Engineering(channel, volts.min), b = setup->Engineering(channel, volts.max);
        st.min = std::min(a, b);
        st.max = std::max(a, b);
        if (std::isnan(a) || std::isnan(b)) st.min = st.max = std::numeric_limits<double>::quiet_NaN();
        st.mean = setup->Engineering(channel, volts.mean);
        st.stddev = volts.stddev * std::fabs(Slope(*c));
        at = setup->Engineering(channel, at);
    }
    return {ChannelLabel(setup, channel),
            setup ? UnitText(setup, channel) : QString(),
            Figure(at),
            Figure(st.min),
            Figure(st.max),
            Figure(st.mean),
            Figure(st.stddev),
            setup ? LevelText(level) : QString()};
}

Envelope InUnit(const Setup& setup, int channel, Envelope band) {
    for (auto* points : {&band.low, &band.high}) {
        for (Point& p : *points) p.value = setup.Engineering(channel, p.value); // NaN stays NaN
    }
    // A falling scale turns each column's lowest volts into its highest
    // value: the lists change roles, each point keeping its time.
    if (setup.Engineering(channel, 1.0) < setup.Engineering(channel, 0.0)) std::swap(band.low, band.high);
    return band;
}

Range FixedRange(const Setup* setup, const std::vector<int>& channels, bool inUnit) {
    if (!inUnit || setup == nullptr) return {-kInputSpanVolts, kInputSpanVolts};
    Range r{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (int k : channels) {
        for (double v : {-kInputSpanVolts, kInputSpanVolts}) {
            const double e = setup->Engineering(k, v);
            if (!std::isfinite(e)) continue;
            r.lower = std::min(r.lower, e);
            r.upper = std::max(r.upper, e);
        }
    }
    if (!(r.lower < r.upper)) return {-kInputSpanVolts, kInputSpanVolts};
    return r;
}

std::vector<LimitLine> LimitLines(const Setup& setup, int channel, bool axisInUnit) {
    std::vector<LimitLine> lines;
    const mox::setup::Channel* c = Input(&setup, channel);
    if (c == nullptr) return lines;
    const std::pair<const std::optional<double>*, vcard::Level> levels[] = {
        {&c->limits.alarmLow, vcard::Level::AlarmLow},
        {&c->limits.warnLow, vcard::Level::WarnLow},
        {&c->limits.warnHigh, vcard::Level::WarnHigh},
        {&c->limits.alarmHigh, vcard::Level::AlarmHigh}};
    for (const auto& [threshold, level] : levels) {
        if (!*threshold) continue;
        const double value = **threshold;
        if (axisInUnit) {
            lines.push_back({level, value, value});
        } else if (const auto volts = vcard::VoltsForEngineering(value, Correction(*c), c->scale)) {
            lines.push_back({level, value, *volts});
        }
    }
    return lines;
}

QString LimitLabel(const Setup& setup, int channel, const LimitLine& line) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(ChannelLabel(&setup, channel), LevelText(line.level), Number(line.value), UnitText(&setup, channel));
}

QString LevelText(vcard::Level level) {
    switch (level) {
    case vcard::Level::WarnLow:
        return Translate(QT_TRANSLATE_NOOP("frmTrend", "预警下限"));
    case vcard::Level::WarnHigh:
        return Translate(QT_TRANSLATE_NOOP("frmTrend", "预警上限"));
    case vcard::Level::AlarmLow:
        return Translate(QT_TRANSLATE_NOOP("frmTrend", "报警下限"));
    case vcard::Level::AlarmHigh:
        return Translate(QT_TRANSLATE_NOOP("frmTrend", "报警上限"));
    case vcard::Level::Normal:
        break;
    }
    return {};
}

QColor LevelBackground(vcard::Level level) {
    if (level == vcard::Level::Normal) return {};
    return vcard::IsAlarm(level) ? QColor(0xd0, 0x20, 0x20) : QColor(0xff, 0xbf, 0x00);
}

QColor LevelForeground(vcard::Level level) {
    if (level == vcard::Level::Normal) return {};
    return vcard::IsAlarm(level) ? QColor(Qt::white) : QColor(Qt::black);
}

LevelFollower::LevelFollower(const Setup& setup) {
    watches_.reserve(setup.inputs.size());
    for (const auto& c : setup.inputs) watches_.emplace_back(c.limits);
}

void LevelFollower::Follow(const History& history, const Setup& setup) {
    const std::uint64_t appended = history.Appended();
    const std::uint64_t oldestKept = appended - history.Size();
    for (std::uint64_t n = std::max(fed_, oldestKept); n < appended; ++n) {
        const Sample& s = history.At(static_cast<std::size_t>(n - oldestKept));
        if (!s.read) continue; // a gap is no value: it neither enters nor leaves a level
        for (std::size_t k = 0; k < watches_.size(); ++k) {
            if (!vcard::HasLevels(watches_[k].Thresholds())) continue;
            watches_[k].Feed(setup.Engineering(static_cast<int>(k), static_cast<double>(s.volts[k])));
        }
    }
    fed_ = appended;
}

vcard::Level LevelFollower::Current(int channel) const {
    if (channel < 0 || static_cast<std::size_t>(channel) >= watches_.size()) return vcard::Level::Normal;
    return watches_[static_cast<std::size_t>(channel)].Current();
}

SetupArgument RequestedSetup(const QStringList& arguments) {
    SetupArgument found;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--setup")) {
            // "--setup --lang en" lacks its file; it does not name one called "--lang".
            const bool hasFile = i + 1 < arguments.size() && !arguments[i + 1].startsWith(QLatin1String("--"));
            found = {true, hasFile ? arguments[i + 1] : QString()};
            if (hasFile) ++i;
        } else if (arguments[i].startsWith(QLatin1String("--setup="))) {
            found = {true, arguments[i].mid(8)};
        }
    }
    return found;
}

} // namespace trend
