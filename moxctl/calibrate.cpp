// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrate.h"

#include "args.h"
#include "commands.h"
#include "pacing.h"
#include "setup_columns.h"
#include "text.h"
#include "whole_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace moxctl {

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A calibration file is a few kilobytes; anything near this is not one.
constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

int Say(int result, const std::string& message) {
    std::fprintf(stderr, "moxctl: %s\n", message.c_str());
    return result;
}

std::string Fixed(double v, int decimals) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string text = buf;
    if (text.find_first_not_of("-0.") == std::string::npos && text[0] == '-') text.erase(0, 1);
    return text;
}

std::string InputId(int ch) { return "AI" + std::to_string(ch); }
std::string OutputId(int ch) { return "AO" + std::to_string(ch); }

const mox::setup::Channel* InputOf(const std::optional<mox::setup::Setup>& s, int ch) {
    return s ? &s->inputs[static_cast<std::size_t>(ch)] : nullptr;
}
const mox::setup::Channel* OutputOf(const std::optional<mox::setup::Setup>& s, int ch) {
    return s ? &s->outputs[static_cast<std::size_t>(ch)] : nullptr;
}
std::optional<vcard::Linear> InForce(const mox::setup::Channel* c) {
    if (c == nullptr || !c->calibration) return std::nullopt;
    return c->calibration->correction;
}

// Sleeps for `d`, in short steps so that a stop request is seen.
void Wait(Clock::duration d) {
    const auto until = Clock::now() + d;
    while (!g_stop && Clock::now() < until) {
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(20)));
    }
}

// What a calibration run knows before it touches the card.
struct Plan {
    std::optional<mox::setup::Setup> setup;
    std::vector<CalibrationEntry> previous; // the tables of the file being replaced
    std::string today, due;
};

// ---- The file ----

// The text of a file that is there, or why it cannot be ours to replace.
std::optional<std::string> ExistingCalibration(const std::string& path, std::string& text) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (!fs::is_regular_file(status)) return path + " is not a regular file: not replaced";
    const auto size = fs::file_size(path, ec);
    if (ec || size > kMaxFileBytes) return path + " is not a calibration file (" + std::to_string(size) + " bytes)";
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in) return path + " cannot be read";
    text = all.str();
    if (!WrittenByCalibrate(text)) {
        return path + " was not written by moxctl calibrate (its first line is not \"" + kCalibrationMarker +
               "\"): not replaced; name another --out";
    }
    return std::nullopt;
}

// The comment line that this program wrote above a channel's table (what
// was trusted), kept with the table.
std::string NoteAbove(const std::string& text, bool output, int ch) {
    const std::string table = std::string("\n[") + (output ? "AO" : "AI") + std::to_string(ch) + "]\n";
    const auto at = text.find(table);
    if (at == std::string::npos) return {};
    const auto start = text.rfind('\n', at - 1);
    if (start == std::string::npos || text.compare(start + 1, 2, "# ") != 0) return {};
    return text.substr(start + 3, at - start - 3);
}

// The tables of the file to be replaced, read as the setup loader reads
// them; a file that is not ours, or no longer reads, is refused.
std::optional<std::string> ReadPrevious(const std::string& path, std::vector<CalibrationEntry>& previous) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) {
        const fs::path parent = fs::path(path).parent_path();
        if (!parent.empty() && !fs::is_directory(parent, ec)) return "the folder of " + path + " does not exist";
        return std::nullopt;
    }
    std::string text;
    if (auto fault = ExistingCalibration(path, text)) return fault;
    mox::setup::Setup read;
    if (const auto error = mox::setup::ParseCalibration(text, path, read)) {
        return error->Text() + " (the file is not replaced)";
    }
    const auto keep = [&](const mox::setup::Channel& c, bool output, int ch) {
        if (c.calibration) previous.push_back({output, ch, *c.calibration, NoteAbove(text, output, ch)});
    };
    for (int k = 0; k < vcard::kChannels; ++k) keep(read.inputs[static_cast<std::size_t>(k)], false, k);
    for (int k = 0; k < vcard::kDaChannels; ++k) keep(read.outputs[static_cast<std::size_t>(k)], true, k);
    return std::nullopt;
}

// Looked at again just before: the file may have been changed meanwhile.
std::optional<std::string> StillOurs(const std::string& path) {
    std::string ignored;
    return ExistingCalibration(path, ignored);
}

// ---- Before the card ----

std::string Pair(const CalibrateOptions& o, int ch) {
    return o.outputs ? OutputId(ch) + " against " + InputId(ch) : InputId(ch) + " against DA" + std::to_string(ch);
}

