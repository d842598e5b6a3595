#include "TreeTestSupport.h"

#include "core/QVException.h"
#include "core/tree/PathResolution.h"
#include "core/tree/Subscriptions.h"
#include "core/tree/TreeNotices.h"

#include <gtest/gtest.h>

#include <mutex>
#include <shared_mutex>

#include <future>
#include <thread>

namespace tarnix {
namespace {

using test::ScopedTree;

template <class F>
std::string thrownMessage(F f) {
    try {
        f();
    } catch (const QVException& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

std::vector<uint64_t> registeredKeys(TreeRegistry& registry) {
    std::vector<uint64_t> keys;
    for (const auto& entry : registry.dispatcherTreeMap()) keys.push_back(entry.first.key());
    return keys;
}

void nameServerTree(const DispatcherTreeLock& lock) {
    lock.getNode()->setName("QV");
    lock.getNode()->setSiblingOrder(1);
}

TEST(DispatcherTreeCreator, HangsANewDeviceTreeBelowTheRoot) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(1234));
    EXPECT_EQ("DEV1234", device.root()->getName());
    EXPECT_EQ(1234, device.root()->getIndex());
    EXPECT_EQ(16, device.root()->type());
    EXPECT_EQ(registry.root(), device.root()->getParent());
    ASSERT_EQ(1u, registry.dispatcherTreeMap().count(TreeId::device(1234)));
    EXPECT_EQ(device.tree(), registry.dispatcherTreeMap().at(TreeId::device(1234)));
}

TEST(DispatcherTreeCreator, ServerTreeComesFirstForEverySerialNumber) {
    TreeRegistry registry;
    ScopedTree high(registry, TreeId::device(3000000000u));
    ScopedTree top(registry, TreeId::device(0xFFFFFFFFu));
    ScopedTree zero(registry, TreeId::device(0));
    ScopedTree server(registry, TreeId::server(), nameServerTree);
    ScopedTree one(registry, TreeId::device(1));
    ScopedTree middle(registry, TreeId::device(1234));

    EXPECT_EQ((std::vector<std::string>{"QV", "DEV0", "DEV1", "DEV1234", "DEV3000000000", "DEV4294967295"}),
              test::childNames(registry.root()));
    std::vector<uint64_t> expected{TreeId::server().key(),          TreeId::device(0).key(),
                                   TreeId::device(1).key(),         TreeId::device(1234).key(),
                                   TreeId::device(3000000000u).key(), TreeId::device(0xFFFFFFFFu).key()};
    EXPECT_EQ(expected, registeredKeys(registry));
    EXPECT_NE(server.tree(), zero.tree());
}

TEST(DispatcherTreeRemover, TakesTheTreeOutOfEverything) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(77));
    SessionClient client;
    std::shared_ptr<Endpoint> endpoint = device.tree()->endpoints.at(0);
    {
        UniqueLock<SharedTimedMutex> lock(registry.treeSubscriptionMutex());
        EXPECT_EQ(EndpointAddClient(endpoint, &client), QV_NO_ERROR);
    }
    device.remove();
    EXPECT_TRUE(endpoint->subscribers.empty());
    EXPECT_EQ(0u, registry.dispatcherTreeMap().count(TreeId::device(77)));
    EXPECT_TRUE(registry.root()->children().empty());
}

TEST(DispatcherTreeCreator, ATreeCreatedAgainReplacesTheOldOneUntilTheOldOneIsRemoved) {
    TreeRegistry registry;
    ScopedTree old(registry, TreeId::device(5));
    ScopedTree renewed(registry, TreeId::device(5));
    EXPECT_EQ(renewed.tree(), registry.dispatcherTreeMap().at(TreeId::device(5)));
    old.remove();
    ASSERT_EQ(1u, registry.dispatcherTreeMap().count(TreeId::device(5)));
    EXPECT_EQ(renewed.tree(), registry.dispatcherTreeMap().at(TreeId::device(5)));
    EXPECT_EQ(1u, registry.root()->childCount());
}

TEST(DispatcherTreeLock, ASecondLockOnTheSameThreadThrowsInsteadOfDeadlocking) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(9));
    DispatcherTreeLocker outer(device.tree());
    EXPECT_EQ(device.root(), outer.getNode());
    EXPECT_EQ("Tree already locked by this thread.",
              thrownMessage([&] { DispatcherTreeLocker inner(device.tree()); }));
    EXPECT_TRUE(DispatcherTreeLockHeld());
}

