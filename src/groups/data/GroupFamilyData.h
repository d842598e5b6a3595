#pragma once
#include "engine/DeviceStateGroupStore.h"
#include "groups/data/AuxDioData.h"
#include "groups/data/ControlLoopData.h"
#include "groups/data/FrontEndData.h"
#include "groups/data/SignalPathData.h"
#include "groups/data/SystemData.h"

namespace tarnix {

struct DeviceState;

// The groups' own state of one device, one record per family of groups, held
// by the device state as its group store.
struct GroupFamilyData final : DeviceStateGroupStore {
    SignalPathData signalPath;
    AuxDioData auxDio;
    FrontEndData frontEnd;
    ControlLoopData controlLoop;
    SystemData system;
};

// The records of the device; made with their initial values on first use.
GroupFamilyData& familyDataOf(DeviceState& state);
// Read-only: a device whose records were never made reads the initial values.
const GroupFamilyData& familyDataOf(const DeviceState& state);

}  // namespace tarnix
