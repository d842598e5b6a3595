#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceAccess.h"

#include <array>
#include <functional>
#include <vector>

namespace tarnix {

// A one-shot timer of the device state; fired by DeviceStateSetCurrentTime.
struct DeviceStateTimer {
    std::function<void(DeviceAccess&)> callback;
    EngineTime start{};
    EngineTime expiry{};
};

// The fixed pool of timers and the active ones, oldest first.
struct DeviceStateTimers {
    static constexpr std::size_t kCapacity = 4;
    std::array<DeviceStateTimer, kCapacity> storage;
    std::vector<DeviceStateTimer*> pool;    // free timers; the last one is taken first
    std::vector<DeviceStateTimer*> active;  // armed timers in the order they were armed

    DeviceStateTimers();
    bool isActive(const DeviceStateTimer* timer) const;
};

// Arms a one-shot timer whose callback is the command-queue time-out.
QV_STATUS DeviceStateAddTimer(DeviceAccess& device, DeviceStateTimer** out, EngineClock::duration duration);
// Arms a one-shot timer with any callback (the command queue passes its own).
QV_STATUS DeviceStateAddTimer(DeviceAccess& device, DeviceStateTimer** out, EngineClock::duration duration,
                              std::function<void(DeviceAccess&)> callback);
QV_STATUS DeviceStateRemoveTimer(DeviceAccess& device, DeviceStateTimer* timer);
// Stores the pass time and fires every timer that has expired, oldest first.
void DeviceStateSetCurrentTime(DeviceAccess& device, EngineTime now);

}  // namespace tarnix