TEST(DispatcherTreeAddEndpoint, NumbersEndpointsAndNeverReusesIds) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(1234), nullptr);
    DispatcherTreeLocker lock(device.tree());
    TreeNode::Ptr demods = test::addNode(lock.getNode(), "DEMODS");
    int32_t first = -1, second = -1, third = -1;
    TreeNode::Ptr rate = test::addLeaf(device.tree(), demods, "RATE", &first);
    test::addLeaf(device.tree(), demods, "ORDER", &second);
    EXPECT_EQ(0, first);
    EXPECT_EQ(1, second);
    EXPECT_EQ("/DEV1234/DEMODS/RATE", rate->endpoint()->path);
    EXPECT_EQ(device.tree(), rate->endpoint()->tree.lock());

    rate->setName("RENAMED");
    EXPECT_EQ("/DEV1234/DEMODS/RATE", rate->endpoint()->path);

    EXPECT_EQ(QV_NO_ERROR, DispatcherTreeRemoveNodeChildren(device.tree(), lock.getNode()));
    EXPECT_TRUE(device.tree()->endpoints.empty());
    EXPECT_FALSE(rate->endpoint());
    EXPECT_EQ(0u, lock.getNode()->childCount());
    test::addLeaf(device.tree(), lock.getNode(), "AGAIN", &third);
    EXPECT_EQ(2, third);
}

TEST(DispatcherTreeAddEndpoint, StoresThePrecision) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(1), nullptr);
    DispatcherTreeLocker lock(device.tree());
    TreeNode::Ptr node = test::addNode(lock.getNode(), "X");
    ASSERT_EQ(QV_NO_ERROR, DispatcherTreeAddEndpoint(device.tree(), node, 6, nullptr));
    EXPECT_EQ(6, node->endpoint()->precision);
}

TEST(DispatcherTreeAddEndpoint, RefusesThreadsThatDoNotHoldALock) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(1234));
    TreeNode::Ptr node = std::make_shared<TreeNode>();
    EXPECT_EQ("Not locked.", thrownMessage([&] { DispatcherTreeAddEndpoint(device.tree(), node, 0, nullptr).ignore(); }));

    // Another thread holding a lock does not make this thread's change safe.
    std::promise<void> locked, release;
    std::thread holder([&] {
        DispatcherTreeLocker lock(device.tree());
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    EXPECT_EQ("Not locked.", thrownMessage([&] { DispatcherTreeAddEndpoint(device.tree(), node, 0, nullptr).ignore(); }));
    EXPECT_EQ("Not locked.", thrownMessage([&] { DispatcherTreeBufferEndpoint(device.tree(), 0, 3); }));
    EXPECT_EQ("Not locked.",
              thrownMessage([&] { DispatcherTreeRemoveNodeChildren(device.tree(), device.root()).ignore(); }));
    release.set_value();
    holder.join();
    EXPECT_EQ(13, device.tree()->nextEndpointId);
    EXPECT_FALSE(node->endpoint());
}

TEST(DispatcherTreeBufferEndpoint, BuffersOnceAndTakesTheLastDataType) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(1234));
    DispatcherTreeLocker lock(device.tree());
    auto first = DispatcherTreeBufferEndpoint(device.tree(), 2, 3);
    auto second = DispatcherTreeBufferEndpoint(device.tree(), 2, 5);
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(524288u, first->capacity());
    EXPECT_EQ(4194304u, first->dataCapacity());
    const auto& endpoint = device.tree()->endpoints.at(2);
    EXPECT_TRUE(endpoint->buffered);
    EXPECT_EQ(5, endpoint->dataType);
    EXPECT_EQ(1u, device.tree()->bufferedEndpoints.size());

    EXPECT_EQ(QV_NO_ERROR, DispatcherTreeUnbufferEndpoint(device.tree(), endpoint));
    EXPECT_FALSE(endpoint->buffered);
    EXPECT_FALSE(endpoint->buffer);
    EXPECT_EQ(0, endpoint->dataType);
    EXPECT_TRUE(device.tree()->bufferedEndpoints.empty());
}

