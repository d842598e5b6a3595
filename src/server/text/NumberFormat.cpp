#include "server/text/NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace tarnix {
namespace {

// The fraction digits come from the floating-point steps "multiply by ten,
// take the integer part"; each multiplication rounds, so the digits are those
// of that process, not of the exact binary value. The steps are done as they
// are while they can round; once the remaining fraction is M / 2^L with L <= 50,
// ten times it fits into a double exactly (5 M < 2^53), every further step is
// exact and the remaining digits are those of M / 2^L in decimal, which integer
// arithmetic gives at once.
constexpr int kExactBelowBits = 50;
constexpr int kChunkDigits = 19;  // 10^19 < 2^64
constexpr unsigned kTabledDigits = 40;

// 0.5 x 10^-n, computed as the rounding step always was.
double halfUnitOf(unsigned fractionDigits) {
    static const std::array<double, kTabledDigits + 1> table = [] {
        std::array<double, kTabledDigits + 1> halves{};
        for (unsigned n = 0; n <= kTabledDigits; ++n) {
            // By the library at run time, as for an untabled count, never folded
            // by the compiler (whose pow may round the last bit differently).
            volatile double exponent = -static_cast<double>(n);
            halves[n] = 0.5 * std::pow(10.0, exponent);
        }
        return halves;
    }();
    if (fractionDigits <= kTabledDigits) return table[fractionDigits];
    return 0.5 * std::pow(10.0, -static_cast<double>(fractionDigits));
}

constexpr uint64_t powerOfTen(int n) { return n == 0 ? 1 : 10 * powerOfTen(n - 1); }

// One decimal digit out of a floating-point quotient. Rounding errors of huge
// magnitudes can push the quotient just outside 0..9; the digit stays a digit.
int digitOf(double quotient) {
    if (!(quotient >= 0.0)) return 0;  // also NaN
    if (quotient >= 10.0) return 9;
    return static_cast<int>(quotient);  // truncation is floor for non-negative values
}

// Exponent of the highest power of ten not above value (value >= 1).
int leadingExponent(double value) {
    int exponent = static_cast<int>(std::floor(std::log10(value)));
    if (exponent < 0) exponent = 0;
    // log10 may be off by one next to an exact power of ten.
    while (exponent > 0 && std::pow(10.0, exponent) > value) --exponent;
    while (exponent < 308 && std::pow(10.0, exponent + 1) <= value) ++exponent;
    return exponent;
}

const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Four digits of value < 10^4 at `at`.
void writeFourDigits(char* at, uint32_t value) {
    std::memcpy(at, kDigitPairs + 2 * (value / 100), 2);
    std::memcpy(at + 2, kDigitPairs + 2 * (value % 100), 2);
}

// `count` digits of value, with leading zeros (value < 10^count): eight at a
// time from the end, in independent halves.
char* writeFixedDigits(char* at, uint64_t value, int count) {
    char* const end = at + count;
    char* p = end;
    for (; count >= 8; count -= 8, value /= 100000000) {
        const uint32_t eight = static_cast<uint32_t>(value % 100000000);
        p -= 8;
        writeFourDigits(p, eight / 10000);
        writeFourDigits(p + 4, eight % 10000);
    }
    for (; count >= 2; count -= 2, value /= 100) {
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * (value % 100), 2);
    }
    if (count == 1) *--p = static_cast<char>('0' + value % 10);
    return end;
}

char* writeDigits(char* at, uint64_t magnitude) { return std::to_chars(at, at + 20, magnitude).ptr; }

// The integer part of a non-negative, integer-valued double, digit by digit
// from its highest power of ten: exactly in 64-bit arithmetic while it fits,
// in floating point beyond.
char* writeIntegerPart(char* at, double integerPart) {
    if (integerPart < 9.2e18) return writeDigits(at, static_cast<uint64_t>(integerPart));
    for (int exponent = leadingExponent(integerPart); exponent >= 0; --exponent) {
        double power = std::pow(10.0, exponent);
        int digit = digitOf(integerPart / power);
        *at++ = static_cast<char>('0' + digit);
        integerPart -= digit * power;
        if (integerPart < 0.0) integerPart = 0.0;
    }
    return at;
}

