// SPDX-License-Identifier: GPL-3.0-or-later
// Command lines on standard input for the programs that serve the card
// protocol (the emulator, the driver bridge). Nothing of the protocol in
// it: a program reading its commands does not link the card code for it.
#pragma once

#include <asio/io_context.hpp>

#include <functional>
#include <string>

namespace vnet {

// Reads standard input on a thread of its own, the same way on every
// system, and hands each non-empty line (without a trailing CR) to `onLine`
// on the thread running `io`. At the end of input `io` is stopped when
// `stopAtEnd`. The thread may still be blocked reading when the program
// ends, so it is not joined.
void ReadCommandLines(asio::io_context& io, std::function<void(const std::string&)> onLine, bool stopAtEnd);

} // namespace vnet
