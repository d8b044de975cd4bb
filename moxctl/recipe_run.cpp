// SPDX-License-Identifier: GPL-3.0-or-later
#include "recipe_run.h"

#include "commands.h"
#include "json_text.h"
#include "text.h"
#include "whole_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

namespace moxctl {

namespace {

using Clock = std::chrono::steady_clock;
using mox::recipe::Action;
using mox::recipe::Condition;
using mox::recipe::Output;
using mox::recipe::Plan;

// Between the readings of one check, and between the looks of a `wait until`.
constexpr auto kReadingGap = std::chrono::milliseconds(5);
constexpr auto kPollGap = std::chrono::milliseconds(20);

std::string Num(double v, const char* format = "%.6g") {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string Hex(int v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", width, static_cast<unsigned>(v));
    return buf;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Sleeps for `d` in short steps, so that a stop request is seen; false when stopped.
bool Pause(Clock::duration d) {
    const auto until = Clock::now() + d;
    while (!g_stop && Clock::now() < until) {
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(20)));
    }
    return !g_stop;
}

// What one look at the inputs gave: a value, or the card's fault, or a stop.
struct Measured {
    std::optional<double> value;
    std::string fault; // set when the card failed
    bool stopped = false;
};

Measured MeasureAnalog(Card& card, const Plan& plan, const Condition& c) {
    std::vector<double> values;
    for (int i = 0; i < c.readings; ++i) {
        if (i > 0 && !Pause(kReadingGap)) return {std::nullopt, {}, true};
        const auto r = card.Read(ReadRequest{0, true, false});
        if (!r)
            return {std::nullopt, "the inputs could not be read (" + DriverErrorText(card.LastError()) + ")", false};
        const double volts = r->volts[static_cast<std::size_t>(c.input)];
        values.push_back(plan.setup ? plan.setup->Engineering(c.input, volts) : volts);
    }
    return {c.Judged(values), {}, false};
}

Measured Measure(Card& card, const Plan& plan, const Condition& c) {
    if (c.kind == Condition::Kind::Analog) return MeasureAnalog(card, plan, c);
    const auto bits = card.ReadDI();
    if (!bits) return {std::nullopt, "the digital inputs could not be read", false};
    if (c.kind == Condition::Kind::DiBit) return {static_cast<double>((*bits >> (c.input - 1)) & 1u), {}, false};
    return {static_cast<double>((*bits >> (8 * c.input)) & 0xFFu), {}, false};
}

std::string ValueText(const Condition& c, double v) {
    switch (c.kind) {
    case Condition::Kind::DiBit:
        return Num(v, "%.0f");
    case Condition::Kind::DiGroup:
        return Hex(static_cast<int>(v), 2);
    default:
        return Num(v) + " " + c.unit;
    }
}

std::string What(const Condition& c) {
    switch (c.over) {
    case Condition::Over::Mean:
        return c.inputName + " mean of " + std::to_string(c.readings);
    case Condition::Over::Min:
        return c.inputName + " min of " + std::to_string(c.readings);
    case Condition::Over::Max:
        return c.inputName + " max of " + std::to_string(c.readings);
    case Condition::Over::All:
        return c.inputName + " worst of " + std::to_string(c.readings);
    default:
        return c.inputName;
    }
}

// The fault of a write the driver did not report done, or empty.
std::string Write(Card& card, const Output& o) {
    std::int32_t done = 0;
    switch (o.kind) {
    case Output::Kind::Da:
        done = card.SetDA(static_cast<std::int16_t>(o.channel), static_cast<std::int16_t>(o.value));
        break;
    case Output::Kind::DoGroup:
        done = card.SetDO(static_cast<std::int16_t>(o.channel), static_cast<std::int16_t>(o.value));
        break;
    case Output::Kind::DoBit:
        // Numbered 1..16 as in the window; the driver counts from 0.
        done = card.SetDOBit(static_cast<std::int16_t>(o.channel - 1), static_cast<std::int16_t>(o.value));
        break;
    }
    if (done != 0) return {};
    const std::int32_t error = card.LastError();
    if (error == kNoReplyError) return o.text + " was not confirmed by the card: it may or may not have been applied";
    return o.text + " was refused by the card (" + DriverErrorText(error) + ")";
}

bool SameOutput(const Output& a, const Output& b) { return a.kind == b.kind && a.channel == b.channel; }

class Runner {
public:
    Runner(Card& card, const Plan& plan, std::FILE* out) : card_(card), plan_(plan), out_(out) {}

