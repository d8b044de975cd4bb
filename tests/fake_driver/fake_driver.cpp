// SPDX-License-Identifier: GPL-3.0-or-later
// A card driver for tests: records every call with its arguments and gives
// scripted replies. Built twice, and a version script keeps entries out of
// the export table: `Mox_Writeb` is never exported, so the missing-entry
// path can be reached in-process too; the second build also lacks `Initial`,
// to exercise the program's handling of a driver without its first entry.
#include "adcard_abi.h"
#include "fake_control.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace {

struct State {
    std::mutex mutex;
    std::string log;
    std::map<std::string, int32_t> returns;
    std::map<uint8_t, std::vector<uint8_t>> replies;
    std::vector<float> results;
    int16_t inputs[2] = {0, 0};
};

State& S() {
    static State s;
    return s;
}

void Record(const std::string& call) {
    std::lock_guard lock(S().mutex);
    S().log += call;
    S().log += '\n';
}

int32_t ReturnOf(const char* entry, int32_t fallback = 1) {
    std::lock_guard lock(S().mutex);
    auto it = S().returns.find(entry);
    return it == S().returns.end() ? fallback : it->second;
}

std::string ArgText(long long v) { return std::to_string(v); }
std::string ArgText(float f) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
    return buf;
}

// "name(1,2,3)": the values passed; the caller's buffers are not recorded.
template <typename... A>
std::string CallText(const char* name, A... args) {
    std::string out = std::string(name) + "(";
    bool first = true;
    [[maybe_unused]] auto add = [&](auto v) {
        if constexpr (!std::is_pointer_v<decltype(v)>) {
            if (!first) out += ',';
            if constexpr (std::is_floating_point_v<decltype(v)>) {
                out += ArgText(v);
            } else {
                out += ArgText(static_cast<long long>(v));
            }
            first = false;
        }
    };
    (add(args), ...);
    return out + ")";
}

// What an entry does besides recording its call: by its parameter types,
// nothing, or filling the caller's buffers with the scripted replies.
template <typename... A>
void Effect(A...) {}

void Effect(int32_t, int32_t, int32_t, int32_t, float, float* results) {
    std::lock_guard lock(S().mutex);
    if (!S().results.empty()) std::memcpy(results, S().results.data(), S().results.size() * sizeof(float));
}

void Effect(int32_t, int16_t* inputs) {
    std::lock_guard lock(S().mutex);
    inputs[0] = S().inputs[0];
    inputs[1] = S().inputs[1];
}

// One call of an entry: recorded, its effect, and its scripted result or
// `fallback` (success for the entries the program calls, 0 for the others);
// the last error is 0 unless scripted.
template <typename... A>
int32_t Called(const char* name, int32_t fallback, A... args) {
    Record(CallText(name, args...));
    Effect(args...);
    return ReturnOf(name, std::strcmp(name, "GetLastADError") == 0 ? 0 : fallback);
}

// IOCtl records the first three request bytes and answers with the reply
// scripted for its command.
int32_t Called(const char* name, int32_t, int32_t in_len, uint8_t* in, int32_t out_len, uint8_t* out) {
    Record(std::string(name) + "(" + std::to_string(in_len) + ",[" + std::to_string(in[0]) + "," +
           std::to_string(in[1]) + "," + std::to_string(in[2]) + "]," + std::to_string(out_len) + ")");
    {
        std::lock_guard lock(S().mutex);
        auto it = S().replies.find(in[0]);
        if (it != S().replies.end()) std::memcpy(out, it->second.data(), it->second.size());
    }
    return ReturnOf(name);
}

} // namespace

extern "C" {

// ---- control ----
void fake_reset(void) {
    std::lock_guard lock(S().mutex);
    S().log.clear();
    S().returns.clear();
    S().replies.clear();
    S().results.clear();
    S().inputs[0] = S().inputs[1] = 0;
}
// The returned text stays valid until the next call. A plain static, not a
// thread_local: dynamic TLS in a library loaded with dlopen trips
// LeakSanitizer's thread tracer (GCC 12) at exit.
const char* fake_log(void) {
    static std::string copy;
    std::lock_guard lock(S().mutex);
    copy = S().log;
    return copy.c_str();
}
void fake_clear_log(void) {
    std::lock_guard lock(S().mutex);
    S().log.clear();
}
void fake_set_return(const char* entry, int32_t value) {
    std::lock_guard lock(S().mutex);
    S().returns[entry] = value;
}
void fake_set_reply(uint8_t command, const uint8_t* bytes, int32_t n) {
    std::lock_guard lock(S().mutex);
    S().replies[command].assign(bytes, bytes + n);
}
void fake_set_results(const float* values, int32_t n) {
    std::lock_guard lock(S().mutex);
    S().results.assign(values, values + n);
}
void fake_set_inputs(int16_t element0, int16_t element1) {
    std::lock_guard lock(S().mutex);
    S().inputs[0] = element0;
    S().inputs[1] = element1;
}

// ---- driver entries, from the entry list ----
#define FAKE_ARGS_AFTER(...) __VA_OPT__(, ) __VA_ARGS__
#define FAKE_CALLED(name, params, args)                                                                                \
    int32_t name params { return Called(#name, 1 FAKE_ARGS_AFTER args); }
#define FAKE_OTHER(name, params, args)                                                                                 \
    int32_t name params { return Called(#name, 0 FAKE_ARGS_AFTER args); }
MOX_ADCARD_CALLED_ENTRIES(FAKE_CALLED)
MOX_ADCARD_OTHER_ENTRIES(FAKE_OTHER)

} // extern "C"
