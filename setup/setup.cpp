// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup.h"

#include "sha256.h"
#include "toml_reader.h"

#include <toml++/toml.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

namespace mox::setup {

// Control characters (C0, DEL, C1), the Unicode line and paragraph
// separators and the direction controls, in UTF-8.
bool BreaksLine(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        const auto next = [&](std::size_t k) {
            return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
        };
        if (u < 0x20 || u == 0x7F) return true;
        if (u == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) return true; // U+0080..U+009F
        if (u != 0xE2) continue;
        const unsigned b1 = next(1), b2 = next(2);
        if (b1 == 0x80 && ((b2 >= 0x8E && b2 <= 0x8F) || (b2 >= 0xA8 && b2 <= 0xAE))) return true; // 200E/F, 2028..202E
        if (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9) return true;                                   // 2066..2069
    }
    return false;
}

namespace {

// A setup or calibration file is a few kilobytes; anything near this is
// not one, and is not read into memory whole.

constexpr int kSupportedVersion = 1;

// "AI4.scale": where in the file a value stands.
std::string Field(const std::string& table, const std::string& key) {
    std::string field = table;
    field += '.';
    field += key;
    return field;
}

std::string NumberText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

// "AI4" -> 4 for prefix "AI" and count 32; none for anything else,
// leading zeros ("AI04") included, so that each channel has one name.
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

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool ValidDate(int y, int m, int d) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    return d <= kDays[m - 1] + (m == 2 && LeapYear(y) ? 1 : 0);
}

bool ValidName(std::string_view name) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (name.empty() || !letter(name[0])) return false;
    for (const char c : name) {
        if (!letter(c) && !(c >= '0' && c <= '9')) return false;
    }
    return true;
}

// What in a unit would break a CSV column or its "name[unit]" heading.
std::optional<std::string> UnitFault(std::string_view unit) {
    if (unit.empty()) return "is empty (leave the key out for volts)";
    for (const char c : unit) {
        if (c == ',' || c == '"' || c == '[' || c == ']') return std::string("may not contain ") + Quoted({&c, 1});
    }
    if (BreaksLine(unit)) return "may not contain control, line-breaking or direction characters";
    return std::nullopt;
}

// Gains and offsets a sensor's scaling can have: every value of the chain
// from ±5 V through a calibration and a scaling then stays far inside what
// a reading (single precision) can hold, and an output's inverse is finite.
constexpr double kMaxScale = 1e12;
constexpr double kMinGain = 1e-12;

// Reads one parsed file's nodes, each fault thrown as a Refusal that names
// the node's place.
class Reader : public TomlReader {
public:
    using TomlReader::TomlReader;

    // A gain or offset within what a sensor's scaling can be (kMaxScale).
    void CheckLine(const toml::node& n, const std::string& field, const vcard::Linear& line) const {
        const double g = std::fabs(line.gain);
        if (g > kMaxScale || g < kMinGain)
            Refuse(n.source(), field, "the gain " + NumberText(line.gain) + " is not between 1e-12 and 1e12 in size");
        if (std::fabs(line.offset) > kMaxScale)
            Refuse(n.source(), field, "the offset " + NumberText(line.offset) + " is beyond ±1e12");
    }

    // "2026-11-01", as a TOML date or a text.
    std::string Date(const toml::node& n, const std::string& field) const {
        int y = 0, m = 0, d = 0;
        if (const auto* date = n.as_date()) {
            y = date->get().year;
            m = date->get().month;
            d = date->get().day;
        } else if (n.is_date_time() || n.is_time()) {
            Refuse(n.source(), field, "must be a date alone, YYYY-MM-DD, not a time");
        } else {
            const std::string s = String(n, field);
            const auto digits = [&s](std::size_t from, std::size_t count) {
                int v = 0;
                for (std::size_t i = from; i < from + count; ++i) {
                    if (s[i] < '0' || s[i] > '9') return -1;
                    v = v * 10 + (s[i] - '0');
                }
                return v;
            };
            if (s.size() != 10 || s[4] != '-' || s[7] != '-')
                Refuse(n.source(), field, Quoted(s) + " is not a date YYYY-MM-DD");
            y = digits(0, 4);
            m = digits(5, 2);
            d = digits(8, 2);
        }
        if (!ValidDate(y, m, d)) Refuse(n.source(), field, "is not a date of the calendar");
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
        return buf;
    }
};

