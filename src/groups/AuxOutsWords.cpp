#include "groups/AuxOutsWords.h"

#include "engine/SaturatingCast.h"

#include <algorithm>
#include <cmath>

namespace tarnix {

namespace {

constexpr uint32_t kDemodIndexShift = 4;

// Full scale of a demodulator output per volt of input: 128/57, as the
// demodulator samples are scaled too.
constexpr double kDemodFullScale = 2.245614035087719;
// The magnitude R comes from a 20-step CORDIC, whose gain (1.646760258120067)
// over sqrt(2) is this.
constexpr double kCordicGainOverSqrt2 = 1.164435345505209;
constexpr double kVoltsPerFullScale = 10.0;
constexpr double kThetaDivisor = 36.0;

constexpr double kScaleFractionUnit = 0.0078125;  // 2^-7
constexpr double kScaleFractionFactor = 128.0;
// A PLL frequency scale counts in units of 2^9 / (3277 x 210 MHz).
constexpr double kPllScaleDenominator = 688170000000.0;
constexpr double kPllScaleUnitInverse = 1.4531293139776508e-12;  // 1 / 688170000000
constexpr double kPllScaleShift = 512.0;                        // 2^9

constexpr uint32_t kLevelMax = 65535;
constexpr double kSpanVolts = 20.0;
constexpr double kHalfSpanVolts = 10.0;
constexpr double kPerLevelCode = 1.5259021896696422e-05;  // 1 / 65535

constexpr uint32_t kOffsetCodeMask = 0xFFFFFF;
constexpr uint32_t kOffsetSignBit = 0x800000;
constexpr double kOffsetLimitVolts = 2560.0;
constexpr double kOffsetPositiveSteps = 32767.0;
constexpr double kOffsetNegativeSteps = 32768.0;
constexpr double kPerPositiveStep = 3.051850947599719e-05;  // 1 / 32767
constexpr double kPerNegativeStep = 3.0517578125e-05;       // 1 / 32768

bool isPll(int64_t code) { return code >= kAuxOutFirstPll && code <= kAuxOutLastPll; }
bool hasFractionScale(int64_t code) { return code >= kAuxOutManual && code <= kAuxOutTheta; }

// What one unit of the signal is divided by to give volts at scale 1; +inf for
// a demodulator output while its input's gain is unknown.
double scaleDivisor(int64_t code, double gain) {
    switch (code) {
    case kAuxOutManual: return 1.0;
    case 0:
    case 1: return kDemodFullScale / (gain * kVoltsPerFullScale);
    case 2: return kDemodFullScale / (gain * kVoltsPerFullScale * kCordicGainOverSqrt2);
    default: return kThetaDivisor;
    }
}

}  // namespace

int64_t AuxOutSignalCode(uint32_t word, uint32_t pidCount) {
    const int64_t k = word & kAuxOutSelectFieldMax;
    if (!(word & kAuxOutSelectNegative)) return k;
    return std::max<int64_t>(-1 - k, -1 - int64_t(pidCount));
}

uint32_t AuxOutDemodIndex(uint32_t word, uint32_t demodCount) {
    // Formed without sign: with no demodulator the index is not limited.
    return std::min<uint32_t>((word >> kDemodIndexShift) & kAuxOutSelectFieldMax, demodCount - 1);
}

uint32_t AuxOutSelectWord(int64_t code, uint32_t demodIndex, uint32_t pidCount, uint32_t pllCount) {
    uint32_t word = std::min<uint32_t>(demodIndex, kAuxOutSelectFieldMax) << kDemodIndexShift;
    if (code < 0) {
        // -1 - code cannot overflow for a negative code.
        const int64_t k = std::min<int64_t>({-1 - code, int64_t(pidCount), int64_t(kAuxOutSelectFieldMax)});
        return word | uint32_t(k) | kAuxOutSelectNegative;
    }
    const int64_t k = std::min<int64_t>({code, int64_t(pllCount) + kAuxOutTheta, int64_t(kAuxOutSelectFieldMax)});
    return word | uint32_t(k);
}

double AuxOutScaleValue(int32_t scale, int64_t code, double gain) {
    if (isPll(code)) return (std::pow(2.0, 9) * kPllScaleUnitInverse) * scale;
    if (hasFractionScale(code)) return (scale * kScaleFractionUnit) / scaleDivisor(code, gain);
    return 0.0;
}

std::optional<int32_t> AuxOutScaleRegister(double value, int64_t code, double gain) {
    if (isPll(code)) return saturatingCast<int32_t>((value * kPllScaleDenominator) / kPllScaleShift);
    if (!hasFractionScale(code)) return 0;
    const double divisor = scaleDivisor(code, gain);
    if (!std::isfinite(divisor)) return std::nullopt;
    const double inverse = 1.0 / divisor;
    const double lo = (inverse * 2147483648.0) * -kScaleFractionUnit;
    const double hi = (2147483647.0 * inverse) * kScaleFractionUnit;
    double limited = value;
    if (lo > limited) limited = lo;
    if (limited > hi) limited = hi;
    // A NaN value gives NaN here, which the saturating conversion turns into register 0.
    return saturatingCast<int32_t>(std::floor((divisor * limited) * kScaleFractionFactor + 0.5));
}

double AuxOutLevelVolts(uint32_t word) {
    const uint32_t level = std::min(word, kLevelMax);
    return (level * kSpanVolts) * kPerLevelCode - kHalfSpanVolts;
}

double AuxOutOffsetVolts(uint32_t word) {
    int32_t code = int32_t(word & kOffsetCodeMask);
    if (code & kOffsetSignBit) code -= int32_t(kOffsetCodeMask) + 1;
    const double unit = code > 0 ? code * kPerPositiveStep : code * kPerNegativeStep;
    return ((unit + 1.0) * 0.5 * kSpanVolts) - kHalfSpanVolts;
}

uint32_t AuxOutOffsetWord(double volts) {
    const double limited = std::clamp(volts, -kOffsetLimitVolts, kOffsetLimitVolts);
    const double unit = ((limited + kHalfSpanVolts) * 0.05 * 2.0) - 1.0;
    const double steps = unit > 0 ? unit * kOffsetPositiveSteps : unit * kOffsetNegativeSteps;
    // NaN becomes code 0 (0 V).
    return uint32_t(saturatingCast<int32_t>(std::floor(steps + 0.5)));
}

}  // namespace tarnix
