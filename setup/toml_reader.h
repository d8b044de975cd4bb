// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a TOML file of ours (a setup, a calibration, a recipe) node by
// node: each value of the kind it must be, or the file refused at the
// value's line and column with the field it stands for.
#pragma once

#include "setup.h"

#include <toml++/toml.h>

#include <optional>
#include <string>
#include <string_view>

namespace mox::setup {

// Thrown by a reader to end it at the first fault; the function reading the
// file turns it into its Error result, so nothing half-read leaves it.
struct Refusal {
    Error error;
};

class TomlReader {
public:
    explicit TomlReader(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void Refuse(const toml::source_region& at, std::string field, std::string what) const;
    // A finite number, written whole or not.
    double Number(const toml::node& n, const std::string& field) const;
    std::string String(const toml::node& n, const std::string& field) const;
    // A text written on one line (of a log's header, a report).
    std::string LineText(const toml::node& n, const std::string& field) const;
    const toml::table& Table(const toml::node& n, const std::string& field) const;
    static std::string TypeName(const toml::node& n);
    const std::string& File() const { return file_; }

private:
    std::string file_;
};

// "text", as a message quotes a value of the file.
std::string Quoted(std::string_view text);

// The whole of a file of ours, or why not: one larger than 1 MiB is not
// `kind` ("a recipe") and is not read.
std::optional<std::string> ReadFile(const std::string& path, const std::string& kind, std::string& text);

// The file's tables, or a Refusal at the place the TOML parser names.
toml::table ParseToml(std::string_view text, const std::string& sourceName);

} // namespace mox::setup
