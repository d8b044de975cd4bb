// The card driver module: typed entries of the card's driver library and the
// buffers that the windows exchange with it.
//
// The library is `libadcard.so` on Linux (plain entry names, opened through
// the system loader so LD_LIBRARY_PATH and the program's RUNPATH apply) and
// `adcard.dll` on Windows (decorated stdcall names, loaded from the program's
// folder or the system folder only). Nothing is loaded before the first
// call of an entry, and each entry is looked up by name at its first call.
//
// When the library cannot be loaded or lacks an entry, the failure handler
// is called with a message naming the library or entry and the loader's
// reason. It must not return; if it does, the process ends with
// kDriverFailureExitCode.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#if defined(_WIN32) && !defined(_WIN64)
#define MOX_STDCALL __stdcall
#else
#define MOX_STDCALL
#endif

namespace DllDef {

// Buffers living for the whole run, zero at start.
extern std::array<std::uint8_t, 32001> InBuf;  // IOCtl requests, indexes 0..32000
extern std::array<std::uint8_t, 32001> OutBuf; // IOCtl replies, indexes 0..32000
extern std::array<std::int16_t, 129> DIBuf;    // digital input reply, 0..128
extern std::array<std::int16_t, 9> DOBuf;      // digital output byte in element 0, 0..8

// The entries the windows call.
std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d);
std::int32_t IOCtl(std::int32_t inLen, std::uint8_t* in, std::int32_t outLen, std::uint8_t* out);
std::int32_t StopIntr();
std::int32_t StartIntr(std::int16_t a1, std::int32_t a2, std::int16_t a3, std::int16_t a4, std::int32_t a5,
                       std::int32_t a6, std::int16_t a7);
std::int32_t GetLastADError();
std::int32_t ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode, float n,
                         float* results);
std::int32_t Mox_DA(std::int16_t channel, std::int16_t code);
std::int32_t Mox_DO(std::int16_t group, std::int16_t value);
std::int32_t Mox_DOBit(std::int16_t bit, std::int16_t value);
std::int32_t Mox_DI(std::int32_t count, std::int16_t* inputs);

// Declared entries that the windows never call. They take and return
// 32-bit integers, one per 4 bytes of their decorated size.
std::int32_t StartSnapshot(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t, std::int32_t);
std::int32_t RegisterNotify(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t);
std::int32_t QueryBuf();
std::int32_t ADResult(std::int32_t);
std::int32_t ADResultRecent(std::int32_t);
std::int32_t GetSnapshot(std::int32_t, std::int32_t, std::int32_t);
std::int32_t ConfigInfo(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                        std::int32_t, std::int32_t);
std::int32_t ChannelFrq(std::int32_t, std::int32_t);
std::int32_t Mox_ADResult(std::int32_t, std::int32_t);
std::int32_t Mox_Init(std::int32_t, std::int32_t, std::int32_t);
std::int32_t Mox_USB_Inportb(std::int32_t, std::int32_t, std::int32_t);
std::int32_t Mox_USB_Outportb(std::int32_t, std::int32_t, std::int32_t);
std::int32_t Mox_Readb(std::int32_t, std::int32_t, std::int32_t, std::int32_t);
std::int32_t Mox_Writeb(std::int32_t, std::int32_t, std::int32_t, std::int32_t);

// The library's file name as the loader is asked for it.
const char* LibraryName();

constexpr int kDriverFailureExitCode = 3;

using FailureHandler = void (*)(const std::string& message);
// Installs the handler for a library or entry that cannot be had; nullptr
// restores the default, which writes the message to stderr and ends the
// process with kDriverFailureExitCode.
void SetFailureHandler(FailureHandler handler);

} // namespace DllDef
