#include "TreeTestSupport.h"

#include "platform/endian/ByteOrder.h"
#include "core/LogCapture.h"
#include "core/tree/PathResolution.h"
#include "core/tree/RequestPosting.h"
#include "core/tree/Subscriptions.h"

#include <gtest/gtest.h>

#include <mutex>
#include <shared_mutex>

#include <future>
#include <thread>

namespace tarnix {
namespace {

using test::ScopedTree;

NodeSet resolve(TreeRegistry& registry, const std::string& path) {
    NodeSet set;
    DispatcherResolvePathList(registry, set, "", path);
    return set;
}

struct Record {
    uint16_t sequence, session;
    uint32_t endpoint;
    uint16_t kind, flags;
    size_t length;
};

Record header(const std::vector<uint8_t>& r) {
    return {le::get16(&r[0]), le::get16(&r[2]), le::get32(&r[4]), le::get16(&r[8]), le::get16(&r[10]), r.size()};
}

class RequestPosting : public ::testing::Test {
protected:
    RequestPosting() { client_.sessionId = 0x1234; }
    TreeRegistry registry;
    ScopedTree small_{registry, TreeId::device(99),
                      [](const DispatcherTreeLock& lock) { test::buildDemoDevice(lock, 2); }};
    ScopedTree device_{registry, TreeId::device(1234)};
    SessionClient client_;
};

TEST_F(RequestPosting, SetDoubleWritesOneRecordPerEndpointIntoItsTree) {
    NodeSet set =
        resolve(registry, "/dev1234/demods/0/rate /dev1234/demods/1/rate /dev99/demods/1/rate /dev1234/demods");
    EXPECT_EQ(QV_NO_ERROR, DispatcherPostSetDouble(7, client_, set, 2.5));

    const auto big = test::drainRecords(device_.requests());
    const auto small = test::drainRecords(small_.requests());
    ASSERT_EQ(2u, big.size());
    ASSERT_EQ(1u, small.size());
    std::vector<uint32_t> ids;
    for (const auto* records : {&big, &small}) {
        for (const auto& r : *records) {
            const Record h = header(r);
            EXPECT_EQ(20u, h.length);
            EXPECT_EQ(7, h.sequence);
            EXPECT_EQ(0x1234, h.session);
            EXPECT_EQ(DATATYPE_DOUBLE, h.kind);
            EXPECT_EQ(0, h.flags);
            EXPECT_EQ(2.5, le::getDouble(&r[12]));
            ids.push_back(h.endpoint);
        }
    }
    // RATE is the second leaf of each instance: ids 1 and 4 in DEV1234, 4 in DEV99.
    EXPECT_EQ((std::vector<uint32_t>{1, 4, 4}), ids);
}

TEST_F(RequestPosting, GroupNodesPostNothing) {
    EXPECT_EQ(QV_NO_ERROR, DispatcherPostGetRequest(1, client_, resolve(registry, "/dev1234 /dev1234/demods/*")));
    EXPECT_TRUE(test::drainRecords(device_.requests()).empty());
}

TEST_F(RequestPosting, RecordsHaveTheLayoutOfTheirKind) {
    const NodeSet rate = resolve(registry, "/dev1234/demods/0/rate");
    const uint8_t bytes[3] = {0xAA, 0xBB, 0xCC};
    EXPECT_EQ(DispatcherPostGetRequest(1, client_, rate), QV_NO_ERROR);
    EXPECT_EQ(DispatcherPostSetInteger(2, client_, rate, -1), QV_NO_ERROR);
    EXPECT_EQ(DispatcherPostSetInteger(3, client_, rate, 2147483647), QV_NO_ERROR);
    EXPECT_EQ(DispatcherPostSetBytes(4, client_, rate, 0, nullptr), QV_NO_ERROR);
    EXPECT_EQ(DispatcherPostSetBytes(5, client_, rate, 3, bytes), QV_NO_ERROR);
    const auto records = test::drainRecords(device_.requests());
    ASSERT_EQ(5u, records.size());

    EXPECT_EQ(12u, records[0].size());
    EXPECT_EQ(DATATYPE_GETVALUE, header(records[0]).kind);
    EXPECT_EQ(20u, records[1].size());
    EXPECT_EQ(DATATYPE_INTEGER, header(records[1]).kind);
    EXPECT_EQ(~uint64_t(0), le::get64(&records[1][12]));
    EXPECT_EQ(uint64_t(2147483647), le::get64(&records[2][12]));
    EXPECT_EQ(16u, records[3].size());
    EXPECT_EQ(DATATYPE_BYTEARRAY, header(records[3]).kind);
    EXPECT_EQ(0u, le::get32(&records[3][12]));
    ASSERT_EQ(19u, records[4].size());
    EXPECT_EQ(3u, le::get32(&records[4][12]));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 3), std::vector<uint8_t>(records[4].begin() + 16, records[4].end()));
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(i + 1, header(records[i]).sequence);
        EXPECT_EQ(1u, header(records[i]).endpoint);
    }
}

