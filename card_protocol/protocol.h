// SPDX-License-Identifier: GPL-3.0-or-later
// The request/reply protocol between the card driver and a card on the
// network (docs/card-protocol.md). Encoding and parsing only; no sockets.
#pragma once

#include "card_api.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vnet {

constexpr std::array<std::uint8_t, 4> kRequestMagic{'M', 'O', 'X', 'Q'};
constexpr std::array<std::uint8_t, 4> kReplyMagic{'M', 'O', 'X', 'A'};
constexpr std::uint8_t kVersion = 2;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kMaxPayload = 1024;
constexpr std::size_t kMaxDatagram = kHeaderSize + kMaxPayload;
// IOCtl request and reply bytes carried at the most.
constexpr std::int32_t kMaxIoBytes = 256;

// The card's operations by their numbers (card_ops.h), and the link's own.
enum class Op : std::uint8_t {
#define MOX_CARD_OP_NUMBER(name, number, effect, kind, params, args) name = (number),
    MOX_CARD_OPS(MOX_CARD_OP_NUMBER)
#undef MOX_CARD_OP_NUMBER
    // The link's heartbeat: answered with status 1 and nothing run on the card.
    Ping = 11,
};
static_assert(vcard::FindOp(static_cast<std::uint8_t>(Op::Ping)) == nullptr, "Ping's number is the link's own");
bool IsKnownOp(std::uint8_t op);

struct Packet {
    bool reply = false;
    Op op = Op::Initial;
    std::uint32_t seq = 0;
    // Chosen at random by the driver for each run and echoed by every reply,
    // so that a reply cannot be forged by guessing sequence numbers alone.
    std::uint32_t session = 0;
    std::vector<std::uint8_t> payload;
};

// The datagram for a packet; payloads beyond kMaxPayload are cut.
std::vector<std::uint8_t> Encode(const Packet& packet);

// A packet from a datagram, or nothing when the magic, version, operation
// or length does not check out.
std::optional<Packet> Decode(std::span<const std::uint8_t> datagram);

// The link as the card sees it, reported in the network status reply.
struct LinkView {
    std::array<std::uint8_t, 4> pcAddress{}; // as the card sees the PC
    std::uint16_t downSeconds = 0;           // since it last heard from the PC
};

// The network status reply (request 130): byte 0 = 0, bytes 1..4 = the PC's
// address, most significant first, bytes 5..6 = the seconds the link has
// been down, high byte first.
std::array<std::uint8_t, 7> EncodeNetStatus(const LinkView& link);

// The whole seconds of a quiet time as the reply carries them: 0..65535.
std::uint16_t DownSeconds(std::chrono::steady_clock::duration quiet);

// Big-endian payload fields.
class Writer {
public:
    Writer& I32(std::int32_t v);
    Writer& U32(std::uint32_t v);
    Writer& I16(std::int16_t v);
    Writer& F32(float v);
    Writer& Bytes(std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> Take() { return std::move(out_); }

private:
    std::vector<std::uint8_t> out_;
};

// The request payload of an operation of kind Numbers: every argument a
// 32-bit word, in the order of the call.
template <Op op, class... Args>
std::vector<std::uint8_t> NumbersPayload(Args... args) {
    static_assert(vcard::FindOp(static_cast<std::uint8_t>(op))->kind == vcard::Kind::Numbers,
                  "an operation with buffers has a codec of its own");
    Writer w;
    (w.I32(std::int32_t{args}), ...);
    return w.Take();
}

// Reads big-endian fields; any read past the end marks the reader failed
// and yields 0.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
    std::int32_t I32();
    std::uint32_t U32();
    std::int16_t I16();
    float F32();
    std::span<const std::uint8_t> Bytes(std::size_t n);
    std::span<const std::uint8_t> Rest();
    bool ok() const { return ok_; }

private:
    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace vnet
