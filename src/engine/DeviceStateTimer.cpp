#include "engine/DeviceStateTimer.h"

#include "engine/DeviceState.h"

#include <algorithm>

namespace tarnix {

DeviceStateTimers::DeviceStateTimers() {
    pool.reserve(kCapacity);
    active.reserve(kCapacity);
    for (DeviceStateTimer& t : storage) pool.push_back(&t);
}

bool DeviceStateTimers::isActive(const DeviceStateTimer* timer) const {
    return std::find(active.begin(), active.end(), timer) != active.end();
}

QV_STATUS DeviceStateAddTimer(DeviceAccess& device, DeviceStateTimer** out, EngineClock::duration duration) {
    return DeviceStateAddTimer(device, out, duration, DeviceStateCmdTimeout);
}

QV_STATUS DeviceStateAddTimer(DeviceAccess& device, DeviceStateTimer** out, EngineClock::duration duration,
                              std::function<void(DeviceAccess&)> callback) {
    DeviceState& state = stateOf(device);
    DeviceStateTimers& timers = state.timers;
    if (timers.pool.empty()) return QV_BUFFER_TOO_SMALL;
    DeviceStateTimer* timer = timers.pool.back();
    timers.pool.pop_back();
    timer->callback = std::move(callback);
    timer->start = state.currentTime;
    timer->expiry = timer->start + duration;
    timers.active.push_back(timer);
    if (out) *out = timer;
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateRemoveTimer(DeviceAccess& device, DeviceStateTimer* timer) {
    DeviceStateTimers& timers = stateOf(device).timers;
    auto it = std::find(timers.active.begin(), timers.active.end(), timer);
    if (it == timers.active.end()) return QV_NO_ERROR;  // already back in the pool
    timers.active.erase(it);
    timers.pool.push_back(timer);
    return QV_NO_ERROR;
}

void DeviceStateSetCurrentTime(DeviceAccess& device, EngineTime now) {
    DeviceState& state = stateOf(device);
    state.currentTime = now;
    // Take a snapshot: callbacks may arm or cancel timers while we walk.
    const std::vector<DeviceStateTimer*> due = [&] {
        std::vector<DeviceStateTimer*> list;
        for (DeviceStateTimer* t : state.timers.active)
            if (t->expiry <= now) list.push_back(t);
        return list;
    }();
    for (DeviceStateTimer* timer : due) {
        // Cancelled, or re-armed, by an earlier callback of this walk.
        if (!state.timers.isActive(timer) || timer->expiry > now) continue;
        auto callback = std::move(timer->callback);
        timer->callback = nullptr;
        // The timer was taken from the active list just now; returning it to the pool cannot fail.
        DeviceStateRemoveTimer(device, timer).ignore();
        if (callback) callback(device);
    }
}

}  // namespace tarnix
