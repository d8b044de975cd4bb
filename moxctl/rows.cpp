// SPDX-License-Identifier: GPL-3.0-or-later
#include "rows.h"

#include "text.h"

#include <nlohmann/json.hpp>

namespace moxctl {

Stamp Now() { return {std::chrono::system_clock::now(), mox::SinceStart().count()}; }

std::string NoteLine(std::chrono::system_clock::time_point t, const std::string& text) {
    return "# " + mox::IsoUtc(t) + " " + text + "\n";
}

std::string CsvHeader(const ReadRequest& request) { return mox::ReadingsColumns(request.codes, request.volts) + "\n"; }

std::string CsvRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading) {
    std::string line = mox::IsoUtc(stamp.utc);
    line += ',';
    line += mox::SecondsText(stamp.monotonicMs);
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
    return line + "\n";
}

std::string JsonRow(const ReadRequest& request, const Stamp& stamp, const Reading& reading) {
    nlohmann::ordered_json row;
    row["utc"] = mox::IsoUtc(stamp.utc);
    row["monotonic_s"] = static_cast<double>(stamp.monotonicMs) / 1000;
    if (request.codes) {
        row["codes"] = nlohmann::ordered_json::array();
        for (double code : reading.codes) row["codes"].push_back(static_cast<float>(code));
    }
    if (request.volts) row["volts"] = reading.volts;
    return row.dump() + "\n";
}

} // namespace moxctl
