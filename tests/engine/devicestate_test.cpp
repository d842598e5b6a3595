#include "EngineFixture.h"

#include "core/LogCapture.h"
#include "core/QVException.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/TreeNotices.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using DeviceStateTest = test::EngineFixture;

std::vector<std::string> childNames(const TreeNode::Ptr& node) {
    std::vector<std::string> names;
    for (const auto& child : node->children()) names.push_back(child->getName());
    return names;
}

TEST_F(DeviceStateTest, CreatedStateHoldsTheRootNodesAndNothingElse) {
    const TreeNode::Ptr root = state().tree->root;
    EXPECT_EQ(root->getName(), "DEV4242");
    EXPECT_EQ(childNames(root), (std::vector<std::string>{"STATS", "RAW", "CLOCKBASE"}));
    ASSERT_EQ(state().nodeGroups.size(), 2u);
    EXPECT_EQ(state().nodeGroups[0]->typeId, 45);
    EXPECT_EQ(state().nodeGroups[1]->typeId, 57);
    EXPECT_EQ(state().timers.pool.size(), 4u);
    EXPECT_EQ(map().count, 0);
    EXPECT_EQ(state().bootStep, BootStep::Start);
    EXPECT_EQ(state().apertureAddress, 0x08020000u);
    EXPECT_EQ(state().sigInRewriteState, SigInRewriteState::Idle);
    EXPECT_EQ(state().groups.gainRanges[3].size(), 30u);
    EXPECT_DOUBLE_EQ(state().groups.gainRanges[0][10].range, 0.1);
    EXPECT_DOUBLE_EQ(state().groups.gainRanges[0].back().range, 2.0);
    for (int id : state().statsEPIds) EXPECT_GE(id, 0);

    ASSERT_EQ(DeviceStateDestroy(dev), QV_NO_ERROR);
    EXPECT_EQ(dev.deviceState(), nullptr);
    EXPECT_EQ(dev.treeRegistry().dispatcherTreeMap().count(TreeId::device(4242)), 0u);
    for (const auto& child : dev.treeRegistry().root()->children()) EXPECT_NE(child, root);
}

TEST_F(DeviceStateTest, TimerPoolHoldsFour) {
    DeviceStateTimer* timers[4] = {};
    for (auto& t : timers) ASSERT_EQ(DeviceStateAddTimer(dev, &t, std::chrono::seconds(1)), QV_NO_ERROR);
    DeviceStateTimer* fifth = nullptr;
    EXPECT_EQ(DeviceStateAddTimer(dev, &fifth, std::chrono::seconds(1)), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(DeviceStateRemoveTimer(dev, timers[2]), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateRemoveTimer(dev, timers[2]), QV_NO_ERROR) << "twice is harmless";
    EXPECT_EQ(DeviceStateAddTimer(dev, &fifth, std::chrono::seconds(1)), QV_NO_ERROR);
}

TEST_F(DeviceStateTest, DueTimersFireOldestFirst) {
    std::vector<int> fired;
    EXPECT_EQ(DeviceStateAddTimer(dev, nullptr, std::chrono::milliseconds(30), [&](DeviceAccess&) { fired.push_back(1); }), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateAddTimer(dev, nullptr, std::chrono::milliseconds(10), [&](DeviceAccess&) { fired.push_back(2); }), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateAddTimer(dev, nullptr, std::chrono::milliseconds(90), [&](DeviceAccess&) { fired.push_back(3); }), QV_NO_ERROR);
    dev.advance(std::chrono::milliseconds(50));
    EXPECT_EQ(fired, (std::vector<int>{1, 2}));
    EXPECT_EQ(state().timers.pool.size(), 3u);
}

TEST_F(DeviceStateTest, InitialisationCompletesOnceAndLaterOnlyReportsChanges) {
    test::LogCapture log;
    std::vector<uint8_t> codes;
    dev.treeRegistry().setTreeNoticeSink([&](const TreeNode::Ptr&, uint8_t code) { codes.push_back(code); });
    EPNodePtr ep = addLeaf(-1, 0, 0, 4, 0);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(DeviceStateRequestEP(dev, ep->epId), QV_NO_ERROR);
        ASSERT_EQ(DeviceStateRequestEP(dev, ep->epId), QV_NO_ERROR);
        EXPECT_EQ(state().initCounter, 1) << "a waiting endpoint does not count twice";
        ASSERT_EQ(DeviceStateClearAwaiting(dev, ep->epId), QV_NO_ERROR);
        EXPECT_EQ(state().initCounter, 0);
    }
    dev.treeRegistry().setTreeNoticeSink(nullptr);
    EXPECT_EQ(codes, (std::vector<uint8_t>{TREE_CHANGE_NEW, TREE_CHANGE_CHANGED}));
    int started = 0;
    for (const auto& m : log.messages()) started += m == "Start LED animation.";
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(dev.initialized);
}

TEST_F(DeviceStateTest, SetStatsReachesItsNode) {
    EXPECT_TRUE(DeviceStateSetStats(dev, STATS_MEAN_POLL_COUNT, 12.5));
    DeviceStateSetStats(dev, 10, 1.0);  // no such statistic
    auto out = dev.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(int(out[0].header.endpointId), state().statsEPIds[STATS_MEAN_POLL_COUNT]);
    EXPECT_DOUBLE_EQ(out[0].asDouble(), 12.5);
}

TEST_F(DeviceStateTest, SetStatsDropsAReportWhenTheFifoIsFullAndThrowsOnOtherFailures) {
    dev.fillOutput();
    bool delivered = true;
    EXPECT_NO_THROW(delivered = DeviceStateSetStats(dev, STATS_SUPPLY_1V2, 1.2));
    EXPECT_FALSE(delivered) << "the caller must know to report it again";
    dev.takeOutput();
    EPNodePtr ep = DeviceStateEPNodesFind(state().epNodes, state().statsEPIds[STATS_TEMPERATURE]);
    ep->updateData = [](DeviceAccess&, const EPNodePtr&, const uint8_t*, uint32_t) { return QV_BUFFER_TOO_SMALL; };
    try {
        DeviceStateSetStats(dev, STATS_TEMPERATURE, 40.0);
        FAIL() << "no exception";
    } catch (const QVDeviceException& e) {
        EXPECT_STREQ(e.what(), "Can't get stats, error 32784");
    }
}

}  // namespace
}  // namespace tarnix
