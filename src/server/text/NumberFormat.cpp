#include "server/text/NumberFormat.h"

#include <cmath>
#include <vector>

namespace tarnix {
namespace {

// One decimal digit out of a floating-point quotient. Rounding errors of huge
// magnitudes can push the quotient just outside 0..9; the digit stays a digit.
int digitOf(double quotient) {
    double d = std::floor(quotient);
    if (!(d >= 0.0)) return 0;
    if (d > 9.0) return 9;
    return static_cast<int>(d);
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

void putDigits(TextOutput& out, uint64_t magnitude);

// The integer part of a non-negative, integer-valued double, digit by digit
// from its highest power of ten: exactly in 64-bit arithmetic while it fits,
// in floating point beyond.
void putIntegerPart(TextOutput& out, double integerPart) {
    if (integerPart < 9.2e18) {
        putDigits(out, static_cast<uint64_t>(integerPart));
        return;
    }
    for (int exponent = leadingExponent(integerPart); exponent >= 0 && !out.full(); --exponent) {
        double power = std::pow(10.0, exponent);
        int digit = digitOf(integerPart / power);
        out.put(static_cast<char>('0' + digit));
        integerPart -= digit * power;
        if (integerPart < 0.0) integerPart = 0.0;
    }
}

void putDigits(TextOutput& out, uint64_t magnitude) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0) out.put(digits[--count]);
}

}  // namespace

void formatDouble(TextOutput& out, double value, unsigned fractionDigits) {
    if (std::isnan(value)) {
        out.put("nan");
        return;
    }
    if (std::isinf(value)) {
        out.put(value < 0.0 ? "-inf" : "inf");
        return;
    }
    if (value < 0.0) {
        out.put('-');
        value = -value;
    }
    value += 0.5 * std::pow(10.0, -static_cast<double>(fractionDigits));
    double integerPart = std::floor(value);
    double fraction = value - integerPart;
    putIntegerPart(out, integerPart);
    if (fractionDigits == 0) return;
    out.put('.');
    for (unsigned i = 0; i < fractionDigits && !out.full(); ++i) {
        fraction *= 10.0;
        int digit = digitOf(fraction);
        out.put(static_cast<char>('0' + digit));
        fraction -= digit;
    }
}

void formatInt64(TextOutput& out, int64_t value) {
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        out.put('-');
        magnitude = 0 - magnitude;
    }
    putDigits(out, magnitude);
}

void formatUInt32(TextOutput& out, uint32_t value) { putDigits(out, value); }

std::string formatDouble(double value, unsigned fractionDigits) {
    std::vector<char> buffer(400 + static_cast<std::size_t>(fractionDigits));
    TextOutput out(buffer.data(), buffer.size());
    formatDouble(out, value, fractionDigits);
    return std::string(buffer.data(), out.length());
}

}  // namespace tarnix
