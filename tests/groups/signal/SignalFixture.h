#pragma once
// A device state on the engine's fake device with the register blocks of the
// oscillators, modulators and demodulators, and helpers to build their groups,
// talk to their leaves as a client and as the instrument.
#include "engine/FakeDevice.h"

#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/Endpoint.h"
#include "engine/FeatureInitMap.h"
#include "engine/MessageHandling.h"
#include "engine/nodedefs/NodeDefFamily.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnix {
namespace test {

class SignalFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DeviceStateCreate(dev), QV_NO_ERROR); }

    DeviceState& state() { return dev.state(); }

    Feature* addBlock(uint32_t address, uint32_t count, uint32_t stride, uint32_t attribute = 0) {
        Feature* item = nullptr;
        EXPECT_EQ(FeatureMapInsert(state().features, address, count, stride, attribute, "TESTBLK ", &item),
                  QV_NO_ERROR);
        return item;
    }

    // Runs a group's init as feature discovery does: under the tree's lock,
    // with the group's node made below the device node.
    template <class G>
    QV_STATUS build(FeatureInitFunc init, uint16_t version, const std::vector<Feature*>& items,
                    TreeNode::Ptr* node = nullptr) {
        DispatcherTreeLocker lock(state().tree);
        DeviceStateNodeGroup* group = nullptr;
        EXPECT_EQ(DeviceStateGetNodeGroup<G>(dev, &group, lock.getNode()), QV_NO_ERROR);
        if (node) *node = group->node;
        return init(dev, group, group->node, version, items, int(items.size()));
    }

    // The endpoint id of a leaf below an instance node; -1 when there is none.
    static int32_t idOf(const TreeNode::Ptr& instance, const std::string& leaf) {
        for (const auto& c : instance->children())
            if (c->getName() == leaf && c->endpoint()) return c->endpoint()->id;
        return -1;
    }
    EPNodePtr ep(int32_t id) { return DeviceStateEPNodesFind(state().epNodes, id); }

    QV_STATUS post(const std::vector<uint8_t>& record) {
        return DeviceStateMsgHandler(dev, record.data(), uint32_t(record.size()));
    }
    // A client request and the records it caused.
    std::vector<OutputRecord> writeDouble(int32_t id, double v) {
        dev.takeOutput();
        lastStatus = post(setDouble(id, v));
        return dev.takeOutput();
    }
    std::vector<OutputRecord> writeInteger(int32_t id, int64_t v) {
        dev.takeOutput();
        lastStatus = post(setInteger(id, v));
        return dev.takeOutput();
    }
    std::vector<OutputRecord> read(int32_t id) {
        dev.takeOutput();
        lastStatus = post(getValue(id));
        return dev.takeOutput();
    }
    // Register data from the instrument and the records it caused.
    std::vector<OutputRecord> deliver(uint32_t address, const std::vector<uint8_t>& bytes) {
        dev.takeOutput();
        lastStatus = DeviceStateHandleData(dev, address, uint32_t(bytes.size()), bytes.data());
        return dev.takeOutput();
    }
    static std::vector<uint8_t> word(uint32_t w) {
        std::vector<uint8_t> b(4);
        le::put32(b.data(), w);
        return b;
    }
    // The register writes of the next send pass.
    std::vector<DeviceEvent> send() {
        dev.clearEvents();
        EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
        return dev.writes();
    }
    // The read requests made so far into [address, address + length).
    std::vector<DeviceEvent> requestsIn(uint32_t address, uint32_t length) {
        std::vector<DeviceEvent> out;
        for (const DeviceEvent& e : dev.requests())
            if (e.address >= address && e.address - address < length) out.push_back(e);
        return out;
    }
    uint32_t storedU32(int32_t id) { return le::get32(ep(id)->value.data()); }
    uint64_t storedU64(int32_t id) { return le::get64(ep(id)->value.data()); }

    FakeDevice dev;
    QV_STATUS lastStatus = QV_NO_ERROR;
};

}  // namespace test
}  // namespace tarnix
