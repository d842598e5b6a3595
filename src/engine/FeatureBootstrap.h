#pragma once
#include "core/QVStatus.h"

#include <chrono>
#include <cstdint>

namespace tarnix {

class DeviceAccess;
struct Feature;

// Steps of the feature-list discovery (DeviceState::bootStep).
enum class BootStep : int {
    Off = 0,       // no aperture configured
    Start = 1,     // the next send pass requests the aperture header
    Aperture = 2,  // waiting for the aperture header
    List = 3,      // waiting for the whole list (to find the board register)
    Board = 4,     // waiting for the board register
    Build = 5,     // waiting for the whole list again, to build the groups
    Done = 6,      // built; later lists rebuild the KCtrl group only
};

// An unanswered request of steps 2 to 5 is repeated after this long.
constexpr std::chrono::microseconds kBootstrapRetryInterval{400000};

// The feature-list discovery as the send pass and the data path see it: the
// poll issues the aperture request and the re-requests; the aperture hook takes
// the aperture header when it arrives.
void DeviceStateBootstrapPoll(DeviceAccess& device);
QV_STATUS DeviceStateBootstrapAperture(DeviceAccess& device, uint32_t address, uint32_t length, const uint8_t* data);

// Starts discovery again from step 1 (the device loop does so after a bad
// message); the aperture is requested in the next send pass.
void DeviceStateBootstrapRestart(DeviceAccess& device);

// Data handler of the "FEATURES" item: the whole list, parsed and, in steps 5
// and 6, built into the device's node groups.
QV_STATUS LQ3ProcessFeatureList(DeviceAccess& device, Feature& item, uint32_t address, uint32_t instance,
                                const uint8_t* data, uint32_t length);
// Data handler of the temporary "HWINFO" item: the board register.
QV_STATUS LQ3ProcessHwInfo(DeviceAccess& device, Feature& item, uint32_t address, uint32_t instance,
                           const uint8_t* data, uint32_t length);

}  // namespace tarnix
