// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_input.h"

#include <asio/post.hpp>

#include <iostream>
#include <thread>
#include <utility>

namespace vnet {

void ReadCommandLines(asio::io_context& io, std::function<void(const std::string&)> onLine, bool stopAtEnd) {
    std::thread([&io, onLine = std::move(onLine), stopAtEnd] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) asio::post(io, [onLine, line] { onLine(line); });
        }
        if (stopAtEnd) asio::post(io, [&io] { io.stop(); });
    }).detach();
}

} // namespace vnet
