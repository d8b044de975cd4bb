// SPDX-License-Identifier: GPL-3.0-or-later
// The card driver entries as a table: plain name, the decorated stdcall name
// that 32-bit Windows drivers export, and the bytes of arguments in it.
// Computed from the entry list and the parameter types, on any platform.
#pragma once

#include "adcard_abi.h"

#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>

namespace DllDef {

namespace detail {

// One stdcall argument slot: 4 bytes, or the value's size rounded up to 4.
// Pointers count as on the 32-bit platform the decorated names belong to.
template <typename T>
constexpr std::size_t SlotBytes() {
    if constexpr (std::is_pointer_v<T>) {
        return 4;
    } else {
        return (sizeof(T) + 3) / 4 * 4;
    }
}

template <typename Fn>
struct ArgBytes;
template <typename R, typename... A>
struct ArgBytes<R(A...)> {
    static constexpr std::size_t value = (std::size_t{0} + ... + SlotBytes<A>());
};

// "_" + name + "@" + bytes, as a constant string.
template <std::size_t N>
struct FixedText {
    char text[N]{};
    constexpr std::string_view view() const { return {text, N - 1}; }
};

constexpr std::size_t Digits(std::size_t n) { return n < 10 ? 1 : 1 + Digits(n / 10); }

template <std::size_t Bytes, std::size_t P>
constexpr auto Decorate(const char (&plain)[P]) {
    FixedText<P + 2 + Digits(Bytes)> out{};
    std::size_t i = 0;
    out.text[i++] = '_';
    for (std::size_t k = 0; k + 1 < P; ++k) out.text[i++] = plain[k];
    out.text[i++] = '@';
    for (std::size_t d = Digits(Bytes), n = Bytes; d > 0; --d, n /= 10)
        out.text[i + d - 1] = static_cast<char>('0' + n % 10);
    return out;
}

} // namespace detail

// The C function type of each entry, without calling convention:
// DllDef::Entry_Initial is int32_t(int32_t, int32_t, int32_t, int32_t).
#define MOX_ENTRY_TYPE(name, params, args) using Entry_##name = int32_t params;
MOX_ADCARD_ENTRIES(MOX_ENTRY_TYPE)
MOX_ADCARD_OPTIONAL_ENTRIES(MOX_ENTRY_TYPE)
#undef MOX_ENTRY_TYPE

// Constant decorated names: DllDef::kDecorated_Initial.view() == "_Initial@16".
#define MOX_ENTRY_DECORATED(name, params, args)                                                                        \
    inline constexpr auto kDecorated_##name = detail::Decorate<detail::ArgBytes<Entry_##name>::value>(#name);
MOX_ADCARD_ENTRIES(MOX_ENTRY_DECORATED)
MOX_ADCARD_OPTIONAL_ENTRIES(MOX_ENTRY_DECORATED)
#undef MOX_ENTRY_DECORATED

struct EntryInfo {
    std::string_view name;      // Initial
    std::string_view decorated; // _Initial@16
    std::size_t argBytes;       // 16
    bool calledByWindows;
};

#define MOX_ENTRY_INFO_CALLED(name, params, args)                                                                      \
    EntryInfo{#name, kDecorated_##name.view(), detail::ArgBytes<Entry_##name>::value, true},
#define MOX_ENTRY_INFO_OTHER(name, params, args)                                                                       \
    EntryInfo{#name, kDecorated_##name.view(), detail::ArgBytes<Entry_##name>::value, false},
inline constexpr std::array kEntries{MOX_ADCARD_CALLED_ENTRIES(MOX_ENTRY_INFO_CALLED)
                                         MOX_ADCARD_OTHER_ENTRIES(MOX_ENTRY_INFO_OTHER)};
#undef MOX_ENTRY_INFO_CALLED
#undef MOX_ENTRY_INFO_OTHER

} // namespace DllDef