TEST(DispatcherTreeBufferEndpoint, RejectsIdsThatNameNoEndpoint) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(1234));
    DispatcherTreeLocker lock(device.tree());
    const int32_t next = device.tree()->nextEndpointId;
    for (int32_t id : {next, -1}) {
        EXPECT_EQ("EndpointId out of range.",
                  thrownMessage([&] { DispatcherTreeBufferEndpoint(device.tree(), id, 3); }));
    }
    EXPECT_EQ(DispatcherTreeRemoveNodeChildren(device.tree(), device.root()->childAt(0)), QV_NO_ERROR);
    EXPECT_EQ("EndpointId out of range.", thrownMessage([&] { DispatcherTreeBufferEndpoint(device.tree(), 0, 3); }));
}

TEST(DispatcherTreeUnbufferEndpoint, DetectsAFlagThatTheTreeDoesNotKnow) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(1234));
    DispatcherTreeLocker lock(device.tree());
    auto endpoint = device.tree()->endpoints.at(0);
    endpoint->buffered = true;
    EXPECT_EQ("Tree not found in buffEps.",
              thrownMessage([&] { DispatcherTreeUnbufferEndpoint(device.tree(), endpoint).ignore(); }));
}

TEST(DispatcherTreeRemoveNodeChildren, DropsSubscribersAndBuffersOfTheWholeSubtree) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(1234));
    DispatcherTreeLocker lock(device.tree());
    TreeNode::Ptr demods = device.root()->childAt(0);
    auto sample = demods->childAt(0)->childAt(2)->endpoint();
    DispatcherTreeBufferEndpoint(device.tree(), sample->id, 3);
    SessionClient client;
    EXPECT_EQ(EndpointAddClient(sample, &client), QV_NO_ERROR);

    EXPECT_EQ(QV_NO_ERROR, DispatcherTreeRemoveNodeChildren(device.tree(), demods));
    EXPECT_TRUE(sample->subscribers.empty());
    EXPECT_FALSE(sample->buffered);
    EXPECT_TRUE(device.tree()->bufferedEndpoints.empty());
    EXPECT_EQ(1u, device.tree()->endpoints.size());  // SIGINS/0/RANGE stays
    EXPECT_EQ(0u, demods->childCount());
    EXPECT_EQ(demods, device.root()->childAt(0));
}

// Receives notices the way the server's tree does: it needs the structure lock.
struct NoticeRecorder {
    struct Seen {
        std::string name;
        uint8_t code;
        bool couldLock;
    };
    TreeRegistry& registry;
    std::vector<Seen> seen;

    explicit NoticeRecorder(TreeRegistry& r) : registry(r) {
        registry.setTreeNoticeSink([this](const TreeNode::Ptr& node, uint8_t code) {
            std::shared_lock<SharedTimedMutex::Native> lock(registry.treeStructureMutex().native(), std::try_to_lock);
            seen.push_back({node->getName(), code, lock.owns_lock()});
        });
    }
    ~NoticeRecorder() { registry.setTreeNoticeSink(nullptr); }
};

TEST(TreeNotices, WaitUntilTheTreeLockIsReleased) {
    TreeRegistry registry;
    NoticeRecorder recorder(registry);
    ScopedTree device(registry, TreeId::device(1234));
    {
        DispatcherTreeLocker lock(device.tree());
        EXPECT_EQ(QV_NO_ERROR, DispatcherNotifyDeviceConnected(registry, lock.getNode()));
        EXPECT_EQ(QV_NO_ERROR, DispatcherNotifyTreeChanged(registry, lock.getNode()));
        EXPECT_TRUE(recorder.seen.empty());
    }
    ASSERT_EQ(2u, recorder.seen.size());
    EXPECT_EQ("DEV1234", recorder.seen[0].name);
    EXPECT_EQ(TREE_CHANGE_NEW, recorder.seen[0].code);
    EXPECT_EQ(TREE_CHANGE_CHANGED, recorder.seen[1].code);
    EXPECT_TRUE(recorder.seen[0].couldLock);

    EXPECT_EQ(DispatcherNotifyDeviceDisconnected(registry, device.root()), QV_NO_ERROR);
    ASSERT_EQ(3u, recorder.seen.size());
    EXPECT_EQ(TREE_CHANGE_GONE, recorder.seen[2].code);
    EXPECT_TRUE(recorder.seen[2].couldLock);
}

