// SPDX-License-Identifier: GPL-3.0-or-later
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

#include "entries.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace DllDef {

// Buffers living for the whole run, zero at start.
extern std::array<std::uint8_t, 32001> InBuf;  // IOCtl requests, indexes 0..32000
extern std::array<std::uint8_t, 32001> OutBuf; // IOCtl replies, indexes 0..32000
extern std::array<std::int16_t, 129> DIBuf;    // digital input reply, 0..128
extern std::array<std::int16_t, 9> DOBuf;      // digital output byte in element 0, 0..8

// One function for each entry of the list in adcard_entries.h, with the
// entry's name and parameters: DllDef::Initial(a, b, c, d), DllDef::IOCtl(...).
#define MOX_DLLDEF_DECLARE(name, params, args) std::int32_t name params;
MOX_ADCARD_ENTRIES(MOX_DLLDEF_DECLARE)
#undef MOX_DLLDEF_DECLARE

// The optional entries of adcard_entries.h, which only the drivers built
// here export: the library is loaded as for any entry (a library that
// cannot be loaded fails as there), and an entry it lacks is no failure.
// DllDef::Mox_ReadingInfo(info) answers 0 when the library lacks it;
// DllDef::Has_Mox_ReadingInfo() tells whether it has it.
#define MOX_DLLDEF_DECLARE_OPTIONAL(name, params, args)                                                                \
    std::int32_t name params;                                                                                          \
    bool Has_##name();
MOX_ADCARD_OPTIONAL_ENTRIES(MOX_DLLDEF_DECLARE_OPTIONAL)
#undef MOX_DLLDEF_DECLARE_OPTIONAL

// The library's file name as the loader is asked for it.
const char* LibraryName();

// A folder the loader looks in for the library, in the loader's order, and
// why it looks there ("LD_LIBRARY_PATH", "the program's RUNPATH", "the
// system's library folders"; "the program's folder", "the system folder").
struct SearchFolder {
    std::string path;
    std::string reason;
};
std::vector<SearchFolder> SearchFolders();

// A folder spelled so that two names of one folder are equal: absolute, with
// "." and ".." (and on Linux links) resolved; "" is the current folder.
std::string SameFolderForm(const std::string& folder);

// The library loaded, loading it as a call of an entry does (a library that
// cannot be loaded fails as there).
struct LoadedLibrary {
    std::string path; // its absolute path, its folder spelled as SameFolderForm does
    // It has the optional entries, which only the drivers built here export:
    // the bundled virtual card (or, with MOX_CARD_ADDRESS, our network driver).
    bool builtHere = false;
    // Why the loader looked in its folder (SearchFolder::reason); empty when
    // no search folder holds it.
    std::string reason;
};
LoadedLibrary Loaded();

// One line for people: "card driver: PATH (the bundled virtual card, ...)",
// naming MOX_CARD_ADDRESS's card when our driver sends to one, and saying so
// whether the library came from LD_LIBRARY_PATH when that is set.
std::string LoadedText();

constexpr int kDriverFailureExitCode = 3;

using FailureHandler = void (*)(const std::string& message);
// Installs the handler for a library or entry that cannot be had; nullptr
// restores the default, which writes the message to stderr and ends the
// process with kDriverFailureExitCode.
void SetFailureHandler(FailureHandler handler);

} // namespace DllDef
