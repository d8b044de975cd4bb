// SPDX-License-Identifier: GPL-3.0-or-later
#include "csv.h"

#include "text.h"

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

} // namespace

std::string CsvText(const History& history, const std::vector<int>& channels, Span span,
                    const std::array<std::string, 3>& modeNames) {
    std::vector<std::size_t> shown;
    for (int k : channels) {
        if (k >= 0 && k < kChannels) shown.push_back(static_cast<std::size_t>(k));
    }
    const std::size_t first = history.LowerBound(span.fromMs);
    std::size_t last = first;
    while (last < history.Size() && history.At(last).ms <= span.toMs) ++last;

    std::string text = ModeLine(history, first, last, modeNames);
    text += mox::ReadingsColumns(channels, false, true);
    text += '\n';
    for (std::size_t i = first; i < last; ++i) {
        const Sample& s = history.At(i);
        text += mox::IsoUtc(s.wallMs);
        text += ',';
        text += mox::SecondsText(s.ms);
        for (std::size_t k : shown) {
            text += ',';
            if (s.read) text += mox::ShortestText(s.volts[k]);
        }
        text += '\n';
    }
    return text;
}

} // namespace trend
