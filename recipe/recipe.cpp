// SPDX-License-Identifier: GPL-3.0-or-later
#include "recipe.h"

#include "channel_scaling.h"
#include "da_value.h"
#include "toml_reader.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

namespace mox::recipe {

namespace {

// A recipe is a page or two; anything near this is not one.
constexpr int kSupportedVersion = 1;
constexpr int kDigitalBits = 16;

using setup::Refusal;

std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

std::string Hex(int v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", width, static_cast<unsigned>(v));
    return buf;
}

using setup::Quoted;

// "step[2].volts": where in the file a value stands.
std::string Field(const std::string& where, std::string_view key) {
    std::string field = where;
    field += '.';
    field += key;
    return field;
}

// Where the reader is inside the step list: the value of the innermost
// sweep, the pass numbers that make check ids unique, and what a failing
// check does.
struct Context {
    std::optional<double> v;
    std::optional<long long> vWhole; // v, when the list gives it as a whole number
    std::string vNote;               // " (v = 2)", added to a check's text
    std::string suffix;              // "#2#1"
    OnFail onFail = OnFail::Stop;
    int depth = 0;
};

class Reader : public setup::TomlReader {
public:
    Reader(std::string file, Plan& plan) : TomlReader(std::move(file)), plan_(plan) {}

    // A number as written, or the sweep's value for "$v".
    double Number(const toml::node& n, const std::string& field, const Context& c) const {
        if (const auto* s = n.as_string()) {
            if (s->get() != "$v") Refuse(n.source(), field, "must be a number or \"$v\", not " + Quoted(s->get()));
            if (!c.v) Refuse(n.source(), field, "\"$v\" is only known inside a repeat over a list of values");
            return *c.v;
        }
        return TomlReader::Number(n, field);
    }

    // A whole number within [low, high]; "$v" when the sweep's value is one.
    int Integer(const toml::node& n, const std::string& field, long long low, long long high, const Context& c) const {
        long long v = 0;
        if (const auto* i = n.as_integer()) {
            v = i->get();
        } else if (n.is_string()) {
            const double d = Number(n, field, c);
            // 1e3 or 255.0 in the list is a number of another kind: what it
            // stands for here would be a guess.
            if (!c.vWhole) {
                Refuse(n.source(), field,
                       "$v = " + Num(d) +
                           " is not a whole number: a list used here gives whole numbers (1000, not "
                           "1e3 or 1000.0)");
            }
            v = *c.vWhole;
        } else {
            Refuse(n.source(), field, "must be a whole number, not " + TypeName(n));
        }
        if (v < low || v > high) {
            Refuse(n.source(), field,
                   std::to_string(v) + " is outside " + std::to_string(low) + ".." + std::to_string(high) + c.vNote);
        }
        return static_cast<int>(v);
    }

    // Every text of a recipe is shown on one line of a report.
    std::string String(const toml::node& n, const std::string& field) const { return LineText(n, field); }

    OnFail ReadOnFail(const toml::node& n, const std::string& field) const {
        const std::string s = String(n, field);
        if (s == "stop") return OnFail::Stop;
        if (s == "continue") return OnFail::Continue;
        Refuse(n.source(), field, Quoted(s) + " is neither \"stop\" nor \"continue\"");
    }