    RunReport Run() {
        Begin();
        if (plan_.NeedsAcquisition()) {
            std::int32_t error = 0;
            if (!card_.StartAcquisition(error)) {
                Fault("acquisition did not start (" + DriverErrorText(error) + ")");
            } else {
                acquiring_ = true;
            }
        }
        for (std::size_t i = 0; i < plan_.actions.size() && !ended_; ++i) {
            if (g_stop) {
                Stopped("stopped by a signal before step " + std::to_string(i + 1));
                break;
            }
            Step(static_cast<int>(i), plan_.actions[i]);
        }
        // A stop during the last step, which had no wait to see it in.
        if (g_stop && !ended_) Stopped("stopped by a signal during the last step");
        MarkNotRun();
        SafeState();
        if (acquiring_) card_.StopAcquisition();
        return report_;
    }

private:
    void Begin() {
        report_.recipe = plan_.path;
        report_.name = plan_.name;
        report_.setup = plan_.setup ? plan_.setup->path : "";
        report_.started = mox::IsoUtc(std::chrono::system_clock::now());
        report_.planned = static_cast<int>(plan_.actions.size());
        checkOf_.assign(plan_.actions.size(), 0);
        for (const auto& a : plan_.actions) {
            if (a.kind != Action::Kind::Check && a.kind != Action::Kind::WaitUntil) continue;
            CheckResult c;
            c.id = a.id;
            c.text = a.text;
            c.what = What(a.condition);
            c.unit = a.condition.kind == Condition::Kind::Analog ? a.condition.unit : "";
            c.limits = a.condition.LimitsText();
            c.line = a.line;
            if (a.condition.kind == Condition::Kind::Analog) {
                c.low = a.condition.low;
                c.high = a.condition.high;
            } else {
                c.low = c.high = a.condition.expected;
            }
            checkOf_[static_cast<std::size_t>(&a - plan_.actions.data())] = report_.checks.size();
            report_.checks.push_back(c);
        }
    }

    void Fault(const std::string& why) {
        report_.outcome = RunOutcome::CardError;
        report_.fault = why;
        ended_ = true;
    }

    void Stopped(const std::string& why) {
        report_.outcome = RunOutcome::Stopped;
        report_.fault = why;
        ended_ = true;
    }

    void Print(const StepRecord& s) {
        std::fprintf(out_, "[%*d/%d] line %-4d %s  %s\n", Width(), s.index, report_.planned, s.line,
                     s.description.c_str(), s.result.c_str());
        std::fflush(out_);
    }

    int Width() const { return static_cast<int>(std::to_string(report_.planned).size()); }

    void Step(int i, const Action& a) {
        StepRecord s{i + 1, a.line, a.Describe(), "ok"};
        switch (a.kind) {
        case Action::Kind::Set:
            // A write not confirmed may still have been applied: it is put back too.
            Remember(a.output);
            if (const std::string fault = Write(card_, a.output); !fault.empty()) {
                s.result = "ERROR " + fault;
                Fault(fault);
            }
            break;
        case Action::Kind::Wait:
            if (!Pause(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(a.seconds)))) {
                s.result = "stopped";
                Stopped("stopped by a signal while waiting");
            }
            break;
        default:
            s.result = Judge(a);
            break;
        }
        report_.steps.push_back(s);
        Print(s);
    }

    void Remember(const Output& o) {
        for (const auto& w : written_) {
            if (SameOutput(w, o)) return;
        }
        written_.push_back(o);
    }

    CheckResult& ResultOf(const Action& a) {
        return report_.checks[checkOf_[static_cast<std::size_t>(&a - plan_.actions.data())]];
    }

    // A check, or a `wait until` looking until its condition holds or its
    // time is up; the value judged is the last one seen.
    std::string Judge(const Action& a) {
        CheckResult& c = ResultOf(a);
        const auto start = Clock::now();
        const auto deadline =
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(a.seconds));
        Measured m;
        for (;;) {
            m = Measure(card_, plan_, a.condition);
            if (!m.value) break;
            c.value = m.value;
            if (a.kind == Action::Kind::Check || a.condition.Passes(*m.value) || Clock::now() >= deadline) break;
            if (!Pause(kPollGap)) {
                m.stopped = true;
                break;
            }
        }
        c.seconds = Seconds(start);
        c.ran = true;
        return Verdict(a, c, m);
    }

