#include "groups/AuxOutsHandlers.h"

#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/AuxOutsScale.h"
#include "groups/AuxOutsWords.h"
#include "groups/PIDsHandlers.h"
#include "groups/auxdio/AuxOutLinks.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"
#include "groups/common/WordSetting.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>

namespace tarnix {

namespace {

int64_t signalCodeOf(const DeviceState& state, uint32_t word) {
    return AuxOutSignalCode(word, familyDataOf(state).shared.pidCount);
}
uint32_t demodIndexOf(const DeviceState& state, uint32_t word) {
    return AuxOutDemodIndex(word, familyDataOf(state).shared.demodulatorCount);
}
uint32_t selectWordOf(const DeviceState& state, int64_t code, uint32_t demodIndex) {
    return AuxOutSelectWord(code, demodIndex, familyDataOf(state).shared.pidCount, familyDataOf(state).shared.pllCount);
}

// Tells SCALE's subscribers when a selection change changed what SCALE shows.
QV_STATUS pushScaleIfChanged(DeviceAccess& device, const EPNodePtr& select, double before) {
    const double after = AuxOutLinkedScale(device, *select);
    // Unequal also when either is NaN.
    if (after != before) return AuxOutsPushScale(device, select);
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS AuxOutValueReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsDouble(device, ep, seq, session, AuxOutLevelVolts);
}

QV_STATUS AuxOutValueUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return PushNewWordAsDouble(device, ep, data, length, AuxOutLevelVolts);
}

QV_STATUS AuxOutOutputSelectReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY,
                        signalCodeOf(stateOf(device), storedWord(*ep)));
}

QV_STATUS AuxOutOutputSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                        double, int64_t integer) {
    const DeviceState& state = stateOf(device);
    const double before = AuxOutLinkedScale(device, *ep);
    const uint32_t word = selectWordOf(state, integer, demodIndexOf(state, storedWord(*ep)));
    bool changed = false;
    if (QV_STATUS s = WriteWordSetting(device, *ep, word, changed)) return s;
    const int64_t code = signalCodeOf(state, word);
    if (QV_STATUS s = replyInteger(device, *ep, seq, session, writeReplyFlags(changed), code)) return s;
    // A manual level starts from no offset.
    if (changed && code == kAuxOutManual) {
        if (const EPNodePtr offset = LinkedEndpoint(device, *ep, auxout::kSelectToOffset)) {
            if (QV_STATUS s = AuxOutOffsetWriteNumber(device, offset, kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                                      0.0, 0))
                return s;
        }
    }
    return pushScaleIfChanged(device, ep, before);
}

QV_STATUS AuxOutOutputSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                       uint32_t length) {
    const DeviceState& state = stateOf(device);
    const uint32_t oldWord = storedWord(*ep);
    const double before = AuxOutLinkedScale(device, *ep);
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;

    const uint32_t demodIndex = demodIndexOf(state, word);
    if (demodIndex != demodIndexOf(state, oldWord)) {
        if (const EPNodePtr demod = LinkedEndpoint(device, *ep, auxout::kSelectToDemod)) {
            if (QV_STATUS s = pushInteger(device, demod->epId, demodIndex)) return s;
        }
    }
    const int64_t code = signalCodeOf(state, word);
    if (code != signalCodeOf(state, oldWord)) {
        if (QV_STATUS s = pushInteger(device, ep->epId, code)) return s;
    }
    return pushScaleIfChanged(device, ep, before);
}

QV_STATUS AuxOutOutputSelectWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    // The PID block takes over a new output selection on its update strobe,
    // which follows the word as it follows every PID register.
    return PIDWriteData(device, ep, address);
}

QV_STATUS AuxOutDemodSelectReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    const EPNodePtr select = LinkedEndpoint(device, *ep, auxout::kDemodToSelect);
    if (!select) return QV_VALUE_NOT_FOUND;
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY,
                        demodIndexOf(stateOf(device), storedWord(*select)));
}

QV_STATUS AuxOutDemodSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                       double, int64_t integer) {
    const EPNodePtr select = LinkedEndpoint(device, *ep, auxout::kDemodToSelect);
    if (!select) return QV_VALUE_NOT_FOUND;
    const DeviceState& state = stateOf(device);
    const double before = AuxOutLinkedScale(device, *ep);
    // The signal is encoded afresh too, so a selection beyond the present PIDs
    // or PLLs is limited here as well.
    const int64_t code = signalCodeOf(state, storedWord(*select));
    // Limited without sign: with no demodulator the index is not limited.
    const uint32_t lastDemod = familyDataOf(state).shared.demodulatorCount - 1;
    const uint32_t demodIndex = integer < 0 ? 0 : uint32_t(std::min<uint64_t>(uint64_t(integer), lastDemod));
    const uint32_t word = selectWordOf(state, code, demodIndex);
    bool changed = false;
    if (QV_STATUS s = WriteWordSetting(device, *select, word, changed)) return s;
    if (QV_STATUS s =
            replyInteger(device, *ep, seq, session, writeReplyFlags(changed), demodIndexOf(state, word)))
        return s;
    return pushScaleIfChanged(device, ep, before);
}

QV_STATUS AuxOutScaleReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, AuxOutScaleOf(device, *ep));
}

QV_STATUS AuxOutScaleWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t) {
    const std::optional<int32_t> scale = AuxOutScaleRegisterFor(device, *ep, value);
    // While the input's gain is unknown no register stands for the value: the
    // stored one stays, and the writer learns the value it shows.
    if (!scale) return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, AuxOutScaleOf(device, *ep));
    bool changed = false;
    if (QV_STATUS s = WriteWordSetting(device, *ep, uint32_t(*scale), changed)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), AuxOutScaleOf(device, *ep));
}

QV_STATUS AuxOutScaleUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    return changed ? pushDouble(device, ep->epId, AuxOutScaleOf(device, *ep)) : QV_NO_ERROR;
}

QV_STATUS AuxOutOffsetReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return ReplyWordAsDouble(device, ep, seq, session, AuxOutOffsetVolts);
}

QV_STATUS AuxOutOffsetWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t) {
    return StoreWordReplyDouble(device, ep, seq, session, AuxOutOffsetWord(value), AuxOutOffsetVolts);
}

QV_STATUS AuxOutOffsetUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return PushNewWordAsDouble(device, ep, data, length, AuxOutOffsetVolts);
}

}  // namespace tarnix
