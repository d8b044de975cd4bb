// SPDX-License-Identifier: GPL-3.0-or-later
// The driver module on Windows: adcard.dll loaded from the program's folder,
// its entries found by their decorated stdcall names, and the card read
// through them.
#include "DllDef.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

TEST(DriverModuleOnWindows, ReadsTheCardThroughTheDecoratedEntries) {
    EXPECT_STREQ(DllDef::LibraryName(), "adcard.dll");
    EXPECT_EQ(DllDef::Initial(0, 0, 0, 0), 1);
    DllDef::InBuf.fill(0);
    DllDef::InBuf[0] = 70;
    DllDef::InBuf[1] = 64;
    ASSERT_EQ(DllDef::IOCtl(100, DllDef::InBuf.data(), 100, DllDef::OutBuf.data()), 5);
    EXPECT_EQ(DllDef::OutBuf[0] * 100 + DllDef::OutBuf[1], 7710);

    ASSERT_EQ(DllDef::StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    ASSERT_EQ(DllDef::Mox_DA(2, 3072), 1);
    Sleep(100);
    float results[34] = {};
    ASSERT_GT(DllDef::ADResult_DV(0, 32, 1, 1, 20, results), 0);
    EXPECT_NEAR(results[2], 2.5, 0.02) << "DA2 is wired to input 2";
    ASSERT_EQ(DllDef::Mox_DO(0, 0x5A), 1);
    ASSERT_NE(DllDef::Mox_DI(2, DllDef::DIBuf.data()), 0);
    EXPECT_EQ(DllDef::DIBuf[0], 0x5A);
    EXPECT_EQ(DllDef::StopIntr(), 1);
}

// The module loads the library that sits beside the program, by its full
// path: the one in the process is that one.
TEST(DriverModuleOnWindows, TheLibraryComesFromTheProgramsFolder) {
    DllDef::GetLastADError(); // loaded by now
    HMODULE module = GetModuleHandleA("adcard.dll");
    ASSERT_NE(module, nullptr);
    char library[MAX_PATH] = {};
    char program[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(module, library, MAX_PATH), 0u);
    ASSERT_GT(GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
    std::string folder(program);
    folder.erase(folder.find_last_of("\\/") + 1);
    EXPECT_EQ(std::string(library), folder + "adcard.dll");
}
