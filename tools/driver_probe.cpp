// SPDX-License-Identifier: GPL-3.0-or-later
// Loads the card driver through the driver module and shows the card's
// identity and one analog reading: a check that a driver library and the
// program's loader agree on names, calling convention and arguments.
#include "DllDef.h"

#include <array>
#include <cstdio>

int main() {
    DllDef::Initial(0, 0, 0, 0);
    DllDef::InBuf[0] = 70;
    DllDef::InBuf[1] = 64;
    DllDef::IOCtl(100, DllDef::InBuf.data(), 100, DllDef::OutBuf.data());
    const auto& r = DllDef::OutBuf;
    std::printf("card %d type %d speed %dK resolution %d bits\n", r[0] * 100 + r[1], r[4], r[2] * 10, r[3]);
    DllDef::StopIntr();
    if (DllDef::StartIntr(10, 300, 0, 32, 1000, 0, 1) == 0) {
        std::printf("start refused, error %d\n", DllDef::GetLastADError());
        return 1;
    }
    std::array<float, 34> volts{};
    DllDef::ADResult_DV(0, 32, 1, 1, 20, volts.data());
    std::printf("channel 4: %.3f V\n", static_cast<double>(volts[4]));
    DllDef::StopIntr();
    return r[0] * 100 + r[1] == 7710 ? 0 : 1;
}
