#pragma once

namespace tarnix {

// What the node groups keep per device beyond DeviceStateGroupData. The
// device state owns it for the device's lifetime without knowing what it
// holds; the groups make it and know its type (groups/data/GroupFamilyData.h).
class DeviceStateGroupStore {
public:
    DeviceStateGroupStore() = default;
    DeviceStateGroupStore(const DeviceStateGroupStore&) = delete;
    DeviceStateGroupStore& operator=(const DeviceStateGroupStore&) = delete;
    virtual ~DeviceStateGroupStore() = default;
};

}  // namespace tarnix
