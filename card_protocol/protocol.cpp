// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vnet {

bool IsKnownOp(std::uint8_t op) { return op == static_cast<std::uint8_t>(Op::Ping) || vcard::FindOp(op) != nullptr; }

std::vector<std::uint8_t> Encode(const Packet& packet) {
    const std::size_t size = std::min(packet.payload.size(), kMaxPayload);
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + size);
    const auto& magic = packet.reply ? kReplyMagic : kRequestMagic;
    out.insert(out.end(), magic.begin(), magic.end());
    out.push_back(kVersion);
    out.push_back(static_cast<std::uint8_t>(packet.op));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(packet.seq >> shift));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(packet.session >> shift));
    out.push_back(static_cast<std::uint8_t>(size >> 8));
    out.push_back(static_cast<std::uint8_t>(size));
    out.insert(out.end(), packet.payload.begin(), packet.payload.begin() + static_cast<std::ptrdiff_t>(size));
    return out;
}

std::optional<Packet> Decode(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < kHeaderSize) return std::nullopt;
    Packet packet;
    if (std::equal(kRequestMagic.begin(), kRequestMagic.end(), datagram.begin())) {
        packet.reply = false;
    } else if (std::equal(kReplyMagic.begin(), kReplyMagic.end(), datagram.begin())) {
        packet.reply = true;
    } else {
        return std::nullopt;
    }
    if (datagram[4] != kVersion || !IsKnownOp(datagram[5])) return std::nullopt;
    packet.op = static_cast<Op>(datagram[5]);
    const auto u32 = [&](std::size_t at) {
        return (std::uint32_t{datagram[at]} << 24) | (std::uint32_t{datagram[at + 1]} << 16) |
               (std::uint32_t{datagram[at + 2]} << 8) | datagram[at + 3];
    };
    packet.seq = u32(6);
    packet.session = u32(10);
    const std::size_t size = (std::size_t{datagram[14]} << 8) | datagram[15];
    if (size > kMaxPayload || datagram.size() != kHeaderSize + size) return std::nullopt;
    packet.payload.assign(datagram.begin() + kHeaderSize, datagram.end());
    return packet;
}

std::array<std::uint8_t, 7> EncodeNetStatus(const LinkView& link) {
    return {0,
            link.pcAddress[0],
            link.pcAddress[1],
            link.pcAddress[2],
            link.pcAddress[3],
            static_cast<std::uint8_t>(link.downSeconds >> 8),
            static_cast<std::uint8_t>(link.downSeconds)};
}

std::uint16_t DownSeconds(std::chrono::steady_clock::duration quiet) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(quiet).count();
    return static_cast<std::uint16_t>(std::clamp<long long>(seconds, 0, 65535));
}

Writer& Writer::U32(std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out_.push_back(static_cast<std::uint8_t>(v >> shift));
    return *this;
}
Writer& Writer::I32(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
Writer& Writer::I16(std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    out_.push_back(static_cast<std::uint8_t>(u >> 8));
    out_.push_back(static_cast<std::uint8_t>(u));
    return *this;
}
Writer& Writer::F32(float v) { return U32(std::bit_cast<std::uint32_t>(v)); }
Writer& Writer::Bytes(std::span<const std::uint8_t> bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return *this;
}

std::uint32_t Reader::U32() {
    const auto b = Bytes(4);
    if (b.size() != 4) return 0;
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}
std::int32_t Reader::I32() { return static_cast<std::int32_t>(U32()); }
std::int16_t Reader::I16() {
    const auto b = Bytes(2);
    if (b.size() != 2) return 0;
    return static_cast<std::int16_t>((std::uint16_t{b[0]} << 8) | b[1]);
}
float Reader::F32() { return std::bit_cast<float>(U32()); }
std::span<const std::uint8_t> Reader::Bytes(std::size_t n) {
    if (!ok_ || in_.size() - pos_ < n) {
        ok_ = false;
        return {};
    }
    const auto out = in_.subspan(pos_, n);
    pos_ += n;
    return out;
}
std::span<const std::uint8_t> Reader::Rest() {
    const auto out = in_.subspan(pos_);
    pos_ = in_.size();
    return out;
}

} // namespace vnet