TEST(TreeWrite, AFullRequestFifoLosesTheRecordAndSaysSo) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(5), test::ScopedTree::buildDemoDeviceDefault(),
                      std::make_shared<BufferFifo<2, 1024>>());
    SessionClient client;
    const NodeSet rate = resolve(registry, "/dev5/demods/0/rate");
    EXPECT_EQ(DispatcherPostSetDouble(1, client, rate, 1.0), QV_NO_ERROR);
    EXPECT_EQ(DispatcherPostSetDouble(2, client, rate, 2.0), QV_NO_ERROR);

    testing::internal::CaptureStdout();
    const uint8_t record[20] = {};
    EXPECT_EQ(QV_OVERFLOW, TreeWrite(*device.tree(), record, sizeof record));
    EXPECT_EQ(DispatcherPostSetDouble(3, client, rate, 3.0), QV_NO_ERROR);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_NE(std::string::npos, printed.find("QV_OVERFLOW in "));
    EXPECT_NE(std::string::npos, printed.find("Can't write to tree -> QV_OVERFLOW\n"));
    const auto records = test::drainRecords(device.requests());
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(2, header(records[1]).sequence);
}

TEST(TreeWrite, IgnoresEmptyWrites) {
    TreeRegistry registry;
    ScopedTree device(registry, TreeId::device(5));
    const uint8_t byte = 0;
    EXPECT_EQ(QV_NO_ERROR, TreeWrite(*device.tree(), &byte, 0));
    EXPECT_EQ(0u, device.requests().used());
}

class Subscriptions : public RequestPosting {
protected:
    size_t subscribedEndpoints(const SessionClient& client) {
        size_t count = 0;
        for (const auto& tree : registry.dispatcherTreeMap())
            for (const auto& endpoint : tree.second->endpoints)
                for (SessionClient* s : endpoint.second->subscribers) count += (s == &client);
        return count;
    }
};

TEST_F(Subscriptions, SubscribingTwiceListsTheSessionOnce) {
    const NodeSet rate = resolve(registry, "/dev1234/demods/0/rate");
    EXPECT_EQ(QV_NO_ERROR, DispatcherSubscribeNodeSet(registry, &client_, 1, rate));
    EXPECT_EQ(QV_NO_ERROR, DispatcherSubscribeNodeSet(registry, &client_, 1, rate));
    EXPECT_EQ(1u, (*rate.begin())->endpoint()->subscribers.size());
    EXPECT_EQ(QV_NO_ERROR, DispatcherSubscribeNodeSet(registry, &client_, 0, rate));
    EXPECT_EQ(QV_NO_ERROR, DispatcherSubscribeNodeSet(registry, &client_, 0, rate));
    EXPECT_EQ(0u, subscribedEndpoints(client_));
}

