#include "groups/PLLsLoopGain.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "engine/SaturatingCast.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"

#include <boost/format.hpp>

#include <algorithm>
#include <cmath>

namespace tarnix {

namespace {

constexpr double kMantissaMin = -131072.0;
constexpr double kMantissaMax = 131071.0;
constexpr uint32_t kMantissaMask = 0x3FFFF;
constexpr uint32_t kMantissaSign = 0x20000;
constexpr uint32_t kFlag18 = 0x40000;  // PGAIN coarse, ITIMECONSTANT and DTIMECONSTANT fine
constexpr uint32_t kFlag19 = 0x80000;  // ITIMECONSTANT coarse

constexpr double kGainStep = 0.0005431830526887561;  // nearest double to 1/1841
constexpr double kGainScale = 8.0;
constexpr double kGainSteps = 1841.0;
constexpr double kGainStepsEighth = 0.125;
constexpr double kGainCoarse = 256.0;
constexpr double kGainCoarseEncode = 0.00390625;  // 1/256
constexpr double kMilli = 0.001;
constexpr double kIntegralScale = 512.0;
constexpr double kIntegralFine = 65536.0;
constexpr double kIntegralFineDecode = 1.52587890625e-05;  // 2^-16
constexpr double kIntegralCoarse = 64.0;
constexpr double kIntegralCoarseEncode = 0.015625;  // 1/64
constexpr double kIntegralFineLimit = 2.0;
constexpr double kDerivativeScale = 3.4e9;
constexpr double kDerivativeFine = 256.0;
constexpr double kDerivativeFineDecode = 0.00390625;  // 1/256

int32_t mantissaOf(uint32_t word) {
    const int32_t m = int32_t(word & kMantissaMask);
    return (word & kMantissaSign) ? m - int32_t(kMantissaMask + 1) : m;
}

uint32_t wordOf(int32_t mantissa, uint32_t flag) { return (uint32_t(mantissa) & kMantissaMask) | flag; }

// The nearest integer, halves away from zero, limited to the mantissa's
// range; NaN stays NaN.
double roundToMantissa(double x) { return std::isnan(x) ? x : std::clamp(std::round(x), kMantissaMin, kMantissaMax); }

// A rounded mantissa as an integer; NaN gives 0.
int32_t mantissaFrom(double rounded) { return std::isnan(rounded) ? 0 : int32_t(rounded); }

// The integral solver, with the steps it logs.
struct IntegralSolution {
    uint32_t word;
    double unscaled;  // G x 0.512 / T
    double rounded;   // the mantissa after rounding and limiting
    bool fine;
    bool coarse;
};

IntegralSolution solveIntegral(double value, double gain) {
    IntegralSolution s{};
    double tmp = gain * kMilli * kIntegralScale / value;
    s.unscaled = tmp;
    if (tmp > -kIntegralFineLimit && tmp < kIntegralFineLimit) {
        tmp *= kIntegralFine;
        s.fine = true;
    } else if (tmp > kMantissaMax || tmp < kMantissaMin) {
        tmp *= kIntegralCoarseEncode;
        s.coarse = true;
    }
    s.rounded = roundToMantissa(tmp);
    s.word = wordOf(mantissaFrom(s.rounded), s.fine ? kFlag18 : (s.coarse ? kFlag19 : 0));
    return s;
}

// The gain that PGAIN holds, seen from a leaf linked to it; 0.0 without the link.
double linkedGain(DeviceAccess& device, const DeviceStateEPNode& ep) {
    const EPNodePtr pgain = LinkedEndpoint(device, ep, 0);
    return pgain ? FromPGain(storedWord(*pgain)) : 0.0;
}

// The value of an integral word, with the read-back log lines.
double integralReadBack(uint32_t word, double gain) {
    const double value = FromITC(word, gain);
    QVLOG(logging::debug) << "PGain  = " << boost::format("%.12f") % gain;
    QVLOG(logging::debug) << "ITC    = " << boost::format("0x%x") % word;
    QVLOG(logging::debug) << "RetVal 1 = " << boost::format("%.12f") % double(mantissaOf(word));
    if (word & kFlag18) {
        QVLOG(logging::debug) << "shift_down = 1";
    } else if (word & kFlag19) {
        QVLOG(logging::debug) << "shift_up = 1";
    }
    QVLOG(logging::debug) << "RetVal 2 = " << boost::format("%.12f") % value;
    return value;
}

void logIntegralSolution(double gain, const IntegralSolution& s) {
    QVLOG(logging::debug) << "PGain  = " << boost::format("%.12f") % gain;
    QVLOG(logging::debug) << "tmp(pre) = " << boost::format("%.12f") % s.unscaled;
    QVLOG(logging::debug) << "tmp(post) = " << boost::format("%.12f") % s.rounded;
    QVLOG(logging::debug) << "tmpMin = " << boost::format("%.12f") % kMantissaMin;
    QVLOG(logging::debug) << "tmpMax = " << boost::format("%.12f") % kMantissaMax;
    QVLOG(logging::debug) << "shift_down = " << boost::format("%d") % int(s.fine);
    QVLOG(logging::debug) << "shift_up = " << boost::format("%d") % int(s.coarse);
}

// The integral and derivative values in force, computed with the gain that
// PGAIN holds before it changes.
struct HeldValues {
    EPNodePtr integral;
    EPNodePtr derivative;
    double ti = 0.0;
    double td = 0.0;
};

bool heldValues(DeviceAccess& device, const DeviceStateEPNode& pgain, HeldValues& held) {
    held.integral = LinkedEndpoint(device, pgain, 0);
    held.derivative = LinkedEndpoint(device, pgain, 1);
    if (!held.integral || !held.derivative) return false;
    held.ti = integralReadBack(storedWord(*held.integral), linkedGain(device, *held.integral));
    held.td = FromDTC(storedWord(*held.derivative), linkedGain(device, *held.derivative));
    return true;
}

// A changed integral or derivative word from the instrument, pushed as its
// value with the linked gain.
QV_STATUS pushScaledWord(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length,
                         double (*value)(uint32_t word, double gain)) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    return pushDouble(device, ep->epId, value(word, linkedGain(device, *ep)));
}

// The derivative time constant a client sees. Without a gain there is no
// derivative action: the word's value then (0/0 or an infinity) reads 0.
double shownDTC(uint32_t word, double gain) { return gain == 0.0 ? 0.0 : FromDTC(word, gain); }

// Whether the leaf still waits for the instrument's answer to its read
// request: until it arrives the leaf holds only its start word.
bool awaitsData(const DeviceStateEPNode& ep) { return (ep.flags & (EPFlagRequest | EPFlagAwaiting)) != 0; }

// Writes the held values back with the new gain: new words, marked for
// writing, pushed where they changed. Nested writes have no requester. A leaf
// that still waits for its first data is left alone: its start word holds no
// value of the instrument's, and writing it would overwrite the instrument's
// own setting, whose answer is on its way.
QV_STATUS rewriteHeldValues(DeviceAccess& device, const HeldValues& held) {
    if (!awaitsData(*held.integral))
        if (QV_STATUS s = PLLITCWriteNumber(device, held.integral, kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                            held.ti, saturatingCast<int64_t>(held.ti)))
            return s;
    if (awaitsData(*held.derivative)) return QV_NO_ERROR;
    return PLLDTCWriteNumber(device, held.derivative, kUnsolicitedSequenceTag, kUnsolicitedSessionTag, held.td,
                             saturatingCast<int64_t>(held.td));
}

}  // namespace

