#include "EngineFixture.h"

#include "core/QVException.h"
#include "engine/RegisterHandlers.h"
#include "engine/SaturatingCast.h"
#include "engine/Timestamp48Extender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnix {
namespace {

TEST(EPNodes, MarksPutAnEndpointIntoTheSendSetOnce) {
    DeviceStateEPNodes table;
    DeviceStateEPNodesAdd(table, 5, 4);
    DeviceStateEPNodesAdd(table, 2, 4);
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(table, 5), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(table, 5), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPNodesMarkRequest(table, 5), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPNodesMarkRequest(table, 5), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(table, 2), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPNodesMarkWrite(table, 99), QV_NO_ERROR);  // unknown ids are ignored
    EXPECT_EQ(std::vector<int32_t>(table.sendSet.begin(), table.sendSet.end()), (std::vector<int32_t>{2, 5}));
    EXPECT_EQ(table.awaitingCount, 1u) << "a second request mark is not counted again";
    EXPECT_EQ(DeviceStateEPNodesFind(table, 5)->flags, EPFlagWrite | EPFlagRequest);
}

TEST(EPNodes, AddRefusesDuplicatesAndRemoveLowersTheAwaitingCount) {
    DeviceStateEPNodes table;
    EPNodePtr ep = DeviceStateEPNodesAdd(table, 1, 8);
    EXPECT_EQ(ep->value.size(), 8u);
    EXPECT_TRUE(ep->freeData);
    EXPECT_FALSE(DeviceStateEPNodesAdd(table, 2, 0)->freeData);
    EXPECT_THROW(DeviceStateEPNodesAdd(table, 1, 8), QVException);
    const uint32_t changes = table.changeCounter;
    EXPECT_EQ(DeviceStateEPNodesMarkRequest(table, 1), QV_NO_ERROR);
    ep->flags = EPFlagAwaiting;  // request sent
    EXPECT_EQ(DeviceStateEPNodesRemove(table, 1), QV_NO_ERROR);
    EXPECT_EQ(table.awaitingCount, 0u);
    EXPECT_EQ(table.changeCounter, changes + 1);
    EXPECT_EQ(ep->epId, -1);
    EXPECT_TRUE(ep->value.empty()) << "the value buffer is freed";
    EXPECT_EQ(DeviceStateEPNodesRemove(table, 1), QV_NO_ERROR);
    EXPECT_EQ(table.changeCounter, changes + 1);
}

// An endpoint that is asked for again while its first answer is still awaited
// is counted once, so the count returns to zero when the answer arrives.
TEST(EPNodes, RequestWhileAwaitingIsCountedOnce) {
    DeviceStateEPNodes table;
    DeviceStateEPNodesAdd(table, 1, 4);
    EXPECT_EQ(DeviceStateEPNodesMarkRequest(table, 1), QV_NO_ERROR);
    DeviceStateEPNodesFind(table, 1)->flags = EPFlagAwaiting;
    EXPECT_EQ(DeviceStateEPNodesMarkRequest(table, 1), QV_NO_ERROR);
    EXPECT_EQ(table.awaitingCount, 1u);
    EXPECT_EQ(DeviceStateEPNodesClearAwaiting(table, 1), QV_NO_ERROR);
    EXPECT_EQ(table.awaitingCount, 0u);
}

TEST(Timestamp48Extender, Table) {
    struct Step {
        uint64_t value;
        uint64_t expected;
    };
    const uint64_t wrap = uint64_t(1) << 48;
    const std::vector<std::vector<Step>> runs = {
        {{0xFFFFFFFFFFF0ull, 0xFFFFFFFFFFF0ull}, {0x10, wrap + 0x10}},
        {{0x200000000000ull, 0x200000000000ull}, {0x100000000000ull, 0x100000000000ull}},  // small step back
        {{0x400000000000ull, 0x400000000000ull}, {0x0, wrap}},                              // exactly 2^46 back
        {{0x10, 0x10}, {0x20, 0x20}},
    };
    for (const auto& run : runs) {
        Timestamp48Extender x;
        for (const Step& s : run)
            EXPECT_EQ(x.extend(uint32_t(s.value), uint16_t(s.value >> 32)), s.expected) << std::hex << s.value;
    }
}

