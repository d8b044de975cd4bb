// SPDX-License-Identifier: GPL-3.0-or-later
// The card's side of the protocol: runs one request on a card and builds
// the reply. No sockets; the emulator feeds it datagrams.
#pragma once

#include "card_api.h"
#include "protocol.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vnet {

// The reply to a request, or nothing for a packet that is not a well-formed
// request (a reply, unknown payload layout, trailing bytes).
std::optional<Packet> Serve(vcard::CardApi& card, const Packet& request, const LinkView& link);

} // namespace vnet
