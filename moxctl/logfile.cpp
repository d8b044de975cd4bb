// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile.h"

#include "rows.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#endif

namespace moxctl {

namespace {

std::string Reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool SyncToDisk(std::FILE* f) {
    if (std::fflush(f) != 0) return false;
    if (f == stdout) return true; // a pipe or a terminal: nothing to sync
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#else
    return fsync(fileno(f)) == 0;
#endif
}

// The length of the file up to its last line feed, or its whole length.
std::uintmax_t CompleteLength(const std::string& path, std::uintmax_t size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return size;
    std::uintmax_t end = size;
    char buf[4096];
    while (end > 0) {
        const std::uintmax_t chunk = std::min<std::uintmax_t>(end, sizeof buf);
        if (std::fseek(f, static_cast<long>(end - chunk), SEEK_SET) != 0 ||
            std::fread(buf, 1, static_cast<std::size_t>(chunk), f) != chunk) {
            break;
        }
        for (std::uintmax_t i = chunk; i > 0; --i) {
            if (buf[i - 1] == '\n') {
                std::fclose(f);
                return end - chunk + i;
            }
        }
        end -= chunk;
    }
    std::fclose(f);
    return end;
}

// Renames `from` to `to` unless `to` exists: 0, EEXIST, or another errno.
int RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    const std::filesystem::path f(from), t(to);
    if (MoveFileExW(f.c_str(), t.c_str(), 0)) return 0;
    const DWORD e = GetLastError();
    return e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS ? EEXIST : EIO;
#else
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a second name, then the first removed.
    if (link(from.c_str(), to.c_str()) != 0) return errno;
    return unlink(from.c_str()) == 0 ? 0 : errno;
#endif
}

// The last line of a file of `size` bytes that starts with `prefix`, not
// counting the first line; nothing when there is none.
std::optional<std::string> LastLineStarting(std::FILE* f, std::uintmax_t size, const std::string& prefix) {
    const std::string needle = "\n" + prefix;
    std::string window; // a chunk and the start of the one after it
    for (std::uintmax_t end = size; end > 0;) {
        const std::uintmax_t chunk = std::min<std::uintmax_t>(end, 65536);
        std::string buf(static_cast<std::size_t>(chunk), '\0');
        if (std::fseek(f, static_cast<long>(end - chunk), SEEK_SET) != 0 ||
            std::fread(buf.data(), 1, buf.size(), f) != buf.size()) {
            return std::nullopt;
        }
        buf += window.substr(0, std::min(window.size(), needle.size() - 1));
        window = std::move(buf);
        end -= chunk;
        if (const auto at = window.rfind(needle); at != std::string::npos) {
            std::string line;
            char part[512];
            if (std::fseek(f, static_cast<long>(end + at + 1), SEEK_SET) != 0) return std::nullopt;
            while (std::fgets(part, sizeof part, f) != nullptr) {
                line += part;
                if (line.back() == '\n') break;
            }
            if (!line.empty() && line.back() == '\n') line.pop_back();
            return line;
        }
    }
    return std::nullopt;
}

// The header line that names what a log reads, without its interval:
// "# reading: newest sample, volts".
std::string ReadingOf(const std::string& line) { return line.substr(0, line.rfind(", every ")); }

// Logs of moxctl before the trend export and it shared their columns named
// the channels ch00..ch31 (the same channels, in the same order, as
// AI00..AI31): the column line with those names read as today's.
std::string CurrentNames(const std::string& columns) {
    std::string line;
    std::size_t start = 0;
    for (std::size_t end = 0; end != std::string::npos; start = end + 1) {
        end = columns.find(',', start);
        std::string name = columns.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const auto digit = [&name](std::size_t i) { return name[i] >= '0' && name[i] <= '9'; };
        const bool old = name.size() >= 4 && name.compare(0, 2, "ch") == 0 && digit(2) && digit(3) &&
                         (name.size() == 4 || name[4] == '_');
        if (old) name.replace(0, 2, "AI");
        if (start > 0) line += ',';
        line += name;
    }
    return line;
}

// "utc,monotonic_s,AI00..AI31" for a column line of 34 names.
std::string ColumnsShort(const std::string& line) {
    const auto third = line.find(',', line.find(',', line.find(',') + 1) + 1);
    if (third == std::string::npos) return line;
    return line.substr(0, third) + ".." + line.substr(line.rfind(',') + 1);
}

// Where two column lines part: "; column 35 is pump_pressure[bar] there,
// AI00[V] here", or nothing when they are the same.
std::string FirstDifference(const std::string& there, const std::string& here) {
    std::size_t a = 0, b = 0;
    for (int column = 1;; ++column) {
        const auto endA = std::min(there.find(',', a), there.size());
        const auto endB = std::min(here.find(',', b), here.size());
        const std::string x = a <= there.size() ? there.substr(a, endA - a) : "(none)";
        const std::string y = b <= here.size() ? here.substr(b, endB - b) : "(none)";
        if (x != y) {
            std::string where = "; column " + std::to_string(column) + " is ";
            where += x;
            where += " there, ";
            where += y;
            return where + " here";
        }
        if (a > there.size() && b > here.size()) return {};
        a = endA + 1;
        b = endB + 1;
    }
}

// The line of `text` that starts with `prefix`, and its last line.
std::string LineStarting(const std::string& text, const std::string& prefix) {
    const auto at = text.find("\n" + prefix);
    return at == std::string::npos ? std::string() : text.substr(at + 1, text.find('\n', at + 1) - at - 1);
}
std::string LastLine(const std::string& text) {
    const std::string body = text.substr(0, text.size() - 1);
    return body.substr(body.rfind('\n') + 1);
}

constexpr const char* kFirstLine = "# moxctl log\n";
constexpr const char* kReadingPrefix = "# reading: ";
constexpr const char* kSeqPrefix = "# seq: ";

// A header for rows without numbers: without its "# seq:" line, and its
// column line without the seq column.
std::string WithoutSeqHeader(const std::string& header) {
    std::string h = header;
    if (const auto at = h.find(std::string("\n") + kSeqPrefix); at != std::string::npos) {
        h.erase(at + 1, h.find('\n', at + 1) - at);
    }
    const std::string columns = LastLine(h);
    return h.substr(0, h.size() - columns.size() - 1) + WithoutSeq(columns) + "\n";
}

} // namespace

