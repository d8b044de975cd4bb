// SPDX-License-Identifier: GPL-3.0-or-later
// The card behind the driver entries: the in-process software card, a card
// reached over the network, or a card driver library behind the bridge.
// Its operations come from card_ops.h.
#pragma once

#include "card_ops.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace vcard {

class CardApi {
public:
    virtual ~CardApi() = default;
    // Initial: the four values the program passes (zeros) are the driver's
    // to interpret.
#define MOX_CARD_PURE(name, number, effect, kind, params, args) virtual std::int32_t name params = 0;
    MOX_CARD_OPS(MOX_CARD_PURE)
#undef MOX_CARD_PURE
};

// The columns of card_ops.h as values, for code that walks the operations.
enum class Effect : std::uint8_t { Write, Query, Read, Command };
enum class Kind : std::uint8_t { Numbers, Buffers };

struct OpInfo {
    std::string_view name;
    std::uint8_t number = 0;
    Effect effect = Effect::Write;
    Kind kind = Kind::Numbers;
};

inline constexpr std::array kOps{
#define MOX_CARD_OP_INFO(name, number, effect, kind, params, args) OpInfo{#name, number, Effect::effect, Kind::kind},
    MOX_CARD_OPS(MOX_CARD_OP_INFO)
#undef MOX_CARD_OP_INFO
};

// The operation with a number, or nothing.
constexpr const OpInfo* FindOp(std::uint8_t number) {
    for (const auto& op : kOps) {
        if (op.number == number) return &op;
    }
    return nullptr;
}

} // namespace vcard
