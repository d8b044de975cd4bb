// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversions.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>

namespace mox {
namespace {

// Walks a text, passing over blanks, tabs and line feeds wherever they stand.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    // The next significant character, or '\0' at the end of the text.
    char Peek() {
        SkipBlanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    void Next() { ++pos_; }

private:
    void SkipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n')) {
            ++pos_;
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

double ReadHex(Reader& in) {
    std::uint32_t low = 0; // exact while at most eight digits
    double all = 0;        // value of all digits, for longer runs
    std::size_t count = 0;
    for (int d = HexDigit(in.Peek()); d >= 0; d = HexDigit(in.Peek())) {
        in.Next();
        ++count;
        low = (low << 4) | static_cast<std::uint32_t>(d);
        all = std::min(all * 16 + d, DBL_MAX);
    }
    if (count == 0) return 0;
    if (count <= 4) return static_cast<std::int16_t>(static_cast<std::uint16_t>(low));
    if (count <= 8) return static_cast<std::int32_t>(low);
    return all;
}

// The most significant digits passed to the decimal parser; more cannot
// change a double's correctly rounded value.
constexpr std::size_t kMaxSignificantDigits = 800;

// A leading sign: true for '-'.
bool ReadSign(Reader& in) {
    if (in.Peek() != '+' && in.Peek() != '-') return false;
    const bool negative = in.Peek() == '-';
    in.Next();
    return negative;
}

// The digits of a decimal number before its exponent. Significant digits
// start at the first non-zero one, and only the first kMaxSignificantDigits
// are kept; the two counts place the first of them against the point.
struct Mantissa {
    std::string digits;
    long long intDigits = 0; // integer digits after the leading zeros
    long long fracZeros = 0; // zeros between the point and the first significant digit
    bool anyDigit = false;

    void Take(char c) {
        if (digits.size() < kMaxSignificantDigits) digits.push_back(c);
    }
};

Mantissa ReadMantissa(Reader& in) {
    Mantissa m;
    while (IsDigit(in.Peek())) {
        const char c = in.Peek();
        in.Next();
        m.anyDigit = true;
        if (m.digits.empty() && c == '0') continue;
        m.Take(c);
        ++m.intDigits;
    }
    if (in.Peek() != '.') return m;
    in.Next();
    while (IsDigit(in.Peek())) {
        const char c = in.Peek();
        in.Next();
        m.anyDigit = true;
        if (m.digits.empty() && c == '0') {
            ++m.fracZeros;
            continue;
        }
        m.Take(c);
    }
    return m;
}

// "E" or "e", an optional sign and digits; 0 without an "E". Capped far
// beyond any double's exponent, so that no run of digits overflows it.
long long ReadExponent(Reader& in) {
    if (in.Peek() != 'E' && in.Peek() != 'e') return 0;
    in.Next();
    const bool negative = ReadSign(in);
    constexpr long long kExponentCap = 1'000'000'000;
    long long exponent = 0;
    while (IsDigit(in.Peek())) {
        exponent = std::min(exponent * 10 + (in.Peek() - '0'), kExponentCap);
        in.Next();
    }
    return negative ? -exponent : exponent;
}

// 0.<digits> x 10^(lead + 1), saturated to DBL_MAX or 0 beyond the double range.
double ScaledDigits(const std::string& digits, long long lead) {
    if (lead > DBL_MAX_10_EXP) return DBL_MAX;
    if (lead < DBL_MIN_10_EXP - DBL_DIG - 10) return 0;
    double value = 0;
    const std::string normal = "0." + digits + "e" + std::to_string(lead + 1);
    const auto [ptr, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) value = lead > 0 ? DBL_MAX : 0.0;
    return value;
}

double ReadDecimal(Reader& in) {
    const bool negative = ReadSign(in);
    const Mantissa m = ReadMantissa(in);
    if (!m.anyDigit) return 0;
    const long long exponent = ReadExponent(in);
    if (m.digits.empty()) return 0; // all digits were zeros

    // Decimal exponent of the first significant digit.
    const long long lead = (m.intDigits > 0 ? m.intDigits - 1 : -(m.fracZeros + 1)) + exponent;
    const double value = ScaledDigits(m.digits, lead);
    if (value == 0) return 0; // never a negative zero
    return negative ? -value : value;
}

template <typename T>
T RoundHalfEven(double x) {
    constexpr double lo = std::numeric_limits<T>::min();
    constexpr double hi = std::numeric_limits<T>::max();
    if (std::isnan(x)) return 0;
    if (x >= hi) return std::numeric_limits<T>::max();
    if (x <= lo) return std::numeric_limits<T>::min();
    const double f = std::floor(x);
    const double frac = x - f;
    double r = f;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(f, 2.0) != 0)) r = f + 1;
    return static_cast<T>(r);
}

std::string FormatGeneral(double x, int precision) {
    if (std::isnan(x)) return " NaN";
    if (std::isinf(x)) return x > 0 ? " Inf" : "-Inf";
    if (x == 0) x = 0; // drops the sign of a negative zero
    char buf[64];
    const auto res = std::to_chars(buf + 1, buf + sizeof buf, x, std::chars_format::general, precision);
    std::string out(buf + 1, res.ptr);
    std::replace(out.begin(), out.end(), 'e', 'E');
    if (out.front() != '-') out.insert(out.begin(), ' ');
    return out;
}

} // namespace

double TextToNumber(std::string_view text) {
    Reader in(text);
    if (in.Peek() == '&') {
        in.Next();
        if (in.Peek() == 'H' || in.Peek() == 'h') {
            in.Next();
            return ReadHex(in);
        }
        return 0;
    }
    return ReadDecimal(in);
}

int16_t ToInt16(double x) { return RoundHalfEven<int16_t>(x); }
int32_t ToInt32(double x) { return RoundHalfEven<int32_t>(x); }

float ToSingle(double x) {
    if (std::isnan(x)) return 0.0f;
    return static_cast<float>(std::clamp(x, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

std::string NumberText(double x) { return FormatGeneral(x, 15); }
std::string NumberText(float x) { return FormatGeneral(x, 7); }

std::string HexText(int32_t n) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint32_t>(n), 16);
    std::string out(buf, res.ptr);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; });
    return out;
}

std::string VoltText(double volts) {
    if (std::isnan(volts)) return "NaNV";
    if (std::isinf(volts)) return volts > 0 ? "InfV" : "-InfV";
    if (volts == 0) volts = 0;
    char buf[DBL_MAX_10_EXP + 16];
    const auto res = std::to_chars(buf, buf + sizeof buf, volts, std::chars_format::fixed, 3);
    return std::string(buf, res.ptr) + "V";
}

} // namespace mox