std::string RotatedName(const std::string& path, std::chrono::system_clock::time_point t, int counter) {
    std::string name = mox::CompactUtc(t);
    if (counter > 0) {
        // Appended piece by piece: GCC 12 at -O3 takes "-" + to_string() for
        // an overlapping copy (-Wrestrict) in the Windows build.
        name += '-';
        name += std::to_string(counter);
    }
    const std::filesystem::path p(path);
    std::filesystem::path rotated = p;
    rotated.replace_filename(p.stem().string() + "." + name + p.extension().string());
    return rotated.string();
}

LogFile::LogFile(std::string path, std::string header, RotatePolicy rotate)
    : path_(std::move(path)), header_(std::move(header)), rotate_(rotate) {}

LogFile::~LogFile() {
    if (file_ != nullptr) {
        SyncToDisk(file_);
        if (file_ != stdout) std::fclose(file_);
    }
}

bool LogFile::Check(std::string& error) const {
    if (ToStandardOutput()) return true;
    std::error_code ec;
    const auto status = std::filesystem::status(path_, ec);
    // A device or a pipe is only written; a new or empty file has nothing
    // to lose.
    if (!std::filesystem::is_regular_file(status)) return true;
    const auto size = std::filesystem::file_size(path_, ec);
    if (ec) {
        error = "cannot read " + path_ + ": " + ec.message();
        return false;
    }
    if (size == 0) return true;
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) {
        error = Reason("cannot read", path_);
        return false;
    }
    char first[16] = {};
    const std::size_t got = std::fread(first, 1, std::strlen(kFirstLine), f);
    if (std::string(first, got) != kFirstLine) {
        std::fclose(f);
        error = path_ + " is not a moxctl log (its first line is not \"# moxctl log\"): left as it is; "
                        "name a new file";
        return false;
    }
    const auto reading = LastLineStarting(f, size, kReadingPrefix);
    const auto columns = LastLineStarting(f, size, "utc,");
    std::fclose(f);
    const std::string wantReading = ReadingOf(LineStarting(header_, kReadingPrefix));
    const std::string wantColumns = LastLine(header_);
    const bool sameColumns =
        columns && (CurrentNames(*columns) == wantColumns || CurrentNames(*columns) == WithoutSeq(wantColumns));
    if (reading && sameColumns && ReadingOf(*reading) == wantReading) return true;
    const auto what = [](const std::string& r, const std::string& c) {
        return r.substr(std::strlen(kReadingPrefix)) + " (columns " + ColumnsShort(c) + ")";
    };
    error = path_ + " is a moxctl log of " +
            (reading && columns ? what(ReadingOf(*reading), *columns) : std::string("unknown readings")) +
            "; this run reads " + what(wantReading, wantColumns) +
            (columns ? FirstDifference(CurrentNames(*columns), wantColumns) : std::string()) +
            ": continue it with the same reading options and setup, or name a new file";
    return false;
}

bool LogFile::Open(std::string& error) {
    if (!ToStandardOutput()) return OpenFile(error);
    file_ = stdout;
    opened_ = std::chrono::steady_clock::now();
    synced_ = opened_;
    return Write(header_, error) && Sync(error);
}

