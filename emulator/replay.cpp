// SPDX-License-Identifier: GPL-3.0-or-later
#include "replay.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string_view>
#include <utility>

namespace emu {
namespace {

constexpr int kInputs = 32;
constexpr double kZeroCode = 32768.0;
constexpr double kFullScaleVolts = 5.0;
constexpr double kMaxCode = 65535.0;
constexpr float kNotRecorded = std::numeric_limits<float>::quiet_NaN();

// A cell quoted in a message: at most 40 characters of it.
std::string Quoted(std::string_view cell) {
    constexpr std::size_t kShown = 40;
    // Built up rather than added together: GCC 12 at -O3 takes the sum for
    // an overlapping copy (a false -Wrestrict) in the Windows build.
    std::string quoted = "'";
    quoted += cell.substr(0, kShown);
    quoted += cell.size() > kShown ? "...'" : "'";
    return quoted;
}

std::vector<std::string_view> Cells(std::string_view line) {
    std::vector<std::string_view> cells;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = line.find(',', from);
        cells.push_back(line.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from));
        if (comma == std::string_view::npos) return cells;
        from = comma + 1;
    }
}

// A decimal number, the whole cell: no blanks, no "nan" or "inf".
std::optional<double> Number(std::string_view cell) {
    double v = 0;
    const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), v);
    if (cell.empty() || ec != std::errc() || end != cell.data() + cell.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<long long> RowNumber(std::string_view cell) {
    constexpr std::size_t kMaxDigits = 15;
    if (cell.empty() || cell.size() > kMaxDigits) return std::nullopt;
    long long v = 0;
    const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), v);
    if (ec != std::errc() || end != cell.data() + cell.size() || v < 0) return std::nullopt;
    return v;
}

enum class Kind { Plain, Code, Volts };

// "AI07", "AI07_code", "AI07_volts", or "ch07" as older moxctl named it:
// the channel and the kind, or -1.
std::pair<int, Kind> InputColumn(std::string_view name) {
    Kind kind = Kind::Plain;
    if (name.ends_with("_code")) {
        kind = Kind::Code;
        name.remove_suffix(5);
    } else if (name.ends_with("_volts")) {
        kind = Kind::Volts;
        name.remove_suffix(6);
    }
    if (!name.starts_with("AI") && !name.starts_with("ch")) return {-1, kind};
    name.remove_prefix(2);
    if (name.size() != 2 || name[0] < '0' || name[0] > '9' || name[1] < '0' || name[1] > '9') return {-1, kind};
    const int ch = (name[0] - '0') * 10 + (name[1] - '0');
    return {ch < kInputs ? ch : -1, kind};
}

// The columns of one session: where the times, the row numbers and each
// recorded input's value are, and whether the value is a code.
struct Columns {
    std::size_t count = 0;
    std::size_t monotonic = 0;
    std::optional<std::size_t> seq;
    std::vector<int> channels;
    std::vector<std::size_t> cell; // of each channel
    std::vector<bool> code;        // of each channel
};

// Rows read so far, with times since their session's first row.
struct Sessions {
    std::vector<double> relative;
    std::vector<std::optional<long long>> seq;
    std::vector<std::size_t> starts; // first row of each session
};

class Reader {
public:
    explicit Reader(std::string name) : name_(std::move(name)) {}
    RecordingLoad Read(std::istream& in);

private:
    bool Line(std::string_view line);
    bool ColumnLine(std::string_view line);
    bool Row(std::string_view line);
    bool RowTime(std::string_view monotonic, std::optional<long long> seq);
    bool Value(const std::vector<std::string_view>& cells, std::size_t k, float& out);
    bool Finish();
    bool Fail(const std::string& what, std::size_t line) {
        error_ = line == 0 ? name_ + ": the file is empty: " + what : name_ + ":" + std::to_string(line) + ": " + what;
        return false;
    }
    bool Fail(const std::string& what) { return Fail(what, line_); }

