#pragma once
#include "core/QVStatus.h"
#include "engine/FeatureInitMap.h"
#include "engine/FeatureList.h"

#include <cstdint>
#include <vector>

// Building a device's node groups from a parsed feature list. Runs on the
// device thread, inside the aperture's data handler.
namespace tarnix {

class DeviceAccess;

// One build run: the records in FeatureOrder (in the last bootstrap step only
// code 14), then the link functions, then the sorts. `counted`: the parse took
// one count of InitCounter, which the run gives back.
QV_STATUS LQ3BuildFeatureGroups(DeviceAccess& device, std::vector<FeatureRecordView>& views, bool counted);

// Hands one record to its table row and appends the row's group type id to `ids`.
QV_STATUS LQ3ProcessFeature(DeviceAccess& device, const FeatureHeader& header, const uint8_t* data,
                            uint32_t length, std::vector<int>& ids);

// Builds the group of one record: fetched or made, emptied, then filled by the
// row's process or init function.
QV_STATUS DeviceStateCreateFeatureGroup(DeviceAccess& device, uint16_t version, const char* name8,
                                        const uint8_t* data, uint32_t length, const FeatureInitMapEntryPtr& entry);

// Process function of code 1: accepts a record of at least 4 data bytes.
QV_STATUS LQ3ProcessFeatureCode1(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                                 uint16_t version, const char* name8, const uint8_t* data, uint32_t length);

}  // namespace tarnix
