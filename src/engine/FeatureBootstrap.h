#pragma once
#include "core/QVStatus.h"

#include <cstdint>

namespace tarnix {

class DeviceAccess;

// The feature-list discovery as the send pass and the data path see it: the
// poll issues the aperture request and the re-requests; the aperture hook takes
// the aperture header when it arrives.
void DeviceStateBootstrapPoll(DeviceAccess& device);
QV_STATUS DeviceStateBootstrapAperture(DeviceAccess& device, uint32_t address, uint32_t length, const uint8_t* data);

}  // namespace tarnix
