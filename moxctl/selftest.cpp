// SPDX-License-Identifier: GPL-3.0-or-later
#include "selftest.h"

#include "card_io.h"
#include "json_text.h"
#include "text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

namespace moxctl {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDaChannels = 4;
constexpr int kDigitalBits = 16;
constexpr int kNoiseReadings = 8;
constexpr auto kDigitalSettle = std::chrono::milliseconds(20);
// The DA code of 0 V in the bipolar range.
constexpr double kDaZeroCode = 2048;
constexpr double kDaCodesPerVolt = 409.5;

std::string Fixed(double v, int decimals = 3) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string text = buf;
    // No "-0.000" for a value that rounds to zero.
    if (text.find_first_not_of("-0.") == std::string::npos && text[0] == '-') text.erase(0, 1);
    return text;
}

std::string BitName(int bit) {
    return "bit " + std::to_string(bit + 1) + " (group " + std::to_string(bit / 8) + ", line " +
           std::to_string(bit % 8) + ")";
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double StandardDeviation(const std::vector<double>& v) {
    if (v.size() < 2) return 0;
    double mean = 0;
    for (double x : v) mean += x;
    mean /= static_cast<double>(v.size());
    double sum = 0;
    for (double x : v) sum += (x - mean) * (x - mean);
    return std::sqrt(sum / static_cast<double>(v.size() - 1));
}

// The voltage a DA code gives in the bipolar range.
double DaVolts(std::int16_t code) { return (code - kDaZeroCode) / kDaCodesPerVolt; }

std::int16_t DaCode(double volts) { return mox::DaCodeFromVolts(volts, true); }

Check IdentityCheck(Card& card) {
    const auto start = Clock::now();
    Check c{"identity", false, {}, {}, 0, {}};
    if (const auto id = card.Identity(); id && id->number != 0) {
        c.passed = true;
        c.detail = "card " + std::to_string(id->number) + ", type " + std::to_string(id->type) + ", speed " +
                   std::to_string(id->speedK) + "K, resolution " + std::to_string(id->resolution) + " bits";
    } else {
        c.faults.emplace_back(id ? "the card reports card number 0"
                                 : CardName() + " does not answer the identity request: " + NoAnswerAdvice());
    }
    c.seconds = Seconds(start);
    return c;
}

// The network driver answers the network status request itself when the
// card is out of reach, so a status alone does not show a link: the card
// must also answer a request of its own during the check.
Check LinkCheck(Card& card) {
    const auto start = Clock::now();
    Check c{"link", false, {}, {}, 0, {}};
    const auto s = card.Status();
    const bool answered = card.Identity().has_value();
    if (!answered) {
        c.detail = "no answer from the card";
        c.faults.emplace_back("the card did not answer during the link check (a network status without the card's "
                              "answer is the driver's own)");
    } else if (s) {
        c.passed = s->downSeconds < mox::kLinkDownSeconds;
        c.detail = "PC address seen by the card " + mox::AddressText(s->pcAddress) + ", link down " +
                   std::to_string(s->downSeconds) + " s";
        if (s->pcAddress != mox::kExpectedPcAddress) {
            c.detail += " (the card expects " + mox::AddressText(mox::kExpectedPcAddress) + ")";
        }
        if (!c.passed) c.faults.emplace_back("the link has been down for " + std::to_string(s->downSeconds) + " s");
        c.metrics = {{"link_down_seconds", s->downSeconds}};
    } else {
        c.faults.emplace_back(CardName() + " does not answer the network status request: " + NoAnswerAdvice());
    }
    c.seconds = Seconds(start);
    return c;
}

Check AnalogLoop(Card& card, int channel, const SelfTestOptions& o) {
    const auto start = Clock::now();
    const auto ch = static_cast<std::size_t>(channel);
    std::vector<AnalogPoint> points;
    std::vector<double> noise;
    for (double v : o.setPoints) {
        const std::int16_t code = DaCode(v);
        if (card.SetDA(static_cast<std::int16_t>(channel), code) == 0) {
            Check c{"analog loop AO" + std::to_string(channel) + " -> AI" + std::to_string(channel),
                    false,
                    {},
                    {},
                    Seconds(start),
                    {}};
            c.faults.emplace_back("the card did not take DA" + std::to_string(channel) + " = " + Fixed(v) + " V");
            return c;
        }
        std::this_thread::sleep_for(o.settle);
        const auto mean = card.Read({o.mean, false, true});
        std::vector<double> newest;
        for (int i = 0; i < kNoiseReadings; ++i) {
            if (const auto r = card.Read({0, false, true})) newest.push_back(r->volts[ch]);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        if (!mean || newest.size() < 2) {
            Check c{"analog loop AO" + std::to_string(channel) + " -> AI" + std::to_string(channel),
                    false,
                    {},
                    {},
                    Seconds(start),
                    {}};
            c.faults.emplace_back("the card gave no reading of input " + std::to_string(channel));
            return c;
        }
        points.push_back({DaVolts(code), mean->volts[ch]});
        noise.push_back(StandardDeviation(newest));
    }
    card.SetDA(static_cast<std::int16_t>(channel), DaCode(0));
    Check c = AnalyseAnalog(channel, points, *std::max_element(noise.begin(), noise.end()), o);
    c.seconds = Seconds(start);
    return c;
}

Check DigitalLoop(Card& card) {
    const auto start = Clock::now();
    Check c{"digital loop DO -> DI", false, {}, {}, 0, {}};
    std::vector<DigitalSample> samples;
    for (const std::uint16_t pattern : DigitalPatterns()) {
        if (!card.WriteDO(pattern)) {
            c.faults.emplace_back("the card did not take the digital outputs");
            break;
        }
        std::this_thread::sleep_for(kDigitalSettle);
        const auto read = card.ReadDI();
        if (!read) {
            c.faults.emplace_back("the digital inputs could not be read");
            break;
        }
        samples.emplace_back(pattern, *read);
    }
    card.WriteDO(0);
    if (c.faults.empty()) c.faults = AnalyseDigital(samples);
    c.passed = c.faults.empty();
    c.detail = std::to_string(samples.size()) + " patterns over 16 lines";
    c.seconds = Seconds(start);
    return c;
}

} // namespace

bool Report::Passed() const {
    return !checks.empty() && std::all_of(checks.begin(), checks.end(), [](const Check& c) { return c.passed; });
}

Check AnalyseAnalog(int channel, const std::vector<AnalogPoint>& points, double noiseVolts,
                    const SelfTestOptions& options) {
    Check c{"analog loop AO" + std::to_string(channel) + " -> AI" + std::to_string(channel), false, {}, {}, 0, {}};
    const double n = static_cast<double>(points.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& p : points) {
        sx += p.setVolts;
        sy += p.measuredVolts;
        sxx += p.setVolts * p.setVolts;
        sxy += p.setVolts * p.measuredVolts;
    }
    const double spread = n * sxx - sx * sx;
    const double gain = spread > 0 ? (n * sxy - sx * sy) / spread : 0;
    const double offset = n > 0 ? (sy - gain * sx) / n : 0;
    double linearity = 0, maxError = 0, worstAt = 0;
    for (const auto& p : points) {
        linearity = std::max(linearity, std::abs(p.measuredVolts - (gain * p.setVolts + offset)));
        if (const double e = std::abs(p.measuredVolts - p.setVolts); e > maxError) {
            maxError = e;
            worstAt = p.setVolts;
        }
    }
    c.metrics = {{"offset_volts", offset},
                 {"gain", gain},
                 {"linearity_volts", linearity},
                 {"max_error_volts", maxError},
                 {"noise_volts", noiseVolts}};
    c.detail = "offset " + Fixed(offset) + " V, gain " + Fixed(gain, 4) + ", linearity " + Fixed(linearity) +
               " V, max error " + Fixed(maxError) + " V, noise " + Fixed(noiseVolts) + " V";
    const std::string loop = OutputName(channel) + " -> " + InputName(channel);
    if (points.empty()) {
        c.faults.push_back(loop + ": no readings");
    } else if (maxError > options.toleranceVolts) {
        if (std::abs(gain) < 0.1) {
            c.faults.emplace_back(InputName(channel) + " does not follow " + OutputName(channel) + " (gain " +
                                  Fixed(gain, 4) + ")");
        } else if (std::abs(gain - 1) * 4 > options.toleranceVolts) {
            c.faults.push_back(loop + ": gain error, gain " + Fixed(gain, 4) + " (error " + Fixed(maxError) + " V at " +
                               Fixed(worstAt) + " V)");
        } else if (std::abs(offset) > options.toleranceVolts) {
            c.faults.push_back(loop + ": offset error " + Fixed(offset) + " V");
        } else {
            c.faults.push_back(loop + ": nonlinear, " + Fixed(linearity) + " V off the line (error " + Fixed(maxError) +
                               " V at " + Fixed(worstAt) + " V)");
        }
    }
    if (noiseVolts > options.noiseLimitVolts) {
        c.faults.emplace_back(InputName(channel) + " is noisy: standard deviation " + Fixed(noiseVolts) + " V (limit " +
                              Fixed(options.noiseLimitVolts) + " V)");
    }
    c.passed = c.faults.empty();
    return c;
}

std::vector<std::uint16_t> DigitalPatterns() {
    std::vector<std::uint16_t> patterns{0x0000, 0xFFFF};
    for (int b = 0; b < kDigitalBits; ++b) patterns.push_back(static_cast<std::uint16_t>(1u << b));
    for (int b = 0; b < kDigitalBits; ++b) patterns.push_back(static_cast<std::uint16_t>(~(1u << b)));
    return patterns;
}

std::vector<std::string> AnalyseDigital(const std::vector<DigitalSample>& samples) {
    std::vector<std::string> faults;
    auto bit = [](std::uint16_t v, int b) { return (v >> b) & 1u; };
    std::vector<bool> stuck(kDigitalBits, false);
    for (int b = 0; b < kDigitalBits; ++b) {
        int high = 0, highRead = 0, low = 0, lowRead = 0;
        for (const auto& [written, read] : samples) {
            if (bit(written, b)) {
                ++high;
                highRead += static_cast<int>(bit(read, b));
            } else {
                ++low;
                lowRead += static_cast<int>(bit(read, b));
            }
        }
        if (high > 0 && highRead == 0 && lowRead == 0) {
            faults.push_back(BitName(b) + " stuck at 0");
            stuck[static_cast<std::size_t>(b)] = true;
        } else if (low > 0 && lowRead == low && highRead == high) {
            faults.push_back(BitName(b) + " stuck at 1");
            stuck[static_cast<std::size_t>(b)] = true;
        }
    }
    // Two lines that read alike where they were written differently, in
    // more than one pattern, are shorted together.
    std::vector<bool> shorted(kDigitalBits, false);
    for (int i = 0; i < kDigitalBits; ++i) {
        for (int j = i + 1; j < kDigitalBits; ++j) {
            if (stuck[static_cast<std::size_t>(i)] || stuck[static_cast<std::size_t>(j)]) continue;
            int alike = 0;
            for (const auto& [written, read] : samples) {
                if (bit(written, i) != bit(written, j) && bit(read, i) == bit(read, j)) ++alike;
            }
            if (alike >= 2) {
                faults.push_back(BitName(i) + " and " + BitName(j) + " shorted together");
                shorted[static_cast<std::size_t>(i)] = shorted[static_cast<std::size_t>(j)] = true;
            }
        }
    }
    for (int b = 0; b < kDigitalBits; ++b) {
        if (stuck[static_cast<std::size_t>(b)] || shorted[static_cast<std::size_t>(b)]) continue;
        int wrong = 0;
        for (const auto& [written, read] : samples) wrong += bit(written, b) != bit(read, b) ? 1 : 0;
        if (wrong > 0) {
            faults.push_back(BitName(b) + " read wrong in " + std::to_string(wrong) + " of " +
                             std::to_string(samples.size()) + " patterns");
        }
    }
    return faults;
}

Report RunSelfTest(Card& card, const SelfTestOptions& options) {
    Report report;
    report.started = mox::IsoUtc(std::chrono::system_clock::now());
    report.checks.push_back(IdentityCheck(card));
    report.checks.push_back(LinkCheck(card));

    const auto start = Clock::now();
    Check acquisition{"acquisition start", false, {}, {}, 0, {}};
    std::int32_t error = 0;
    acquisition.passed = card.StartAcquisition(error);
    if (!acquisition.passed) acquisition.faults.push_back("StartIntr refused, error " + std::to_string(error));
    acquisition.seconds = Seconds(start);
    report.checks.push_back(acquisition);

    if (acquisition.passed) {
        for (int ch = 0; ch < kDaChannels; ++ch) card.SetDA(static_cast<std::int16_t>(ch), DaCode(0));
        for (int ch = 0; ch < kDaChannels; ++ch) report.checks.push_back(AnalogLoop(card, ch, options));
    }
    report.checks.push_back(DigitalLoop(card));
    card.StopAcquisition();
    return report;
}

std::string ReportTable(const Report& report) {
    std::string out;
    for (const auto& c : report.checks) {
        char line[160];
        std::snprintf(line, sizeof line, "%-4s  %-24s  %s\n", c.passed ? "PASS" : "FAIL", c.name.c_str(),
                      c.detail.c_str());
        out += line;
        for (const auto& f : c.faults) out += "      - " + f + "\n";
    }
    const auto failed = std::count_if(report.checks.begin(), report.checks.end(), [](auto& c) { return !c.passed; });
    out += report.Passed() ? "selftest: PASS (" + std::to_string(report.checks.size()) + " checks)\n"
                           : "selftest: FAIL (" + std::to_string(failed) + " of " +
                                 std::to_string(report.checks.size()) + " checks failed)\n";
    return out;
}

std::string ReportJson(const Report& report) {
    nlohmann::ordered_json j;
    j["program"] = report.program;
    j["started"] = report.started;
    j["passed"] = report.Passed();
    j["checks"] = nlohmann::ordered_json::array();
    for (const auto& c : report.checks) {
        nlohmann::ordered_json check;
        check["name"] = c.name;
        check["passed"] = c.passed;
        check["detail"] = c.detail;
        check["faults"] = c.faults;
        check["seconds"] = c.seconds;
        nlohmann::ordered_json metrics = nlohmann::ordered_json::object();
        for (const auto& [name, value] : c.metrics) metrics[name] = value;
        check["metrics"] = metrics;
        j["checks"].push_back(check);
    }
    return JsonText(j, 2) + "\n";
}

std::string ReportJUnit(const Report& report) {
    double total = 0;
    int failures = 0;
    for (const auto& c : report.checks) {
        total += c.seconds;
        failures += c.passed ? 0 : 1;
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
    out += "  <testsuite name=\"moxctl selftest\" tests=\"" + std::to_string(report.checks.size()) + "\" failures=\"" +
           std::to_string(failures) + "\" errors=\"0\" time=\"" + Fixed(total) + "\" timestamp=\"" +
           mox::XmlText(report.started) + "\">\n";
    for (const auto& c : report.checks) {
        out += "    <testcase classname=\"selftest\" name=\"" + mox::XmlText(c.name) + "\" time=\"" + Fixed(c.seconds) +
               "\"";
        if (c.passed) {
            out += ">\n      <system-out>" + mox::XmlText(c.detail) + "</system-out>\n    </testcase>\n";
            continue;
        }
        std::string faults;
        for (const auto& f : c.faults) faults += (faults.empty() ? "" : "; ") + f;
        out += ">\n      <failure message=\"" + mox::XmlText(faults) + "\">" + mox::XmlText(c.detail) +
               "</failure>\n    </testcase>\n";
    }
    return out + "  </testsuite>\n</testsuites>\n";
}

} // namespace moxctl
