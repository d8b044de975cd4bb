// SPDX-License-Identifier: GPL-3.0-or-later
// Reaches the control entries of the test driver that the program under test
// has loaded as its card driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FakeDriver {
public:
    // The loaded test driver; aborts the test program if the card driver
    // found by the loader is not the test driver.
    static FakeDriver& Get();

    void Reset();
    void ClearLog();
    std::vector<std::string> Calls();
    void SetReturn(const char* entry, std::int32_t value);
    void SetReply(std::uint8_t command, const std::vector<std::uint8_t>& bytes);
    void SetResults(const std::vector<float>& values);
    void SetInputs(std::int16_t element0, std::int16_t element1);

private:
    FakeDriver();
    void* lib_ = nullptr;
};