    std::string Verdict(const Action& a, CheckResult& c, const Measured& m) {
        if (!m.fault.empty() || m.stopped) {
            c.message = m.stopped ? "stopped by a signal while measuring" : m.fault;
            c.error = true;
            if (m.stopped) {
                Stopped(c.message);
            } else {
                Fault(m.fault);
            }
            return "ERROR " + c.message;
        }
        c.passed = a.condition.Passes(*c.value);
        const std::string seen = What(a.condition) + " = " + ValueText(a.condition, *c.value);
        if (c.passed) return "PASS " + ValueText(a.condition, *c.value);
        c.message = (a.kind == Action::Kind::WaitUntil ? "timed out after " + Num(a.seconds) + " s: last " : "") +
                    seen + ", expected " + c.limits;
        if (report_.outcome == RunOutcome::Passed) report_.outcome = RunOutcome::Failed;
        if (a.onFail == mox::recipe::OnFail::Stop) ended_ = true;
        return "FAIL " + c.message;
    }

    void MarkNotRun() {
        const std::string why = report_.fault.empty() ? "the recipe stopped at its first failed check" : report_.fault;
        for (auto& c : report_.checks) {
            if (!c.ran) c.message = "not run: " + why;
        }
    }

    // The [safe] table's outputs, then 0 for the others the run wrote.
    std::vector<Output> SafeOutputs() const {
        std::vector<Output> safe = plan_.safe;
        for (const auto& w : written_) {
            const bool named = std::any_of(plan_.safe.begin(), plan_.safe.end(), [&](const Output& s) {
                return SameOutput(s, w) || (w.kind == Output::Kind::DoBit && s.kind == Output::Kind::DoGroup &&
                                            s.channel == (w.channel - 1) / 8);
            });
            if (!named) safe.push_back(mox::recipe::Zero(w, plan_.bipolar));
        }
        return safe;
    }

    void SafeState() {
        bool all = true;
        for (const auto& o : SafeOutputs()) {
            const std::string fault = Write(card_, o);
            report_.safeSteps.push_back(o.text + ": " + (fault.empty() ? "ok" : fault));
            all = all && fault.empty();
            std::fprintf(out_, "safe state: %s  %s\n", o.text.c_str(),
                         fault.empty() ? "ok" : ("ERROR " + fault).c_str());
        }
        report_.safeReached = all;
        // Outputs that may still be driven outweigh a stop or a failed check.
        if (!all) {
            if (report_.fault.empty()) {
                report_.fault = "the safe state was not reached";
            } else if (report_.outcome == RunOutcome::Stopped) {
                report_.fault += "; then the safe state was not reached";
            }
            report_.outcome = RunOutcome::CardError;
        }
        std::fflush(out_);
    }

    Card& card_;
    const Plan& plan_;
    std::FILE* out_;
    RunReport report_;
    std::vector<std::size_t> checkOf_;
    std::vector<Output> written_;
    bool acquiring_ = false;
    bool ended_ = false;
};

} // namespace

int RunReport::Failed() const {
    return static_cast<int>(std::count_if(checks.begin(), checks.end(),
                                          [](const CheckResult& c) { return c.ran && !c.passed && !c.error; }));
}

RunReport Execute(Card& card, const Plan& plan, std::FILE* out) { return Runner(card, plan, out).Run(); }

namespace {

const char* OutcomeName(RunOutcome o) {
    switch (o) {
    case RunOutcome::Passed:
        return "passed";
    case RunOutcome::Failed:
        return "failed";
    case RunOutcome::CardError:
        return "card error";
    default:
        return "stopped";
    }
}

std::string Exact(double v) { return mox::ShortestText(v); }
// A measured value to single precision, the precision of the volts it comes from.
std::string MeasuredText(double v) { return mox::ShortestText(static_cast<float>(v)); }

std::string Measurement(const CheckResult& c) {
    std::string text = c.what + ": ";
    text += c.value ? MeasuredText(*c.value) + (c.unit.empty() ? "" : " " + c.unit) : "not measured";
    return text + ", limits " + c.limits + " (line " + std::to_string(c.line) + ")";
}

std::string Property(const std::string& name, const std::string& value) {
    return "        <property name=\"" + mox::XmlText(name) + "\" value=\"" + mox::XmlText(value) + "\"/>\n";
}

std::string TestCase(const RunReport& r, const CheckResult& c) {
    std::string out = "    <testcase classname=\"" + mox::XmlText("moxctl run " + r.recipe) + "\" name=\"" +
                      mox::XmlText(c.id) + "\" time=\"" + Num(c.seconds, "%.3f") + "\">\n      <properties>\n";
    out += Property("text", c.text);
    out += Property("value", c.value ? MeasuredText(*c.value) : "");
    if (c.low) out += Property("low", Exact(*c.low));
    if (c.high) out += Property("high", Exact(*c.high));
    out += Property("unit", c.unit);
    out += "      </properties>\n";
    if (!c.ran) {
        out += "      <skipped message=\"" + mox::XmlText(c.message) + "\"/>\n";
    } else if (c.error) {
        out += "      <error message=\"" + mox::XmlText(c.message) + "\">" + mox::XmlText(c.text) + "</error>\n";
    } else if (!c.passed) {
        out += "      <failure message=\"" + mox::XmlText(c.message) + "\">" + mox::XmlText(c.text) + "</failure>\n";
    }
    out += "      <system-out>" + mox::XmlText(c.text + "\n" + Measurement(c)) + "</system-out>\n    </testcase>\n";
    return out;
}

} // namespace

