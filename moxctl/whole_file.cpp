// SPDX-License-Identifier: GPL-3.0-or-later
#include "whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace moxctl {

namespace {

namespace fs = std::filesystem;

bool SyncToDisk(std::FILE* f) {
    if (std::fflush(f) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#else
    return fsync(fileno(f)) == 0;
#endif
}

int ReplaceWith(const std::string& from, const std::string& to) {
#ifdef _WIN32
    const fs::path f(from), t(to);
    return MoveFileExW(f.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : EIO;
#else
    if (std::rename(from.c_str(), to.c_str()) != 0) return errno;
    // The new name itself on the disk too.
    const std::string dir = fs::path(to).parent_path().empty() ? "." : fs::path(to).parent_path().string();
    const int fd = open(dir.c_str(), O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return 0;
#endif
}

std::string TempBeside(const std::string& path) {
#ifdef _WIN32
    return path + ".moxctl-" + std::to_string(GetCurrentProcessId());
#else
    return path + ".moxctl-" + std::to_string(getpid());
#endif
}

std::optional<std::string> WriteInto(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "cannot write " + path + ": " + std::strerror(errno);
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
    const int err = errno;
    if (std::fclose(f) != 0 || !written) return "cannot write " + path + ": " + std::strerror(err);
    return std::nullopt;
}

// Whether two paths name one file, the one or both not there yet included.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (std::filesystem::exists(a, ec) && std::filesystem::exists(b, ec)) {
        const bool same = std::filesystem::equivalent(a, b, ec);
        if (!ec) return same;
    }
    const auto ca = std::filesystem::weakly_canonical(a, ec);
    const auto cb = ec ? std::filesystem::path() : std::filesystem::weakly_canonical(b, ec);
    // A path that cannot be resolved is compared as written.
    if (ec) return std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal();
    return ca == cb;
}

} // namespace

std::optional<std::string> WriteWhole(const std::string& named, const std::string& text, const ReplaceCheck& check) {
    std::error_code ec;
    // A terminal or a pipe (/dev/stdout, say) is written to, not replaced.
    const auto namedStatus = fs::status(named, ec);
    if (fs::is_character_file(namedStatus) || fs::is_fifo(namedStatus)) return WriteInto(named, text);
    // Renaming over a link would leave the file it names as it was.
    std::string path = named;
    if (fs::is_symlink(fs::symlink_status(named, ec))) {
        path = fs::canonical(named, ec).string();
        if (ec) return named + " is a link to nothing that can be written: " + ec.message();
    }
    const auto status = fs::status(path, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) return path + " is not a regular file: not replaced";
    if (check && fs::exists(status)) {
        if (auto fault = check(path)) return fault;
    }
    const std::string temp = TempBeside(path);
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) return "cannot write " + temp + ": " + std::strerror(errno);
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && SyncToDisk(f);
    const int err = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        fs::remove(temp, ec);
        return "cannot write " + temp + ": " + std::strerror(err);
    }
    if (const int e = ReplaceWith(temp, path); e != 0) {
        fs::remove(temp, ec);
        return "cannot rename " + temp + " to " + path + ": " + std::strerror(e);
    }
    return std::nullopt;
}

std::optional<std::string> ReportPathFault(const std::string& path, const char* start, const char* program,
                                           const std::vector<std::pair<std::string, std::string>>& taken) {
    for (const auto& [what, other] : taken) {
        if (!other.empty() && SameFile(path, other)) {
            std::string fault = path;
            fault += " is " + what;
            return fault + ": not replaced by a report";
        }
    }
    std::error_code ec;
    const fs::path folder = fs::path(path).parent_path().empty() ? fs::path(".") : fs::path(path).parent_path();
    if (!fs::is_directory(folder, ec)) return "the folder of " + path + " is not there";
    const auto status = fs::status(path, ec);
    if (!fs::exists(status)) return std::nullopt;
    if (fs::is_directory(status)) return path + " is a folder: name a file";
    if (!fs::is_regular_file(status)) return path + " is not a regular file: not replaced";
    std::string head(std::strlen(start), '\0');
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const std::size_t got = f == nullptr ? 0 : std::fread(head.data(), 1, head.size(), f);
    if (f != nullptr) std::fclose(f);
    if (got != head.size() || head != start) {
        return path + " is not a report of " + program + ": not replaced; name another file";
    }
    return std::nullopt;
}

} // namespace moxctl