    std::string name_;
    std::size_t line_ = 0;
    bool codesOnly_ = false; // the session's "# reading:" line says codes alone
    std::string firstColumns_;
    std::size_t firstColumnsLine_ = 0;
    Columns columns_;
    double sessionFirst_ = 0; // monotonic_s of the session's first row
    Sessions sessions_;
    Recording recording_;
    std::string error_;
};

RecordingLoad Reader::Read(std::istream& in) {
    std::vector<char> buffer(kMaxReplayLineBytes + 1);
    for (;;) {
        in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        ++line_;
        if (in.bad()) return {std::nullopt, name_ + ": cannot be read"};
        if (in.fail() && got == 0 && in.eof()) {
            --line_; // no line there: messages name the last one
            break;
        }
        if (in.fail()) {
            Fail("a line longer than " + std::to_string(kMaxReplayLineBytes) + " bytes: not a log");
            return {std::nullopt, error_};
        }
        std::string_view line(buffer.data(), in.eof() ? got : got - 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        // A spreadsheet saving the file may put a byte order mark first.
        if (line_ == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        if (!Line(line)) return {std::nullopt, error_};
        if (in.eof()) break;
    }
    if (!Finish()) return {std::nullopt, error_};
    return {std::move(recording_), {}};
}

bool Reader::Line(std::string_view line) {
    constexpr std::string_view kReading = "# reading: ";
    if (line.empty()) return true;
    if (line.front() == '#') {
        if (line.starts_with(kReading)) {
            codesOnly_ = line.find(", codes") != std::string_view::npos && line.find("volts") == std::string_view::npos;
        }
        return true;
    }
    if (line.starts_with("utc,") || line == "utc") return ColumnLine(line);
    if (firstColumns_.empty()) return Fail("a row before the column line (utc,monotonic_s,AI00,...)");
    return Row(line);
}

bool Reader::ColumnLine(std::string_view line) {
    if (!firstColumns_.empty() && line != firstColumns_) {
        return Fail("the columns differ from those of line " + std::to_string(firstColumnsLine_));
    }
    const auto names = Cells(line);
    if (names.size() > kMaxReplayColumns) {
        return Fail(std::to_string(names.size()) + " columns: at most " + std::to_string(kMaxReplayColumns));
    }
    Columns c;
    c.count = names.size();
    std::array<std::array<std::optional<std::size_t>, 3>, kInputs> found{};
    std::optional<std::size_t> monotonic;
    for (std::size_t k = 0; k < names.size(); ++k) {
        const auto [ch, kind] = InputColumn(names[k]);
        std::optional<std::size_t>* slot = nullptr;
        if (ch >= 0) {
            slot = &found[static_cast<std::size_t>(ch)][static_cast<std::size_t>(kind)];
        } else if (names[k] == "monotonic_s") {
            slot = &monotonic;
        } else if (names[k] == "seq") {
            slot = &c.seq;
        }
        if (slot == nullptr) continue; // utc, values in a unit, beyond_limits: not inputs
        if (*slot) return Fail("the column " + Quoted(names[k]) + " appears twice");
        *slot = k;
    }
    if (!monotonic) return Fail("no monotonic_s column: the rows' times are unknown");
    c.monotonic = *monotonic;
    for (int ch = 0; ch < kInputs; ++ch) {
        const auto& f = found[static_cast<std::size_t>(ch)];
        const auto volts = f[static_cast<std::size_t>(Kind::Volts)];
        const auto plain = f[static_cast<std::size_t>(Kind::Plain)];
        const auto code = f[static_cast<std::size_t>(Kind::Code)];
        if (!volts && !plain && !code) continue;
        c.channels.push_back(ch);
        c.cell.push_back(volts ? *volts : plain ? *plain : *code);
        c.code.push_back(!volts && (plain ? codesOnly_ : true));
    }
    if (c.channels.empty()) return Fail("no input columns (AI00..AI31)");
    if (firstColumns_.empty()) {
        firstColumns_ = std::string(line);
        firstColumnsLine_ = line_;
        recording_.channels = c.channels;
    }
    recording_.fromCodes = recording_.fromCodes || std::all_of(c.code.begin(), c.code.end(), [](bool b) { return b; });
    columns_ = std::move(c);
    // A column line with no row after it starts no session: the sessions
    // stay as many as the rows, whatever the file repeats.
    if (sessions_.starts.empty() || sessions_.starts.back() != sessions_.relative.size())
        sessions_.starts.push_back(sessions_.relative.size());
    return true;
}

bool Reader::Row(std::string_view line) {
    if (sessions_.relative.size() >= kMaxReplayRows) {
        return Fail("more than " + std::to_string(kMaxReplayRows) + " rows: a replay holds at most that many");
    }
    const auto cells = Cells(line);
    if (cells.size() != columns_.count) {
        return Fail(std::to_string(cells.size()) + " cells where the column line (line " +
                    std::to_string(firstColumnsLine_) + ") has " + std::to_string(columns_.count));
    }
    std::optional<long long> seq;
    if (columns_.seq) {
        seq = RowNumber(cells[*columns_.seq]);
        if (!seq) return Fail("seq " + Quoted(cells[*columns_.seq]) + " is not a row number");
    }
    if (!RowTime(cells[columns_.monotonic], seq)) return false;
    for (std::size_t k = 0; k < columns_.channels.size(); ++k) {
        float v = kNotRecorded;
        if (!Value(cells, k, v)) return false;
        recording_.volts.push_back(v);
    }
    return true;
}

bool Reader::RowTime(std::string_view monotonic, std::optional<long long> seq) {
    const auto t = Number(monotonic);
    if (!t || *t < 0 || *t > kMaxReplaySeconds) {
        return Fail("monotonic_s " + Quoted(monotonic) + " is not a time in seconds");
    }
    const bool first = sessions_.relative.size() == sessions_.starts.back();
    if (first) sessionFirst_ = *t;
    // To the microsecond: the file has milliseconds, and 3.2 - 3.1 must be
    // the 0.1 a reader of the file sees.
    const double relative = std::round((*t - sessionFirst_) * 1e6) / 1e6;
    if (!first && relative < sessions_.relative.back()) {
        return Fail("monotonic_s goes back, to " + Quoted(monotonic) + ", from the row before");
    }
    if (!first && seq && sessions_.seq.back() && *seq <= *sessions_.seq.back()) {
        return Fail("seq " + std::to_string(*seq) + " after " + std::to_string(*sessions_.seq.back()) +
                    ": the rows are out of order");
    }
    sessions_.relative.push_back(relative);
    sessions_.seq.push_back(seq);
    return true;
}

bool Reader::Value(const std::vector<std::string_view>& cells, std::size_t k, float& out) {
    const std::string_view cell = cells[columns_.cell[k]];
    if (cell.empty()) return true; // a read that failed: nothing recorded
    const auto v = Number(cell);
    const std::string what = "AI" + std::string(columns_.channels[k] < 10 ? "0" : "") +
                             std::to_string(columns_.channels[k]) + " " + Quoted(cell);
    if (!v) return Fail(what + " is not a number");
    if (columns_.code[k]) {
        if (*v < 0 || *v > kMaxCode) return Fail(what + " is not a code 0..65535");
        out = static_cast<float>((*v - kZeroCode) / kZeroCode * kFullScaleVolts);
    } else {
        if (std::fabs(*v) > kFullScaleVolts) return Fail(what + " is beyond the card's -5..+5 V");
        out = static_cast<float>(*v);
    }
    return true;
}

// How long a row holds: until the next row, or for one row interval when
// row numbers are missing between them.
double Hold(const Sessions& s, std::size_t row) {
    const double step = s.relative[row + 1] - s.relative[row];
    if (!s.seq[row] || !s.seq[row + 1]) return step;
    return step / static_cast<double>(*s.seq[row + 1] - *s.seq[row]);
}

bool Reader::Finish() {
    if (firstColumns_.empty()) return Fail("no column line (utc,monotonic_s,AI00,...): not a log", line_);
    const std::size_t rows = sessions_.relative.size();
    if (rows == 0) return Fail("no rows", line_);
    const auto sessionEnd = [&](std::size_t s) {
        return s + 1 < sessions_.starts.size() ? sessions_.starts[s + 1] : rows;
    };
    // The interval a session's last row holds for: the last one that row's
    // session shows, or the first found in the file for a session of one
    // row. Rows at one time show none.
    std::optional<double> anyInterval;
    for (std::size_t s = 0; s < sessions_.starts.size() && !anyInterval; ++s) {
        for (std::size_t r = sessions_.starts[s]; r + 1 < sessionEnd(s) && !anyInterval; ++r) {
            if (const double hold = Hold(sessions_, r); hold > 0) anyInterval = hold;
        }
    }
    if (rows > 1 && !anyInterval) {
        return Fail("no two rows of one session at different times: how long a row holds is unknown", line_);
    }
    double offset = 0;
    for (std::size_t s = 0; s < sessions_.starts.size(); ++s) {
        const std::size_t from = sessions_.starts[s], to = sessionEnd(s);
        double interval = anyInterval.value_or(0);
        for (std::size_t r = from; r < to; ++r) {
            double hold = interval;
            if (r + 1 < to) {
                hold = Hold(sessions_, r); // 0 for a row the next one at its time replaces
                if (hold > 0) interval = hold;
            }
            recording_.times.push_back(offset + sessions_.relative[r]);
            recording_.ends.push_back(offset + sessions_.relative[r] + hold);
        }
        if (to > from) offset = recording_.ends.back();
    }
    if (rows == 1) recording_.ends.back() = std::numeric_limits<double>::infinity();
    recording_.sessions = sessions_.starts.size();
    return true;
}

} // namespace

double Recording::Length() const {
    if (ends.empty()) return 0;
    return Rows() == 1 ? std::numeric_limits<double>::infinity() : ends.back();
}

double Recording::VoltsAt(int ch, double t) const {
    const auto c = std::lower_bound(channels.begin(), channels.end(), ch);
    if (c == channels.end() || *c != ch || times.empty() || !(t >= 0)) return std::nan("");
    const auto next = std::upper_bound(times.begin(), times.end(), t);
    if (next == times.begin()) return std::nan("");
    const auto row = static_cast<std::size_t>(next - times.begin() - 1);
    if (!(t < ends[row])) return std::nan("");
    return volts[row * channels.size() + static_cast<std::size_t>(c - channels.begin())];
}

RecordingLoad ReadRecording(std::istream& in, const std::string& name) { return Reader(name).Read(in); }

RecordingLoad ReadRecordingFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {std::nullopt, path + ": cannot be opened"};
    return ReadRecording(in, path);
}

double Replay::Volts(int ch, double seconds) const {
    double t = seconds - start_;
    const double length = recording_.Length();
    if (loop_ && std::isfinite(length) && t >= 0) t = std::fmod(t, length);
    return recording_.VoltsAt(ch, t);
}

std::string Replay::StatusText(double seconds) const {
    const double t = std::max(0.0, seconds - start_);
    const double length = recording_.Length();
    std::ostringstream out;
    out << std::fixed << std::setprecision(3) << "replay " << name_ << ": ";
    if (!std::isfinite(length)) {
        out << "one row, held since " << t << " s";
    } else if (loop_) {
        out << std::fmod(t, length) << " s of " << length << " s, pass " << static_cast<long long>(t / length) + 1
            << ", looping";
    } else if (t < length) {
        out << t << " s of " << length << " s, once";
    } else {
        out << "ended at " << length << " s (once): the inputs are the card's own";
    }
    const auto& ch = recording_.channels;
    out << "; " << ch.size() << " inputs recorded (AI" << std::setw(2) << std::setfill('0') << ch.front() << "..AI"
        << std::setw(2) << ch.back() << "), " << recording_.Rows() << " rows";
    return out.str();
}

} // namespace emu
