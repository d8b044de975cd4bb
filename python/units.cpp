// SPDX-License-Identifier: GPL-3.0-or-later
#include "units.h"

#include "da_value.h"
#include "limit_watch.h"
#include "rules.h"

#include <variant>

namespace moxcard {

namespace {

void CheckOutput(int channel) {
    if (channel < 0 || channel >= vcard::kDaChannels) throw BadArgument("channel: a DA channel 0..3");
}

} // namespace

mox::setup::Setup LoadSetup(const std::string& path) {
    auto loaded = mox::setup::Load(path);
    if (auto* error = std::get_if<mox::setup::Error>(&loaded)) throw SetupFailure(error->Text());
    return std::get<mox::setup::Setup>(std::move(loaded));
}

Mode ReadMode(const std::string& mode, const mox::setup::Setup* setup) {
    if (mode == "volts") return Mode::Volts;
    if (mode == "codes") return Mode::Codes;
    if (mode == "units") {
        if (setup == nullptr)
            throw BadArgument("mode: \"units\" needs a setup file: moxcard.open(setup=\"bench.toml\")");
        return Mode::Units;
    }
    throw BadArgument("mode: \"" + mode + "\" is not \"volts\", \"codes\" or \"units\"");
}

Inputs InUnits(const mox::setup::Setup& setup, const Inputs& volts) {
    Inputs out{};
    for (std::size_t k = 0; k < volts.size(); ++k) out[k] = setup.Engineering(static_cast<int>(k), volts[k]);
    return out;
}

std::int16_t DaCodeInUnits(const mox::setup::Setup& setup, int channel, double value, const std::string& range) {
    CheckOutput(channel);
    std::string why;
    const auto code = mox::setup::DaCodeForValue(setup, channel, value, Bipolar(range), why);
    if (!code) throw BadArgument("value: " + why);
    return static_cast<std::int16_t>(*code);
}

void CheckDaAlarms(const mox::setup::Setup* setup, int channel, std::int16_t code, const std::string& range) {
    if (setup == nullptr) return;
    CheckOutput(channel);
    std::string why;
    if (!mox::setup::DaCodeWithinAlarms(*setup, channel, code, Bipolar(range), why)) throw BadArgument(why);
}

std::int16_t DaCodeFor(const mox::setup::Setup* setup, int channel, std::optional<double> volts,
                       std::optional<long long> code, std::optional<double> value, const std::string& range) {
    if (!value) {
        const std::int16_t daCode = DaCode(volts, code, range);
        CheckDaAlarms(setup, channel, daCode, range);
        return daCode;
    }
    if (volts || code) throw BadArgument("give one of volts=, code= or value=, and only one");
    if (setup == nullptr)
        throw BadArgument("value: a value in the output's unit needs a setup file: moxcard.open(setup=\"bench.toml\")");
    return DaCodeInUnits(*setup, channel, *value, range);
}

std::vector<std::pair<std::string, std::string>> LevelsPassed(const mox::setup::Setup& setup, const Inputs& values) {
    std::vector<std::pair<std::string, std::string>> passed;
    for (std::size_t k = 0; k < values.size(); ++k) {
        // A watch that has seen nothing before: the level of this value alone.
        const auto level = vcard::LimitWatch(setup.inputs[k].limits).Feed(values[k]);
        if (level) passed.emplace_back(setup.inputs[k].name, std::string(vcard::LevelName(*level)));
    }
    return passed;
}

} // namespace moxcard
