#pragma once
#include "engine/DeviceState.h"
#include "engine/DeviceStateGroupStore.h"
#include "groups/data/AuxDioData.h"
#include "groups/data/ControlLoopData.h"
#include "groups/data/FrontEndData.h"
#include "groups/data/SharedGroupData.h"
#include "groups/data/SignalPathData.h"
#include "groups/data/SystemData.h"

#include <memory>

namespace tarnix {

// The groups' own state of one device: what several families read, then one
// record per family of groups. Held by the device state as its group store.
struct GroupFamilyData final : DeviceStateGroupStore {
    SharedGroupData shared;
    SignalPathData signalPath;
    AuxDioData auxDio;
    FrontEndData frontEnd;
    ControlLoopData controlLoop;
    SystemData system;
};

// The records of the device; made with their initial values on first use.
// Inline: the sample paths read them for every sample.
inline GroupFamilyData& familyDataOf(DeviceState& state) {
    // Only the groups make the store, so it is always of this type.
    if (!state.groupStore) state.groupStore = std::make_unique<GroupFamilyData>();
    return static_cast<GroupFamilyData&>(*state.groupStore);
}

// Read-only: a device whose records were never made reads the initial values.
inline const GroupFamilyData& familyDataOf(const DeviceState& state) {
    static const GroupFamilyData initial;
    if (!state.groupStore) return initial;
    return static_cast<const GroupFamilyData&>(*state.groupStore);
}

}  // namespace tarnix
