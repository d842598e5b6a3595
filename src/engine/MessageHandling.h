#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <memory>

namespace tarnix {

class DeviceAccess;

// Largest device message, and so the largest raw register read.
constexpr uint32_t kDeviceMessageBufferBytes = 524288;

// One client request (a ValueRecord) to the endpoint it names.
QV_STATUS DeviceStateMsgHandler(DeviceAccess& device, const uint8_t* record, uint32_t length);
// Once per pass: the marked endpoints become register writes and read requests;
// also drives the time-based duties of the device state.
QV_STATUS DeviceStateSendChanges(DeviceAccess& device);
// Whether the next DeviceStateSendChanges has endpoints to send or commands to
// start that are due now (marked by a message handler, say: the start-up reads
// of the groups just built).
bool DeviceStateHasChangesToSend(DeviceAccess& device);
// One block of register data from the instrument, routed to the register-map
// item and the endpoints it covers.
QV_STATUS DeviceStateHandleData(DeviceAccess& device, uint32_t address, uint32_t length, const uint8_t* data);
// Whether every stream buffer of the device has room for `bytes` more bytes of
// samples. The device loop reads no more from the instrument while one has
// not, instead of losing data it has already read.
bool DeviceStateStreamsHaveRoom(DeviceAccess& device, uint32_t bytes);
// Completion of the amplifier state poll (mailbox command 23).
void TAmpUpdateComplete(DeviceAccess& device, const uint8_t* reply, uint32_t length,
                        const std::shared_ptr<void>& user);

}  // namespace tarnix
