// SPDX-License-Identifier: GPL-3.0-or-later
#include "card_server.h"

#include "card_model.h"

#include <algorithm>

namespace vnet {

std::optional<Packet> Serve(vcard::CardApi& card, const Packet& request, const LinkView* link) {
    if (request.reply) return std::nullopt;
    Reader in(request.payload);
    // Every field read and nothing left over: only then is anything run.
    const auto whole = [&in] { return in.ok() && in.Rest().empty(); };
    Writer out;
    std::int32_t status = 0;
    Writer data;
    switch (request.op) {
    case Op::Initial: {
        std::array<std::int32_t, 4> a{};
        for (auto& v : a) v = in.I32();
        if (!whole()) return std::nullopt;
        status = card.Initial(a[0], a[1], a[2], a[3]);
        break;
    }
    case Op::IOCtl: {
        const std::int32_t inLen = in.I32();
        const std::int32_t outLen = std::clamp(in.I32(), 0, kMaxIoBytes);
        if (inLen < 0 || inLen > kMaxIoBytes) return std::nullopt;
        const auto bytes = in.Bytes(static_cast<std::size_t>(inLen));
        if (!whole()) return std::nullopt;
        std::array<std::uint8_t, kMaxIoBytes> reply{};
        status = card.IOCtl(inLen, bytes.data(), outLen, reply.data());
        if (link != nullptr && status > 0 && inLen > 0 && bytes[0] == vcard::kCmdNetStatus) {
            // The link as this card sees it, in place of the card's own view.
            const auto net = EncodeNetStatus(*link);
            std::copy_n(net.begin(), std::min<std::size_t>(net.size(), static_cast<std::size_t>(status)),
                        reply.begin());
        }
        data.Bytes(std::span(reply).first(static_cast<std::size_t>(std::clamp(status, 0, outLen))));
        break;
    }
    case Op::StopIntr:
        if (!whole()) return std::nullopt;
        status = card.StopIntr();
        break;
    case Op::StartIntr: {
        std::array<std::int32_t, 7> a{};
        for (auto& v : a) v = in.I32();
        if (!whole()) return std::nullopt;
        status = card.StartIntr(static_cast<std::int16_t>(a[0]), a[1], static_cast<std::int16_t>(a[2]),
                                static_cast<std::int16_t>(a[3]), a[4], a[5], static_cast<std::int16_t>(a[6]));
        break;
    }
    case Op::Ping:
        if (!whole()) return std::nullopt;
        status = 1;
        break;
    case Op::GetLastADError:
        if (!whole()) return std::nullopt;
        status = card.GetLastADError();
        break;
    case Op::ADResult_DV: {
        const std::int32_t first = in.I32();
        const std::int32_t count = in.I32();
        const std::int32_t unit = in.I32();
        const std::int32_t mode = in.I32();
        const float n = in.F32();
        if (!whole()) return std::nullopt;
        std::array<float, vcard::kChannels> results{};
        // Channels first..first+count-1 must be the card's: then neither a
        // driver writing `count` results nor one indexing by channel can
        // write past the buffer. Others are answered as failed, unrun.
        if (first >= 0 && count >= 1 && std::int64_t{first} + count <= vcard::kChannels) {
            status = card.ADResult_DV(first, count, unit, mode, n, results.data());
        }
        if (status > 0) {
            for (std::int32_t i = 0; i < count; ++i) data.F32(results[static_cast<std::size_t>(i)]);
        }
        break;
    }
    case Op::Mox_DA:
    case Op::Mox_DO:
    case Op::Mox_DOBit: {
        const auto a = static_cast<std::int16_t>(in.I32());
        const auto b = static_cast<std::int16_t>(in.I32());
        if (!whole()) return std::nullopt;
        status = request.op == Op::Mox_DA   ? card.Mox_DA(a, b)
                 : request.op == Op::Mox_DO ? card.Mox_DO(a, b)
                                            : card.Mox_DOBit(a, b);
        break;
    }
    case Op::Mox_DI: {
        const std::int32_t count = in.I32();
        if (!whole()) return std::nullopt;
        // The two groups the reply carries; a driver may write as many words
        // as it is told, so a larger count is answered as failed, unrun.
        std::array<std::int16_t, 2> inputs{};
        if (count >= 1 && count <= static_cast<std::int32_t>(inputs.size())) status = card.Mox_DI(count, inputs.data());
        if (status != 0) data.I16(inputs[0]).I16(inputs[1]);
        break;
    }
    }
    out.I32(status);
    const auto body = data.Take();
    out.Bytes(body);
    return Packet{true, request.op, request.seq, request.session, out.Take()};
}

Packet Refusal(const Packet& request) { return Packet{true, request.op, request.seq, request.session, {}}; }

bool ChangesCard(const Packet& request) {
    switch (request.op) {
    case Op::Initial:
    case Op::StartIntr:
    case Op::StopIntr:
    case Op::Mox_DA:
    case Op::Mox_DO:
    case Op::Mox_DOBit:
        return true;
    case Op::IOCtl: {
        // The first request byte, after the two lengths, says what is asked.
        constexpr std::size_t kCommandAt = 8;
        if (request.payload.size() <= kCommandAt) return true;
        const std::uint8_t command = request.payload[kCommandAt];
        return command != vcard::kCmdIdentity && command != vcard::kCmdNetStatus;
    }
    case Op::GetLastADError:
    case Op::ADResult_DV:
    case Op::Mox_DI:
    case Op::Ping:
        break;
    }
    return false;
}

bool WriteOrder::Stale(const Endpoint& from, const Packet& request) const {
    if (!ChangesCard(request)) return false;
    for (const auto& e : entries_) {
        if (e.from == from && e.session == request.session) return !SeqAfter(request.seq, e.newest);
    }
    return false;
}

void WriteOrder::Ran(const Endpoint& from, const Packet& request) {
    if (!ChangesCard(request)) return;
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const Entry& e) { return e.from == from && e.session == request.session; });
    Entry entry{from, request.session, request.seq};
    if (it != entries_.end()) {
        if (!SeqAfter(request.seq, it->newest)) entry.newest = it->newest;
        entries_.erase(it);
    } else if (entries_.size() == kSessions) {
        entries_.pop_front();
    }
    entries_.push_back(entry);
}

const std::vector<std::uint8_t>* ReplyCache::Find(const Endpoint& from, const Packet& request) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        const auto& r = it->request;
        if (it->from == from && r.seq == request.seq && r.session == request.session && r.op == request.op &&
            r.payload == request.payload) {
            return &it->reply;
        }
    }
    return nullptr;
}

void ReplyCache::Store(const Endpoint& from, const Packet& request, const std::vector<std::uint8_t>& reply) {
    if (entries_.size() == kSize) entries_.pop_front();
    entries_.push_back({from, request, reply});
}

} // namespace vnet
