// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_driver_client.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

template <typename Fn>
Fn Sym(void* lib, const char* name) {
    void* p = dlsym(lib, name);
    if (!p) {
        std::fprintf(stderr, "the loaded libadcard.so is not the test driver (no %s)\n", name);
        std::abort();
    }
    return reinterpret_cast<Fn>(p);
}

} // namespace

FakeDriver::FakeDriver() {
    lib_ = dlopen("libadcard.so", RTLD_NOW | RTLD_LOCAL);
    if (!lib_) {
        std::fprintf(stderr, "cannot load the test driver: %s\n", dlerror());
        std::abort();
    }
}

FakeDriver& FakeDriver::Get() {
    static FakeDriver driver;
    return driver;
}

void FakeDriver::Reset() { Sym<void (*)()>(lib_, "fake_reset")(); }
void FakeDriver::ClearLog() { Sym<void (*)()>(lib_, "fake_clear_log")(); }

std::vector<std::string> FakeDriver::Calls() {
    std::istringstream in(Sym<const char* (*)()>(lib_, "fake_log")());
    std::vector<std::string> calls;
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    return calls;
}

void FakeDriver::SetReturn(const char* entry, std::int32_t value) {
    Sym<void (*)(const char*, std::int32_t)>(lib_, "fake_set_return")(entry, value);
}

void FakeDriver::SetReply(std::uint8_t command, const std::vector<std::uint8_t>& bytes) {
    Sym<void (*)(std::uint8_t, const std::uint8_t*, std::int32_t)>(lib_, "fake_set_reply")(
        command, bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void FakeDriver::SetResults(const std::vector<float>& values) {
    Sym<void (*)(const float*, std::int32_t)>(lib_, "fake_set_results")(values.data(),
                                                                        static_cast<std::int32_t>(values.size()));
}

void FakeDriver::SetInputs(std::int16_t element0, std::int16_t element1) {
    Sym<void (*)(std::int16_t, std::int16_t)>(lib_, "fake_set_inputs")(element0, element1);
}
