#include "server/text/AsciiValue.h"

#include <limits>

namespace tarnix {
namespace impl {
namespace {

AsciiValue blank() { return AsciiValue{AsciiValueKind::Integer, false, AsciiCommand::None, -1, -1, 0, 0.0}; }

constexpr int64_t kMaxInteger = std::numeric_limits<int64_t>::max();
constexpr int64_t kMinInteger = std::numeric_limits<int64_t>::min();

int64_t wrap(uint64_t value) { return static_cast<int64_t>(value); }

bool bothIntegers(const AsciiValue& a, const AsciiValue& b) {
    return a.kind == AsciiValueKind::Integer && b.kind == AsciiValueKind::Integer;
}

}  // namespace

AsciiValue asciiInteger(int64_t value) {
    AsciiValue v = blank();
    v.integer = value;
    return v;
}

AsciiValue asciiDouble(double value) {
    AsciiValue v = blank();
    v.kind = AsciiValueKind::Double;
    v.real = value;
    return v;
}

double asciiToDouble(const AsciiValue& v) {
    return v.kind == AsciiValueKind::Integer ? static_cast<double>(v.integer) : v.real;
}

AsciiValue asciiNegate(const AsciiValue& v) {
    if (v.kind == AsciiValueKind::Integer)
        return asciiInteger(v.integer == kMinInteger ? kMaxInteger : -v.integer);
    return asciiDouble(-v.real);
}

AsciiValue asciiScale(const AsciiValue& v, char unit) {
    uint64_t factor = 0;
    double fraction = 0.0;
    switch (unit) {
    case 'G': factor = 1000000000ULL; break;
    case 'M': factor = 1000000ULL; break;
    case 'k': factor = 1000ULL; break;
    case 'm': fraction = 1e-3; break;
    case 'u': fraction = 1e-6; break;
    case 'n': fraction = 1e-9; break;
    default: return v;
    }
    if (factor == 0) return asciiDouble(asciiToDouble(v) * fraction);
    if (v.kind == AsciiValueKind::Integer) {
        int64_t scaled = 0;
        if (__builtin_mul_overflow(v.integer, static_cast<int64_t>(factor), &scaled))
            scaled = v.integer < 0 ? kMinInteger : kMaxInteger;
        return asciiInteger(scaled);
    }
    return asciiDouble(v.real * static_cast<double>(factor));
}

AsciiValue asciiAdd(const AsciiValue& a, const AsciiValue& b) {
    int64_t sum = 0;
    if (bothIntegers(a, b) && !__builtin_add_overflow(a.integer, b.integer, &sum))
        return asciiDouble(static_cast<double>(sum));
    return asciiDouble(asciiToDouble(a) + asciiToDouble(b));
}

AsciiValue asciiSubtract(const AsciiValue& a, const AsciiValue& b) {
    int64_t difference = 0;
    if (bothIntegers(a, b) && !__builtin_sub_overflow(a.integer, b.integer, &difference))
        return asciiDouble(static_cast<double>(difference));
    return asciiDouble(asciiToDouble(a) - asciiToDouble(b));
}

AsciiValue asciiDivide(const AsciiValue& a, const AsciiValue& b) {
    return asciiDouble(asciiToDouble(a) / asciiToDouble(b));
}

int64_t asciiParseUnsigned(const char* digits, std::size_t length, unsigned base) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        char c = digits[i];
        unsigned digit = c >= '0' && c <= '9'   ? unsigned(c - '0')
                         : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10)
                         : c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                                : base;
        if (digit >= base) break;
        if (__builtin_mul_overflow(value, uint64_t(base), &value) || __builtin_add_overflow(value, uint64_t(digit), &value))
            return kMaxInteger;
    }
    // A decimal number is its value; hexadecimal and binary digits are the
    // 64-bit pattern of a signed number.
    if (base == 10 && value > uint64_t(kMaxInteger)) return kMaxInteger;
    return wrap(value);
}

}  // namespace impl
}  // namespace tarnix