TEST_F(Subscriptions, ADeviceNodeSubscribesEveryLeafBelowIt) {
    SessionClient other;
    EXPECT_EQ(QV_NO_ERROR,
              DispatcherSubscribeNodeSet(registry, &other, 1, resolve(registry, "/dev1234/demods/1/sample")));
    EXPECT_EQ(QV_NO_ERROR, DispatcherSubscribeNodeSet(registry, &client_, 1, resolve(registry, "/dev1234")));
    EXPECT_EQ(13u, subscribedEndpoints(client_));
    const auto& sample = device_.tree()->endpoints.at(5)->subscribers;
    EXPECT_EQ((std::list<SessionClient*>{&other, &client_}), sample);  // subscription order
    EXPECT_EQ(QV_NO_ERROR, DispatcherSubscribeNodeSet(registry, &client_, 0, resolve(registry, "/dev1234/demods")));
    EXPECT_EQ(1u, subscribedEndpoints(client_));
}

TEST_F(Subscriptions, RemovingAClientClearsEveryListAndTheSessionList) {
    {
        UniqueLock<SharedMutex> lock(registry.sessionListMutex());
        registry.sessionClientList().append(client_);
    }
    EXPECT_EQ(DispatcherSubscribeNodeSet(registry, &client_, 1, resolve(registry, "/dev*")), QV_NO_ERROR);
    EXPECT_EQ(20u, subscribedEndpoints(client_));
    EXPECT_EQ(QV_NO_ERROR, DispatcherRemoveClient(registry, &client_));
    EXPECT_EQ(0u, subscribedEndpoints(client_));
    SharedLock<SharedMutex> lock(registry.sessionListMutex());
    EXPECT_EQ(nullptr, registry.sessionClientList().find(0x1234));
}

TEST_F(Subscriptions, GivesUpWhenTheSubscriptionLockStaysTaken) {
    test::LogCapture log;
    registry.setSubscriptionLockTimeout(std::chrono::milliseconds(50));
    std::promise<void> locked, release;
    std::thread dispatcher([&] {
        UniqueLock<SharedTimedMutex> lock(registry.treeSubscriptionMutex());
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    EXPECT_EQ(QV_COMMAND_SERVER_FAILED,
              DispatcherSubscribeNodeSet(registry, &client_, 1, resolve(registry, "/dev1234")));
    release.set_value();
    dispatcher.join();
    registry.setSubscriptionLockTimeout(std::chrono::milliseconds(6000));
    EXPECT_TRUE(log.contains("Can't get exclusive access to the tree within timeout 00:00:00.050000, "
                             "canceling command execution."));
    EXPECT_EQ(0u, subscribedEndpoints(client_));
}

TEST(SessionClientList, KeepsCreationOrderAndUnlinksAnywhere) {
    SessionClientList list;
    SessionClient a, b, c, twin;
    a.sessionId = 1;
    b.sessionId = 2;
    c.sessionId = 3;
    twin.sessionId = 2;
    for (SessionClient* s : {&a, &b, &c, &twin}) list.append(*s);
    list.append(a);  // already linked: stays where it is
    EXPECT_EQ(4u, list.size());
    EXPECT_EQ(&b, list.find(2));
    EXPECT_EQ(nullptr, list.find(9));

    EXPECT_TRUE(list.unlink(b));
    EXPECT_FALSE(list.unlink(b));
    EXPECT_EQ(&twin, list.find(2));
    EXPECT_TRUE(list.unlink(a));
    EXPECT_TRUE(list.unlink(twin));
    EXPECT_EQ(&c, list.head());
    EXPECT_EQ(&c, list.tail());
    list.clear();
    EXPECT_EQ(nullptr, list.head());
    EXPECT_EQ(0u, list.size());
    EXPECT_FALSE(list.contains(c));
}

}  // namespace
}  // namespace tarnix