TEST(SaturatingCast, ClientDoublesNeverOverflow) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(saturatingCast<int64_t>(2.9), 2);
    EXPECT_EQ(saturatingCast<int64_t>(-2.9), -2);
    EXPECT_EQ(saturatingCast<int64_t>(std::nan("")), 0);
    EXPECT_EQ(saturatingCast<int64_t>(inf), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(saturatingCast<int64_t>(-inf), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(saturatingCast<int64_t>(9.3e18), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(saturatingCast<int32_t>(3e9), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(saturatingCast<int32_t>(2147483647.5), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(saturatingCast<uint32_t>(-1.0), 0u);
    EXPECT_EQ(saturatingCast<uint32_t>(4294967295.9), 4294967295u);
    EXPECT_EQ(saturatingCast<uint16_t>(1e6), 65535);
}

using RegisterHandlerTest = test::EngineFixture;

TEST_F(RegisterHandlerTest, GenericHandlersNeedAValueAndSkipAddressZero) {
    EPNodePtr withValue = addLeaf(-1, 0, 0, 8, 0);
    EPNodePtr without = addLeaf(-1, 0, 0, 0, 0);
    le::put32(withValue->value.data(), 0x11223344);
    EXPECT_EQ(DeviceStateEPWriteRegisters(dev, without, 0x100), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(DeviceStateEPRequestRegisters(dev, without, 0x100), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(DeviceStateEPWriteRegisters(dev, withValue, 0), QV_NO_ERROR);
    EXPECT_TRUE(dev.events().empty());
    EXPECT_EQ(DeviceStateEPWriteRegisters(dev, withValue, 0x100), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateEPRequestRegisters(dev, withValue, 0x200), QV_NO_ERROR);
    ASSERT_EQ(dev.events().size(), 2u);
    EXPECT_EQ(dev.events()[0].payload, (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0}));
    EXPECT_EQ(dev.events()[1].kind, test::DeviceEvent::Request);
    EXPECT_EQ(dev.events()[1].length, 8u);
}

TEST_F(RegisterHandlerTest, InvertedBoolean) {
    EPNodePtr ep = addLeaf(-1, 0, 0, 4, 0);
    // Client 1 stores the register word 0 (unchanged from creation): reply only.
    EXPECT_EQ(InvertedBooleanWriteNumber(dev, ep, 1, 2, 1.0, 1), QV_NO_ERROR);
    EXPECT_EQ(storedWord(*ep), 0u);
    EXPECT_TRUE(ep->flags & EPFlagWrite);
    EXPECT_EQ(InvertedBooleanWriteNumber(dev, ep, 1, 2, 0.0, 0), QV_NO_ERROR);
    EXPECT_EQ(storedWord(*ep), 1u);
    EXPECT_EQ(InvertedBooleanReadData(dev, ep, 3, 4), QV_NO_ERROR);
    const uint8_t zero[4] = {0, 0, 0, 0};
    EXPECT_EQ(InvertedBooleanUpdateData(dev, ep, zero, 4), QV_NO_ERROR);
    EXPECT_EQ(InvertedBooleanUpdateData(dev, ep, zero, 4), QV_NO_ERROR);  // same word: no push
    auto out = dev.takeOutput();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(out[0].asInteger(), 1);
    EXPECT_EQ(out[1].header.flags, VALUE_FLAG_CHANGED);
    EXPECT_EQ(out[1].asInteger(), 0);
    EXPECT_EQ(out[2].header.sequenceTag, 3);
    EXPECT_EQ(out[2].asInteger(), 0);
    EXPECT_EQ(out[3].header.sessionTag, kUnsolicitedSessionTag);
    EXPECT_EQ(out[3].asInteger(), 1);
}

TEST_F(RegisterHandlerTest, GroupClearRemovesEndpointsRowsAndNodes) {
    const int row = addBlock(0x4000, 2, 0x10);
    TreeNode::Ptr groupNode;
    {
        DispatcherTreeLocker lock(state().tree);
        groupNode = CreateChild<test::TestLeaf>(lock.getNode());
        group.node = groupNode;
        DeviceStateCreateEP<test::TestLeaf>(dev, &group, groupNode, 4, 4, row, 1, 0, -1);
    }
    EXPECT_EQ(DeviceStateNodeGroupAddFeatureRow(&map().items[std::size_t(row)], dev, group), QV_NO_ERROR);
    {
        DispatcherTreeLocker lock(state().tree);
        EXPECT_EQ(DeviceStateNodeGroupClear(dev, group), QV_NO_ERROR);
        EXPECT_TRUE(group.eps.empty());
        EXPECT_TRUE(group.rows.empty());
        EXPECT_FALSE(map().items[std::size_t(row)].inUse);
        EXPECT_EQ(groupNode->childCount(), 0u);
        const uint32_t changes = state().epNodes.changeCounter;
        EXPECT_EQ(DeviceStateNodeGroupClear(dev, group), QV_NO_ERROR) << "a second clear finds nothing";
        EXPECT_EQ(state().epNodes.changeCounter, changes);
    }
}

}  // namespace
}  // namespace tarnix