// Scaling given as two points (volts, value): the line through them.
vcard::Linear FromPoints(const Reader& r, const toml::node& n, const std::string& field) {
    const auto* list = n.as_array();
    const auto point = [&](std::size_t i) {
        const auto* p = list->get(i)->as_array();
        if (p == nullptr || p->size() != 2) r.Refuse(list->get(i)->source(), field, "a point is [volts, value]");
        return std::pair{r.Number(*p->get(0), field), r.Number(*p->get(1), field)};
    };
    if (list == nullptr || list->size() != 2) r.Refuse(n.source(), field, "must be two points [[v1, e1], [v2, e2]]");
    const auto [v1, e1] = point(0);
    const auto [v2, e2] = point(1);
    if (v1 == v2) r.Refuse(n.source(), field, "the two points are equal");
    const double gain = (e2 - e1) / (v2 - v1);
    if (gain == 0) r.Refuse(n.source(), field, "both points give the same value: the gain would be 0");
    const vcard::Linear line{gain, e1 - gain * v1};
    if (!std::isfinite(line.gain) || !std::isfinite(line.offset)) r.Refuse(n.source(), field, "the line is too steep");
    r.CheckLine(n, field, line);
    return line;
}

vcard::Linear FromGainOffset(const Reader& r, const toml::node& n, const std::string& field) {
    vcard::Linear line;
    for (auto&& [key, value] : r.Table(n, field)) {
        if (key.str() == "gain") {
            line.gain = r.Number(value, field + ".gain");
        } else if (key.str() == "offset") {
            line.offset = r.Number(value, field + ".offset");
        } else {
            r.Refuse(key.source(), field + "." + std::string(key.str()), "unknown key (gain, offset)");
        }
    }
    if (line.gain == 0) r.Refuse(n.source(), field + ".gain", "is 0: every reading would give the same value");
    r.CheckLine(n, field, line);
    return line;
}

// The levels in order: alarm_low <= warn_low < warn_high <= alarm_high, for
// those given.
void CheckLimitOrder(const Reader& r, const Limits& l, const std::map<std::string, toml::source_region>& at,
                     const std::string& id) {
    const std::pair<const char*, std::optional<double>> levels[] = {
        {"alarm_low", l.alarmLow}, {"warn_low", l.warnLow}, {"warn_high", l.warnHigh}, {"alarm_high", l.alarmHigh}};
    for (int j = 1; j < 4; ++j) {
        for (int i = 0; i < j; ++i) {
            const auto& [lowName, low] = levels[i];
            const auto& [highName, high] = levels[j];
            if (!low || !high) continue;
            const bool strict = i < 2 && j >= 2;
            if (strict ? *low < *high : *low <= *high) continue;
            r.Refuse(at.at(highName), id + "." + highName,
                     NumberText(*high) + " must be " + (strict ? "above " : "at or above ") + lowName + " " +
                         NumberText(*low));
        }
    }
}

struct ChannelPlaces {
    toml::source_region table, name;
};

bool ReadLimitKey(const Reader& r, Limits& l, std::string_view key, const toml::node& value, const std::string& f) {
    if (key == "alarm_low") {
        l.alarmLow = r.Number(value, f);
    } else if (key == "warn_low") {
        l.warnLow = r.Number(value, f);
    } else if (key == "warn_high") {
        l.warnHigh = r.Number(value, f);
    } else if (key == "alarm_high") {
        l.alarmHigh = r.Number(value, f);
    } else if (key == "hysteresis") {
        l.hysteresis = r.Number(value, f);
        if (l.hysteresis < 0) r.Refuse(value.source(), f, "must be 0 or more");
    } else {
        return false;
    }
    return true;
}

Channel ReadChannel(const Reader& r, const toml::node& node, const std::string& id, ChannelPlaces& places) {
    Channel c;
    c.given = true;
    places.table = node.source();
    std::map<std::string, toml::source_region> at;
    std::optional<std::pair<toml::key, const toml::node*>> scaling;
    for (auto&& [key, value] : r.Table(node, id)) {
        const std::string k(key.str());
        const std::string field = Field(id, k);
        at[k] = value.source();
        if (k == "name") {
            c.name = r.String(value, field);
            places.name = value.source();
            if (!ValidName(c.name))
                r.Refuse(value.source(), field,
                         Quoted(c.name) + " is not a name: letters, digits and _, not first a digit");
        } else if (k == "unit") {
            c.unit = r.String(value, field);
            if (const auto fault = UnitFault(c.unit)) r.Refuse(value.source(), field, "the unit " + *fault);
        } else if (k == "scale" || k == "points") {
            // Keys come in name order: the one written later is the one named.
            if (scaling) {
                const bool thisLater = key.source().begin > scaling->first.source().begin;
                const toml::key& later = thisLater ? key : scaling->first;
                r.Refuse(later.source(), id + "." + std::string(later.str()), "give either scale or points, not both");
            }
            scaling.emplace(key, &value);
            c.scale = k == "scale" ? FromGainOffset(r, value, field) : FromPoints(r, value, field);
        } else if (!ReadLimitKey(r, c.limits, k, value, field)) {
            r.Refuse(key.source(), field,
                     "unknown key (name, unit, scale, points, alarm_low, warn_low, warn_high, alarm_high, "
                     "hysteresis)");
        }
    }
    CheckLimitOrder(r, c.limits, at, id);
    return c;
}

