// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversions.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <limits>
#include <random>
#include <string>

using namespace mox;

struct TextCase {
    const char* text;
    double value;
};

class TextToNumberTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextToNumberTest, ReadsTheNumberAtTheStart) {
    EXPECT_EQ(TextToNumber(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Decimal, TextToNumberTest,
                         ::testing::Values(TextCase{"20", 20}, TextCase{"", 0}, TextCase{"abc", 0}, TextCase{"-", 0},
                                           TextCase{"+", 0}, TextCase{".", 0}, TextCase{"-.", 0}, TextCase{" 2 0", 20},
                                           TextCase{"\t1\n2 .\t5", 12.5}, TextCase{"2.5", 2.5}, TextCase{"-3", -3},
                                           TextCase{"+7", 7}, TextCase{".5", 0.5}, TextCase{"-.25", -0.25},
                                           TextCase{"0.000", 0}, TextCase{"12abc", 12}, TextCase{"x1", 0},
                                           TextCase{"1.5.5", 1.5}, TextCase{"1e3", 1000}, TextCase{"1E-2", 0.01},
                                           TextCase{"2e", 2}, TextCase{"2e+", 2}, TextCase{"2ex", 2},
                                           TextCase{"-1.5e+2", -150}, TextCase{"1,5", 1}, TextCase{"0.4", 0.4},
                                           TextCase{"0.6", 0.6}, TextCase{"1 e 2", 100}, TextCase{"--1", 0},
                                           TextCase{"-0", 0}, TextCase{"00012", 12}, TextCase{"0.1", 0.1},
                                           TextCase{"12345678901234567890", 12345678901234567890.0},
                                           TextCase{"１２", 0}, TextCase{"\r5", 0}, TextCase{"5\r5", 5}));

INSTANTIATE_TEST_SUITE_P(Hexadecimal, TextToNumberTest,
                         ::testing::Values(TextCase{"&H800", 2048}, TextCase{"&hff", 255}, TextCase{"&HFFFF", -1},
                                           TextCase{"&H8000", -32768}, TextCase{"&H7FFF", 32767},
                                           TextCase{"&H0FFFF", 65535}, TextCase{"&H12345", 0x12345},
                                           TextCase{"&HFFFFFFFF", -1}, TextCase{"&H80000000", -2147483648.0},
                                           TextCase{"&H7FFFFFFF", 2147483647}, TextCase{"&H", 0}, TextCase{"&HG5", 0},
                                           TextCase{"&H1FFG", 0x1FF}, TextCase{"& H 1 0", 16}, TextCase{"&", 0},
                                           TextCase{"&O17", 0}, TextCase{"&H&H12", 0}, TextCase{"&H-5", 0},
                                           TextCase{"&H1800", 0x1800}, TextCase{"&H100000000", 4294967296.0},
                                           TextCase{"&H0000000001", 1}, TextCase{"&HFFFFFFFFFF", 1099511627775.0}));

TEST(TextToNumber, IsFiniteForHugeAndTinyNumbers) {
    EXPECT_EQ(TextToNumber("1e999"), DBL_MAX);
    EXPECT_EQ(TextToNumber("-1e999"), -DBL_MAX);
    EXPECT_EQ(TextToNumber("1e-999"), 0.0);
    EXPECT_FALSE(std::signbit(TextToNumber("-1e-999")));
    EXPECT_EQ(TextToNumber("1e99999999999999999999999"), DBL_MAX);
    EXPECT_EQ(TextToNumber("&H" + std::string(1000, 'F')), DBL_MAX);
    EXPECT_EQ(TextToNumber(std::string(400, '9')), DBL_MAX);
    EXPECT_EQ(TextToNumber("0." + std::string(400, '0') + "1e405"), 1e4);
    EXPECT_EQ(TextToNumber("1" + std::string(300, '0') + "e-300"), 1.0);
}

TEST(TextToNumber, IgnoresTheLocale) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    EXPECT_EQ(TextToNumber("2.5"), 2.5);
    EXPECT_EQ(NumberText(2.5), " 2.5");
    EXPECT_EQ(VoltText(-0.25), "-0.250V");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(TextToNumber, LongAndRandomTextsEndWithAFiniteValue) {
    EXPECT_EQ(TextToNumber(std::string(1 << 20, ' ') + "7"), 7);
    EXPECT_EQ(TextToNumber(std::string(1 << 20, '0') + "7"), 7);
    std::mt19937 rng(12345);
    const std::string alphabet = "0123456789abcdefABCDEF&Hh+-.eE \t\n\r,x";
    for (int i = 0; i < 20000; ++i) {
        std::string text(rng() % 40, ' ');
        for (char& c : text) c = alphabet[rng() % alphabet.size()];
        EXPECT_TRUE(std::isfinite(TextToNumber(text))) << text;
    }
}

struct RoundCase {
    double x;
    int32_t i16;
    int32_t i32;
};

class RoundingTest : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundingTest, RoundsHalfToEvenAndSaturates) {
    EXPECT_EQ(ToInt16(GetParam().x), GetParam().i16) << GetParam().x;
    EXPECT_EQ(ToInt32(GetParam().x), GetParam().i32) << GetParam().x;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, RoundingTest,
    ::testing::Values(RoundCase{2.5, 2, 2}, RoundCase{3.5, 4, 4}, RoundCase{-0.5, 0, 0}, RoundCase{0.5, 0, 0},
                      RoundCase{1.5, 2, 2}, RoundCase{-1.5, -2, -2}, RoundCase{-2.5, -2, -2}, RoundCase{0.4, 0, 0},
                      RoundCase{0.6, 1, 1}, RoundCase{-0.6, -1, -1}, RoundCase{409.5, 410, 410},
                      RoundCase{1228.5, 1228, 1228}, RoundCase{4095.5, 4096, 4096}, RoundCase{32768.5, 32767, 32768},
                      RoundCase{32767.4, 32767, 32767}, RoundCase{-32768.5, -32768, -32768},
                      RoundCase{-40000, -32768, -40000}, RoundCase{1e10, 32767, 2147483647},
                      RoundCase{-1e10, -32768, -2147483647 - 1}, RoundCase{2147483647.5, 32767, 2147483647},
                      RoundCase{kInf, 32767, 2147483647}, RoundCase{-kInf, -32768, -2147483647 - 1},
                      RoundCase{std::nan(""), 0, 0}, RoundCase{DBL_MAX, 32767, 2147483647}));

TEST(ToSingle, SaturatesInsteadOfBecomingInfinite) {
    EXPECT_EQ(ToSingle(1e300), FLT_MAX);
    EXPECT_EQ(ToSingle(-1e300), -FLT_MAX);
    EXPECT_EQ(ToSingle(std::nan("")), 0.0f);
    EXPECT_EQ(ToSingle(2.5), 2.5f);
    EXPECT_EQ(ToSingle(0.1), 0.1f);
}

struct NumberTextCase {
    double x;
    bool single;
    const char* text;
};

class NumberTextTest : public ::testing::TestWithParam<NumberTextCase> {};

TEST_P(NumberTextTest, KeepsTheSignPosition) {
    const auto& c = GetParam();
    EXPECT_EQ(c.single ? NumberText(static_cast<float>(c.x)) : NumberText(c.x), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumberTextTest,
    ::testing::Values(NumberTextCase{0, false, " 0"}, NumberTextCase{16, false, " 16"}, NumberTextCase{-1, false, "-1"},
                      NumberTextCase{32768.5, false, " 32768.5"}, NumberTextCase{32768.5, true, " 32768.5"},
                      NumberTextCase{-0.0, false, " 0"}, NumberTextCase{25755, false, " 25755"},
                      NumberTextCase{65535, false, " 65535"}, NumberTextCase{0.5, false, " 0.5"},
                      NumberTextCase{-0.25, true, "-0.25"}, NumberTextCase{1.0 / 3, false, " 0.333333333333333"},
                      NumberTextCase{1.0 / 3, true, " 0.3333333"}, NumberTextCase{0.1, true, " 0.1"},
                      NumberTextCase{12345.678, true, " 12345.68"}, NumberTextCase{1e15, false, " 1E+15"},
                      NumberTextCase{123456789, true, " 1.234568E+08"}, NumberTextCase{1e-5, false, " 1E-05"},
                      NumberTextCase{kInf, false, " Inf"}, NumberTextCase{-kInf, true, "-Inf"},
                      NumberTextCase{std::nan(""), false, " NaN"}));

TEST(HexText, UppercaseWithoutLeadingZeros) {
    EXPECT_EQ(HexText(0), "0");
    EXPECT_EQ(HexText(0xA5), "A5");
    EXPECT_EQ(HexText(0xFFFF), "FFFF");
    EXPECT_EQ(HexText(32768), "8000");
    EXPECT_EQ(HexText(7), "7");
    EXPECT_EQ(HexText(2147483647), "7FFFFFFF");
    EXPECT_EQ(HexText(-1), "FFFFFFFF");
}

struct VoltCase {
    double volts;
    const char* text;
};

class VoltTextTest : public ::testing::TestWithParam<VoltCase> {};

TEST_P(VoltTextTest, ThreeDecimals) { EXPECT_EQ(VoltText(GetParam().volts), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Values, VoltTextTest,
                         ::testing::Values(VoltCase{0, "0.000V"}, VoltCase{-0.0, "0.000V"}, VoltCase{2.5, "2.500V"},
                                           VoltCase{-0.25, "-0.250V"}, VoltCase{-5, "-5.000V"},
                                           VoltCase{4.99985f, "5.000V"}, VoltCase{0.0004, "0.000V"},
                                           VoltCase{0.0006, "0.001V"}, VoltCase{-0.0004, "-0.000V"},
                                           VoltCase{12.3456, "12.346V"}, VoltCase{kInf, "InfV"},
                                           VoltCase{-kInf, "-InfV"}, VoltCase{std::nan(""), "NaNV"}));