uint32_t ToPGain(double gain) {
    double u = gain * kGainSteps * kGainStepsEighth;
    bool coarse = false;
    if (u >= kMantissaMax || u < kMantissaMin) {
        u *= kGainCoarseEncode;
        coarse = true;
    }
    const uint32_t word = wordOf(mantissaFrom(roundToMantissa(u)), coarse ? kFlag18 : 0);
    QVLOG(logging::debug) << __PRETTY_FUNCTION__ << ", value=" << gain << ", writing="
                          << boost::format("0x%08x") % word;
    return word;
}

double FromPGain(uint32_t word) {
    const double e = (word & kFlag18) ? double(mantissaOf(word)) * kGainCoarse : double(mantissaOf(word));
    return e * kGainScale * kGainStep;
}

uint32_t ToITC(double value, double gain) { return solveIntegral(value, gain).word; }

double FromITC(uint32_t word, double gain) {
    double e = mantissaOf(word);
    if (word & kFlag18)
        e *= kIntegralFineDecode;
    else if (word & kFlag19)
        e *= kIntegralCoarse;
    return e != 0.0 ? gain * kMilli * kIntegralScale / e : 0.0;
}

uint32_t ToDTC(double value, double gain) {
    double x = gain * kDerivativeScale * value;
    if (x >= kMantissaMax + 1.0)
        x = kMantissaMax;
    else if (x < kMantissaMin)
        x = kMantissaMin;
    if (std::fabs(x) < kDerivativeFine) return wordOf(int32_t(std::trunc(x * kDerivativeFine)), kFlag18);
    return wordOf(std::isnan(x) ? 0 : int32_t(std::trunc(x)), 0);
}

