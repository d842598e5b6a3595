#pragma once
#include "core/QVStatus.h"
#include "core/ValueRecord.h"

#include <cstdint>

// The records a node handler writes into its device's output FIFO: replies to
// a client's read or write, and pushes of values the instrument changed. Each
// returns 0, or QV_OVERFLOW when the FIFO had no room (the record is lost).
namespace tarnix {

class DeviceAccess;
struct DeviceStateEPNode;

// Flags of a write reply: subscribers hear of a change; an unchanged value
// goes to the writer alone.
inline uint16_t writeReplyFlags(bool changed) { return changed ? VALUE_FLAG_CHANGED : VALUE_FLAG_REPLY_ONLY; }

QV_STATUS replyInteger(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session,
                       uint16_t flags, int64_t value);
QV_STATUS replyDouble(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session,
                      uint16_t flags, double value);

// The reply to a write of a value that is not a number, where a setting has
// no word for it: nothing is stored or sent to the instrument, and the writer
// alone learns the value in force.
inline QV_STATUS replyValueInForce(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq,
                                   uint16_t session, double inForce) {
    return replyDouble(device, ep, seq, session, VALUE_FLAG_REPLY_ONLY, inForce);
}

// Unsolicited changes, to the subscribers of the endpoint `epId`.
QV_STATUS pushInteger(DeviceAccess& device, int32_t epId, int64_t value);
QV_STATUS pushDouble(DeviceAccess& device, int32_t epId, double value);

}  // namespace tarnix
