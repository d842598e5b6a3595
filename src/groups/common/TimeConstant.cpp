#include "groups/common/TimeConstant.h"

#include "engine/RegisterHandlers.h"
#include "engine/SaturatingCast.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"

#include <cmath>

namespace tarnix {

namespace {

constexpr double kFilterPeriod = 5.428571428571428e-07;  // 114 ticks of 210 MHz
constexpr double kFilterRate = 1842105.2631578948;       // 1 / kFilterPeriod
constexpr double kCoarseScale = 3.814697265625e-06;      // 2^-18
constexpr double kFineScale = 9.313225746154785e-10;     // 2^-30
constexpr double kCoarseMantissaScale = 262144.0;        // 2^18
constexpr double kFineMantissaScale = 1073741824.0;      // 2^30
constexpr uint32_t kMantissaMax = 0x1ffff;

// The words that bound the format, and where the coarse scale ends.
constexpr uint32_t kShortestWord = 0x3ffff;
constexpr uint32_t kScaleBoundaryWord = 0x1001;
constexpr uint32_t kLongestWord = 1;

// The truncated mantissa m of a coefficient and its upper neighbour u, both
// limited to the mantissa's range.
struct Candidates {
    uint32_t lower;
    uint32_t upper;
};

Candidates mantissaCandidates(double coefficient, double mantissaScale) {
    uint32_t m = saturatingCast<uint32_t>(coefficient * mantissaScale);
    if (m > kMantissaMax) return {kMantissaMax, kMantissaMax};
    return {m, m < kMantissaMax - 1 ? m + 1 : m};
}

}  // namespace

double FromTC(uint32_t word) {
    // A zero coefficient (never written by ToTC; an instrument may hold it)
    // would be an endless time constant: it reads as the longest one held.
    if ((word & ~kTimeConstantCoarseFlag) == 0) word = kLongestWord;
    const double scale = (word & kTimeConstantCoarseFlag) ? kCoarseScale : kFineScale;
    const double b = double(word & ~kTimeConstantCoarseFlag) * scale;
    return (-1.0 / std::log(1.0 - b)) * kFilterPeriod;
}

uint32_t ToTC(double seconds) {
    const double shortest = FromTC(kShortestWord);
    const double boundary = FromTC(kScaleBoundaryWord);
    const double longest = FromTC(kLongestWord);
    double tau = std::isnan(seconds) ? longest : seconds;
    if (shortest > tau) tau = shortest;
    if (tau > longest) tau = longest;

    const double x = 1.0 / (tau * kFilterRate);
    const double b = std::exp(-x) * (std::exp(x) - 1.0);
    uint32_t lower = 0;
    uint32_t upper = 0;
    if (tau >= boundary) {
        const Candidates c = mantissaCandidates(b, kFineMantissaScale);
        lower = c.lower;
        upper = c.upper;
    } else {
        const Candidates c = mantissaCandidates(b, kCoarseMantissaScale);
        // Coarse mantissa 1 equals fine mantissa 4096; the fine word just
        // above it is the coarse scale's longest time constant.
        lower = c.lower == 1 ? kScaleBoundaryWord : (c.lower | kTimeConstantCoarseFlag);
        upper = c.upper | kTimeConstantCoarseFlag;
    }
    if (lower < 1) lower = 1;
    if (upper < 1) upper = 1;
    // The truncated candidate has the longer time constant; a tie keeps it.
    return FromTC(lower) - tau > tau - FromTC(upper) ? upper : lower;
}

QV_STATUS TimeConstantWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t) {
    if (std::isnan(value)) return replyValueInForce(device, *ep, seq, session, FromTC(storedWord(*ep)));
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, ToTC(value), changed)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), FromTC(storedWord(*ep)));
}

}  // namespace tarnix
