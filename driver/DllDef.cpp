// SPDX-License-Identifier: GPL-3.0-or-later
#include "DllDef.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <type_traits>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

namespace DllDef {

std::array<std::uint8_t, 32001> InBuf{};
std::array<std::uint8_t, 32001> OutBuf{};
std::array<std::int16_t, 129> DIBuf{};
std::array<std::int16_t, 9> DOBuf{};

namespace {

#ifdef _WIN32
constexpr const char* kLibraryName = "adcard.dll";
using LibraryHandle = HMODULE;
#else
constexpr const char* kLibraryName = "libadcard.so";
using LibraryHandle = void*;
#endif

std::atomic<FailureHandler> g_handler{nullptr};
std::mutex g_loadMutex;
LibraryHandle g_library = nullptr;

[[noreturn]] void Fail(const std::string& message) {
    if (FailureHandler handler = g_handler.load()) handler(message);
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(kDriverFailureExitCode);
}

#ifdef _WIN32
std::string LastErrorText() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string out = n && text ? std::string(text, n) : std::string();
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out + " (error " + std::to_string(code) + ")";
}
#endif

// The full path of a loaded library; its file name when the loader does not tell.
std::string PathOf(LibraryHandle library) {
#ifdef _WIN32
    std::array<char, 32768> name{};
    const DWORD n = GetModuleFileNameA(library, name.data(), static_cast<DWORD>(name.size()));
    if (n > 0 && n < name.size()) return std::string(name.data(), n);
#else
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        *map->l_name != '\0') {
        return map->l_name;
    }
#endif
    return kLibraryName;
}

// "/a/b" of "/a/b/lib.so" and of "/a/b//lib.so", "C:\a" of "C:\a\x.dll":
// the folder as the loader's search list writes it.
std::string ParentFolder(const std::string& path) {
    std::size_t end = path.find_last_of("/\\");
    if (end == std::string::npos) return {};
    while (end > 0 && (path[end - 1] == '/' || path[end - 1] == '\\')) --end;
    return path.substr(0, end);
}

// The folders searched, in order, and what to do: said when the library
// cannot be loaded.
std::string WhereLooked() {
    std::string text = "Searched, in this order:";
    for (const SearchFolder& folder : SearchFolders()) {
        text += "\n  ";
        text += folder.path;
        text += " (";
        text += folder.reason;
        text += ')';
    }
#ifdef _WIN32
    text += "\nNot searched: the folders of PATH and the current folder. Put adcard.dll (the card's driver, or the "
            "bundled virtual card) beside this program.";
#else
    text += "\nPut libadcard.so in one of them, or name its folder with LD_LIBRARY_PATH=FOLDER.";
#endif
    return text;
}

