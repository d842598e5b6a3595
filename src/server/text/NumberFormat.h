#pragma once
#include "server/text/TextOutput.h"

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
// first).
void formatDouble(TextOutput& out, double value, unsigned fractionDigits);

// '-' for a negative value, then the decimal digits of the magnitude.
void formatInt64(TextOutput& out, int64_t value);

void formatUInt32(TextOutput& out, uint32_t value);

// Convenience for tests and log lines.
std::string formatDouble(double value, unsigned fractionDigits);

}  // namespace tarnix
