// A whole server in the test process: the QV tree over TCP, tree-change
// notices of device trees made here, the debug control codes, and device
// groups that hand out fake device components.
#include "ServerTestSupport.h"
#include "core/LogCapture.h"
#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"
#include "core/component/QVBaseImpl.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/TreeNotices.h"
#include "link/DeviceGroup.h"
#include "server/listener/Listener.h"
#include "server/server/Server.h"
#include "server/server/ServerImpl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <shared_mutex>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::TestClient;
using test::waitUntil;

// A device component whose thread idles, or fails with the given exception.
class FakeDeviceImpl : public impl::QVBaseImpl {
public:
    FakeDeviceImpl(exception::ExceptionCarrier& carrier, int failure)
        : QVBaseImpl("FakeDevice", carrier), failure_(failure) {}
    void pre() override {}
    void run() override {
        if (failure_ == 1) QV_THROW(QVDeviceException("The fake device is gone."));
        if (failure_ == 2) QV_THROW(QVException("The fake device broke the server."));
        std::this_thread::sleep_for(5ms);  // the pace of an idle device thread, not a wait of the test
    }

private:
    int failure_;
};

class FakeDevice : public QVBase {
public:
    FakeDevice(exception::ExceptionCarrier& carrier, int failure)
        : QVBase(std::make_shared<FakeDeviceImpl>(carrier, failure)) {}
};

class FakeDeviceGroup : public DeviceGroup {
public:
    explicit FakeDeviceGroup(exception::ExceptionCarrier& carrier) : carrier_(carrier) {}
    void update(std::vector<std::shared_ptr<QVBase>>& newDevices) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++updates;
        while (!plugged_.empty()) {
            newDevices.push_back(std::make_shared<FakeDevice>(carrier_, plugged_.front()));
            plugged_.pop_front();
        }
    }
    void removeEnded() override {}
    void setProgAlways(bool) override {}
    void plugIn(int failure) {
        std::lock_guard<std::mutex> lock(mutex_);
        plugged_.push_back(failure);
    }
    std::atomic<int> updates{0};

private:
    exception::ExceptionCarrier& carrier_;
    std::mutex mutex_;
    std::deque<int> plugged_;
};

class RunningServer : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_shared<Server>(childCarrier, ownCarrier, contextOwner);
        test::StandInProtocol::install(context.protocols());
        group = std::make_shared<FakeDeviceGroup>(childCarrier);
        server->impl().addDeviceGroup(group);
        port = test::freePort();
        server->configure(port, false, 0);
        setServerInstance(server);
        server->start();
        ASSERT_TRUE(server->impl().listener()->waitForSettingsApplied(5s));
        // The listener may take clients a moment before the server node has
        // built the tree "QV".
        ASSERT_TRUE(waitUntil([&] {
            SharedLock<SharedTimedMutex> lock(context.treeRegistry().treeStructureMutex());
            NodeSet set;
            DispatcherResolvePathList(context.treeRegistry(), set, "", "/qv/trees");
            return !set.empty();
        }));
    }
    void TearDown() override {
        server->stop();
        EXPECT_TRUE(waitUntil([&] { return server->isFinished(); }, 15s));
        setServerInstance(nullptr);
        server.reset();
    }

    // Waits until the server thread has updated the devices twice more (or has
    // ended). Each pass of that thread first rethrows what its children have
    // carried and updates the devices last, so after two updates a failure
    // carried before this call has ended the server thread.
    bool serverThreadPassedTwice() {
        const int seen = group->updates.load();
        return waitUntil([&] { return group->updates.load() >= seen + 2 || server->isFinished(); }, 10s);
    }

    bool logged(const std::string& part) const {
        for (const std::string& m : log.messages())
            if (m.find(part) != std::string::npos) return true;
        return false;
    }

    std::string ask(TestClient& client, const std::string& command, const std::string& answer) {
        client.clear();
        client.send(command + "\n");
        EXPECT_TRUE(client.waitFor(answer)) << command << " -> " << client.received();
        return client.received();
    }

    // Outlives every thread of the test, which may still be logging.
    test::LogCapture log;
    // The server's state, handed to the server, so that the test can look at it.
    std::shared_ptr<ServerContext> contextOwner = std::make_shared<ServerContext>();
    ServerContext& context = *contextOwner;
    exception::ExceptionCarrier childCarrier;
    exception::ExceptionCarrier ownCarrier;
    std::shared_ptr<Server> server;
    std::shared_ptr<FakeDeviceGroup> group;
    uint16_t port = 0;
};

TEST_F(RunningServer, TheChildrenAreListenerServerNodeAndDispatcher) {
    auto children = server->implementation()->children();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0]->implementation()->name(), "Listener");
    EXPECT_EQ(children[1]->implementation()->name(), "ServerNode");
    EXPECT_EQ(children[2]->implementation()->name(), "Dispatcher");
    EXPECT_EQ(getServerInstance(), server->implShared());
}