TEST(TreeNotices, AnUnlistedTreeIsListedInItsPlaceWhenAnnouncedAndNeverOnceRemoved) {
    TreeRegistry registry;
    NoticeRecorder recorder(registry);
    ScopedTree low(registry, TreeId::device(1));
    ScopedTree high(registry, TreeId::device(3));
    const auto unlisted = [&](uint32_t serial) {
        DispatcherTreeCreator creator(registry, TreeId::device(serial), std::make_shared<test::SmallFifo>(),
                                      std::make_shared<test::SmallFifo>(), false);
        test::buildDemoDevice(creator);
        return creator.getTree();
    };
    const std::vector<std::string> others{"DEV1", "DEV3"};
    const std::shared_ptr<DispatcherTree> tree = unlisted(2);
    EXPECT_EQ(others, test::childNames(registry.root()));
    EXPECT_EQ(nullptr, tree->root->getParent());
    {
        // Announced while the tree is being built: listed with the notice.
        DispatcherTreeLocker lock(tree);
        EXPECT_EQ(QV_NO_ERROR, DispatcherNotifyDeviceConnected(registry, lock.getNode()));
        EXPECT_EQ(others, test::childNames(registry.root()));
    }
    const std::vector<std::string> all{"DEV1", "DEV2", "DEV3"};
    EXPECT_EQ(all, test::childNames(registry.root()));
    ASSERT_EQ(1u, recorder.seen.size());
    EXPECT_EQ("DEV2", recorder.seen[0].name);
    EXPECT_EQ(registry.root(), tree->root->getParent());
    EXPECT_EQ(QV_NO_ERROR, DispatcherNotifyDeviceConnected(registry, tree->root));
    EXPECT_EQ(all, test::childNames(registry.root()));
    { DispatcherTreeRemover remover(tree); }
    EXPECT_EQ(others, test::childNames(registry.root()));

    const std::shared_ptr<DispatcherTree> gone = unlisted(4);
    { DispatcherTreeRemover remover(gone); }
    EXPECT_EQ(QV_NO_ERROR, DispatcherNotifyDeviceConnected(registry, gone->root));
    EXPECT_EQ(others, test::childNames(registry.root()));
}

TEST(TreeNotices, AFailingReceiverDoesNotReachTheDevice) {
    TreeRegistry registry;
    registry.setTreeNoticeSink([](const TreeNode::Ptr&, uint8_t) { QV_THROW(QVOverflowException()); });
    ScopedTree device(registry, TreeId::device(1234));
    EXPECT_EQ(QV_NO_ERROR, DispatcherNotifyDeviceConnected(registry, device.root()));
    EXPECT_NO_THROW({
        DispatcherTreeLocker lock(device.tree());
        DispatcherNotifyTreeChanged(registry, device.root()).ignore();
    });
    registry.setTreeNoticeSink(nullptr);
    EXPECT_EQ(QV_NO_ERROR, DispatcherNotifyDeviceConnected(registry, device.root()));
}

TEST(DispatcherUpdateDevices, ReportsTheUpdatesOutcome) {
    TreeRegistry registry;
    registry.setDeviceUpdateHook(nullptr);
    EXPECT_EQ(QV_COMMAND_SERVER_FAILED, DispatcherUpdateDevices(registry));
    registry.setDeviceUpdateHook([] { return QV_STATUS(QV_NO_ERROR); });
    EXPECT_EQ(QV_NO_ERROR, DispatcherUpdateDevices(registry));
    registry.setDeviceUpdateHook([] { return QV_STATUS(QV_USB_FAILED); });
    EXPECT_EQ(QV_USB_FAILED, DispatcherUpdateDevices(registry));
    registry.setDeviceUpdateHook([]() -> QV_STATUS { QV_THROW(QVDeviceException("gone")); });
    EXPECT_EQ(QV_COMMAND_SERVER_FAILED, DispatcherUpdateDevices(registry));
    registry.setDeviceUpdateHook(nullptr);
}

}  // namespace
}  // namespace tarnix
