// SPDX-License-Identifier: GPL-3.0-or-later
// A recording of the inputs, read from a `moxctl log` file or a trend
// window's CSV export, and played back on the emulator's inputs.
//
// What a row means: its values hold from its time until the next row
// (sample and hold, no interpolation: a steady recording reads back as
// recorded, a step as a step). Nothing is made up where nothing was
// recorded: an empty cell (a read that failed) leaves that input to the
// card's own signal until the next row, and rows missing from a log with
// row numbers (`seq`) do too: a row then holds for one row's interval only.
// A log continued by later moxctl runs holds several sessions, played one
// after the other; the last row of a session holds for one row interval.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace emu {

// Bounds on what a file may hold, so that any file is refused or loaded in
// bounded memory: 144 MB held at most (a row is its two times and 4 bytes
// per recorded input), an hour of rows every 5 ms.
constexpr std::size_t kMaxReplayRows = 1'000'000;
constexpr std::size_t kMaxReplayLineBytes = 65536;
constexpr std::size_t kMaxReplayColumns = 512;
// Times beyond this (about 31 years) are refused: not a recording.
constexpr double kMaxReplaySeconds = 1e9;

struct Recording {
    std::vector<int> channels; // the recorded inputs, ascending
    std::vector<double> times; // each row's time, seconds after the first row
    std::vector<double> ends;  // until when each row's values hold
    std::vector<float> volts;  // row by row, one per channel; NaN: not recorded
    std::size_t sessions = 0;
    bool fromCodes = false; // the file held codes only, converted to volts

    std::size_t Rows() const { return times.size(); }
    // Seconds from the first row to the end of the last (infinite for a
    // single row: it holds for ever).
    double Length() const;
    // The volts recorded on input `ch` at `t` seconds into the recording, or
    // NaN where nothing was recorded for it (not a recorded input, a gap,
    // before the start or after the end).
    double VoltsAt(int ch, double t) const;
};

struct RecordingLoad {
    std::optional<Recording> recording;
    std::string error; // "FILE:LINE: what is wrong", when refused
};

// Reads a recording; `name` is the file's name in messages.
RecordingLoad ReadRecording(std::istream& in, const std::string& name);
RecordingLoad ReadRecordingFile(const std::string& path);

// A recording played from a start on the card's clock, looping or once
// (after the end of a single play, the inputs are the card's own again).
class Replay {
public:
    Replay(Recording recording, std::string name, bool loop)
        : recording_(std::move(recording)), name_(std::move(name)), loop_(loop) {}
    void StartAt(double seconds) { start_ = seconds; }
    // The input override for the card (vcard::InputOverride).
    double Volts(int ch, double seconds) const;
    // "replay run.csv: 12.300 s of 60.000 s, pass 3, looping (AI00..AI31 from the file)".
    std::string StatusText(double seconds) const;

private:
    Recording recording_;
    std::string name_;
    bool loop_;
    double start_ = 0;
};

} // namespace emu