TEST_F(RunningServer, TheQvTreeAnswersOverTcpAndThePortMoves) {
    TestClient client(port);
    ASSERT_TRUE(client.waitFor("HELLO text\n"));
    ask(client, "get /qv/about/revision", "/QV/ABOUT/REVISION seq=1 kind=2 17045\n");
    ask(client, "get /qv/clockbase", "/QV/CLOCKBASE seq=2 kind=1 10\n");
    ask(client, "get /qv/about/version", "/QV/ABOUT/VERSION seq=3 kind=7 12.08\n");

    const uint16_t moved = test::freePort();
    ask(client, "set /qv/config/port " + std::to_string(moved),
        "/QV/CONFIG/PORT seq=4 kind=2 " + std::to_string(moved) + "\n");
    TestClient later(moved);
    EXPECT_TRUE(later.waitFor("HELLO text\n"));
    EXPECT_FALSE(TestClient(port).connected());
    // The session that asked keeps its connection.
    ask(client, "get /qv/config/port", "/QV/CONFIG/PORT seq=5 kind=2 " + std::to_string(moved) + "\n");
}

TEST_F(RunningServer, APortThatCannotBeBoundKeepsTheServerWhereItIs) {
    platform::Socket holder = platform::createTcpSocket();
    const uint16_t taken = test::freePort();
    ASSERT_TRUE(platform::bindIPv4(holder.get(), taken, false));
    ASSERT_TRUE(platform::listenOn(holder.get(), 1));
    TestClient client(port);
    ASSERT_TRUE(client.waitFor("HELLO"));
    ask(client, "set /qv/config/port " + std::to_string(taken),
        "/QV/CONFIG/PORT seq=1 kind=2 " + std::to_string(port) + "\n");
    EXPECT_TRUE(TestClient(port).waitFor("HELLO"));
    EXPECT_TRUE(waitUntil([&] { return logged("Listener could not open 127.0.0.1:" + std::to_string(taken)); }));
    ASSERT_TRUE(serverThreadPassedTwice()) << "the server thread did not update the devices";
    boost::exception_ptr failure;
    EXPECT_FALSE(ownCarrier.take(failure));
    EXPECT_FALSE(server->isFinished());
}

TEST_F(RunningServer, DeviceTreesComingAndGoingAreReportedOnTrees) {
    TestClient client(port);
    ASSERT_TRUE(client.waitFor("HELLO"));
    ask(client, "subs /qv/trees", "ok subs\n");
    client.clear();

    auto output = std::make_shared<BufferFifo<16, 4096>>();
    auto request = std::make_shared<BufferFifo<16, 4096>>();
    std::shared_ptr<DispatcherTree> tree;
    {
        DispatcherTreeCreator creator(context.treeRegistry(), TreeId::device(777), output, request);
        tree = creator.getTree();
        // Raised under the lock: delivered once the lock is released.
        EXPECT_EQ(DispatcherNotifyDeviceConnected(context.treeRegistry(), creator.getNode()), QV_NO_ERROR);
    }
    EXPECT_TRUE(client.waitFor("/QV/TREES seq=0 kind=16 1 DEV777\n"));
    EXPECT_EQ(DispatcherNotifyTreeChanged(context.treeRegistry(), tree->root), QV_NO_ERROR);
    EXPECT_TRUE(client.waitFor("/QV/TREES seq=0 kind=16 2 DEV777\n"));
    TreeNode::Ptr root = tree->root;
    { DispatcherTreeRemover remover(tree); }
    EXPECT_EQ(DispatcherNotifyDeviceDisconnected(context.treeRegistry(), root), QV_NO_ERROR);
    EXPECT_TRUE(client.waitFor("/QV/TREES seq=0 kind=16 0 DEV777\n"));
}

TEST_F(RunningServer, ControlCodesDumpTheClassLogsAndSwitchOnLoopStatistics) {
    TestClient client(port);
    ASSERT_TRUE(client.waitFor("HELLO"));
    ask(client, "set /qv/debug/level -99", "/QV/DEBUG/LEVEL seq=1 kind=2 3\n");
    EXPECT_TRUE(log.waitFor("-- Class Log Data Start -----------------------------", 3s));
    for (const char* name : {"Server", "Listener", "Session", "ServerNode", "Dispatcher"})
        EXPECT_TRUE(waitUntil([&] { return log.contains(std::string("Class name:    ") + name); }, 1s)) << name;

    ask(client, "set /qv/debug/level -97", "/QV/DEBUG/LEVEL seq=2 kind=2 3\n");
    EXPECT_TRUE(waitUntil(
        [&] {
            int enabled = 0;
            for (const std::string& m : log.messages())
                if (m.find("Loop statistic of ") == 0 && m.find(" enabled.") != std::string::npos) ++enabled;
            return enabled >= 5;
        },
        3s));
}

