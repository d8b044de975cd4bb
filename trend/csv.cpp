// SPDX-License-Identifier: GPL-3.0-or-later
#include "csv.h"

#include "text.h"

#include <cfloat>
#include <cmath>
#include <filesystem>

namespace trend {

namespace {

// "# read mode: newest, mean volts": the modes actually read in samples
// first..last-1 (a failed read's mode was only asked for).
std::string ModeLine(const History& history, std::size_t first, std::size_t last,
                     const std::array<std::string, 3>& modeNames) {
    std::array<bool, 3> seen{};
    for (std::size_t i = first; i < last; ++i) {
        if (history.At(i).read) seen[history.At(i).mode % 3] = true;
    }
    std::string text = "# read mode:";
    const char* separator = " ";
    for (std::size_t m = 0; m < seen.size(); ++m) {
        if (!seen[m]) continue;
        text += separator;
        text += modeNames[m];
        separator = ", ";
    }
    return text + '\n';
}

std::vector<std::size_t> Shown(const std::vector<int>& channels) {
    std::vector<std::size_t> shown;
    for (int k : channels) {
        if (k >= 0 && k < kChannels) shown.push_back(static_cast<std::size_t>(k));
    }
    return shown;
}

// "# setup: /bench/bench-setup.toml, sha256 ...": the path made whole, as a
// moxctl log names it, so that it still names the file where it is read.
std::string SetupLine(const mox::setup::Setup& setup) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(setup.path, ec);
    const std::string path = ec ? setup.path : absolute.lexically_normal().string();
    return "# setup: " + path + ", sha256 " + setup.digest + "\n";
}

// A value in its unit to single precision, the precision of the volts it
// comes from (as moxctl writes it).
std::string ValueText(double value) {
    if (std::isfinite(value) && std::fabs(value) <= FLT_MAX) return mox::ShortestText(static_cast<float>(value));
    return mox::ShortestText(value);
}

} // namespace

std::string CsvColumns(const std::vector<int>& channels, const mox::setup::Setup* setup) {
    std::string columns = mox::ReadingsColumns(channels, false, true);
    if (setup == nullptr) return columns;
    for (std::size_t k : Shown(channels)) {
        columns += ',';
        columns += setup->ColumnName(static_cast<int>(k));
    }
    return columns;
}

std::string CsvUnitRow(const std::vector<int>& channels, const mox::setup::Setup& setup) {
    const std::vector<std::size_t> shown = Shown(channels);
    std::string row = "#unit,s";
    for (std::size_t i = 0; i < shown.size(); ++i) row += ",V";
    for (std::size_t k : shown) {
        row += ',';
        row += setup.inputs[k].unit;
    }
    return row;
}

std::string CsvText(const History& history, const std::vector<int>& channels, Span span,
                    const std::array<std::string, 3>& modeNames, const mox::setup::Setup* setup) {
    const std::vector<std::size_t> shown = Shown(channels);
    const std::size_t first = history.LowerBound(span.fromMs);
    std::size_t last = first;
    while (last < history.Size() && history.At(last).ms <= span.toMs) ++last;

    std::string text = ModeLine(history, first, last, modeNames);
    if (setup != nullptr) text += SetupLine(*setup);
    text += CsvColumns(channels, setup);
    text += '\n';
    if (setup != nullptr) text += CsvUnitRow(channels, *setup) + '\n';
    for (std::size_t i = first; i < last; ++i) {
        const Sample& s = history.At(i);
        text += mox::IsoUtc(s.wallMs);
        text += ',';
        text += mox::SecondsText(s.ms);
        for (std::size_t k : shown) {
            text += ',';
            if (s.read) text += mox::ShortestText(s.volts[k]);
        }
        // A failed read has no value in any unit either: its cells stay empty.
        for (std::size_t k = 0; setup != nullptr && k < shown.size(); ++k) {
            text += ',';
            const int channel = static_cast<int>(shown[k]);
            if (s.read) text += ValueText(setup->Engineering(channel, static_cast<double>(s.volts[shown[k]])));
        }
        text += '\n';
    }
    return text;
}

} // namespace trend
