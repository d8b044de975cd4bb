// SPDX-License-Identifier: GPL-3.0-or-later
// SHA-256 (FIPS 180-4) of a text: what a log records so that the setup it
// was read with can be told apart from any later edit of the same file.
#pragma once

#include <string>
#include <string_view>

namespace mox::setup {

// 64 lowercase hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

} // namespace mox::setup
