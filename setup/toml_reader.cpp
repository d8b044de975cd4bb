// SPDX-License-Identifier: GPL-3.0-or-later
#include "toml_reader.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mox::setup {

void TomlReader::Refuse(const toml::source_region& at, std::string field, std::string what) const {
    throw Refusal{Error{file_, static_cast<int>(at.begin.line), static_cast<int>(at.begin.column), std::move(field),
                        std::move(what)}};
}

double TomlReader::Number(const toml::node& n, const std::string& field) const {
    double v = 0;
    if (const auto* i = n.as_integer()) {
        v = static_cast<double>(i->get());
    } else if (const auto* f = n.as_floating_point()) {
        v = f->get();
    } else {
        Refuse(n.source(), field, "must be a number, not " + TypeName(n));
    }
    if (!std::isfinite(v)) Refuse(n.source(), field, "must be a finite number");
    return v;
}

std::string TomlReader::String(const toml::node& n, const std::string& field) const {
    const auto* s = n.as_string();
    if (s == nullptr) Refuse(n.source(), field, "must be a text in quotes, not " + TypeName(n));
    return s->get();
}

std::string TomlReader::LineText(const toml::node& n, const std::string& field) const {
    std::string s = String(n, field);
    if (BreaksLine(s)) Refuse(n.source(), field, "may not contain control, line-breaking or direction characters");
    return s;
}

const toml::table& TomlReader::Table(const toml::node& n, const std::string& field) const {
    const auto* t = n.as_table();
    if (t == nullptr) Refuse(n.source(), field, "must be a table, not " + TypeName(n));
    return *t;
}

std::string TomlReader::TypeName(const toml::node& n) {
    switch (n.type()) {
    case toml::node_type::table:
        return "a table";
    case toml::node_type::array:
        return "a list";
    case toml::node_type::string:
        return "a text";
    case toml::node_type::integer:
        return "a whole number";
    case toml::node_type::floating_point:
        return "a number";
    case toml::node_type::boolean:
        return "true or false";
    default:
        return "a date or time";
    }
}

std::string Quoted(std::string_view text) {
    // Built up rather than added together: GCC 12 at -O3 takes the sum for
    // an overlapping copy (a false -Wrestrict).
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted += text;
    quoted += '"';
    return quoted;
}

std::optional<std::string> ReadFile(const std::string& path, const std::string& kind, std::string& text) {
    constexpr std::uintmax_t kMaxFileBytes = 1 << 20;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return "cannot be read: " + ec.message();
    if (size > kMaxFileBytes) return "is " + std::to_string(size) + " bytes: not " + kind + " (at most 1 MiB)";
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in) return "cannot be read";
    text = all.str();
    return std::nullopt;
}

toml::table ParseToml(std::string_view text, const std::string& sourceName) {
    auto result = toml::parse(text, sourceName);
    if (!result) {
        const auto& e = result.error();
        throw Refusal{Error{sourceName, static_cast<int>(e.source().begin.line),
                            static_cast<int>(e.source().begin.column), "", std::string(e.description())}};
    }
    return std::move(result).table();
}

} // namespace mox::setup
