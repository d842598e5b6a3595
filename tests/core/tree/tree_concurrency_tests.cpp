#include "TreeTestSupport.h"

#include "core/tree/PathResolution.h"
#include "core/tree/RequestPosting.h"
#include "core/tree/Subscriptions.h"
#include "core/tree/TreeNotices.h"

#include <gtest/gtest.h>

#include <mutex>
#include <shared_mutex>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace tarnix {
namespace {

using Clock = std::chrono::steady_clock;

// Ends the process if the threads do not finish: a deadlock must not hang the suite.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fputs("tree concurrency test: no progress, probable deadlock\n", stderr);
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// A device's life: its tree is created and announced, serves requests for a
// while, is partly rebuilt, then removed; over and over.
void runDevice(TreeRegistry& registry, uint32_t serial, Clock::time_point end, std::atomic<int>& cycles) {
    while (Clock::now() < end) {
        // Room for everything the sessions post during one life of the tree.
        auto requests = std::make_shared<BufferFifo<65536, 1048576>>();
        std::shared_ptr<DispatcherTree> tree;
        {
            DispatcherTreeCreator creator(registry, TreeId::device(serial), std::make_shared<test::SmallFifo>(),
                                          requests);
            test::buildDemoDevice(creator, 4);
            DispatcherTreeBufferEndpoint(creator.getTree(), 2, DATATYPE_DEMODSAMPLE);
            EXPECT_EQ(DispatcherNotifyDeviceConnected(registry, creator.getNode()), QV_NO_ERROR);
            tree = creator.getTree();
        }
        for (int pass = 0; pass < 20; ++pass) {
            test::drainRecords(*requests);
            std::this_thread::yield();
        }
        {
            DispatcherTreeLocker locker(tree);
            TreeNode::Ptr demods = locker.getNode()->childAt(0);
            EXPECT_EQ(DispatcherTreeRemoveNodeChildren(tree, demods), QV_NO_ERROR);
            for (int i = 0; i < 2; ++i) {
                TreeNode::Ptr instance = test::addNode(demods, "");
                test::addLeaf(tree, instance, "RATE");
            }
            EXPECT_EQ(DispatcherNotifyTreeChanged(registry, locker.getNode()), QV_NO_ERROR);
        }
        test::drainRecords(*requests);
        TreeNode::Ptr root = tree->root;
        { DispatcherTreeRemover remover(tree); }
        EXPECT_EQ(DispatcherNotifyDeviceDisconnected(registry, root), QV_NO_ERROR);
        ++cycles;
    }
}

// A client: resolves, subscribes, posts and unsubscribes under the shared
// structure lock, and now and then closes and reopens its session.
void runSession(TreeRegistry& registry, uint16_t id, Clock::time_point end, std::atomic<int>& requests) {
    SessionClient client;
    client.sessionId = id;
    {
        UniqueLock<SharedMutex> lock(registry.sessionListMutex());
        registry.sessionClientList().append(client);
    }
    const char* const paths[] = {"/dev*/demods/*/rate", "/1001 /1002/sigins", "/dev1001", "/*/demods/0/*"};
    int round = 0;
    while (Clock::now() < end) {
        {
            SharedLock<SharedTimedMutex> structure(registry.treeStructureMutex());
            NodeSet set;
            DispatcherResolvePathList(registry, set, "", paths[round % 4]);
            EXPECT_EQ(QV_NO_ERROR, DispatcherSubscribeNodeSet(registry, &client, round % 2, set));
            EXPECT_EQ(DispatcherPostSetDouble(uint16_t(round), client, set, round * 0.5), QV_NO_ERROR);
            EXPECT_EQ(DispatcherPostGetRequest(uint16_t(round), client, set), QV_NO_ERROR);
            NodeSetCountEndpoints(set);
        }
        if (++round % 50 == 0) {
            EXPECT_EQ(DispatcherRemoveClient(registry, &client), QV_NO_ERROR);
            UniqueLock<SharedMutex> lock(registry.sessionListMutex());
            registry.sessionClientList().append(client);
        }
        ++requests;
        // Real clients pause between requests; without it the readers keep the
        // structure lock so busy that tree changes would wait a long time.
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    EXPECT_EQ(DispatcherRemoveClient(registry, &client), QV_NO_ERROR);
}

// The dispatcher's pass: the registry, endpoint tables and subscriber lists
// under the subscription lock, the session list inside it.
void runDispatcher(TreeRegistry& registry, Clock::time_point end, std::atomic<int>& passes) {
    while (Clock::now() < end) {
        {
            UniqueLock<SharedTimedMutex> subscription(registry.treeSubscriptionMutex());
            for (const auto& entry : registry.dispatcherTreeMap()) {
                const DispatcherTree& tree = *entry.second;
                for (const auto& endpoint : tree.bufferedEndpoints) (void)endpoint->buffer->used();
                for (int32_t id = 0; id < tree.nextEndpointId; ++id) {
                    if (auto endpoint = DispatcherTreeFindEndpoint(tree, id)) {
                        for (SessionClient* session : endpoint->subscribers) {
                            UniqueLock<SharedMutex> sessions(registry.sessionListMutex());
                            (void)registry.sessionClientList().find(session->sessionId);
                            (void)session->interfaceType.load();
                        }
                    }
                }
            }
        }
        ++passes;
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // the dispatcher's pace, not a wait
    }
}

TEST(TreeConcurrency, SessionsWorkWhileTreesComeAndGo) {
    TreeRegistry registry;
    std::atomic<int> notices{0};
    registry.setTreeNoticeSink([&notices, &registry](const TreeNode::Ptr& node, uint8_t) {
        // Like the server's tree: the notice takes the structure lock shared.
        SharedLock<SharedTimedMutex> lock(registry.treeStructureMutex());
        (void)node->getName();
        ++notices;
    });

    std::atomic<int> cycles{0}, requests{0}, passes{0};
    {
        Watchdog watchdog(std::chrono::seconds(120));
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(800);
        std::vector<std::thread> threads;
        threads.emplace_back(runDevice, std::ref(registry), 1001u, end, std::ref(cycles));
        threads.emplace_back(runDevice, std::ref(registry), 1002u, end, std::ref(cycles));
        threads.emplace_back(runDispatcher, std::ref(registry), end, std::ref(passes));
        for (uint16_t id = 1; id <= 4; ++id)
            threads.emplace_back(runSession, std::ref(registry), id, end, std::ref(requests));
        for (auto& t : threads) t.join();
    }
    registry.setTreeNoticeSink(nullptr);

    EXPECT_GT(cycles.load(), 0);
    EXPECT_GT(requests.load(), 0);
    EXPECT_GT(passes.load(), 0);
    EXPECT_EQ(3 * cycles.load(), notices.load());
    EXPECT_TRUE(registry.dispatcherTreeMap().empty());
    EXPECT_TRUE(registry.root()->children().empty());
    SharedLock<SharedMutex> lock(registry.sessionListMutex());
    EXPECT_EQ(0u, registry.sessionClientList().size());
}

}  // namespace
}  // namespace tarnix
