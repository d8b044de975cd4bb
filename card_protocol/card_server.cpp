// SPDX-License-Identifier: GPL-3.0-or-later
#include "card_server.h"

#include "card_constants.h"

#include <algorithm>
#include <tuple>

namespace vnet {
namespace {

// One request being served: its payload still to read, the reply's data
// after the status, and the link to report in place of the card's own.
struct Request {
    vcard::CardApi& card;
    Reader in;
    Writer data;
    const LinkView* link = nullptr;

    // Every field read and nothing left over: only then is anything run.
    bool Whole() { return in.ok() && in.Rest().empty(); }
};

// An operation of kind Numbers: each argument a 32-bit word, cut to the
// parameter's width as the driver's stdcall slot would be. Nothing, when
// the payload does not hold exactly its words.
template <class... Params>
std::optional<std::int32_t> ServeNumbers(Request& r, std::int32_t (vcard::CardApi::*method)(Params...)) {
    // A braced list reads the words in the order of the parameters.
    const std::tuple<Params...> args{static_cast<Params>(r.in.I32())...};
    if (!r.Whole()) return std::nullopt;
    return std::apply([&](Params... a) { return (r.card.*method)(a...); }, args);
}

std::optional<std::int32_t> ServeIOCtl(Request& r) {
    const std::int32_t inLen = r.in.I32();
    const std::int32_t outLen = std::clamp(r.in.I32(), 0, kMaxIoBytes);
    if (inLen < 0 || inLen > kMaxIoBytes) return std::nullopt;
    const auto bytes = r.in.Bytes(static_cast<std::size_t>(inLen));
    if (!r.Whole()) return std::nullopt;
    std::array<std::uint8_t, kMaxIoBytes> reply{};
    const std::int32_t status = r.card.IOCtl(inLen, bytes.data(), outLen, reply.data());
    if (r.link != nullptr && status > 0 && inLen > 0 && bytes[0] == vcard::kCmdNetStatus) {
        // The link as this card sees it, in place of the card's own view.
        const auto net = EncodeNetStatus(*r.link);
        std::copy_n(net.begin(), std::min<std::size_t>(net.size(), static_cast<std::size_t>(status)), reply.begin());
    }
    r.data.Bytes(std::span(reply).first(static_cast<std::size_t>(std::clamp(status, 0, outLen))));
    return status;
}

std::optional<std::int32_t> ServeADResult_DV(Request& r) {
    const std::int32_t first = r.in.I32();
    const std::int32_t count = r.in.I32();
    const std::int32_t unit = r.in.I32();
    const std::int32_t mode = r.in.I32();
    const float n = r.in.F32();
    if (!r.Whole()) return std::nullopt;
    std::array<float, vcard::kChannels> results{};
    std::int32_t status = 0;
    // Channels first..first+count-1 must be the card's: then neither a
    // driver writing `count` results nor one indexing by channel can
    // write past the buffer. Others are answered as failed, unrun.
    if (first >= 0 && count >= 1 && std::int64_t{first} + count <= vcard::kChannels) {
        status = r.card.ADResult_DV(first, count, unit, mode, n, results.data());
    }
    if (status > 0) {
        for (std::int32_t i = 0; i < count; ++i) r.data.F32(results[static_cast<std::size_t>(i)]);
    }
    return status;
}

std::optional<std::int32_t> ServeMox_DI(Request& r) {
    const std::int32_t count = r.in.I32();
    if (!r.Whole()) return std::nullopt;
    // The groups the reply carries; a driver may write as many words as it
    // is told, so a larger count is answered as failed, unrun.
    std::array<std::int16_t, vcard::kDiGroups> inputs{};
    std::int32_t status = 0;
    if (count >= 1 && count <= static_cast<std::int32_t>(inputs.size())) status = r.card.Mox_DI(count, inputs.data());
    if (status != 0) {
        for (const std::int16_t group : inputs) r.data.I16(group);
    }
    return status;
}

// Whether an operation changes the card, by its effect in card_ops.h.
bool Changes(vcard::Effect effect, const Packet& request) {
    switch (effect) {
    case vcard::Effect::Write:
        return true;
    case vcard::Effect::Query:
    case vcard::Effect::Read:
        return false;
    case vcard::Effect::Command: {
        // The first request byte, after the two lengths, says what is asked.
        constexpr std::size_t kCommandAt = 8;
        if (request.payload.size() <= kCommandAt) return true;
        const std::uint8_t command = request.payload[kCommandAt];
        return command != vcard::kCmdIdentity && command != vcard::kCmdNetStatus;
    }
    }
    return true;
}

} // namespace

std::optional<Packet> Serve(vcard::CardApi& card, const Packet& request, const LinkView* link) {
    if (request.reply) return std::nullopt;
    Request r{card, Reader(request.payload), Writer(), link};
    std::optional<std::int32_t> status;
    switch (request.op) {
#define MOX_SERVE_Numbers(name) ServeNumbers(r, &vcard::CardApi::name)
#define MOX_SERVE_Buffers(name) Serve##name(r)
#define MOX_SERVE_OP(name, number, effect, kind, params, args)                                                         \
    case Op::name:                                                                                                     \
        status = MOX_SERVE_##kind(name);                                                                               \
        break;
        MOX_CARD_OPS(MOX_SERVE_OP)
#undef MOX_SERVE_OP
#undef MOX_SERVE_Buffers
#undef MOX_SERVE_Numbers
    case Op::Ping:
        if (r.Whole()) status = 1;
        break;
    }
    if (!status) return std::nullopt;
    Writer out;
    out.I32(*status);
    const auto body = r.data.Take();
    out.Bytes(body);
    return Packet{true, request.op, request.seq, request.session, out.Take()};
}

Packet Refusal(const Packet& request) { return Packet{true, request.op, request.seq, request.session, {}}; }

bool ChangesCard(const Packet& request) {
    const auto* op = vcard::FindOp(static_cast<std::uint8_t>(request.op));
    return op != nullptr && Changes(op->effect, request); // a heartbeat is the link's own
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
