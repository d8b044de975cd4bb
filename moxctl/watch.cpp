// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch.h"

#include "card.h"
#include "commands.h"
#include "pacing.h"
#include "rows.h"
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <variant>

namespace moxctl {

std::vector<WatchedInput> WatchedInputs(const mox::setup::Setup& setup) {
    std::vector<WatchedInput> watched;
    for (int i = 0; i < static_cast<int>(setup.inputs.size()); ++i) {
        const auto& channel = setup.inputs[static_cast<std::size_t>(i)];
        if (!vcard::HasLevels(channel.limits)) continue;
        watched.push_back({i, channel.name, channel.unit, vcard::LimitWatch(channel.limits)});
    }
    return watched;
}

std::string LevelLine(std::chrono::system_clock::time_point t, const WatchedInput& in, double value,
                      vcard::Level level) {
    return mox::IsoUtc(t) + " " + InputName(in.input) + " " + in.name + " " +
           mox::ShortestText(static_cast<float>(value)) + " " + in.unit + " " + std::string(vcard::LevelName(level)) +
           "\n";
}

namespace {

using Clock = std::chrono::steady_clock;

// While readings fail the card is asked more often than readings are due,
// so that its return is seen soon.
constexpr auto kRetryWhileFailing = std::chrono::milliseconds(50);

void Note(const std::string& text) {
    std::fputs(NoteLine(std::chrono::system_clock::now(), text).c_str(), stderr);
    std::fflush(stderr);
}

// One run: readings at their times, each watched input's value fed to its
// watch. A failed reading is no value: it is noted, and no watch sees it.
class WatchRun {
public:
    WatchRun(Card& card, const mox::setup::Setup& setup, std::vector<WatchedInput>& inputs, const WatchOptions& o)
        : card_(card), setup_(setup), inputs_(inputs), schedule_(Clock::now(), o.interval, o.duration) {}

    int Run() {
        while (!g_stop) {
            const auto next = failing_ ? Clock::now() + kRetryWhileFailing : schedule_.Due();
            if (schedule_.Over() || schedule_.EndsBy(next)) break;
            while (!g_stop && Clock::now() < next) {
                std::this_thread::sleep_for(std::min<Clock::duration>(next - Clock::now(), kRetryWhileFailing));
            }
            if (g_stop) break;
            Step();
        }
        if (!anyReading_) {
            std::fprintf(stderr, "moxctl: the card gave no reading: nothing was watched\n");
            return kExitFailed;
        }
        return alarmed_ ? kExitFailed : kExitOk;
    }

private:
    void Step() {
        const auto reading = card_.Read(ReadRequest{});
        if (!reading) {
            Failed();
            return;
        }
        schedule_.Taken(Clock::now());
        if (failing_) Note("readings resumed");
        failing_ = false;
        anyReading_ = true;
        const auto now = std::chrono::system_clock::now();
        for (auto& in : inputs_) {
            const double value = setup_.Engineering(in.input, reading->volts[static_cast<std::size_t>(in.input)]);
            const auto level = in.watch.Feed(value);
            if (!level) continue;
            alarmed_ = alarmed_ || vcard::IsAlarm(*level);
            std::fputs(LevelLine(now, in, value, *level).c_str(), stdout);
        }
        std::fflush(stdout);
    }

    // The card does not answer, or answers but no longer acquires (it was
    // restarted): then acquisition is started again, once per outage.
    void Failed() {
        if (!failing_) {
            failing_ = true;
            restartTried_ = false;
            Note("readings fail: the card does not answer; levels are held until it does");
        }
        if (restartTried_ || !card_.Identity()) return;
        restartTried_ = true;
        std::int32_t error = 0;
        Note(card_.StartAcquisition(error) ? "the card answers but was not acquiring: acquisition started again"
                                           : "the card answers but does not acquire (" + DriverErrorText(error) + ")");
    }

    Card& card_;
    const mox::setup::Setup& setup_;
    std::vector<WatchedInput>& inputs_;
    RowSchedule schedule_;
    bool failing_ = false;
    bool restartTried_ = false;
    bool anyReading_ = false;
    bool alarmed_ = false;
};

int Usage(const std::string& message) {
    std::fprintf(stderr, "moxctl: %s\n", message.c_str());
    return kExitUsage;
}

std::string Names(const std::vector<WatchedInput>& inputs) {
    std::string names;
    for (const auto& in : inputs) names += (names.empty() ? "" : ", ") + InputName(in.input);
    return names;
}

} // namespace

int Watch(const WatchOptions& o) {
    // The file is judged before the card is touched.
    auto loaded = mox::setup::Load(o.setupPath);
    if (const auto* error = std::get_if<mox::setup::Error>(&loaded)) return Usage(error->Text());
    const auto& setup = std::get<mox::setup::Setup>(loaded);
    std::vector<WatchedInput> inputs = WatchedInputs(setup);
    if (inputs.empty()) {
        return Usage(o.setupPath +
                     ": no input has a limit (alarm_low, warn_low, warn_high or alarm_high): nothing to watch");
    }
    Card card;
    std::int32_t error = 0;
    if (!card.StartAcquisition(error)) {
        std::fprintf(stderr, "moxctl: acquisition did not start on %s (%s): nothing was watched; %s\n",
                     CardName().c_str(), DriverErrorText(error).c_str(), NoAnswerAdvice().c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "moxctl: watching %s, a reading every %lld ms\n", Names(inputs).c_str(),
                 static_cast<long long>(o.interval.count()));
    const int result = WatchRun(card, setup, inputs, o).Run();
    card.StopAcquisition();
    return result;
}

} // namespace moxctl
