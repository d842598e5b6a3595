#include "groups/data/GroupFamilyData.h"

#include "engine/DeviceState.h"

#include <memory>

namespace tarnix {

GroupFamilyData& familyDataOf(DeviceState& state) {
    // Only the groups make the store, so it is always of this type.
    if (!state.groupStore) state.groupStore = std::make_unique<GroupFamilyData>();
    return static_cast<GroupFamilyData&>(*state.groupStore);
}

const GroupFamilyData& familyDataOf(const DeviceState& state) {
    static const GroupFamilyData initial;
    if (!state.groupStore) return initial;
    return static_cast<const GroupFamilyData&>(*state.groupStore);
}

}  // namespace tarnix
