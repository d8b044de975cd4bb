// SPDX-License-Identifier: GPL-3.0-or-later
// Files moxctl writes for others to read (reports, calibrations): written
// under a name of their own beside the file, put on the disk, then renamed
// over it, so a reader finds the old file or the new one, never half.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace moxctl {

// Looks at the file about to be replaced (it exists); a text refuses it.
using ReplaceCheck = std::function<std::optional<std::string>(const std::string& path)>;

// `text` as the whole of `path`; a link is written through to the file it
// names. `check`, when given, is asked just before, for a file already
// there. Nothing, or why the file was not written.
std::optional<std::string> WriteWhole(const std::string& path, const std::string& text, const ReplaceCheck& check = {});

// Why a report of `program` (a text beginning with `start`) cannot be
// written at `path`, known before the card is touched: its folder is not
// there, it is a folder or not a regular file, a file there is not such a
// report, or it is one of the files `taken` (what, path) for something else.
std::optional<std::string> ReportPathFault(const std::string& path, const char* start, const char* program,
                                           const std::vector<std::pair<std::string, std::string>>& taken);

} // namespace moxctl