double FromDTC(uint32_t word, double gain) {
    const double e = (word & kFlag18) ? mantissaOf(word) * kDerivativeFineDecode : double(mantissaOf(word));
    return e / (gain * kDerivativeScale);
}

QV_STATUS PLLPGainReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, FromPGain(storedWord(*ep)));
}

QV_STATUS PLLPGainWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                              double value, int64_t) {
    if (ep->value.size() < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t word = ToPGain(value);
    HeldValues held;
    const bool linked = heldValues(device, *ep, held);
    const bool changed = storedWord(*ep) != word;
    if (changed) storeWord(*ep, word);
    // Without its partners (never so as built) the gain is written alone.
    if (linked)
        if (QV_STATUS s = rewriteHeldValues(device, held)) return s;
    if (QV_STATUS s = DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, ep->epId)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), FromPGain(word));
}

QV_STATUS PLLPGainReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (!data || length < 4 || ep->value.size() < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t word = le::get32(data);
    QVLOG(logging::debug) << "PLLPGainReceivedData = " << boost::format("0x%08x") % word;
    if (word == storedWord(*ep)) return QV_NO_ERROR;
    HeldValues held;
    const bool linked = heldValues(device, *ep, held);
    storeWord(*ep, word);
    if (QV_STATUS s = pushDouble(device, ep->epId, FromPGain(word))) return s;
    return linked ? rewriteHeldValues(device, held) : QV_NO_ERROR;
}

QV_STATUS PLLITCReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    const uint32_t word = storedWord(*ep);
    QVLOG(logging::debug) << "PLLITCReadData = " << boost::format("0x%08x") % word;
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY,
                       integralReadBack(word, linkedGain(device, *ep)));
}

QV_STATUS PLLITCWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                            int64_t) {
    const double gain = linkedGain(device, *ep);
    const IntegralSolution solution = solveIntegral(value, gain);
    logIntegralSolution(gain, solution);
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, solution.word, changed)) return s;
    const double shown = integralReadBack(solution.word, linkedGain(device, *ep));
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), shown);
}

QV_STATUS PLLITCReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return pushScaledWord(device, ep, data, length, integralReadBack);
}

QV_STATUS PLLDTCReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY,
                       shownDTC(storedWord(*ep), linkedGain(device, *ep)));
}

QV_STATUS PLLDTCWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                            int64_t) {
    const uint32_t word = ToDTC(value, linkedGain(device, *ep));
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, word, changed)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), shownDTC(word, linkedGain(device, *ep)));
}

QV_STATUS PLLDTCReceivedData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return pushScaledWord(device, ep, data, length, shownDTC);
}

}  // namespace tarnix