    Plan& P() const { return plan_; }

private:
    Plan& plan_;
};

// A step's keys by name, each refused unless `allowed` lists it.
using Keys = std::map<std::string, const toml::node*>;

Keys KeysOf(const Reader& r, const toml::table& t, const std::string& where, const std::set<std::string>& allowed,
            const std::string& kind) {
    Keys keys;
    std::string list;
    for (const auto& k : allowed) list += (list.empty() ? "" : ", ") + k;
    const std::string unknown = "unknown key for " + kind + " (" + list + ")";
    for (auto&& [key, value] : t) {
        const std::string k(key.str());
        if (allowed.count(k) == 0) r.Refuse(key.source(), Field(where, k), unknown);
        keys[k] = &value;
    }
    return keys;
}

const toml::node* Get(const Keys& keys, const std::string& k) {
    const auto it = keys.find(k);
    return it == keys.end() ? nullptr : it->second;
}

// "AI4" -> 4 for prefix "AI" and count 32; leading zeros are not a channel's name.
std::optional<int> ChannelIndex(std::string_view key, std::string_view prefix, int count) {
    if (key.size() <= prefix.size() || key.substr(0, prefix.size()) != prefix) return std::nullopt;
    const std::string_view digits = key.substr(prefix.size());
    if (digits.size() > 2 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
    int n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n < count ? std::optional<int>(n) : std::nullopt;
}

// The setup's output (or input) of that name, if the recipe names a setup.
std::optional<int> SetupChannel(const Plan& p, const std::string& name, bool output) {
    if (!p.setup) return std::nullopt;
    const int count = output ? vcard::kDaChannels : vcard::kChannels;
    for (int k = 0; k < count; ++k) {
        const auto& ch =
            output ? p.setup->outputs[static_cast<std::size_t>(k)] : p.setup->inputs[static_cast<std::size_t>(k)];
        if (ch.name == name) return k;
    }
    return std::nullopt;
}

// A name that is a card channel's and the setup's name of another channel
// could mean either: refused where the recipe uses it. `card` is the card
// channel the name stands for (-1 for DO/DI names, which no analog channel has).
void RefuseCrossedName(const Reader& r, const std::string& name, std::optional<int> card, bool output,
                       const toml::source_region& at, const std::string& field) {
    const auto named = SetupChannel(r.P(), name, output);
    if (!card || !named || *card == *named) return;
    const std::string cardName = *card < 0 ? name : name.substr(0, 2) + std::to_string(*card);
    r.Refuse(at, field,
             Quoted(name) + " is both " + cardName + " and the setup's name of " + (output ? "AO" : "AI") +
                 std::to_string(*named) + " (" + r.P().setup->path + "): rename it there");
}

// The analog output a name stands for: DA0..DA3, AO0..AO3 or a setup's name.
std::optional<int> OutputIndex(const Reader& r, const std::string& name, const toml::source_region& at,
                               const std::string& field) {
    auto card = ChannelIndex(name, "DA", vcard::kDaChannels);
    if (!card) card = ChannelIndex(name, "AO", vcard::kDaChannels);
    RefuseCrossedName(r, name, card, true, at, field);
    return card ? card : SetupChannel(r.P(), name, true);
}

// The analog input a name stands for: AI0..AI31 or a setup's name.
std::optional<int> InputIndex(const Reader& r, const std::string& name, const toml::source_region& at,
                              const std::string& field) {
    const auto card = ChannelIndex(name, "AI", vcard::kChannels);
    RefuseCrossedName(r, name, card, false, at, field);
    return card ? card : SetupChannel(r.P(), name, false);
}

// The DA code of a voltage in the plan's range: within the range, or none.
std::optional<int> CodeOfVolts(double volts, bool bipolar) {
    const double low = bipolar ? -5 : 0;
    if (!(volts >= low && volts <= low + vcard::kDaSpanVolts)) return std::nullopt;
    const double exact = volts * vcard::kDaMaxCode / vcard::kDaSpanVolts + (bipolar ? vcard::kDaMidCode : 0);
    return static_cast<int>(std::min<double>(std::nearbyint(exact), vcard::kDaMaxCode));
}

std::string TwoValues(const std::string& first, const std::string& second) {
    return "give one of volts, code or value, not both " + first + " and " + second;
}

// An output's code from one of volts, code or value (its unit), refused
// when the output cannot give it or it gives more than the setup's alarm
// levels allow, as `moxctl da` refuses it.
Output AnalogOutput(const Reader& r, const Keys& keys, int da, const std::string& where, const Context& c) {
    const Plan& p = r.P();
    const toml::node* node = nullptr;
    std::string key;
    for (const char* k : {"volts", "code", "value"}) {
        const toml::node* n = Get(keys, k);
        if (n == nullptr) continue;
        if (node != nullptr) {
            // The one written later is the one named.
            const bool later = n->source().begin > node->source().begin;
            const std::string first = later ? key : k, second = later ? k : key;
            r.Refuse((later ? n : node)->source(), Field(where, second), TwoValues(first, second));
        }
        node = n;
        key = k;
    }
    const std::string field = where + "." + key;
    if (node == nullptr) r.Refuse(keys.begin()->second->source(), where, "missing: volts, code or value");
    const std::string range = p.bipolar ? "bipolar (-5..+5 V)" : "unipolar (0..10 V)";
    Output o{Output::Kind::Da, da, 0, {}};
    const std::string name = "AO" + std::to_string(da);
    if (key == "code") {
        o.value = r.Integer(*node, field, 0, vcard::kDaMaxCode, c);
        o.text = name + " = code " + Hex(o.value, 3);
    } else if (key == "volts") {
        const double v = r.Number(*node, field, c);
        const auto code = CodeOfVolts(v, p.bipolar);
        if (!code) r.Refuse(node->source(), field, Num(v) + " V is outside the " + range + " range" + c.vNote);
        o.value = *code;
        o.text = name + " = " + Num(v) + " V (code " + Hex(o.value, 3) + ")";
    } else {
        if (!p.setup) r.Refuse(node->source(), field, "a value in the output's unit needs a setup file (setup = ...)");
        const auto& ch = p.setup->outputs[static_cast<std::size_t>(da)];
        const double v = r.Number(*node, field, c);
        // The value as written and the code it rounds to, as `moxctl da --value` judges them.
        std::string why;
        const auto code = setup::DaCodeForValue(*p.setup, da, v, p.bipolar, why);
        if (!code) r.Refuse(node->source(), field, why + c.vNote);
        o.value = *code;
        o.text = name + " (" + ch.name + ") = " + Num(v) + " " + ch.unit + " (code " + Hex(o.value, 3) + ")";
    }
    if (std::string why; p.setup && !setup::DaCodeWithinAlarms(*p.setup, da, o.value, p.bipolar, why)) {
        r.Refuse(node->source(), field, why + c.vNote);
    }
    return o;
}

Output DigitalGroup(const Reader& r, const Keys& keys, int group, const std::string& where, const Context& c) {
    const toml::node* n = Get(keys, "byte");
    if (n == nullptr) r.Refuse(keys.begin()->second->source(), where + ".byte", "missing: the group's byte 0..255");
    const int byte = r.Integer(*n, where + ".byte", 0, 0xFF, c);
    return {Output::Kind::DoGroup, group, byte, "DO group " + std::to_string(group) + " = " + Hex(byte, 2)};
}

Output DigitalBit(const Reader& r, const Keys& keys, const std::string& where, const Context& c) {
    const toml::node* b = Get(keys, "bit");
    const toml::node* l = Get(keys, "level");
    if (b == nullptr || l == nullptr) r.Refuse(keys.begin()->second->source(), where, "DO needs bit (1..16) and level");
    const int bit = r.Integer(*b, where + ".bit", 1, kDigitalBits, c);
    const int level = r.Integer(*l, where + ".level", 0, 1, c);
    return {Output::Kind::DoBit, bit, level, "DO" + std::to_string(bit) + " = " + std::to_string(level)};
}

void Push(const Reader& r, const toml::node& at, Action a) {
    if (r.P().actions.size() >= kMaxActions) {
        r.Refuse(at.source(), a.where, "the recipe unrolls to more than " + std::to_string(kMaxActions) + " steps");
    }
    r.P().actions.push_back(std::move(a));
}

Action Base(const toml::node& n, const std::string& where, const Context& c, Action::Kind kind) {
    Action a;
    a.kind = kind;
    a.line = static_cast<int>(n.source().begin.line);
    a.where = where;
    a.onFail = c.onFail;
    return a;
}

// The output a `set` step or a [safe] entry names.
Output ReadOutput(const Reader& r, const std::string& target, const toml::source_region& at, const Keys& keys,
                  const std::string& where, const std::string& targetField, const Context& c) {
    if (target == "DO" || ChannelIndex(target, "DO", 2)) RefuseCrossedName(r, target, -1, true, at, targetField);
    if (target == "DO") return DigitalBit(r, keys, where, c);
    if (const auto g = ChannelIndex(target, "DO", 2)) return DigitalGroup(r, keys, *g, where, c);
    const auto da = OutputIndex(r, target, at, targetField);
    if (!da) {
        r.Refuse(at, targetField,
                 Quoted(target) + " is not an output (DA0..DA3, AO0..AO3, a setup's output name, DO0, DO1 or DO)");
    }
    return AnalogOutput(r, keys, *da, where, c);
}

void ReadSet(const Reader& r, const toml::table& t, const std::string& where, const Context& c) {
    const Keys keys = KeysOf(r, t, where, {"set", "volts", "code", "value", "byte", "bit", "level"}, "a set step");
    const std::string target = r.String(*Get(keys, "set"), where + ".set");
    Action a = Base(t, where, c, Action::Kind::Set);
    a.output = ReadOutput(r, target, Get(keys, "set")->source(), keys, where, where + ".set", c);
    // Keys of another kind of output would be silently ignored.
    const std::set<std::string> own = a.output.kind == Output::Kind::Da
                                          ? std::set<std::string>{"volts", "code", "value"}
                                      : a.output.kind == Output::Kind::DoGroup ? std::set<std::string>{"byte"}
                                                                               : std::set<std::string>{"bit", "level"};
    for (const auto& [k, n] : keys) {
        if (k != "set" && own.count(k) == 0) r.Refuse(n->source(), Field(where, k), "does not apply to " + target);
    }
    Push(r, t, std::move(a));
}

// ---- Conditions: what a check or a `wait until` judges ----

const std::set<std::string> kAnalogKeys{"input", "low", "high", "nominal", "tolerance", "limits", "over", "readings"};
const std::set<std::string> kDiBitKeys{"input", "bit", "level"};
const std::set<std::string> kDiGroupKeys{"input", "pattern", "mask"};

void RefuseOthers(const Reader& r, const Keys& keys, const std::set<std::string>& own, const std::set<std::string>& all,
                  const std::string& where, const std::string& input) {
    for (const auto& [k, n] : keys) {
        if (all.count(k) != 0 && own.count(k) == 0)
            r.Refuse(n->source(), Field(where, k), "does not apply to " + input);
    }
}

// The band of an analog condition: low and/or high, nominal ± tolerance,
// or the setup's warn or alarm levels of the input.
void ReadBand(const Reader& r, const Keys& keys, Condition& cond, const std::string& where, const Context& c) {
    const toml::node* low = Get(keys, "low");
    const toml::node* high = Get(keys, "high");
    const toml::node* nominal = Get(keys, "nominal");
    const toml::node* tolerance = Get(keys, "tolerance");
    const toml::node* limits = Get(keys, "limits");
    const int ways = (low || high ? 1 : 0) + (nominal || tolerance ? 1 : 0) + (limits ? 1 : 0);
    const toml::node& at = *Get(keys, "input");
    if (ways != 1) r.Refuse(at.source(), where, "give one band: low/high, nominal and tolerance, or limits");
    if (low) cond.low = r.Number(*low, where + ".low", c);
    if (high) cond.high = r.Number(*high, where + ".high", c);
    if (nominal || tolerance) {
        if (!nominal || !tolerance) r.Refuse(at.source(), where, "nominal and tolerance go together");
        const double n = r.Number(*nominal, where + ".nominal", c);
        const double t = r.Number(*tolerance, where + ".tolerance", c);
        if (t < 0) r.Refuse(tolerance->source(), where + ".tolerance", "must be 0 or more");
        cond.low = n - t;
        cond.high = n + t;
    }
    if (limits) {
        const std::string which = r.String(*limits, where + ".limits");
        if (which != "warn" && which != "alarm")
            r.Refuse(limits->source(), where + ".limits", "is \"warn\" or \"alarm\"");
        if (!r.P().setup) r.Refuse(limits->source(), where + ".limits", "the setup's limits need a setup file");
        const auto& l = r.P().setup->inputs[static_cast<std::size_t>(cond.input)].limits;
        cond.low = which == "warn" ? l.warnLow : l.alarmLow;
        cond.high = which == "warn" ? l.warnHigh : l.alarmHigh;
        if (!cond.low && !cond.high) {
            r.Refuse(limits->source(), where + ".limits",
                     "the setup gives " + cond.inputName + " no " + which + "_low or " + which + "_high");
        }
    }
    if (cond.low && cond.high && *cond.low > *cond.high) {
        r.Refuse(at.source(), where, "the band " + Num(*cond.low) + ".." + Num(*cond.high) + " is empty" + c.vNote);
    }
}

void ReadOver(const Reader& r, const Keys& keys, Condition& cond, const std::string& where, const Context& c) {
    const toml::node* over = Get(keys, "over");
    const toml::node* readings = Get(keys, "readings");
    if (over == nullptr) {
        if (readings) {
            r.Refuse(readings->source(), where + ".readings", "give over = \"mean\", \"min\", \"max\" or \"all\" too");
        }
        return;
    }
    const std::string o = r.String(*over, where + ".over");
    if (o == "one") {
        cond.over = Condition::Over::One;
    } else if (o == "mean") {
        cond.over = Condition::Over::Mean;
    } else if (o == "min") {
        cond.over = Condition::Over::Min;
    } else if (o == "max") {
        cond.over = Condition::Over::Max;
    } else if (o == "all") {
        cond.over = Condition::Over::All;
    } else {
        r.Refuse(over->source(), where + ".over", Quoted(o) + " is not one, mean, min, max or all");
    }
    if (cond.over == Condition::Over::One) {
        if (readings) r.Refuse(readings->source(), where + ".readings", "one reading is taken with over = \"one\"");
        return;
    }
    if (readings == nullptr) r.Refuse(over->source(), where + ".readings", "missing: how many readings (2..1000)");
    cond.readings = r.Integer(*readings, where + ".readings", 2, kMaxReadings, c);
}

Condition ReadCondition(const Reader& r, const Keys& keys, const std::string& where, const Context& c) {
    const toml::node* in = Get(keys, "input");
    if (in == nullptr) r.Refuse(keys.begin()->second->source(), where + ".input", "missing: the input to judge");
    const std::string input = r.String(*in, where + ".input");
    std::set<std::string> all = kAnalogKeys;
    all.insert(kDiBitKeys.begin(), kDiBitKeys.end());
    all.insert(kDiGroupKeys.begin(), kDiGroupKeys.end());
    Condition cond;
    if (input == "DI" || ChannelIndex(input, "DI", 2))
        RefuseCrossedName(r, input, -1, false, in->source(), where + ".input");
    if (input == "DI") {
        RefuseOthers(r, keys, kDiBitKeys, all, where, input);
        cond.kind = Condition::Kind::DiBit;
        if (Get(keys, "bit") == nullptr || Get(keys, "level") == nullptr)
            r.Refuse(in->source(), where, "DI needs bit (1..16) and level");
        cond.input = r.Integer(*Get(keys, "bit"), where + ".bit", 1, kDigitalBits, c);
        cond.expected = r.Integer(*Get(keys, "level"), where + ".level", 0, 1, c);
        cond.inputName = "DI" + std::to_string(cond.input);
        return cond;
    }
    if (const auto g = ChannelIndex(input, "DI", 2)) {
        RefuseOthers(r, keys, kDiGroupKeys, all, where, input);
        cond.kind = Condition::Kind::DiGroup;
        cond.input = *g;
        if (Get(keys, "pattern") == nullptr)
            r.Refuse(in->source(), where + ".pattern", "missing: the group's byte 0..255");
        cond.expected = r.Integer(*Get(keys, "pattern"), where + ".pattern", 0, 0xFF, c);
        // A mask of 0 would pass whatever the inputs read.
        if (const toml::node* m = Get(keys, "mask")) cond.mask = r.Integer(*m, where + ".mask", 1, 0xFF, c);
        if ((cond.expected & ~cond.mask) != 0) {
            r.Refuse(Get(keys, "pattern")->source(), where + ".pattern", "has bits that the mask leaves out");
        }
        cond.inputName = "DI group " + std::to_string(*g);
        return cond;
    }
    RefuseOthers(r, keys, kAnalogKeys, all, where, input);
    const auto ai = InputIndex(r, input, in->source(), where + ".input");
    if (!ai) {
        r.Refuse(in->source(), where + ".input",
                 Quoted(input) + " is not an input (AI0..AI31, a setup's input name, DI0, DI1 or DI)");
    }
    cond.input = *ai;
    cond.inputName = input;
    cond.unit = r.P().setup ? r.P().setup->inputs[static_cast<std::size_t>(*ai)].unit : "V";
    ReadBand(r, keys, cond, where, c);
    ReadOver(r, keys, cond, where, c);
    return cond;
}

// ---- Steps ----

// Check ids, each named once in the file (a repeat reads its steps again).
using Ids = std::map<std::string, std::pair<std::size_t, std::size_t>>;

// An id taken by the step at `at`; refused when another step has it (a
// repeat reading the same step again is the same step).
void Claim(const Reader& r, Ids& ids, const std::string& id, const toml::source_region& at, const std::string& field,
           const std::string& hint) {
    const std::pair<std::size_t, std::size_t> here{at.begin.line, at.begin.column};
    const auto [it, added] = ids.emplace(id, here);
    if (!added && it->second != here) {
        r.Refuse(at, field,
                 Quoted(id) + " is already the id of the step on line " + std::to_string(it->second.first) + hint);
    }
}

std::string ReadId(const Reader& r, const toml::node& n, const std::string& field, Ids& ids) {
    std::string id = r.String(n, field);
    const auto ok = [](char ch) {
        return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_' ||
               ch == '-' || ch == '.';
    };
    if (id.empty() || id.size() > 100 || !std::all_of(id.begin(), id.end(), ok)) {
        r.Refuse(n.source(), field, Quoted(id) + " is not an id: 1..100 letters, digits, _ - or .");
    }
    Claim(r, ids, id, n.source(), field, "");
    return id;
}

std::set<std::string> WithCondition(std::set<std::string> keys) {
    keys.insert(kAnalogKeys.begin(), kAnalogKeys.end());
    keys.insert(kDiBitKeys.begin(), kDiBitKeys.end());
    keys.insert(kDiGroupKeys.begin(), kDiGroupKeys.end());
    return keys;
}

void ReadCheck(const Reader& r, const toml::table& t, const std::string& where, const Context& c, Ids& ids) {
    const Keys keys = KeysOf(r, t, where, WithCondition({"check", "text", "on_fail"}), "a check step");
    Action a = Base(t, where, c, Action::Kind::Check);
    if (const toml::node* f = Get(keys, "on_fail")) a.onFail = r.ReadOnFail(*f, where + ".on_fail");
    a.id = ReadId(r, *Get(keys, "check"), where + ".check", ids) + c.suffix;
    const toml::node* text = Get(keys, "text");
    if (text == nullptr) r.Refuse(t.source(), where + ".text", "missing: what the check shows in the report");
    a.text = r.String(*text, where + ".text") + c.vNote;
    a.condition = ReadCondition(r, keys, where, c);
    Push(r, t, std::move(a));
}

// A wait's or timeout's seconds, counted into the plan's total.
double Seconds(const Reader& r, const toml::node& n, const std::string& field, const Context& c) {
    const double s = r.Number(n, field, c);
    if (!(s > 0 && s <= kMaxSeconds)) r.Refuse(n.source(), field, Num(s) + " s is not above 0 and at most a day");
    double& total = r.P().plannedSeconds;
    if (total + s > kMaxTotalSeconds) {
        r.Refuse(n.source(), field,
                 "the waits and timeouts of the recipe add up to more than 24 h here (" + Num(total + s) + " s)" +
                     c.vNote);
    }
    total += s;
    return s;
}

void ReadWait(const Reader& r, const toml::table& t, const std::string& where, const Context& c, Ids& ids) {
    const toml::node& w = *t.get("wait");
    if (!w.is_string() || w.as_string()->get() != "until") {
        KeysOf(r, t, where, {"wait"}, "a fixed wait (wait = SECONDS; wait = \"until\" for a condition)");
        Action a = Base(t, where, c, Action::Kind::Wait);
        if (w.is_string() && w.as_string()->get() != "$v") {
            r.Refuse(w.source(), where + ".wait", "is seconds, or \"until\" with a condition and a timeout");
        }
        a.seconds = Seconds(r, w, where + ".wait", c);
        Push(r, t, std::move(a));
        return;
    }
    const Keys keys = KeysOf(r, t, where, WithCondition({"wait", "timeout", "id", "text", "on_fail"}), "a wait until");
    Action a = Base(t, where, c, Action::Kind::WaitUntil);
    if (const toml::node* f = Get(keys, "on_fail")) a.onFail = r.ReadOnFail(*f, where + ".on_fail");
    const toml::node* timeout = Get(keys, "timeout");
    if (timeout == nullptr) r.Refuse(t.source(), where + ".timeout", "missing: how long to wait at most, seconds");
    a.seconds = Seconds(r, *timeout, where + ".timeout", c);
    if (const toml::node* id = Get(keys, "id")) {
        a.id = ReadId(r, *id, where + ".id", ids) + c.suffix;
    } else {
        const std::string taken = "wait_line" + std::to_string(a.line);
        Claim(r, ids, taken, t.source(), where + ".id", ", the id this wait takes without one: give it an id");
        a.id = taken + c.suffix;
    }
    if (const toml::node* text = Get(keys, "text")) a.text = r.String(*text, where + ".text") + c.vNote;
    a.condition = ReadCondition(r, keys, where, c);
    if (a.text.empty()) a.text = "wait until " + a.condition.inputName + " " + a.condition.LimitsText() + c.vNote;
    Push(r, t, std::move(a));
}

void ReadSteps(const Reader& r, const toml::node& list, const std::string& where, const Context& c, Ids& ids);

void ReadRepeat(const Reader& r, const toml::table& t, const std::string& where, Context c, Ids& ids) {
    const Keys keys = KeysOf(r, t, where, {"repeat", "step", "on_fail"}, "a repeat");
    if (c.depth + 1 > kMaxDepth) {
        r.Refuse(t.source(), where + ".repeat", "repeats nest " + std::to_string(kMaxDepth) + " deep at most");
    }
    if (const toml::node* f = Get(keys, "on_fail")) c.onFail = r.ReadOnFail(*f, where + ".on_fail");
    const toml::node* steps = Get(keys, "step");
    if (steps == nullptr)
        r.Refuse(t.source(), where + ".step", "missing: the steps to repeat, as [[" + where + ".step]]");
    const toml::node& n = *Get(keys, "repeat");
    const std::string field = where + ".repeat";
    // Each pass's value, and the value as a whole number when the list writes it as one.
    std::vector<std::optional<std::pair<double, std::optional<long long>>>> passes;
    if (const auto* values = n.as_array()) {
        if (values->empty() || values->size() > static_cast<std::size_t>(kMaxRepeat)) {
            r.Refuse(n.source(), field, "a list of 1.." + std::to_string(kMaxRepeat) + " values");
        }
        for (const auto& v : *values) {
            const double d = r.Number(v, field, Context{});
            const auto* i = v.as_integer();
            passes.emplace_back(std::pair{d, i ? std::optional<long long>(i->get()) : std::nullopt});
        }
    } else {
        const int count = r.Integer(n, field, 1, kMaxRepeat, c);
        passes.assign(static_cast<std::size_t>(count), std::nullopt);
    }
    ++c.depth;
    const std::string suffix = c.suffix;
    for (std::size_t i = 0; i < passes.size(); ++i) {
        Context inner = c;
        inner.suffix = suffix + "#" + std::to_string(i + 1);
        if (passes[i]) {
            inner.v = passes[i]->first;
            inner.vWhole = passes[i]->second;
            inner.vNote = " (v = " + Num(passes[i]->first) + ")";
        }
        ReadSteps(r, *steps, where + ".step", inner, ids);
    }
}

void ReadStep(const Reader& r, const toml::node& n, const std::string& where, const Context& c, Ids& ids) {
    const toml::table& t = r.Table(n, where);
    const char* kinds[] = {"set", "wait", "check", "repeat"};
    const char* kind = nullptr;
    for (const char* k : kinds) {
        const toml::node* v = t.get(k);
        if (v == nullptr) continue;
        if (kind != nullptr)
            r.Refuse(v->source(), where + "." + k,
                     std::string("a step is one of set, wait, check or repeat, not ") + kind + " and " + k);
        kind = k;
    }
    if (kind == nullptr) r.Refuse(t.source(), where, "a step needs one of set, wait, check or repeat");
    const std::string k = kind;
    if (k == "set") {
        ReadSet(r, t, where, c);
    } else if (k == "wait") {
        ReadWait(r, t, where, c, ids);
    } else if (k == "check") {
        ReadCheck(r, t, where, c, ids);
    } else {
        ReadRepeat(r, t, where, c, ids);
    }
}

void ReadSteps(const Reader& r, const toml::node& list, const std::string& where, const Context& c, Ids& ids) {
    const auto* steps = list.as_array();
    if (steps == nullptr || steps->empty())
        r.Refuse(list.source(), where, "must be one or more [[" + where + "]] tables");
    for (std::size_t i = 0; i < steps->size(); ++i) {
        ReadStep(r, *steps->get(i), where + "[" + std::to_string(i + 1) + "]", c, ids);
    }
}

// ---- The file ----

void ReadSafe(const Reader& r, const toml::node& n) {
    for (auto&& [key, value] : r.Table(n, "safe")) {
        const std::string target(key.str());
        const std::string where = "safe." + target;
        if (target == "DO") r.Refuse(key.source(), where, "name a group, DO0 or DO1, with its byte");
        Keys keys;
        if (value.is_table()) {
            keys = KeysOf(r, *value.as_table(), where, {"volts", "code", "value"}, "an output's safe value");
        } else if (ChannelIndex(target, "DO", 2)) {
            keys["byte"] = &value;
        } else {
            keys["volts"] = &value;
        }
        if (keys.empty()) r.Refuse(value.source(), where, "give volts, code or value");
        const Output o = ReadOutput(r, target, key.source(), keys, where, where, Context{});
        for (const auto& s : r.P().safe) {
            if (s.kind == o.kind && s.channel == o.channel)
                r.Refuse(key.source(), where, "names an output named before");
        }
        r.P().safe.push_back(o);
    }
}

std::string Beside(const std::string& recipePath, const std::string& relative) {
    const std::filesystem::path p(relative);
    if (p.is_absolute()) return relative;
    return (std::filesystem::path(recipePath).parent_path() / p).string();
}

void ReadHeader(const Reader& r, const toml::table& root) {
    Plan& p = r.P();
    const toml::node* v = root.get("version");
    if (v == nullptr) r.Refuse(root.source(), "version", "missing: the file starts with version = 1");
    if (!v->is_integer() || v->as_integer()->get() != kSupportedVersion) {
        r.Refuse(v->source(), "version", "this program reads version = 1");
    }
    if (const toml::node* n = root.get("name")) p.name = r.String(*n, "name");
    if (const toml::node* n = root.get("range")) {
        const std::string range = r.String(*n, "range");
        if (range != "bipolar" && range != "unipolar") r.Refuse(n->source(), "range", "is \"bipolar\" or \"unipolar\"");
        p.bipolar = range == "bipolar";
    }
    if (const toml::node* n = root.get("setup")) {
        const std::string path = r.String(*n, "setup");
        if (path.empty()) r.Refuse(n->source(), "setup", "is empty: name a setup file or leave the key out");
        auto loaded = setup::Load(Beside(r.File(), path));
        if (auto* e = std::get_if<Error>(&loaded)) r.Refuse(n->source(), "setup", e->Text());
        p.setup = std::move(std::get<setup::Setup>(loaded));
    }
}

Plan ReadPlan(std::string_view text, const std::string& sourceName) {
    Plan plan;
    plan.path = sourceName;
    const Reader r(sourceName, plan);
    const toml::table root = setup::ParseToml(text, sourceName);
    const std::set<std::string> known{"version", "name", "setup", "range", "on_fail", "safe", "step"};
    for (auto&& [key, value] : root) {
        if (known.count(std::string(key.str())) == 0) {
            r.Refuse(key.source(), std::string(key.str()),
                     "unknown key (version, name, setup, range, on_fail, safe, step)");
        }
    }
    ReadHeader(r, root);
    Context c;
    if (const toml::node* f = root.get("on_fail")) c.onFail = r.ReadOnFail(*f, "on_fail");
    if (const toml::node* s = root.get("safe")) ReadSafe(r, *s);
    const toml::node* steps = root.get("step");
    if (steps == nullptr) r.Refuse(root.source(), "step", "missing: the recipe's steps, as [[step]] tables");
    Ids ids;
    ReadSteps(r, *steps, "step", c, ids);
    return plan;
}

std::string OverText(const Condition& c) {
    switch (c.over) {
    case Condition::Over::Mean:
        return " mean of " + std::to_string(c.readings);
    case Condition::Over::Min:
        return " min of " + std::to_string(c.readings);
    case Condition::Over::Max:
        return " max of " + std::to_string(c.readings);
    case Condition::Over::All:
        return " worst of " + std::to_string(c.readings);
    default:
        return "";
    }
}

} // namespace

std::string Condition::LimitsText() const {
    switch (kind) {
    case Kind::DiBit:
        return "= " + std::to_string(expected);
    case Kind::DiGroup:
        return "= " + Hex(expected, 2) + (mask == 0xFF ? std::string() : " (mask " + Hex(mask, 2) + ")");
    default:
        break;
    }
    if (low && high) return Num(*low) + ".." + Num(*high) + " " + unit;
    if (low) return ">= " + Num(*low) + " " + unit;
    return "<= " + Num(*high) + " " + unit;
}

bool Condition::Passes(double value) const {
    switch (kind) {
    case Kind::DiBit:
        return value == expected;
    case Kind::DiGroup:
        return value >= 0 && value <= 0xFF && (static_cast<int>(value) & mask) == expected;
    default:
        return std::isfinite(value) && (!low || value >= *low) && (!high || value <= *high);
    }
}

double Condition::Judged(const std::vector<double>& values) const {
    if (values.empty()) return std::nan("");
    switch (over) {
    case Over::Mean: {
        double sum = 0;
        for (const double x : values) sum += x;
        return sum / static_cast<double>(values.size());
    }
    case Over::Min:
        return *std::min_element(values.begin(), values.end());
    case Over::Max:
        return *std::max_element(values.begin(), values.end());
    case Over::All: {
        // How far out of the band a reading lies; negative inside it.
        const auto out = [this](double x) {
            return std::max(low ? *low - x : -HUGE_VAL, high ? x - *high : -HUGE_VAL);
        };
        double worst = values.front();
        for (const double x : values) {
            if (std::isnan(x)) return x;
            if (out(x) > out(worst)) worst = x;
        }
        return worst;
    }
    default:
        return values.front();
    }
}

std::string Action::Describe() const {
    switch (kind) {
    case Kind::Set:
        return "set " + output.text;
    case Kind::Wait:
        return "wait " + Num(seconds) + " s";
    case Kind::WaitUntil:
        return "wait until " + condition.inputName + OverText(condition) + " " + condition.LimitsText() + " (timeout " +
               Num(seconds) + " s) [" + id + "]";
    default:
        return "check " + id + ": " + condition.inputName + OverText(condition) + " " + condition.LimitsText();
    }
}

int Plan::Checks() const {
    int n = 0;
    for (const auto& a : actions) n += a.kind == Action::Kind::Check || a.kind == Action::Kind::WaitUntil ? 1 : 0;
    return n;
}

bool Plan::NeedsAcquisition() const {
    for (const auto& a : actions) {
        const bool judged = a.kind == Action::Kind::Check || a.kind == Action::Kind::WaitUntil;
        if (judged && a.condition.kind == Condition::Kind::Analog) return true;
    }
    return false;
}

Output Zero(const Output& written, bool bipolar) {
    Output o = written;
    switch (written.kind) {
    case Output::Kind::Da:
        o.value = bipolar ? vcard::kDaMidCode : 0;
        o.text = "AO" + std::to_string(o.channel) + " = 0 V (code " + Hex(o.value, 3) + ")";
        break;
    case Output::Kind::DoGroup:
        o.value = 0;
        o.text = "DO group " + std::to_string(o.channel) + " = 00";
        break;
    case Output::Kind::DoBit:
        o.value = 0;
        o.text = "DO" + std::to_string(o.channel) + " = 0";
        break;
    }
    return o;
}

std::variant<Plan, Error> Parse(std::string_view text, const std::string& sourceName) {
    try {
        return ReadPlan(text, sourceName);
    } catch (const Refusal& r) {
        return r.error;
    }
}

std::variant<Plan, Error> Load(const std::string& path) {
    if (setup::BreaksLine(path))
        return Error{path, 0, 0, "", "the file's name has control or line-breaking characters"};
    std::string text;
    if (const auto fault = setup::ReadFile(path, "a recipe", text)) return Error{path, 0, 0, "", *fault};
    return Parse(text, path);
}

} // namespace mox::recipe