std::string InputId(int k) { return "AI" + std::to_string(k); }
std::string OutputId(int k) { return "AO" + std::to_string(k); }

std::string DefaultInputName(int k) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "AI%02d", k);
    return buf;
}

void FillDefaults(Setup& s) {
    for (int k = 0; k < vcard::kChannels; ++k) {
        auto& c = s.inputs[static_cast<std::size_t>(k)];
        if (c.name.empty()) c.name = DefaultInputName(k);
        if (c.unit.empty()) c.unit = "V";
    }
    for (int k = 0; k < vcard::kDaChannels; ++k) {
        auto& c = s.outputs[static_cast<std::size_t>(k)];
        if (c.name.empty()) c.name = OutputId(k);
        if (c.unit.empty()) c.unit = "V";
    }
}

// Every channel's name, given or not, names one channel only: the columns
// and the limits' messages go by it.
void CheckNamesUnique(const Reader& r, const Setup& s, const std::map<std::string, ChannelPlaces>& places) {
    std::map<std::string, std::string> owner; // name -> channel, given names only
    const auto given = [&](const Channel& c, const std::string& id) {
        if (!c.given || places.at(id).name.begin.line == 0) return;
        const auto [it, added] = owner.emplace(c.name, id);
        if (!added)
            r.Refuse(places.at(id).name, id + ".name", Quoted(c.name) + " is already the name of " + it->second);
    };
    // A channel left unnamed goes by its own default ("AI05"): a name given
    // to another channel may not take it.
    const auto unnamed = [&](const Channel& c, const std::string& id) {
        const auto it = owner.find(c.name);
        if (it == owner.end() || (c.given && places.at(id).name.begin.line != 0)) return;
        r.Refuse(places.at(it->second).name, it->second + ".name",
                 Quoted(c.name) + " is the name of " + id + ", which is not named otherwise");
    };
    const auto each = [&s](const auto& check) {
        for (int k = 0; k < vcard::kChannels; ++k) check(s.inputs[static_cast<std::size_t>(k)], InputId(k));
        for (int k = 0; k < vcard::kDaChannels; ++k) check(s.outputs[static_cast<std::size_t>(k)], OutputId(k));
    };
    each(given);
    each(unnamed);
}

const toml::node& RequireVersion(const Reader& r, const toml::table& root) {
    const toml::node* v = root.get("version");
    if (v == nullptr) r.Refuse(root.source(), "version", "missing: the file starts with version = 1");
    const auto* i = v->as_integer();
    if (i == nullptr) r.Refuse(v->source(), "version", "must be the whole number 1, not " + Reader::TypeName(*v));
    if (i->get() != kSupportedVersion) {
        r.Refuse(v->source(), "version",
                 "version " + std::to_string(i->get()) + " is not supported: this program reads version 1");
    }
    return *v;
}

// The setup's own tables; the calibration file's path as written.
Setup ReadSetup(std::string_view text, const std::string& sourceName, toml::source_region& calibrationAt) {
    const Reader r(sourceName);
    const toml::table root = ParseToml(text, sourceName);
    RequireVersion(r, root);
    Setup s;
    s.path = sourceName;
    s.digest = Sha256Hex(text);
    std::map<std::string, ChannelPlaces> places;
    for (auto&& [key, value] : root) {
        const std::string k(key.str());
        if (k == "version") continue;
        if (k == "calibration") {
            s.calibrationPath = r.String(value, k);
            if (s.calibrationPath.empty()) r.Refuse(value.source(), k, "is empty: name a calibration file");
            calibrationAt = value.source();
        } else if (const auto in = ChannelIndex(k, "AI", vcard::kChannels)) {
            s.inputs[static_cast<std::size_t>(*in)] = ReadChannel(r, value, k, places[k]);
        } else if (const auto out = ChannelIndex(k, "AO", vcard::kDaChannels)) {
            s.outputs[static_cast<std::size_t>(*out)] = ReadChannel(r, value, k, places[k]);
        } else {
            r.Refuse(key.source(), k,
                     "unknown " + std::string(value.is_table() ? "table" : "key") +
                         " (version, calibration, AI0..AI31, AO0..AO3)");
        }
    }
    FillDefaults(s);
    CheckNamesUnique(r, s, places);
    return s;
}

