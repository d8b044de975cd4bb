// SPDX-License-Identifier: GPL-3.0-or-later
// JSON text of moxctl's reports and rows. Paths, names and driver texts come
// from outside and need not be UTF-8: such bytes are written as U+FFFD
// rather than ending the program in the middle of its output.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace moxctl {

// indent < 0: on one line.
inline std::string JsonText(const nlohmann::ordered_json& j, int indent = -1) {
    return j.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace moxctl