// The sweep drives each chosen output over ±span: a setup whose alarm
// levels forbid that for an output is a bench still wired to it.
std::optional<std::string> SweepAllowed(const CalibrateOptions& o, const mox::setup::Setup& setup) {
    const auto set = SetPoints(o.points, o.span);
    for (const int ch : o.channels) {
        for (const double v : {set.front(), set.back()}) {
            std::string why;
            if (!DaCodeWithinAlarms(setup, ch, mox::DaCodeFromVolts(v, true), true, why)) {
                return "calibrate drives DA" + std::to_string(ch) + " over ±" + Fixed(o.span, 2) +
                       " V, beyond its alarm levels: " + why +
                       ". Calibrate with the loopback plug and a setup without those levels, or leave the channel "
                       "out (--channels)";
            }
        }
    }
    return std::nullopt;
}

// Whether the operator's name, as it will be written, reads back: the
// setup loader's own rules, on a sample of the file.
std::optional<std::string> OperatorFault(const CalibrateOptions& o, const Plan& plan) {
    if (o.operatorName.empty()) return "--operator: name who calibrates";
    if (mox::setup::BreaksLine(o.operatorName)) {
        return "--operator: may not contain control, line-breaking or direction characters";
    }
    mox::setup::Calibration sample{{1.0, 0.0}, plan.today, plan.due, o.operatorName, "card"};
    mox::setup::Setup read;
    if (const auto e =
            mox::setup::ParseCalibration(CalibrationFileText({{false, 0, sample, ""}}), "--operator", read)) {
        return "--operator: " + e->what;
    }
    return std::nullopt;
}

std::optional<std::string> Prepare(const CalibrateOptions& o, Plan& plan) {
    plan.today = mox::IsoUtc(std::chrono::system_clock::now()).substr(0, 10);
    const auto due = DateAfter(plan.today, o.validDays);
    if (!due) return "--valid-days: " + std::to_string(o.validDays) + " days from " + plan.today + " is beyond 9999";
    plan.due = *due;
    if (auto fault = OperatorFault(o, plan)) return fault;
    if (!LoadSetup(o.setupPath, plan.setup)) return std::string(); // said by LoadSetup
    if (plan.setup) {
        if (auto fault = SweepAllowed(o, *plan.setup)) return fault;
    }
    return ReadPrevious(o.out, plan.previous);
}

// ---- On the card ----

// The chosen outputs back at 0 V however the run ends: the card cannot
// tell what they were before.
class OutputsBackToZero {
public:
    OutputsBackToZero(Card& card, const std::vector<int>& channels) : card_(card), channels_(channels) {}
    OutputsBackToZero(const OutputsBackToZero&) = delete;
    OutputsBackToZero& operator=(const OutputsBackToZero&) = delete;
    ~OutputsBackToZero() {
        for (const int ch : channels_) {
            if (card_.SetDA(static_cast<std::int16_t>(ch), mox::DaCodeFromVolts(0.0, true)) == 0) {
                Say(0, "DA" + std::to_string(ch) + " may not be back at 0 V: the card did not confirm it");
            }
        }
    }

private:
    Card& card_;
    std::vector<int> channels_;
};

using Sweeps = std::vector<std::vector<LoopPoint>>; // per chosen channel

// Each chosen loop at each of `volts`, all outputs set together; each
// channel takes the set points in an order turned by its own step, so that
// swapped or shorted wires do not follow the same sweep.
std::optional<std::string> Sweep(Card& card, const CalibrateOptions& o, const std::vector<double>& volts,
                                 Sweeps& sweeps) {
    const std::size_t n = volts.size();
    sweeps.assign(o.channels.size(), {});
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::int16_t> codes;
        for (const int ch : o.channels) {
            const double v = volts[(i + static_cast<std::size_t>(ch) * n / vcard::kDaChannels) % n];
            const std::int16_t code = mox::DaCodeFromVolts(v, true);
            if (card.SetDA(static_cast<std::int16_t>(ch), code) == 0) {
                return "the card did not " + std::string(card.LastError() == kNoReplyError ? "confirm" : "take") +
                       " DA" + std::to_string(ch) + " = " + Fixed(v, 3) + " V";
            }
            codes.push_back(code);
        }
        // Settled, then a mean made only of samples taken since.
        Wait(o.settle + MeanFillTime(o.mean));
        if (g_stop) return "stopped";
        const auto reading = card.Read({o.mean, false, true});
        if (!reading) return "the card gave no reading";
        for (std::size_t j = 0; j < o.channels.size(); ++j) {
            const double read = reading->volts[static_cast<std::size_t>(o.channels[j])];
            sweeps[j].push_back({vcard::DaVolts(codes[j], true), read});
        }
    }
    return std::nullopt;
}