// Loads the library on first use. Returns null with the failure message set
// when it cannot be loaded; callers hold g_loadMutex.
LibraryHandle LibraryLocked(std::string& failure) {
    if (g_library) return g_library;
#ifdef _WIN32
    // Only the program's own folder and the system folder, never the
    // current directory.
    g_library =
        LoadLibraryExA(kLibraryName, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    const std::string reason = g_library ? std::string() : LastErrorText();
#else
    dlerror();
    g_library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    const char* err = g_library ? nullptr : dlerror();
    const std::string reason = err ? err : "unknown loader error";
#endif
    if (!g_library) {
        failure = "无法加载板卡驱动程序库 ";
        failure += kLibraryName;
        failure += "。\nCannot load the card driver library ";
        failure += kLibraryName;
        failure += ".\n";
        failure += reason;
        failure += '\n';
        failure += WhereLooked();
    }
    return g_library;
}

// The address of an entry; a failure is reported after the lock is released,
// so that a handler showing a message can let other events run. An
// optional entry the library lacks is null, and no failure.
void* Resolve([[maybe_unused]] const char* plainName, [[maybe_unused]] const char* decoratedName,
              bool optional = false) {
    std::string failure;
    void* sym = nullptr;
    {
        std::lock_guard lock(g_loadMutex);
        LibraryHandle lib = LibraryLocked(failure);
        if (lib && optional) {
#ifdef _WIN32
            sym = reinterpret_cast<void*>(GetProcAddress(lib, decoratedName));
#else
            sym = dlsym(lib, plainName);
#endif
            return sym;
        }
        if (lib) {
#ifdef _WIN32
            sym = reinterpret_cast<void*>(GetProcAddress(lib, decoratedName));
            const char* shown = decoratedName;
            const std::string reason = sym ? std::string() : LastErrorText();
#else
            dlerror();
            sym = dlsym(lib, plainName);
            const char* shown = plainName;
            const char* err = sym ? nullptr : dlerror();
            const std::string reason = err ? err : "the entry's address is null";
#endif
            if (!sym) {
                failure = "板卡驱动程序库 ";
                failure += kLibraryName;
                failure += " 缺少函数 ";
                failure += shown;
                failure += "。\nThe card driver library ";
                failure += kLibraryName;
                failure += " has no entry ";
                failure += shown;
                failure += ".\n";
                failure += reason;
                failure += "\nLoaded from ";
                failure += PathOf(lib);
                failure += ": it is not a MOX card driver, or an older one; the folders searched before it may "
                           "hold the right one.";
            }
        }
    }
    if (!sym) Fail(failure);
    return sym;
}

// One driver entry: its names and its address once looked up.
template <typename Fn>
class Entry {
public:
    constexpr Entry(const char* plain, const char* decorated) : plain_(plain), decorated_(decorated) {}

    Fn operator*() {
        Fn fn = fn_.load(std::memory_order_acquire);
        if (!fn) {
            fn = reinterpret_cast<Fn>(Resolve(plain_, decorated_));
            fn_.store(fn, std::memory_order_release);
        }
        return fn;
    }

private:
    const char* plain_;
    const char* decorated_;
    std::atomic<Fn> fn_{nullptr};
};

// An optional entry: looked up once, null when the library lacks it.
template <typename Fn>
class OptionalEntry {
public:
    constexpr OptionalEntry(const char* plain, const char* decorated) : plain_(plain), decorated_(decorated) {}

    Fn Get() {
        std::call_once(once_, [this] { fn_ = reinterpret_cast<Fn>(Resolve(plain_, decorated_, true)); });
        return fn_;
    }

private:
    const char* plain_;
    const char* decorated_;
    std::once_flag once_;
    Fn fn_ = nullptr;
};

// The typed table: one entry for each line of the list, its pointer type
// checked against the C prototype every card driver is built from. (The
// parameter and argument lists come with their parentheses.)
// NOLINTBEGIN(bugprone-macro-parentheses)
#define MOX_DLLDEF_ENTRY(name, params, args)                                                                           \
    using name##_fn = int32_t(MOX_CARD_CALL*) params;                                                                  \
    static_assert(std::is_same_v<name##_fn, decltype(&::name)>, "entry type differs from its C prototype");            \
    Entry<name##_fn> e_##name{#name, kDecorated_##name.text};
MOX_ADCARD_ENTRIES(MOX_DLLDEF_ENTRY)
#undef MOX_DLLDEF_ENTRY
#define MOX_DLLDEF_OPTIONAL_ENTRY(name, params, args)                                                                  \
    using name##_fn = int32_t(MOX_CARD_CALL*) params;                                                                  \
    static_assert(std::is_same_v<name##_fn, decltype(&::name)>, "entry type differs from its C prototype");            \
    OptionalEntry<name##_fn> e_##name{#name, kDecorated_##name.text};
MOX_ADCARD_OPTIONAL_ENTRIES(MOX_DLLDEF_OPTIONAL_ENTRY)
#undef MOX_DLLDEF_OPTIONAL_ENTRY
// NOLINTEND(bugprone-macro-parentheses)

} // namespace

const char* LibraryName() { return kLibraryName; }

LoadedLibrary Loaded() {
    LoadedLibrary loaded;
    loaded.builtHere = Has_Mox_ReadingInfo(); // loads it, or fails as an entry would
    {
        std::lock_guard lock(g_loadMutex);
        loaded.path = PathOf(g_library);
    }
    // The loader may give a relative name ("./libadcard.so", through an
    // empty element of a search path) or one with "..": said as the one
    // absolute folder, as the search folders are compared.
    const std::size_t slash = loaded.path.find_last_of("/\\");
    if (slash == std::string::npos) {
        loaded.path = SameFolderForm(".") + "/" + loaded.path;
    } else {
        const std::string folder = SameFolderForm(slash == 0 ? "/" : ParentFolder(loaded.path));
        loaded.path = (folder == "/" ? std::string() : folder) + loaded.path.substr(slash);
    }
    const std::string folder = SameFolderForm(ParentFolder(loaded.path));
    for (const SearchFolder& searched : SearchFolders()) {
        if (SameFolderForm(searched.path) == folder) {
            loaded.reason = searched.reason;
            break;
        }
    }
    return loaded;
}

void SetFailureHandler(FailureHandler handler) { g_handler.store(handler); }

// NOLINTBEGIN(bugprone-macro-parentheses)
#define MOX_DLLDEF_WRAPPER(name, params, args)                                                                         \
    std::int32_t name params { return (*e_##name)args; }
MOX_ADCARD_ENTRIES(MOX_DLLDEF_WRAPPER)
#undef MOX_DLLDEF_WRAPPER
#define MOX_DLLDEF_OPTIONAL_WRAPPER(name, params, args)                                                                \
    std::int32_t name params {                                                                                         \
        const auto fn = e_##name.Get();                                                                                \
        return fn != nullptr ? fn args : 0;                                                                            \
    }                                                                                                                  \
    bool Has_##name() { return e_##name.Get() != nullptr; }
MOX_ADCARD_OPTIONAL_ENTRIES(MOX_DLLDEF_OPTIONAL_WRAPPER)
#undef MOX_DLLDEF_OPTIONAL_WRAPPER
// NOLINTEND(bugprone-macro-parentheses)

} // namespace DllDef
