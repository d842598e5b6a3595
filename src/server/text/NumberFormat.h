#pragma once
#include "server/text/TextOutput.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Number-to-text conversions of the text protocol. They are written out digit
// by digit (no locale, no printf) so that the text is the same on every
// platform and never exceeds the room left in the output.
namespace tarnix {

// The double with `fractionDigits` digits after the point: "nan", "inf" and
// "-inf" for the special values; otherwise an optional '-', the integer part
// and, when fractionDigits > 0, '.' and the fraction digits. The magnitude is
// rounded half up at the last printed digit (0.5 x 10^-fractionDigits is added
// first); the integer part is exact, and each fraction digit is the integer
// part of ten times the remaining fraction, in double arithmetic.
void formatDouble(TextOutput& out, double value, unsigned fractionDigits);

// '-' for a negative value, then the decimal digits of the magnitude.
void formatInt64(TextOutput& out, int64_t value);

void formatUInt32(TextOutput& out, uint32_t value);

// The same texts written to `at`, which has room for kMaxDoubleTextBeforeFraction
// + fractionDigits or kMaxIntegerText characters; each returns the end.
constexpr std::size_t kMaxDoubleTextBeforeFraction = 1 + 309 + 1;  // sign, integer digits of DBL_MAX, point
constexpr std::size_t kMaxIntegerText = 20;
char* writeDouble(char* at, double value, unsigned fractionDigits);
char* writeInt64(char* at, int64_t value);
char* writeUInt32(char* at, uint32_t value);

// Convenience for tests and log lines.
std::string formatDouble(double value, unsigned fractionDigits);

}  // namespace tarnix
