// SPDX-License-Identifier: GPL-3.0-or-later
#include "rows.h"

#include "json_text.h"
#include "setup_columns.h"
#include "text.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace moxctl {

Stamp Now() { return {std::chrono::system_clock::now(), mox::SinceStart().count()}; }

std::string NoteLine(std::chrono::system_clock::time_point t, const std::string& text) {
    return "# " + mox::IsoUtc(t) + " " + text + "\n";
}

namespace {

// The two time columns every row starts with.
constexpr std::string_view kTimeColumns = "utc,monotonic_s";

} // namespace

std::string CsvHeader(const ReadRequest& request, const mox::setup::Setup* setup, bool seq) {
    std::string line = mox::ReadingsColumns(request.codes, request.volts);
    if (seq) line.insert(kTimeColumns.size(), std::string(",") + kSeqColumn);
    return line + (setup != nullptr ? SetupColumns(*setup) : "") + "\n";
}

std::string WithoutSeq(const std::string& columns) {
    const std::string numbered = std::string(kTimeColumns) + "," + kSeqColumn;
    if (columns.compare(0, numbered.size(), numbered) != 0) return columns;
    if (columns.size() > numbered.size() && columns[numbered.size()] != ',') return columns;
    return std::string(kTimeColumns) + columns.substr(numbered.size());
}

std::string CsvRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading,
                   const mox::setup::Setup* setup, std::optional<long long> seq) {
    std::string line = mox::IsoUtc(stamp.utc);
    line += ',';
    line += mox::SecondsText(stamp.monotonicMs);
    if (seq) {
        line += ',';
        line += std::to_string(*seq);
    }
    for (std::size_t k = 0; k < mox::kInputChannels; ++k) {
        // Codes come from the driver in single precision: written as such.
        if (request.codes) {
            line += ',';
            line += mox::ShortestText(static_cast<float>(reading.codes[k]));
        }
        if (request.volts) {
            line += ',';
            line += mox::ShortestText(reading.volts[k]);
        }
    }
    if (setup != nullptr) {
        const auto values = EngineeringValues(*setup, request, reading);
        for (const double v : values) {
            line += ',';
            line += ValueText(v);
        }
        line += ',';
        line += BeyondLimits(*setup, values);
    }
    return line + "\n";
}

std::string JsonRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading,
                    const mox::setup::Setup* setup) {
    nlohmann::ordered_json row;
    row["utc"] = mox::IsoUtc(stamp.utc);
    row["monotonic_s"] = static_cast<double>(stamp.monotonicMs) / 1000;
    if (request.codes) {
        row["codes"] = nlohmann::ordered_json::array();
        for (double code : reading.codes) row["codes"].push_back(static_cast<float>(code));
    }
    if (request.volts) row["volts"] = reading.volts;
    if (setup != nullptr) {
        const auto values = EngineeringValues(*setup, request, reading);
        for (std::size_t k = 0; k < values.size(); ++k)
            row[setup->ColumnName(static_cast<int>(k))] = static_cast<float>(values[k]);
        row["beyond_limits"] = BeyondLimits(*setup, values);
    }
    return JsonText(row) + "\n";
}

} // namespace moxctl
