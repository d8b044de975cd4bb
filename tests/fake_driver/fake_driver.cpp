// A card driver for tests: records every call with its arguments and gives
// scripted replies. Built twice: as a full driver, and without `Initial` to
// exercise the program's handling of a driver that lacks an entry.
// `Mox_Writeb` is never exported, so the missing-entry path can be reached
// in-process too.
#include "adcard_abi.h"
#include "fake_control.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
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

std::string Args(std::initializer_list<long long> values) {
    std::string out = "(";
    bool first = true;
    for (long long v : values) {
        if (!first) out += ',';
        out += std::to_string(v);
        first = false;
    }
    return out + ")";
}

std::string FloatText(float f) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
    return buf;
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

// ---- driver entries ----
#ifndef FAKE_WITHOUT_INITIAL
int32_t Initial(int32_t a, int32_t b, int32_t c, int32_t d) {
    Record("Initial" + Args({a, b, c, d}));
    return ReturnOf("Initial");
}
#endif

int32_t IOCtl(int32_t in_len, uint8_t* in, int32_t out_len, uint8_t* out) {
    Record("IOCtl(" + std::to_string(in_len) + ",[" + std::to_string(in[0]) + "," + std::to_string(in[1]) + "," +
           std::to_string(in[2]) + "]," + std::to_string(out_len) + ")");
    {
        std::lock_guard lock(S().mutex);
        auto it = S().replies.find(in[0]);
        if (it != S().replies.end()) std::memcpy(out, it->second.data(), it->second.size());
    }
    return ReturnOf("IOCtl");
}

int32_t StopIntr(void) {
    Record("StopIntr()");
    return ReturnOf("StopIntr");
}

int32_t StartIntr(int16_t a1, int32_t a2, int16_t a3, int16_t a4, int32_t a5, int32_t a6, int16_t a7) {
    Record("StartIntr" + Args({a1, a2, a3, a4, a5, a6, a7}));
    return ReturnOf("StartIntr");
}

int32_t GetLastADError(void) {
    Record("GetLastADError()");
    return ReturnOf("GetLastADError", 0);
}

int32_t ADResult_DV(int32_t first, int32_t count, int32_t unit, int32_t mode, float n, float* results) {
    Record("ADResult_DV(" + std::to_string(first) + "," + std::to_string(count) + "," + std::to_string(unit) + "," +
           std::to_string(mode) + "," + FloatText(n) + ")");
    {
        std::lock_guard lock(S().mutex);
        if (!S().results.empty()) std::memcpy(results, S().results.data(), S().results.size() * sizeof(float));
    }
    return ReturnOf("ADResult_DV");
}

int32_t Mox_DA(int16_t channel, int16_t code) {
    Record("Mox_DA" + Args({channel, code}));
    return ReturnOf("Mox_DA");
}

int32_t Mox_DO(int16_t group, int16_t value) {
    Record("Mox_DO" + Args({group, value}));
    return ReturnOf("Mox_DO");
}

int32_t Mox_DOBit(int16_t bit, int16_t value) {
    Record("Mox_DOBit" + Args({bit, value}));
    return ReturnOf("Mox_DOBit");
}

int32_t Mox_DI(int32_t count, int16_t* inputs) {
    Record("Mox_DI" + Args({count}));
    {
        std::lock_guard lock(S().mutex);
        inputs[0] = S().inputs[0];
        inputs[1] = S().inputs[1];
    }
    return ReturnOf("Mox_DI");
}

int32_t StartSnapshot(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h) {
    Record("StartSnapshot" + Args({a, b, c, d, e, f, g, h}));
    return ReturnOf("StartSnapshot", 0);
}
int32_t RegisterNotify(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) {
    Record("RegisterNotify" + Args({a, b, c, d, e}));
    return ReturnOf("RegisterNotify", 0);
}
int32_t QueryBuf(void) {
    Record("QueryBuf()");
    return ReturnOf("QueryBuf", 0);
}
int32_t ADResult(int32_t a) {
    Record("ADResult" + Args({a}));
    return ReturnOf("ADResult", 0);
}
int32_t ADResultRecent(int32_t a) {
    Record("ADResultRecent" + Args({a}));
    return ReturnOf("ADResultRecent", 0);
}
int32_t GetSnapshot(int32_t a, int32_t b, int32_t c) {
    Record("GetSnapshot" + Args({a, b, c}));
    return ReturnOf("GetSnapshot", 0);
}
int32_t ConfigInfo(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h) {
    Record("ConfigInfo" + Args({a, b, c, d, e, f, g, h}));
    return ReturnOf("ConfigInfo", 0);
}
int32_t ChannelFrq(int32_t a, int32_t b) {
    Record("ChannelFrq" + Args({a, b}));
    return ReturnOf("ChannelFrq", 0);
}
int32_t Mox_ADResult(int32_t a, int32_t b) {
    Record("Mox_ADResult" + Args({a, b}));
    return ReturnOf("Mox_ADResult", 0);
}
int32_t Mox_Init(int32_t a, int32_t b, int32_t c) {
    Record("Mox_Init" + Args({a, b, c}));
    return ReturnOf("Mox_Init", 0);
}
int32_t Mox_USB_Inportb(int32_t a, int32_t b, int32_t c) {
    Record("Mox_USB_Inportb" + Args({a, b, c}));
    return ReturnOf("Mox_USB_Inportb", 0);
}
int32_t Mox_USB_Outportb(int32_t a, int32_t b, int32_t c) {
    Record("Mox_USB_Outportb" + Args({a, b, c}));
    return ReturnOf("Mox_USB_Outportb", 0);
}
int32_t Mox_Readb(int32_t a, int32_t b, int32_t c, int32_t d) {
    Record("Mox_Readb" + Args({a, b, c, d}));
    return ReturnOf("Mox_Readb", 0);
}

} // extern "C"
