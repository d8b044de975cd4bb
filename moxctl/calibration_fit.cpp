// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration_fit.h"

#include "text.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace moxctl {

const char* const kCalibrationMarker = "# Calibration written by moxctl calibrate";

namespace {

std::string Fixed(double v, int decimals) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// The volts the loop's far end shows at a point: the input's reading, or
// for an output the reading corrected by the input's calibration.
double Shown(const Loop& loop, const LoopPoint& p) {
    return loop.output ? vcard::Apply(loop.inputCalibration, p.read) : p.read;
}

// shown = slope * commanded + intercept, by least squares. The commanded
// volts are exact (a DA code), so the readings carry the scatter.
std::optional<vcard::Linear> LeastSquares(const Loop& loop, const std::vector<LoopPoint>& points) {
    const double n = static_cast<double>(points.size());
    double sx = 0, sy = 0;
    for (const auto& p : points) {
        sx += p.commanded;
        sy += Shown(loop, p);
    }
    const double mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0;
    for (const auto& p : points) {
        sxx += (p.commanded - mx) * (p.commanded - mx);
        sxy += (p.commanded - mx) * (Shown(loop, p) - my);
    }
    if (!(sxx > 0)) return std::nullopt;
    const double slope = sxy / sxx;
    return vcard::Linear{slope, my - slope * mx};
}

std::string Refusal(const std::vector<LoopPoint>& points, const vcard::Linear& line, const ChannelFit& fit,
                    const FitLimits& limits, const std::string& pair) {
    for (const auto& p : points) {
        if (std::fabs(p.read) >= limits.saturationVolts) {
            return "saturated: the input reads " + Fixed(p.read, 3) + " V at " + Fixed(p.commanded, 3) + " V commanded";
        }
    }
    if (std::fabs(line.gain) < limits.minSlope) {
        return "the input does not follow the output (slope " + Fixed(line.gain, 4) + "): " + pair +
               " not wired, or wired elsewhere";
    }
    if (fit.residual > limits.maxResidual) {
        return "the readings lie up to " + Fixed(fit.residual, 4) + " V off a straight line (limit " +
               Fixed(limits.maxResidual, 4) + " V): noisy, nonlinear or not settled";
    }
    const double g = fit.correction.gain;
    if (!(g >= limits.minGain && g <= limits.maxGain)) {
        return "gain " + Fixed(g, 5) + " is outside the plausible " + Fixed(limits.minGain, 2) + ".." +
               Fixed(limits.maxGain, 2);
    }
    if (!(std::fabs(fit.correction.offset) <= limits.maxOffset)) {
        return "offset " + Fixed(fit.correction.offset, 4) + " V is beyond the plausible ±" +
               Fixed(limits.maxOffset, 2) + " V";
    }
    return {};
}

} // namespace

ChannelFit FitLoop(const Loop& loop, const std::vector<LoopPoint>& points, const FitLimits& limits,
                   const std::string& pair) {
    ChannelFit fit;
    const auto line = points.size() >= 3 ? LeastSquares(loop, points) : std::nullopt;
    if (!line) {
        fit.refusal = "too few distinct points to fit a line";
        return fit;
    }
    for (const auto& p : points) {
        fit.residual = std::max(fit.residual, std::fabs(Shown(loop, p) - vcard::Apply(*line, p.commanded)));
    }
    // An output's calibration maps the volts commanded to those that appear:
    // the line itself. An input's maps the volts read to the true ones: the
    // line undone.
    if (loop.output) {
        fit.correction = *line;
    } else if (line->gain != 0) {
        fit.correction = {1.0 / line->gain, -line->offset / line->gain};
    }
    fit.refusal = Refusal(points, *line, fit, limits, pair);
    if (fit.refusal.empty() && !(std::isfinite(fit.correction.gain) && std::isfinite(fit.correction.offset))) {
        fit.refusal = "the fit is not a finite line";
    }
    return fit;
}

double MaxError(const Loop& loop, const vcard::Linear& calibration, const std::vector<LoopPoint>& points) {
    double worst = 0;
    for (const auto& p : points) {
        const double e = loop.output ? Shown(loop, p) - vcard::Apply(calibration, p.commanded)
                                     : vcard::Apply(calibration, p.read) - p.commanded;
        worst = std::max(worst, std::fabs(e));
    }
    return worst;
}

std::vector<double> SetPoints(int count, double span) {
    std::vector<double> v;
    v.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) v.push_back(count == 1 ? 0.0 : -span + 2.0 * span * i / (count - 1));
    return v;
}

std::vector<double> CheckPoints(const std::vector<double>& setPoints) {
    std::vector<double> v;
    for (std::size_t i = 1; i < setPoints.size(); ++i) v.push_back((setPoints[i - 1] + setPoints[i]) / 2);
    return v;
}

bool WrittenByCalibrate(const std::string& text) {
    const std::string marker = kCalibrationMarker;
    const auto lineEnd = text.find('\n');
    if (lineEnd == std::string::npos) return false;
    const std::string first = text.substr(0, lineEnd);
    return first.compare(0, marker.size(), marker) == 0;
}

std::string TomlString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string CalibrationFileText(std::vector<CalibrationEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](const CalibrationEntry& a, const CalibrationEntry& b) {
        return a.output != b.output ? !a.output : a.channel < b.channel;
    });
    std::string text = std::string(kCalibrationMarker) +
                       "\n"
                       "# Inputs: the volts read corrected as gain * volts + offset. Outputs: the volts\n"
                       "# commanded mapped to the volts that appear. The next run rewrites this file whole:\n"
                       "# edit a copy.\n"
                       "version = 1\n";
    for (const auto& e : entries) {
        const auto& c = e.calibration;
        text += "\n";
        if (!e.note.empty()) text += "# " + e.note + "\n";
        text += std::string("[") + (e.output ? "AO" : "AI") + std::to_string(e.channel) + "]\n";
        text += "gain = " + mox::ShortestText(c.correction.gain) + "\n";
        text += "offset = " + mox::ShortestText(c.correction.offset) + "\n";
        text += "date = " + c.date + "\n";
        text += "due = " + c.due + "\n";
        if (!c.operatorName.empty()) text += "operator = " + TomlString(c.operatorName) + "\n";
        if (!c.cardIdentity.empty()) text += "card = " + TomlString(c.cardIdentity) + "\n";
    }
    return text;
}

std::optional<std::string> DateAfter(const std::string& date, int days) {
    const auto digits = [&date](std::size_t from, std::size_t count) {
        int v = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (date[i] < '0' || date[i] > '9') return -1;
            v = v * 10 + (date[i] - '0');
        }
        return v;
    };
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
    const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
    if (y < 0 || m < 0 || d < 0) return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year(y), std::chrono::month(static_cast<unsigned>(m)),
                                          std::chrono::day(static_cast<unsigned>(d))};
    if (!ymd.ok()) return std::nullopt;
    const std::chrono::year_month_day due{std::chrono::sys_days(ymd) + std::chrono::days(days)};
    if (static_cast<int>(due.year()) > 9999) return std::nullopt;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(due.year()), static_cast<unsigned>(due.month()),
                  static_cast<unsigned>(due.day()));
    return std::string(buf);
}

} // namespace moxctl
