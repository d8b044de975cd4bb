// SPDX-License-Identifier: GPL-3.0-or-later
// What every program of moxpanel answers to --version, as GNU programs do:
// its name and version, then its copyright and license (help2man reads
// these lines for the manual pages).
#pragma once

#include <string>

namespace mox {

inline std::string VersionText(const char* program, const char* version) {
    std::string text = program;
    text += ' ';
    text += version;
    text += "\nCopyright (C) 2026 The moxpanel developers\n"
            "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
            "This is free software: you are free to change and redistribute it.\n"
            "There is NO WARRANTY, to the extent permitted by law.";
    return text;
}

} // namespace mox