// ---- The results ----

struct Outcome {
    int channel = 0;
    ChannelFit fit;
    std::optional<vcard::Linear> before; // the calibration in force
    double errorBefore = 0, errorAfter = 0;
};

Loop LoopOf(const CalibrateOptions& o, const Plan& plan, int ch) {
    Loop loop;
    loop.output = o.outputs;
    if (o.outputs) loop.inputCalibration = InForce(InputOf(plan.setup, ch)).value_or(vcard::Linear{});
    return loop;
}

std::vector<Outcome> Judge(const CalibrateOptions& o, const Plan& plan, const Sweeps& fits, const Sweeps& checks) {
    std::vector<Outcome> outcomes;
    for (std::size_t j = 0; j < o.channels.size(); ++j) {
        const int ch = o.channels[j];
        const Loop loop = LoopOf(o, plan, ch);
        Outcome r;
        r.channel = ch;
        r.fit = FitLoop(loop, fits[j], o.limits, "DA" + std::to_string(ch) + " -> " + InputId(ch));
        r.before = InForce(o.outputs ? OutputOf(plan.setup, ch) : InputOf(plan.setup, ch));
        r.errorBefore = MaxError(loop, r.before.value_or(vcard::Linear{}), checks[j]);
        r.errorAfter = MaxError(loop, r.fit.correction, checks[j]);
        // The points between the fitted ones were not part of the fit: a
        // correction that leaves them off is no calibration, whatever the fit.
        if (r.fit.refusal.empty() && !(r.errorAfter <= o.limits.maxResidual)) {
            r.fit.refusal = "corrected, the readings between the fitted points are still up to " +
                            Fixed(r.errorAfter, 4) + " V off (limit " + Fixed(o.limits.maxResidual, 4) +
                            " V): noisy or not settled";
        }
        outcomes.push_back(r);
    }
    return outcomes;
}

std::string Reference(const CalibrateOptions& o, const Plan& plan, int ch) {
    if (!o.outputs) return "DA" + std::to_string(ch) + " nominal volts";
    const auto* in = InputOf(plan.setup, ch);
    if (in == nullptr || !in->calibration) return InputId(ch) + " uncalibrated";
    return InputId(ch) + " as calibrated " + in->calibration->date;
}

void PrintTable(const CalibrateOptions& o, const Plan& plan, const std::vector<Outcome>& outcomes) {
    std::printf("%s\n", o.outputs ? "calibrate outputs: each DA against its input, the input trusted as the "
                                    "calibration in force corrects it"
                                  : "calibrate inputs: each input against its DA at its nominal volts, the "
                                    "output trusted");
    std::printf("%d points over ±%s V, mean of %d samples each; errors at the %d points between them, before with "
                "the calibration in force (none where the setup gives none)\n",
                o.points, Fixed(o.span, 2).c_str(), o.mean, o.points - 1);
    std::printf("%-7s %-28s %-12s %-13s %-10s %-11s %-10s %s\n", "channel", "reference", "gain", "offset_V",
                "offline_V", "before_V", "after_V", "result");
    for (const auto& r : outcomes) {
        const bool ok = r.fit.refusal.empty();
        const std::string id = o.outputs ? OutputId(r.channel) : InputId(r.channel);
        std::printf("%-7s %-28s %-12s %-13s %-10s %-11s %-10s %s\n", id.c_str(), Reference(o, plan, r.channel).c_str(),
                    ok ? Fixed(r.fit.correction.gain, 7).c_str() : "-",
                    ok ? Fixed(r.fit.correction.offset, 6).c_str() : "-", ok ? Fixed(r.fit.residual, 5).c_str() : "-",
                    Fixed(r.errorBefore, 5).c_str(), ok ? Fixed(r.errorAfter, 5).c_str() : "-",
                    ok ? "calibrated" : "REFUSED");
        if (!ok) std::printf("        %s: %s\n", Pair(o, r.channel).c_str(), r.fit.refusal.c_str());
    }
}

