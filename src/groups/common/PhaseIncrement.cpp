#include "groups/common/PhaseIncrement.h"

#include "engine/SaturatingCast.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"

namespace tarnix {

namespace {

constexpr double kClockBase = 210000000.0;
constexpr double kTwoPow48 = 281474976710656.0;
constexpr double kTwoPowMinus48 = 3.552713678800501e-15;
constexpr double kClockPeriod = 4.761904761904762e-09;  // 1 / 210e6

}  // namespace

double FromPhaseIncrement(uint64_t increment) { return double(increment) * kClockBase * kTwoPowMinus48; }

uint64_t ToPhaseIncrement(double hertz, PhaseRounding rounding) {
    const uint64_t m = saturatingCast<uint64_t>(hertz * kTwoPow48 * kClockPeriod);
    if (rounding == PhaseRounding::Truncate || m == UINT64_MAX) return m;
    // The upper neighbour only when it is strictly nearer; a tie keeps m.
    const double below = FromPhaseIncrement(m);
    const double above = FromPhaseIncrement(m + 1);
    if (below <= hertz && above >= hertz && hertz - below > above - hertz) return m + 1;
    return m;
}

QV_STATUS OscFreqReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, FromPhaseIncrement(storedWord64(*ep)));
}

}  // namespace tarnix
