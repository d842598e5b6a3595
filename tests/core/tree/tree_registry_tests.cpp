// Two registries in one process share nothing: trees, hooks, sessions and
// failed requests stay with the registry they were made in.
#include "TreeTestSupport.h"
#include "core/QVStatus.h"
#include "core/tree/FailedRequests.h"
#include "core/tree/PathResolution.h"
#include "core/tree/TreeNotices.h"
#include "core/tree/TreeRegistry.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnix {
namespace {

TEST(TreeRegistry, TwoRegistriesKeepTheirTreesApart) {
    TreeRegistry first, second;
    test::ScopedTree a(first, TreeId::device(1234));
    test::ScopedTree b(second, TreeId::device(1234));
    EXPECT_NE(first.root(), second.root());
    EXPECT_EQ(first.root()->childCount(), 1u);
    EXPECT_EQ(second.root()->childCount(), 1u);
    EXPECT_EQ(first.dispatcherTreeMap().at(TreeId::device(1234)), a.tree());
    EXPECT_EQ(second.dispatcherTreeMap().at(TreeId::device(1234)), b.tree());

    NodeSet found;
    DispatcherResolvePathList(first, found, "", "/dev1234/demods/0/rate");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ((*found.begin())->getParent()->getParent()->getParent(), a.root());

    b.remove();
    EXPECT_TRUE(second.dispatcherTreeMap().empty());
    EXPECT_EQ(first.dispatcherTreeMap().size(), 1u);
    EXPECT_EQ(first.root()->childCount(), 1u);
}

TEST(TreeRegistry, HooksAndFailedRequestsBelongToTheirRegistry) {
    TreeRegistry first, second;
    std::vector<uint8_t> firstCodes, secondCodes;
    first.setTreeNoticeSink([&](const TreeNode::Ptr&, uint8_t code) { firstCodes.push_back(code); });
    second.setTreeNoticeSink([&](const TreeNode::Ptr&, uint8_t code) { secondCodes.push_back(code); });
    test::ScopedTree a(first, TreeId::device(7));
    EXPECT_EQ(DispatcherNotifyDeviceConnected(first, a.root()), QV_NO_ERROR);
    EXPECT_EQ(firstCodes, std::vector<uint8_t>{TREE_CHANGE_NEW});
    EXPECT_TRUE(secondCodes.empty());

    second.setDeviceUpdateHook([] { return QV_STATUS(QV_NO_ERROR); });
    EXPECT_EQ(DispatcherUpdateDevices(second), QV_NO_ERROR);
    EXPECT_EQ(DispatcherUpdateDevices(first), QV_COMMAND_SERVER_FAILED);

    first.addFailedRequests({FailedRequest{3, 4, QV_VALUE_NOT_FOUND}});
    EXPECT_TRUE(DispatcherTakeFailedRequests(second).empty());
    EXPECT_EQ(DispatcherTakeFailedRequests(first).size(), 1u);
}

}  // namespace
}  // namespace tarnix