// The file's tables: those calibrated now, and the earlier ones of every
// other channel (a refused channel keeps its earlier calibration).
std::vector<CalibrationEntry> Entries(const CalibrateOptions& o, const Plan& plan, const std::string& card,
                                      const std::vector<Outcome>& outcomes) {
    std::vector<CalibrationEntry> entries;
    for (const auto& r : outcomes) {
        if (!r.fit.refusal.empty()) continue;
        mox::setup::Calibration c{r.fit.correction, plan.today, plan.due, o.operatorName, card};
        entries.push_back({o.outputs, r.channel, c,
                           "reference: " + Reference(o, plan, r.channel) + "; " + std::to_string(o.points) +
                               " points over ±" + Fixed(o.span, 2) + " V, " + Fixed(r.fit.residual, 5) +
                               " V off the line at most"});
    }
    for (const auto& p : plan.previous) {
        const bool replaced = std::any_of(entries.begin(), entries.end(), [&p](const CalibrationEntry& e) {
            return e.output == p.output && e.channel == p.channel;
        });
        if (replaced) continue;
        entries.push_back(p);
        const bool refused = p.output == o.outputs && std::count(o.channels.begin(), o.channels.end(), p.channel) > 0;
        if (refused) {
            std::printf("%s%d: its earlier calibration of %s is kept in %s\n", p.output ? "AO" : "AI", p.channel,
                        p.calibration.date.c_str(), o.out.c_str());
        }
    }
    return entries;
}

int WriteResults(const CalibrateOptions& o, const Plan& plan, const std::string& card,
                 const std::vector<Outcome>& outcomes) {
    const auto refused =
        std::count_if(outcomes.begin(), outcomes.end(), [](auto& r) { return !r.fit.refusal.empty(); });
    if (refused == static_cast<long>(outcomes.size())) {
        return Say(kExitFailed, "no channel calibrated: " + o.out + " is not written");
    }
    const std::string text = CalibrationFileText(Entries(o, plan, card, outcomes));
    // The file must read back as the loader reads it, or it is not written.
    mox::setup::Setup check;
    if (const auto e = mox::setup::ParseCalibration(text, o.out, check)) {
        return Say(kExitFailed, "the calibration would not read back (" + e->Text() + "): not written");
    }
    if (const auto fault = WriteWhole(o.out, text, StillOurs)) return Say(kExitFailed, *fault);
    std::printf("wrote %s: calibration of %s, due %s\n", o.out.c_str(), plan.today.c_str(), plan.due.c_str());
    if (refused > 0) return Say(kExitFailed, std::to_string(refused) + " channel(s) refused, not calibrated");
    return kExitOk;
}

int Run(const CalibrateOptions& o, const Plan& plan) {
    Card card;
    const auto id = card.Identity();
    if (!id) return Say(kExitFailed, CardName() + " does not answer the identity request: " + NoAnswerAdvice());
    std::int32_t error = 0;
    if (!card.StartAcquisition(error)) {
        return Say(kExitFailed, "acquisition did not start (" + DriverErrorText(error) + ")");
    }
    Sweeps fits, checks;
    std::optional<std::string> fault;
    {
        const OutputsBackToZero restore(card, o.channels);
        fault = Sweep(card, o, SetPoints(o.points, o.span), fits);
        if (!fault) fault = Sweep(card, o, CheckPoints(SetPoints(o.points, o.span)), checks);
    }
    card.StopAcquisition();
    if (fault) return Say(kExitFailed, *fault + ": nothing calibrated, " + o.out + " not written");
    const auto outcomes = Judge(o, plan, fits, checks);
    PrintTable(o, plan, outcomes);
    return WriteResults(o, plan, mox::IdentityText(*id), outcomes);
}

} // namespace

std::optional<std::vector<int>> ChannelList(const std::string& text) {
    std::vector<int> channels;
    std::size_t from = 0;
    for (;;) {
        const auto comma = text.find(',', from);
        const auto ch = IntegerIn(text.substr(from, comma - from), 0, vcard::kDaChannels - 1);
        if (!ch || std::count(channels.begin(), channels.end(), *ch) > 0) return std::nullopt;
        channels.push_back(static_cast<int>(*ch));
        if (comma == std::string::npos) return channels;
        from = comma + 1;
    }
}

int Calibrate(const CalibrateOptions& o) {
    Plan plan;
    if (const auto fault = Prepare(o, plan)) {
        if (!fault->empty()) Say(0, *fault);
        return kExitUsage;
    }
    if (o.outputs) {
        for (const int ch : o.channels) {
            if (!InForce(InputOf(plan.setup, ch))) {
                Say(0, InputId(ch) + " has no calibration in force (--setup): " + OutputId(ch) +
                           " is calibrated against its nominal reading");
            }
        }
    }
    return Run(o, plan);
}

} // namespace moxctl
