// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile.h"

#include "rows.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace moxctl {

namespace {

std::string Reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool SyncToDisk(std::FILE* f) {
    if (std::fflush(f) != 0) return false;
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

} // namespace

std::string RotatedName(const std::string& path, std::chrono::system_clock::time_point t) {
    const std::tm tm = UtcFields(std::chrono::system_clock::to_time_t(t));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
    const std::filesystem::path p(path);
    std::filesystem::path rotated = p;
    rotated.replace_filename(p.stem().string() + "." + stamp + p.extension().string());
    return rotated.string();
}

LogFile::LogFile(std::string path, std::string header, RotatePolicy rotate)
    : path_(std::move(path)), header_(std::move(header)), rotate_(rotate) {}

LogFile::~LogFile() {
    if (file_ != nullptr) {
        SyncToDisk(file_);
        std::fclose(file_);
    }
}

bool LogFile::Open(std::string& error) { return OpenFile(error); }

bool LogFile::OpenFile(std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::exists(path_, ec) ? std::filesystem::file_size(path_, ec) : 0;
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
    file_ = std::fopen(path_.c_str(), "ab");
    if (file_ == nullptr) {
        error = Reason("cannot open", path_);
        return false;
    }
    bytes_ = complete;
    opened_ = std::chrono::steady_clock::now();
    synced_ = opened_;
    return Write(header_, error) && Sync(error);
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
    const std::string rotated = RotatedName(path_, std::chrono::system_clock::now());
    std::error_code ec;
    std::filesystem::rename(path_, rotated, ec);
    if (ec) {
        error = "cannot rename " + path_ + " to " + rotated + ": " + ec.message();
        return false;
    }
    notice_ += "rotated " + path_ + " to " + rotated + "\n";
    return OpenFile(error);
}

bool LogFile::Append(const std::string& line, std::string& error) {
    const auto now = std::chrono::steady_clock::now();
    const bool tooBig = rotate_.maxBytes > 0 && bytes_ + line.size() > rotate_.maxBytes;
    const bool tooOld = rotate_.maxAge.count() > 0 && now - opened_ >= rotate_.maxAge;
    if ((tooBig || tooOld) && !Rotate(error)) return false;
    if (!Write(line, error)) return false;
    ++rows_;
    return SyncIfDue(error);
}

std::string LogFile::TakeNotice() { return std::exchange(notice_, {}); }

} // namespace moxctl