// A fraction 0 <= f < 1 as M / 2^L with M odd (or M = 0); false when L would
// exceed kExactBelowBits.
bool exactFraction(double f, uint64_t& mantissa, int& bits) {
    uint64_t word;
    std::memcpy(&word, &f, sizeof word);
    const int biased = static_cast<int>((word >> 52) & 0x7FF);
    uint64_t m = word & ((uint64_t(1) << 52) - 1);
    if (biased == 0 && m == 0) {
        mantissa = 0;
        bits = 0;
        return true;
    }
    int l = 1074;  // subnormal: m x 2^-1074
    if (biased != 0) {
        m |= uint64_t(1) << 52;
        l = 1075 - biased;
    }
    const int zeros = __builtin_ctzll(m);
    m >>= zeros;
    l -= zeros;
    if (l > kExactBelowBits) return false;
    mantissa = m;
    bits = l;
    return true;
}

// The next `count` decimal digits of M / 2^L (M < 2^L, L <= kExactBelowBits).
char* writeExactFraction(char* at, uint64_t mantissa, int bits, unsigned count) {
    while (count > 0) {
        const int chunk = count < unsigned(kChunkDigits) ? int(count) : kChunkDigits;
        if (mantissa == 0) {
            std::memset(at, '0', count);
            return at + count;
        }
        const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * powerOfTen(chunk);
        at = writeFixedDigits(at, static_cast<uint64_t>(scaled >> bits), chunk);
        mantissa = static_cast<uint64_t>(scaled & ((static_cast<unsigned __int128>(1) << bits) - 1));
        count -= unsigned(chunk);
    }
    return at;
}

char* writeFraction(char* at, double fraction, unsigned fractionDigits) {
    for (unsigned i = 0; i < fractionDigits; ++i) {
        uint64_t mantissa = 0;
        int bits = 0;
        // A fraction that reached 1 (a digit clamped to 9) stays with the steps.
        if (fraction < 1.0 && exactFraction(fraction, mantissa, bits))
            return writeExactFraction(at, mantissa, bits, fractionDigits - i);
        fraction *= 10.0;
        int digit = digitOf(fraction);
        *at++ = static_cast<char>('0' + digit);
        fraction -= digit;
    }
    return at;
}

constexpr unsigned kStackDigits = 64;

}  // namespace

char* writeDouble(char* at, double value, unsigned fractionDigits) {
    if (std::isnan(value)) return std::copy_n("nan", 3, at);
    if (std::isinf(value)) return value < 0.0 ? std::copy_n("-inf", 4, at) : std::copy_n("inf", 3, at);
    if (value < 0.0) {
        *at++ = '-';
        value = -value;
    }
    value += halfUnitOf(fractionDigits);
    // floor: every double from 2^52 up is a whole number already.
    const double integerPart = value < 9.2e18 ? static_cast<double>(static_cast<uint64_t>(value)) : value;
    const double fraction = value - integerPart;
    at = writeIntegerPart(at, integerPart);
    if (fractionDigits == 0) return at;
    *at++ = '.';
    return writeFraction(at, fraction, fractionDigits);
}

char* writeInt64(char* at, int64_t value) {
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        *at++ = '-';
        magnitude = 0 - magnitude;
    }
    return writeDigits(at, magnitude);
}

char* writeUInt32(char* at, uint32_t value) { return writeDigits(at, value); }

void formatDouble(TextOutput& out, double value, unsigned fractionDigits) {
    if (fractionDigits <= kStackDigits) {
        char text[kMaxDoubleTextBeforeFraction + kStackDigits];
        out.put(text, std::size_t(writeDouble(text, value, fractionDigits) - text));
        return;
    }
    std::vector<char> text(kMaxDoubleTextBeforeFraction + std::size_t(fractionDigits));
    out.put(text.data(), std::size_t(writeDouble(text.data(), value, fractionDigits) - text.data()));
}

void formatInt64(TextOutput& out, int64_t value) {
    char text[kMaxIntegerText];
    out.put(text, std::size_t(writeInt64(text, value) - text));
}

void formatUInt32(TextOutput& out, uint32_t value) {
    char text[kMaxIntegerText];
    out.put(text, std::size_t(writeUInt32(text, value) - text));
}

std::string formatDouble(double value, unsigned fractionDigits) {
    std::vector<char> buffer(400 + static_cast<std::size_t>(fractionDigits));
    TextOutput out(buffer.data(), buffer.size());
    formatDouble(out, value, fractionDigits);
    return std::string(buffer.data(), out.length());
}

}  // namespace tarnix
