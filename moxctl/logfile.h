// SPDX-License-Identifier: GPL-3.0-or-later
// A CSV log that survives a crash, a kill or a power cut: rows are only
// ever appended, each handed to the system in one write as it is taken,
// and the file is synced to the disk at least once a second. An existing
// file is continued (after an incomplete last line left by an interruption
// is cut off) only when it is a moxctl log of the same reading: anything
// else is refused and left as it is. A log written before rows were
// numbered (no "seq" column) goes on in its own columns, rows without
// numbers, for the whole session, rotated files too: a file never holds
// rows of two widths under one column line. A header block of '#' lines and the
// column line start every session. On request the file is rotated by size
// or age: the full file is renamed with the time of rotation in its name
// (and a counter when that name is taken; no file is ever replaced) and a
// new one begun. The path "-" is standard output: flushed, never synced or
// rotated.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace moxctl {

struct RotatePolicy {
    std::uint64_t maxBytes = 0;     // 0: no limit
    std::chrono::seconds maxAge{0}; // 0: no limit
};

class LogFile {
public:
    // `header`: the lines written at the start of each file and session,
    // "# moxctl log" first, a "# reading: WHAT, every N ms" line and the
    // column line last.
    LogFile(std::string path, std::string header, RotatePolicy rotate);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Whether the file may be written: it does not exist, is empty or is not
    // a regular file, or is a moxctl log whose last session read the same
    // as `header` says (the interval may differ; columns named ch00.. by
    // older moxctl count as AI00..). Reads only; false with `error` naming
    // the file and what is wrong with it.
    bool Check(std::string& error) const;
    // Opens (or continues) the file; false with `error` set on failure.
    // Call Check first: Open cuts an incomplete last line.
    bool Open(std::string& error);
    bool ToStandardOutput() const { return path_ == "-"; }
    // After Open: whether this session's rows carry the seq column (not in
    // a log written before rows were numbered); its "# seq:" header line
    // is left out with it.
    bool Numbered() const { return numbered_.value_or(true); }
    // Appends one complete line; syncs when the last sync is a second old;
    // rotates first when the policy says so.
    bool Append(const std::string& line, std::string& error);
    // Appends one '#' line that is not a row: not counted, never the first
    // line of a rotated file (rotation waits for a row).
    bool Comment(const std::string& line, std::string& error);
    bool Sync(std::string& error);
    // Syncs rows not yet synced once the last sync is a second old; called
    // between rows, so that a pause in the rows leaves nothing unsynced.
    bool SyncIfDue(std::string& error);

    std::uint64_t RowsWritten() const { return rows_; }
    // Notes for the user: a cut incomplete line, a rotation.
    std::string TakeNotice();

private:
    bool OpenFile(std::string& error);
    // header_, or for a file that goes on under older column names, header_
    // with the file's own column line; without the seq column and its
    // header line for a session that goes on in a log without them.
    std::string SessionHeader(std::uintmax_t size) const;
    std::optional<std::string> ColumnsOf(std::uintmax_t size) const;
    bool Rotate(std::string& error);
    bool Write(const std::string& text, std::string& error);

    std::string path_;
    std::string header_;
    RotatePolicy rotate_;
    std::FILE* file_ = nullptr;
    std::uint64_t bytes_ = 0;
    std::uint64_t rows_ = 0;
    std::chrono::steady_clock::time_point opened_{};
    std::chrono::steady_clock::time_point synced_{};
    bool dirty_ = false;
    std::optional<bool> numbered_; // decided when the session's first file is opened
    std::string notice_;
};

// The name a rotated file gets: "run.csv" rotated at 2026-12-07 11:30:00
// UTC becomes "run.20261207T113000Z.csv", or with `counter` 2
// "run.20261207T113000Z-2.csv" (that name being taken).
std::string RotatedName(const std::string& path, std::chrono::system_clock::time_point t, int counter = 0);

} // namespace moxctl
