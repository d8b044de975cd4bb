// SPDX-License-Identifier: GPL-3.0-or-later
// A card driver for tests: the virtual card with one wiring fault, chosen
// by the environment variable MOX_TEST_FAULT:
//   gain:CH:G     DA channel CH puts out G times the voltage asked for
//   stuck:BIT:V   digital input BIT (1..16) reads V whatever is written
//   short:I:J     digital lines I and J (1..16) shorted together (wired OR)
//   noise:CH:V    input CH carries uniform noise of +/-V volts
//   again:CH:G    input CH reads G times its voltage (within the AD's range)
//   aoffset:CH:V  input CH reads V volts more than its voltage
//   hang:ENTRY:S  the entry named ENTRY takes S seconds before it runs
//   crash:ENTRY:0 the entry named ENTRY ends the process (abort)
//   exact:0:0     IOCtl request 200 fills exactly the declared reply length
//                 with 0xA5 and returns that length
// Without it the card is sound.
#include "card_model.h"
#include "driver_card.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>

namespace {

struct Fault {
    std::string kind;
    std::string entry; // the middle field as written
    int a = 0;
    double b = 0;
};

Fault FaultFromEnvironment() {
    Fault f;
    const char* text = std::getenv("MOX_TEST_FAULT");
    if (text == nullptr) return f;
    // kind:a:b
    const std::string fault = text;
    const auto first = fault.find(':');
    const auto second = fault.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) return f;
    f.kind = fault.substr(0, first);
    f.entry = fault.substr(first + 1, second - first - 1);
    f.a = static_cast<int>(std::strtol(fault.c_str() + first + 1, nullptr, 10));
    f.b = std::strtod(fault.c_str() + second + 1, nullptr);
    return f;
}

class FaultyCard final : public vcard::CardApi {
public:
    explicit FaultyCard(Fault fault) : fault_(std::move(fault)) {}

    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override {
        Trouble("Initial");
        return card_.Initial(a, b, c, d);
    }
    std::int32_t IOCtl(std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out) override {
        Trouble("IOCtl");
        if (fault_.kind == "exact" && inLen >= 1 && in[0] == 200) {
            std::fill_n(out, outLen, std::uint8_t{0xA5});
            return outLen;
        }
        return card_.IOCtl(inLen, in, outLen, out);
    }
    std::int32_t StartIntr(std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count,
                           std::int32_t depth, std::int32_t gain, std::int16_t trigger) override {
        Trouble("StartIntr");
        return card_.StartIntr(rate, block, first, count, depth, gain, trigger);
    }
    std::int32_t StopIntr() override {
        Trouble("StopIntr");
        return card_.StopIntr();
    }
    std::int32_t GetLastADError() override { return card_.GetLastADError(); }
    std::int32_t ADResult_DV(std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode, float n,
                             float* results) override {
        Trouble("ADResult_DV");
        const std::int32_t got = card_.ADResult_DV(first, count, unit, mode, n, results);
        const int ch = fault_.a - first;
        if (got > 0 && fault_.kind == "noise" && ch >= 0 && ch < count) {
            const double volts = fault_.b * noise_(rng_);
            results[ch] += static_cast<float>(unit == 1 ? volts : volts * 32768.0 / 5.0);
        }
        if (got > 0 && (fault_.kind == "again" || fault_.kind == "aoffset") && ch >= 0 && ch < count) {
            results[ch] = InputError(results[ch], unit);
        }
        return got;
    }
    std::int32_t Mox_DA(std::int16_t channel, std::int16_t code) override {
        Trouble("Mox_DA");
        if (fault_.kind == "gain" && channel == fault_.a) {
            const double volts = (code - 2048) / 409.5 * fault_.b;
            code = static_cast<std::int16_t>(std::lround(volts * 409.5 + 2048));
        }
        return card_.Mox_DA(channel, code);
    }
    std::int32_t Mox_DO(std::int16_t group, std::int16_t value) override {
        Trouble("Mox_DO");
        return card_.Mox_DO(group, value);
    }
    std::int32_t Mox_DOBit(std::int16_t bit, std::int16_t value) override {
        Trouble("Mox_DOBit");
        return card_.Mox_DOBit(bit, value);
    }
    std::int32_t Mox_DI(std::int32_t count, std::int16_t* inputs) override {
        Trouble("Mox_DI");
        std::int16_t both[2] = {0, 0};
        const std::int32_t got = card_.Mox_DI(2, both);
        unsigned bits = static_cast<unsigned>(both[0] & 0xFF) | static_cast<unsigned>(both[1] & 0xFF) << 8;
        auto line = [](int number) { return number >= 1 && number <= 16 ? 1u << (number - 1) : 0u; };
        const unsigned a = line(fault_.a);
        if (fault_.kind == "stuck") bits = fault_.b != 0 ? bits | a : bits & ~a;
        if (fault_.kind == "short") {
            const unsigned b = line(static_cast<int>(fault_.b));
            if (bits & (a | b)) bits |= a | b;
        }
        if (count >= 1) inputs[0] = static_cast<std::int16_t>(bits & 0xFF);
        if (count >= 2) inputs[1] = static_cast<std::int16_t>(bits >> 8);
        return got;
    }

private:
    // An input's gain or offset error on one result, in volts (unit 1) or
    // in the driver's signed codes (unit 0), held to what the AD can give.
    float InputError(float result, std::int32_t unit) const {
        double volts = unit == 1 ? result : vcard::CodeToVolts(result < 0 ? result + 65536.0 : result);
        volts = fault_.kind == "again" ? volts * fault_.b : volts + fault_.b;
        if (unit == 1) return static_cast<float>(std::clamp(volts, -5.0, 32767.0 / 32768.0 * 5.0));
        const double code = std::clamp(volts / 5.0 * 32768.0 + 32768.0, 0.0, 65535.0);
        return static_cast<float>(code > 32767 ? code - 65536 : code);
    }

    // A driver that hangs or crashes in one entry.
    void Trouble(const char* entry) const {
        if (fault_.entry != entry) return;
        if (fault_.kind == "hang") std::this_thread::sleep_for(std::chrono::duration<double>(fault_.b));
        if (fault_.kind == "crash") std::abort();
    }

    Fault fault_;
    vcard::VirtualCard card_;
    std::mt19937 rng_{7};
    std::uniform_real_distribution<double> noise_{-1.0, 1.0};
};

} // namespace

vcard::CardApi& DriverCard() {
    static const auto card = std::make_unique<FaultyCard>(FaultFromEnvironment());
    return *card;
}