std::string RunJUnit(const RunReport& r) {
    double total = 0;
    int skipped = 0, errors = 0;
    for (const auto& c : r.checks) {
        total += c.seconds;
        skipped += c.ran ? 0 : 1;
        errors += c.error ? 1 : 0;
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
    out += "  <testsuite name=\"" + mox::XmlText("moxctl run " + (r.name.empty() ? r.recipe : r.name)) + "\" tests=\"" +
           std::to_string(r.checks.size()) + "\" failures=\"" + std::to_string(r.Failed()) + "\" errors=\"" +
           std::to_string(errors) + "\" skipped=\"" + std::to_string(skipped) + "\" time=\"" + Num(total, "%.3f") +
           "\" timestamp=\"" + mox::XmlText(r.started) + "\">\n    <properties>\n";
    out += Property("recipe", r.recipe);
    out += Property("setup", r.setup);
    out += Property("outcome", OutcomeName(r.outcome));
    out += Property("steps_run", std::to_string(r.steps.size()) + " of " + std::to_string(r.planned));
    out += Property("safe_state", r.safeReached ? "reached" : "NOT reached");
    out += "    </properties>\n";
    for (const auto& c : r.checks) out += TestCase(r, c);
    std::string err = r.fault.empty() ? "" : r.fault + "\n";
    for (const auto& s : r.safeSteps) err += "safe state: " + s + "\n";
    if (!err.empty()) out += "    <system-err>" + mox::XmlText(err) + "</system-err>\n";
    return out + "  </testsuite>\n</testsuites>\n";
}

std::string RunJson(const RunReport& r) {
    using Json = nlohmann::ordered_json;
    Json j;
    j["program"] = r.program;
    j["recipe"] = r.recipe;
    j["name"] = r.name;
    j["setup"] = r.setup;
    j["started"] = r.started;
    j["outcome"] = OutcomeName(r.outcome);
    j["passed"] = r.outcome == RunOutcome::Passed;
    j["fault"] = r.fault;
    j["steps_planned"] = r.planned;
    j["steps_run"] = Json::array();
    for (const auto& s : r.steps) {
        j["steps_run"].push_back(
            Json{{"step", s.index}, {"line", s.line}, {"step_text", s.description}, {"result", s.result}});
    }
    j["checks"] = Json::array();
    for (const auto& c : r.checks) {
        Json check{{"id", c.id}, {"text", c.text}, {"line", c.line}, {"ran", c.ran}, {"passed", c.passed}};
        check["error"] = c.error;
        // A value not measured is null, never a number.
        check["value"] = c.value ? Json(*c.value) : Json(nullptr);
        check["low"] = c.low ? Json(*c.low) : Json(nullptr);
        check["high"] = c.high ? Json(*c.high) : Json(nullptr);
        check["unit"] = c.unit;
        check["measured"] = c.what;
        check["message"] = c.message;
        check["seconds"] = c.seconds;
        j["checks"].push_back(check);
    }
    j["safe_state"] = Json{{"reached", r.safeReached}, {"outputs", r.safeSteps}};
    return JsonText(j, 2) + "\n";
}

std::string RunSummary(const RunReport& r) {
    const int failed = r.Failed();
    const int run = static_cast<int>(std::count_if(r.checks.begin(), r.checks.end(), [](auto& c) { return c.ran; }));
    std::string out = "run: ";
    switch (r.outcome) {
    case RunOutcome::Passed:
        out += "PASS (" + std::to_string(r.checks.size()) + " checks)";
        break;
    case RunOutcome::Failed:
        out += "FAIL (" + std::to_string(failed) + " of " + std::to_string(r.checks.size()) + " checks failed:";
        for (const auto& c : r.checks) {
            if (c.ran && !c.passed && !c.error) out += " " + c.id;
        }
        out += ")";
        break;
    default:
        out += std::string(r.outcome == RunOutcome::Stopped ? "STOPPED" : "CARD ERROR") + ": " + r.fault;
        break;
    }
    out += "\nrun: " + std::to_string(r.steps.size()) + " of " + std::to_string(r.planned) + " steps run, " +
           std::to_string(run) + " of " + std::to_string(r.checks.size()) + " checks measured; safe state " +
           (r.safeReached ? "reached" : "NOT reached") + "\n";
    return out;
}

std::string PlanText(const Plan& plan) {
    std::string out = "plan: " + plan.path + (plan.name.empty() ? "" : " (" + plan.name + ")") + "\n";
    if (plan.setup) out += "setup: " + plan.setup->path + "\n";
    const int width = static_cast<int>(std::to_string(plan.actions.size()).size());
    for (std::size_t i = 0; i < plan.actions.size(); ++i) {
        char head[48];
        std::snprintf(head, sizeof head, "[%*zu/%zu] line %-4d ", width, i + 1, plan.actions.size(),
                      plan.actions[i].line);
        out += head + plan.actions[i].Describe() +
               (plan.actions[i].onFail == mox::recipe::OnFail::Continue ? "  (on fail: continue)" : "") + "\n";
    }
    for (const auto& s : plan.safe) out += "safe state: " + s.text + "\n";
    out += "safe state: every other output the run sets back to 0 V / 0\n";
    out += "plan: " + std::to_string(plan.actions.size()) + " steps, " + std::to_string(plan.Checks()) +
           " checks; the card was not touched\n";
    return out;
}

namespace {

// How each report of ours begins: a file that does not is not replaced.
const char* const kJsonStart = "{\n  \"program\": \"moxctl ";
const char* const kJUnitStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n  <testsuite name=\"moxctl run ";

// The report files named: each checked, before the card is touched.
std::optional<std::string> ReportsFault(const RunOptions& o, const Plan& plan) {
    if (o.dryRun && (!o.json.empty() || !o.junit.empty())) {
        return "--dry-run writes no report: leave out --json and --junit, or --dry-run";
    }
    std::vector<std::pair<std::string, std::string>> taken{{"the recipe", o.recipe}};
    if (plan.setup) {
        taken.emplace_back("the setup file", plan.setup->path);
        taken.emplace_back("the setup's calibration file", plan.setup->calibrationPath);
    }
    if (!o.json.empty()) {
        if (auto fault = ReportPathFault(o.json, kJsonStart, "moxctl run", taken)) return "--json: " + *fault;
        taken.emplace_back("the --json report", o.json);
    }
    if (!o.junit.empty()) {
        if (auto fault = ReportPathFault(o.junit, kJUnitStart, "moxctl run", taken)) return "--junit: " + *fault;
    }
    return std::nullopt;
}

int ExitOf(const RunReport& r) {
    switch (r.outcome) {
    case RunOutcome::Passed:
        return kExitOk;
    case RunOutcome::CardError:
        return kExitUnconfirmed;
    default:
        return kExitFailed;
    }
}

} // namespace

int RunRecipe(const RunOptions& o) {
    auto loaded = mox::recipe::Load(o.recipe);
    if (const auto* e = std::get_if<mox::recipe::Error>(&loaded)) {
        std::fprintf(stderr, "moxctl: %s\n", e->Text().c_str());
        return kExitUsage;
    }
    const Plan& plan = std::get<Plan>(loaded);
    if (const auto fault = ReportsFault(o, plan)) {
        std::fprintf(stderr, "moxctl: %s\n", fault->c_str());
        return kExitUsage;
    }
    if (o.dryRun) {
        std::fputs(PlanText(plan).c_str(), stdout);
        return kExitOk;
    }
    Card card;
    RunReport report = Execute(card, plan, stdout);
    report.program = "moxctl " MOX_VERSION;
    std::fputs(RunSummary(report).c_str(), stdout);
    int result = ExitOf(report);
    for (const auto& [path, text] : {std::pair{o.json, RunJson(report)}, std::pair{o.junit, RunJUnit(report)}}) {
        if (path.empty()) continue;
        if (const auto fault = WriteWhole(path, text)) {
            std::fprintf(stderr, "moxctl: the report was not written: %s\n", fault->c_str());
            if (result == kExitOk) result = kExitFailed;
        }
    }
    return result;
}

} // namespace moxctl
