#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// The handlers of a setting held in one 32-bit register word whose client
// value is a conversion of the word (`shown`): reads reply the shown value of
// the stored word; writes store the client's word, mark it for writing and
// reply the shown value of what was stored; updates push the shown value of a
// word that differs from the stored one.
namespace tarnix {

class DeviceAccess;

using ShownDouble = double (*)(uint32_t word);
using ShownInteger = int64_t (*)(uint32_t word);

QV_STATUS ReplyWordAsDouble(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                            ShownDouble shown);
QV_STATUS ReplyWordAsInteger(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                             ShownInteger shown);

QV_STATUS StoreWordReplyDouble(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               uint32_t word, ShownDouble shown);
QV_STATUS StoreWordReplyInteger(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                uint32_t word, ShownInteger shown);

QV_STATUS PushNewWordAsDouble(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length,
                              ShownDouble shown);
QV_STATUS PushNewWordAsInteger(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length,
                               ShownInteger shown);

}  // namespace tarnix
