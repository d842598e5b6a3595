#pragma once
#include "core/QVStatus.h"
#include "core/tree/TreeNode.h"
#include "engine/FeatureInitMapTable.h"
#include "engine/nodedefs/NodeDefFamily.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// The table of feature groups: for every feature code of an instrument's
// feature list, what is built from its record. The node groups build it once
// (groups/FeatureInitMapBuild.h); the program's set-up hands it to every device
// object, and the device threads share it read-only.
namespace tarnix {

class DeviceAccess;
struct DeviceStateNodeGroup;
struct Feature;

// Takes a record's raw data. The group and its node are absent for codes
// without a group.
using FeatureProcessFunc = QV_STATUS (*)(DeviceAccess& device, DeviceStateNodeGroup* group,
                                         const TreeNode::Ptr& groupNode, uint16_t version, const char* name8,
                                         const uint8_t* data, uint32_t length);
// Builds a group's nodes from the register-map items made from the record's
// blocks (in block order); `count` is items.size().
using FeatureInitFunc = QV_STATUS (*)(DeviceAccess& device, DeviceStateNodeGroup* group,
                                      const TreeNode::Ptr& groupNode, uint16_t version,
                                      const std::vector<Feature*>& items, int count);
// Runs after every group of a list exists; `ids` are the group type ids of the
// records processed in that run (0 for records without a group).
using FeatureLinkFunc = QV_STATUS (*)(DeviceAccess& device, const TreeNode::Ptr& groupNode,
                                      const std::vector<int>& ids, int count);

// An entry without a group: a process function or nothing.
class FeatureInitMapEntryBase {
public:
    FeatureInitMapEntryBase(uint32_t featureCode, int32_t blockCount, FeatureProcessFunc process = nullptr)
        : code(featureCode), recordCount(blockCount), processFunc(process) {}
    virtual ~FeatureInitMapEntryBase() = default;
    FeatureInitMapEntryBase(const FeatureInitMapEntryBase&) = delete;
    FeatureInitMapEntryBase& operator=(const FeatureInitMapEntryBase&) = delete;

    virtual int groupTypeId() const { return 0; }
    virtual FeatureInitFunc getInitFunc() const { return nullptr; }
    virtual FeatureLinkFunc getLinkFunc() const { return nullptr; }
    // The device's group of this entry, made with its root node below `parent`
    // when the device has none yet. Without a group: none and 0x4003.
    virtual QV_STATUS getOrCreateGroup(DeviceAccess& device, TreeNode::Ptr parent, DeviceStateNodeGroup** out) const {
        (void)device;
        parent.reset();
        if (out) *out = nullptr;
        return QV_VALUE_NOT_FOUND;
    }

    const uint32_t code;
    const int32_t recordCount;  // blocks a record must carry
    const FeatureProcessFunc processFunc;
};

// An entry whose group has the root node definition G.
template <class G>
class FeatureInitMapEntry : public FeatureInitMapEntryBase {
public:
    FeatureInitMapEntry(uint32_t featureCode, int32_t blockCount, FeatureInitFunc init, FeatureLinkFunc link = nullptr,
                        FeatureProcessFunc process = nullptr)
        : FeatureInitMapEntryBase(featureCode, blockCount, process), initFunc(init), linkFunc(link) {}

    int groupTypeId() const override { return G::nodeTypeId; }
    FeatureInitFunc getInitFunc() const override { return initFunc; }
    FeatureLinkFunc getLinkFunc() const override { return linkFunc; }
    QV_STATUS getOrCreateGroup(DeviceAccess& device, TreeNode::Ptr parent, DeviceStateNodeGroup** out) const override {
        return DeviceStateGetNodeGroup<G>(device, out, parent);
    }

    const FeatureInitFunc initFunc;
    const FeatureLinkFunc linkFunc;
};

// The order in which a list's records are processed and the link functions run.
constexpr std::array<uint32_t, kFeatureInitMapRows> FeatureOrder = {1,  2,  15, 11, 12, 9,  10, 13, 4, 18,
                                                                    3,  5,  6,  8,  19, 16, 17, 7,  14};

// The first row of `table` serving the code; empty when no row does.
FeatureInitMapEntryPtr FeatureInitMapFind(const FeatureInitMapTable& table, uint32_t code);

}  // namespace tarnix
