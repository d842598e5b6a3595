#pragma once
// A created device state on a fake device, plus helpers that bind test leaves
// to register blocks.
#include "FakeDevice.h"

#include "core/tree/DispatcherTreeLock.h"
#include "engine/MessageHandling.h"
#include "engine/nodedefs/NodeDefFamily.h"
#include "engine/nodedefs/TabledNodeDef.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace test {

// A leaf made only by the tests (node type id outside the system's range).
struct TestLeaf : PlainNodeDef<TestLeaf, 1, 250> {
    static constexpr const char* name = "LEAF";
    static constexpr HelpItem helpItems[] = {helpText("short", "test leaf")};
};

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DeviceStateCreate(dev), QV_NO_ERROR); }

    DeviceState& state() { return dev.state(); }
    FeatureMap& map() { return state().features; }

    // Inserts a register block and returns its row.
    int addBlock(uint32_t address, uint32_t count, uint32_t stride) {
        Feature* item = nullptr;
        EXPECT_EQ(FeatureMapInsert(map(), address, count, stride, 0, "TESTBLK ", &item), QV_NO_ERROR);
        int row = -1;
        EXPECT_EQ(FeatureMapRowOf(item, map(), &row), QV_NO_ERROR);
        return row;
    }

    // A leaf below DEV bound to `registerSize` bytes at `offset` of `instance`
    // of `row`, with the generic register handlers.
    EPNodePtr addLeaf(int row, int instance, int offset, uint32_t valueSize, int registerSize) {
        DispatcherTreeLocker lock(state().tree);
        EPNodePtr ep = DeviceStateCreateEP<TestLeaf>(dev, &group, lock.getNode(), valueSize, registerSize, row,
                                                     instance, offset, -1);
        return ep;
    }

    QV_STATUS handle(const std::vector<uint8_t>& record) {
        return DeviceStateMsgHandler(dev, record.data(), uint32_t(record.size()));
    }

    FakeDevice dev;
    DeviceStateNodeGroup group{250};
};

}  // namespace test
}  // namespace tarnix
