// SPDX-License-Identifier: GPL-3.0-or-later
// Where the card driver library is looked for, and which one was loaded,
// told in words: the first thing to know when the card does not answer as
// expected is which driver answered.
#include "DllDef.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <span>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#endif

namespace DllDef {

#ifdef _WIN32

// LoadLibraryExA with LOAD_LIBRARY_SEARCH_APPLICATION_DIR and
// LOAD_LIBRARY_SEARCH_SYSTEM32 (DllDef.cpp): these two, never PATH.
std::vector<SearchFolder> SearchFolders() {
    std::vector<SearchFolder> folders;
    std::array<char, 32768> name{};
    DWORD n = GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n > 0 && n < name.size()) {
        std::string program(name.data(), n);
        const std::size_t slash = program.find_last_of("/\\");
        if (slash != std::string::npos) program.resize(slash);
        folders.push_back({program, "the program's folder"});
    }
    n = GetSystemDirectoryA(name.data(), static_cast<UINT>(name.size()));
    if (n > 0 && n < name.size()) folders.push_back({std::string(name.data(), n), "the system folder"});
    return folders;
}

#else

namespace {

std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// The folder of the running program, as the loader expands $ORIGIN in
// LD_LIBRARY_PATH.
std::string ProgramFolder() {
    std::array<char, 4096> exe{};
    const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    if (n <= 0) return {};
    const std::string path(exe.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// An element of LD_LIBRARY_PATH with $ORIGIN and ${ORIGIN} expanded.
std::string WithOrigin(std::string element, const std::string& programFolder) {
    for (const char* name : {"${ORIGIN}", "$ORIGIN"}) {
        const std::string token = name;
        for (std::size_t at = element.find(token); at != std::string::npos; at = element.find(token, at)) {
            element.replace(at, token.size(), programFolder);
            at += programFolder.size();
        }
    }
    return element;
}

// The loader does not say where each folder of its list comes from (its
// flags stay 0): an element of LD_LIBRARY_PATH, a folder under the
// program's own ($ORIGIN, which its RUNPATH names), or the system's.
// Folders are compared as SameFolderForm spells them: an element may be
// empty (the current folder), relative, or hold $ORIGIN.
class FolderReasons {
public:
    explicit FolderReasons(const link_map* self) {
        if (const char* path = std::getenv("LD_LIBRARY_PATH"); path != nullptr) {
            const std::string programFolder = ProgramFolder();
            std::string element;
            for (const char* c = path;; ++c) {
                if (*c == ':' || *c == ';' || *c == '\0') {
                    libraryPath_.push_back(SameFolderForm(WithOrigin(element, programFolder)));
                    element.clear();
                    if (*c == '\0') break;
                } else {
                    element += *c;
                }
            }
        }
        origin_ = Origin(self);
    }

    const char* Of(const std::string& folder) const {
        const std::string same = SameFolderForm(folder);
        for (const std::string& element : libraryPath_) {
            if (element == same) return "LD_LIBRARY_PATH";
        }
        if (folder == ".") return "an empty element of a search path: the current folder";
        if (!origin_.empty() && folder.starts_with(origin_)) return "the program's RUNPATH, its own library folder";
        return "the system's library folders";
    }

private:
    // The folder of the object whose RUNPATH applies, as $ORIGIN expands
    // (not RTLD_DI_ORIGIN: the loader leaves it unset for an object that
    // does not use $ORIGIN, and dlinfo would then read a null pointer).
    static std::string Origin(const link_map* object) {
        std::string path = object->l_name != nullptr ? object->l_name : "";
        if (path.empty()) return ProgramFolder(); // the program itself
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

    std::vector<std::string> libraryPath_;
    std::string origin_;
};

} // namespace

// The loader's own list for a library opened from this code's object (the
// program, or a module such as Python's that holds the driver module): its
// LD_LIBRARY_PATH, RUNPATH and default folders, $ORIGIN expanded. The
// folders of /etc/ld.so.conf are looked up in its cache between the last
// two and are not listed.
std::vector<SearchFolder> SearchFolders() {
    std::vector<SearchFolder> folders;
    Dl_info where{};
    link_map* self = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&SearchFolders), &where, reinterpret_cast<void**>(&self), RTLD_DL_LINKMAP) ==
            0 ||
        self == nullptr) {
        return folders;
    }
    const FolderReasons reasons(self);
    Dl_serinfo size{};
    if (dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
        std::vector<Dl_serinfo> buffer(size.dls_size / sizeof(Dl_serinfo) + 1);
        Dl_serinfo* info = buffer.data();
        info->dls_size = size.dls_size;
        info->dls_cnt = size.dls_cnt;
        if (dlinfo(self, RTLD_DI_SERINFO, info) == 0) {
            const std::span paths(info->dls_serpath, info->dls_cnt);
            for (const Dl_serpath& path : paths) {
                if (path.dls_name == nullptr || *path.dls_name == '\0') continue;
                const std::string folder = WithoutTrailingSlash(path.dls_name);
                folders.push_back({folder, reasons.Of(folder)});
            }
        }
    }
    return folders;
}

#endif

#ifdef _WIN32

// The folder GetModuleFileName names, as the search folders are: only
// without trailing separators.
std::string SameFolderForm(const std::string& folder) {
    std::string same = folder;
    while (same.size() > 1 && (same.back() == '/' || same.back() == '\\')) same.pop_back();
    return same;
}

#else

// "" and "." are the current folder, as the loader takes them; links are
// resolved as far as the folder exists.
std::string SameFolderForm(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path given = folder.empty() ? fs::path(".") : fs::path(folder);
    fs::path full = fs::absolute(given, ec);
    if (ec) return WithoutTrailingSlash(given.lexically_normal().string());
    const fs::path resolved = fs::weakly_canonical(full, ec);
    full = ec ? full.lexically_normal() : resolved;
    return WithoutTrailingSlash(full.string());
}

#endif

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

std::string LoadedText() {
    const LoadedLibrary loaded = Loaded();
    std::string text = "card driver: ";
    text += loaded.path;
    const std::string address = Environment("MOX_CARD_ADDRESS");
    if (loaded.builtHere && !address.empty()) {
        text += " (the driver built with moxpanel, sending to the card at ";
        text += address;
        text += " given by MOX_CARD_ADDRESS)";
    } else if (loaded.builtHere) {
        text += " (the bundled virtual card: a software card, no hardware is touched; MOX_CARD_ADDRESS=HOST:PORT "
                "reaches the emulator or a driver bridge)";
    } else {
        text += " (not built with moxpanel: the card maker's driver, or another)";
    }
#ifndef _WIN32
    const std::string libraryPath = Environment("LD_LIBRARY_PATH");
    if (!libraryPath.empty() && loaded.reason == "LD_LIBRARY_PATH") {
        text += "\ntaken from LD_LIBRARY_PATH=";
        text += libraryPath;
    } else if (!libraryPath.empty()) {
        text += "\nLD_LIBRARY_PATH=";
        text += libraryPath;
        text += " is set, but no ";
        text += LibraryName();
        text += " was taken from it: this one came from ";
        text += loaded.reason.empty() ? std::string("elsewhere") : loaded.reason;
    }
#endif
    return text;
}

} // namespace DllDef