Calibration ReadCalibrationTable(const Reader& r, const toml::node& node, const std::string& id) {
    Calibration c;
    std::map<std::string, toml::source_region> at;
    for (auto&& [key, value] : r.Table(node, id)) {
        const std::string k(key.str());
        const std::string field = Field(id, k);
        at[k] = value.source();
        if (k == "gain") {
            c.correction.gain = r.Number(value, field);
            if (c.correction.gain == 0)
                r.Refuse(value.source(), field, "is 0: every reading would give the same value");
        } else if (k == "offset") {
            c.correction.offset = r.Number(value, field);
        } else if (k == "date") {
            c.date = r.Date(value, field);
        } else if (k == "due") {
            c.due = r.Date(value, field);
        } else if (k == "operator") {
            c.operatorName = r.LineText(value, field);
        } else if (k == "card") {
            c.cardIdentity = r.LineText(value, field);
        } else {
            r.Refuse(key.source(), field, "unknown key (gain, offset, date, due, operator, card)");
        }
    }
    for (const char* required : {"gain", "offset", "date", "due"}) {
        if (at.count(required) == 0) r.Refuse(node.source(), id + "." + required, "missing");
    }
    if (c.due < c.date) r.Refuse(at.at("due"), id + ".due", c.due + " is before the calibration's date " + c.date);
    r.CheckLine(node, id, c.correction);
    return c;
}

void ReadCalibration(std::string_view text, const std::string& sourceName, Setup& s) {
    const Reader r(sourceName);
    const toml::table root = ParseToml(text, sourceName);
    RequireVersion(r, root);
    for (auto&& [key, value] : root) {
        const std::string k(key.str());
        if (k == "version") continue;
        if (const auto in = ChannelIndex(k, "AI", vcard::kChannels)) {
            s.inputs[static_cast<std::size_t>(*in)].calibration = ReadCalibrationTable(r, value, k);
        } else if (const auto out = ChannelIndex(k, "AO", vcard::kDaChannels)) {
            s.outputs[static_cast<std::size_t>(*out)].calibration = ReadCalibrationTable(r, value, k);
        } else {
            r.Refuse(key.source(), k,
                     "unknown " + std::string(value.is_table() ? "table" : "key") + " (version, AI0..AI31, AO0..AO3)");
        }
    }
}

// The calibration file named by a setup file, relative to its folder.
std::string BesideSetup(const std::string& setupPath, const std::string& relative) {
    const std::filesystem::path p(relative);
    if (p.is_absolute()) return relative;
    return (std::filesystem::path(setupPath).parent_path() / p).string();
}

} // namespace

double Setup::Engineering(int input, double volts) const {
    if (input < 0 || input >= vcard::kChannels) return std::nan("");
    const Channel& c = inputs[static_cast<std::size_t>(input)];
    return vcard::EngineeringFromVolts(volts, c.calibration ? c.calibration->correction : vcard::Linear{}, c.scale);
}

std::string Setup::ColumnName(int input) const {
    if (input < 0 || input >= vcard::kChannels) return {};
    const Channel& c = inputs[static_cast<std::size_t>(input)];
    return c.name + "[" + c.unit + "]";
}

std::string Error::Text() const {
    std::string t = file;
    if (line > 0) t += ":" + std::to_string(line) + ":" + std::to_string(column);
    t += ": ";
    if (!field.empty()) t += field + ": ";
    return t + what;
}

std::variant<Setup, Error> Parse(std::string_view text, const std::string& sourceName) {
    try {
        toml::source_region calibrationAt;
        Setup s = ReadSetup(text, sourceName, calibrationAt);
        if (!s.calibrationPath.empty()) s.calibrationPath = BesideSetup(sourceName, s.calibrationPath);
        return s;
    } catch (const Refusal& r) {
        return r.error;
    }
}

std::optional<Error> ParseCalibration(std::string_view text, const std::string& sourceName, Setup& setup) {
    try {
        Setup read = setup;
        ReadCalibration(text, sourceName, read);
        setup = std::move(read);
        return std::nullopt;
    } catch (const Refusal& r) {
        return r.error;
    }
}

std::variant<Setup, Error> Load(const std::string& path) {
    // The name goes into a log's header line as it is.
    if (BreaksLine(path)) return Error{path, 0, 0, "", "the file's name has control or line-breaking characters"};
    std::string text;
    if (const auto fault = ReadFile(path, "a setup file", text)) return Error{path, 0, 0, "", *fault};
    try {
        toml::source_region calibrationAt;
        Setup s = ReadSetup(text, path, calibrationAt);
        if (s.calibrationPath.empty()) return s;
        s.calibrationPath = BesideSetup(path, s.calibrationPath);
        std::string calibration;
        if (const auto fault = ReadFile(s.calibrationPath, "a setup file", calibration)) {
            Reader(path).Refuse(calibrationAt, "calibration", s.calibrationPath + " " + *fault);
        }
        ReadCalibration(calibration, s.calibrationPath, s);
        return s;
    } catch (const Refusal& r) {
        return r.error;
    }
}

} // namespace mox::setup