bool LogFile::OpenFile(std::string& error) {
    std::error_code ec;
    // A new file is not an error: only a size that cannot be read is.
    const bool regular = std::filesystem::is_regular_file(path_, ec);
    ec.clear();
    const auto size = regular ? std::filesystem::file_size(path_, ec) : 0;
    if (ec) {
        error = "cannot read " + path_ + ": " + ec.message();
        return false;
    }
    // An interruption can leave half a row at the end: cut it off, so that
    // every line of the file is complete.
    const std::uintmax_t complete = size > 0 ? CompleteLength(path_, size) : 0;
    if (complete < size) {
        std::filesystem::resize_file(path_, complete, ec);
        if (ec) {
            error = "cannot cut the incomplete last line of " + path_ + ": " + ec.message();
            return false;
        }
        notice_ +=
            "removed an incomplete last line (" + std::to_string(size - complete) + " bytes) from " + path_ + "\n";
    }
    // A log written before rows were numbered goes on without numbers.
    if (!numbered_) {
        const auto columns = complete > 0 ? ColumnsOf(complete) : std::nullopt;
        const std::string wanted = LastLine(header_);
        numbered_ = !columns || wanted == WithoutSeq(wanted) || CurrentNames(*columns) != WithoutSeq(wanted);
    }
    const std::string header = SessionHeader(complete);
    file_ = std::fopen(path_.c_str(), "ab");
    if (file_ == nullptr) {
        error = Reason("cannot open", path_);
        return false;
    }
    bytes_ = complete;
    opened_ = std::chrono::steady_clock::now();
    synced_ = opened_;
    return Write(header, error) && Sync(error);
}

std::optional<std::string> LogFile::ColumnsOf(std::uintmax_t size) const {
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    auto columns = LastLineStarting(f, size, "utc,");
    std::fclose(f);
    return columns;
}

std::string LogFile::SessionHeader(std::uintmax_t size) const {
    std::string header = Numbered() ? header_ : WithoutSeqHeader(header_);
    if (size == 0) return header;
    const auto columns = ColumnsOf(size);
    // A log with the old channel names goes on under them: a script reading
    // it meets one naming, and the rows are the same either way.
    const std::string wanted = LastLine(header);
    if (!columns || *columns == wanted || CurrentNames(*columns) != wanted) return header;
    return header.substr(0, header.size() - wanted.size() - 1) + *columns + "\n";
}

bool LogFile::Write(const std::string& text, std::string& error) {
    // One call per line: a kill leaves the line written whole or not at all
    // in the system's hands.
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
        error = Reason("cannot write to", path_);
        return false;
    }
    bytes_ += text.size();
    dirty_ = true;
    return true;
}

bool LogFile::Sync(std::string& error) {
    if (!SyncToDisk(file_)) {
        error = Reason("cannot sync", path_);
        return false;
    }
    synced_ = std::chrono::steady_clock::now();
    dirty_ = false;
    return true;
}

bool LogFile::SyncIfDue(std::string& error) {
    if (!dirty_ || std::chrono::steady_clock::now() - synced_ < std::chrono::seconds(1)) return true;
    return Sync(error);
}

bool LogFile::Rotate(std::string& error) {
    if (!Sync(error)) return false;
    std::fclose(file_);
    file_ = nullptr;
    // Two rotations in one second, or a clock set back, give a name that is
    // taken: the next counter, never a file replaced.
    const auto now = std::chrono::system_clock::now();
    for (int counter = 0; counter < 10000; ++counter) {
        const std::string rotated = RotatedName(path_, now, counter);
        const int result = RenameNoReplace(path_, rotated);
        if (result == EEXIST) continue;
        if (result != 0) {
            error = "cannot rename " + path_ + " to " + rotated + ": " + std::strerror(result);
            return false;
        }
        notice_ += "rotated " + path_ + " to " + rotated + "\n";
        return OpenFile(error);
    }
    error = "cannot rotate " + path_ + ": every name for this second is taken";
    return false;
}

bool LogFile::Append(const std::string& line, std::string& error) {
    const auto now = std::chrono::steady_clock::now();
    const bool rotates = !ToStandardOutput();
    const bool tooBig = rotates && rotate_.maxBytes > 0 && bytes_ + line.size() > rotate_.maxBytes;
    const bool tooOld = rotates && rotate_.maxAge.count() > 0 && now - opened_ >= rotate_.maxAge;
    if ((tooBig || tooOld) && !Rotate(error)) return false;
    if (!Write(line, error)) return false;
    ++rows_;
    return SyncIfDue(error);
}

bool LogFile::Comment(const std::string& line, std::string& error) { return Write(line, error); }

std::string LogFile::TakeNotice() { return std::exchange(notice_, {}); }

} // namespace moxctl