TEST_F(RunningServer, NewDevicesBecomeChildrenAndAFailingOneIsDropped) {
    group->plugIn(0);
    EXPECT_EQ(DispatcherUpdateDevices(context.treeRegistry()), QV_NO_ERROR);
    auto children = server->implementation()->children();
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[3]->implementation()->name(), "FakeDevice");
    EXPECT_FALSE(children[3]->isFinished());

    // Found by the server thread's own update, within about a second.
    group->plugIn(1);
    EXPECT_TRUE(waitUntil(
        [&] {
            for (const std::string& m : log.messages())
                if (m.find("Error: ") == 0 && m.find("The fake device is gone.") != std::string::npos) return true;
            return false;
        },
        5s));
    EXPECT_TRUE(waitUntil([&] { return server->implementation()->children().size() == 4; }, 5s));
    ASSERT_TRUE(serverThreadPassedTwice()) << "the server thread did not update the devices";
    boost::exception_ptr failure;
    EXPECT_FALSE(ownCarrier.take(failure));
    EXPECT_FALSE(server->isFinished());
}

size_t listedSessions(ServerContext& context) {
    SharedLock<SharedMutex> lock(context.treeRegistry().sessionListMutex());
    return context.treeRegistry().sessionClientList().size();
}

bool hasServerTree(ServerContext& context) {
    SharedLock<SharedTimedMutex> lock(context.treeRegistry().treeSubscriptionMutex());
    return context.treeRegistry().dispatcherTreeMap().count(TreeId::server()) == 1;
}

// Two servers in one process, each with its own context: each builds its own
// tree, lists only the sessions of its own port, reports the trees of its own
// registry coming and going and updates its own devices.
TEST(TwoServers, EachKeepsItsOwnTreeSessionsNoticesAndDevices) {
    test::LogCapture log;
    struct Running {
        std::shared_ptr<ServerContext> context = std::make_shared<ServerContext>();
        exception::ExceptionCarrier childCarrier;
        exception::ExceptionCarrier ownCarrier;
        std::shared_ptr<Server> server = std::make_shared<Server>(childCarrier, ownCarrier, context);
        std::shared_ptr<FakeDeviceGroup> group = std::make_shared<FakeDeviceGroup>(childCarrier);
        uint16_t port = 0;
        std::unique_ptr<TestClient> client;
    };
    Running a, b;
    for (Running* r : {&a, &b}) {
        test::StandInProtocol::install(r->context->protocols());
        r->server->impl().addDeviceGroup(r->group);
        r->port = test::freePort();
        r->server->configure(r->port, false, 0);
        r->server->start();
        ASSERT_TRUE(r->server->impl().listener()->waitForSettingsApplied(5s));
        ASSERT_TRUE(waitUntil([&] { return hasServerTree(*r->context); }));
    }
    EXPECT_NE(a.context->treeRegistry().root(), b.context->treeRegistry().root());

    a.client = std::make_unique<TestClient>(a.port);
    ASSERT_TRUE(a.client->waitFor("HELLO"));
    EXPECT_TRUE(waitUntil([&] { return listedSessions(*a.context) == 1; }));
    EXPECT_EQ(listedSessions(*b.context), 0u);
    b.client = std::make_unique<TestClient>(b.port);
    ASSERT_TRUE(b.client->waitFor("HELLO"));
    EXPECT_TRUE(waitUntil([&] { return listedSessions(*b.context) == 1; }));
    EXPECT_EQ(listedSessions(*a.context), 1u);

    uint32_t device = 700;
    for (Running* r : {&a, &b}) {
        SCOPED_TRACE(r == &a ? "first server" : "second server");
        r->client->clear();
        r->client->send("subs /qv/trees\n");
        ASSERT_TRUE(r->client->waitFor("ok subs\n"));
        r->client->clear();
        ++device;
        {
            DispatcherTreeCreator creator(r->context->treeRegistry(), TreeId::device(device),
                                          std::make_shared<BufferFifo<16, 4096>>(),
                                          std::make_shared<BufferFifo<16, 4096>>());
            EXPECT_EQ(DispatcherNotifyDeviceConnected(r->context->treeRegistry(), creator.getNode()), QV_NO_ERROR);
        }
        EXPECT_TRUE(r->client->waitFor("/QV/TREES seq=0 kind=16 1 DEV" + std::to_string(device) + "\n"));

        r->group->plugIn(0);
        EXPECT_EQ(DispatcherUpdateDevices(r->context->treeRegistry()), QV_NO_ERROR);
        auto children = r->server->implementation()->children();
        ASSERT_EQ(children.size(), 4u);
        EXPECT_EQ(children[3]->implementation()->name(), "FakeDevice");
    }

    for (Running* r : {&a, &b}) {
        r->server->stop();
        EXPECT_TRUE(waitUntil([&] { return r->server->isFinished(); }, 15s));
    }
}

TEST_F(RunningServer, AnyOtherFailureOfAChildEndsTheServerThread) {
    group->plugIn(2);
    boost::exception_ptr failure;
    EXPECT_TRUE(waitUntil([&] { return ownCarrier.take(failure); }, 5s));
    try {
        boost::rethrow_exception(failure);
    } catch (const QVDeviceException&) {
        FAIL() << "not a device failure";
    } catch (const QVException& e) {
        EXPECT_STREQ(e.what(), "The fake device broke the server.");
    }
}

}  // namespace
}  // namespace tarnix
