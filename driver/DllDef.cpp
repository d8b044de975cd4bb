#include "DllDef.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
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
        failure = std::string("无法加载板卡驱动程序库 ") + kLibraryName + "。\nCannot load the card driver library " +
                  kLibraryName + ".\n" + reason;
    }
    return g_library;
}

// The address of an entry; a failure is reported after the lock is released,
// so that a handler showing a message can let other events run.
void* Resolve([[maybe_unused]] const char* plainName, [[maybe_unused]] const char* decoratedName) {
    std::string failure;
    void* sym = nullptr;
    {
        std::lock_guard lock(g_loadMutex);
        LibraryHandle lib = LibraryLocked(failure);
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
                failure = std::string("板卡驱动程序库 ") + kLibraryName + " 缺少函数 " + shown +
                          "。\nThe card driver library " + kLibraryName + " has no entry " + shown + ".\n" + reason;
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

using I32 = std::int32_t;
using I16 = std::int16_t;

#define MOX_ENTRY(name, bytes, ...)                                                                                    \
    using name##_t = I32(MOX_STDCALL*)(__VA_ARGS__);                                                                   \
    Entry<name##_t> e_##name{#name, "_" #name "@" #bytes};

MOX_ENTRY(Initial, 16, I32, I32, I32, I32)
MOX_ENTRY(IOCtl, 16, I32, std::uint8_t*, I32, std::uint8_t*)
MOX_ENTRY(StopIntr, 0, void)
MOX_ENTRY(StartIntr, 28, I16, I32, I16, I16, I32, I32, I16)
MOX_ENTRY(GetLastADError, 0, void)
MOX_ENTRY(ADResult_DV, 24, I32, I32, I32, I32, float, float*)
MOX_ENTRY(Mox_DA, 8, I16, I16)
MOX_ENTRY(Mox_DO, 8, I16, I16)
MOX_ENTRY(Mox_DOBit, 8, I16, I16)
MOX_ENTRY(Mox_DI, 8, I32, I16*)
MOX_ENTRY(StartSnapshot, 32, I32, I32, I32, I32, I32, I32, I32, I32)
MOX_ENTRY(RegisterNotify, 20, I32, I32, I32, I32, I32)
MOX_ENTRY(QueryBuf, 0, void)
MOX_ENTRY(ADResult, 4, I32)
MOX_ENTRY(ADResultRecent, 4, I32)
MOX_ENTRY(GetSnapshot, 12, I32, I32, I32)
MOX_ENTRY(ConfigInfo, 32, I32, I32, I32, I32, I32, I32, I32, I32)
MOX_ENTRY(ChannelFrq, 8, I32, I32)
MOX_ENTRY(Mox_ADResult, 8, I32, I32)
MOX_ENTRY(Mox_Init, 12, I32, I32, I32)
MOX_ENTRY(Mox_USB_Inportb, 12, I32, I32, I32)
MOX_ENTRY(Mox_USB_Outportb, 12, I32, I32, I32)
MOX_ENTRY(Mox_Readb, 16, I32, I32, I32, I32)
MOX_ENTRY(Mox_Writeb, 16, I32, I32, I32, I32)

#undef MOX_ENTRY

} // namespace

const char* LibraryName() { return kLibraryName; }

void SetFailureHandler(FailureHandler handler) { g_handler.store(handler); }

I32 Initial(I32 a, I32 b, I32 c, I32 d) { return (*e_Initial)(a, b, c, d); }
I32 IOCtl(I32 inLen, std::uint8_t* in, I32 outLen, std::uint8_t* out) { return (*e_IOCtl)(inLen, in, outLen, out); }
I32 StopIntr() { return (*e_StopIntr)(); }
I32 StartIntr(I16 a1, I32 a2, I16 a3, I16 a4, I32 a5, I32 a6, I16 a7) {
    return (*e_StartIntr)(a1, a2, a3, a4, a5, a6, a7);
}
I32 GetLastADError() { return (*e_GetLastADError)(); }
I32 ADResult_DV(I32 first, I32 count, I32 unit, I32 mode, float n, float* results) {
    return (*e_ADResult_DV)(first, count, unit, mode, n, results);
}
I32 Mox_DA(I16 channel, I16 code) { return (*e_Mox_DA)(channel, code); }
I32 Mox_DO(I16 group, I16 value) { return (*e_Mox_DO)(group, value); }
I32 Mox_DOBit(I16 bit, I16 value) { return (*e_Mox_DOBit)(bit, value); }
I32 Mox_DI(I32 count, I16* inputs) { return (*e_Mox_DI)(count, inputs); }

I32 StartSnapshot(I32 a, I32 b, I32 c, I32 d, I32 e, I32 f, I32 g, I32 h) {
    return (*e_StartSnapshot)(a, b, c, d, e, f, g, h);
}
I32 RegisterNotify(I32 a, I32 b, I32 c, I32 d, I32 e) { return (*e_RegisterNotify)(a, b, c, d, e); }
I32 QueryBuf() { return (*e_QueryBuf)(); }
I32 ADResult(I32 a) { return (*e_ADResult)(a); }
I32 ADResultRecent(I32 a) { return (*e_ADResultRecent)(a); }
I32 GetSnapshot(I32 a, I32 b, I32 c) { return (*e_GetSnapshot)(a, b, c); }
I32 ConfigInfo(I32 a, I32 b, I32 c, I32 d, I32 e, I32 f, I32 g, I32 h) {
    return (*e_ConfigInfo)(a, b, c, d, e, f, g, h);
}
I32 ChannelFrq(I32 a, I32 b) { return (*e_ChannelFrq)(a, b); }
I32 Mox_ADResult(I32 a, I32 b) { return (*e_Mox_ADResult)(a, b); }
I32 Mox_Init(I32 a, I32 b, I32 c) { return (*e_Mox_Init)(a, b, c); }
I32 Mox_USB_Inportb(I32 a, I32 b, I32 c) { return (*e_Mox_USB_Inportb)(a, b, c); }
I32 Mox_USB_Outportb(I32 a, I32 b, I32 c) { return (*e_Mox_USB_Outportb)(a, b, c); }
I32 Mox_Readb(I32 a, I32 b, I32 c, I32 d) { return (*e_Mox_Readb)(a, b, c, d); }
I32 Mox_Writeb(I32 a, I32 b, I32 c, I32 d) { return (*e_Mox_Writeb)(a, b, c, d); }

} // namespace DllDef
