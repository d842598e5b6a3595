// The request gate of a tree: requests that find no room wait at the gate
// instead of being lost, sessions go into the queue in turn, each session's
// share is bounded, an ended owner refuses posts and has its queued requests
// answered as failed, and so has a removed tree the answers it still held.
#include "TreeTestSupport.h"

#include "platform/endian/ByteOrder.h"
#include "core/ValueRecord.h"
#include "core/tree/FailedRequests.h"
#include "core/tree/PathResolution.h"
#include "core/tree/RequestGate.h"
#include "core/tree/RequestPosting.h"
#include "support/ThreadState.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;

// A device tree with the request FIFO `fifo`, behind a gate that lets each
// session have `share` requests at the gate and the FIFO hold `window`.
struct GatedTree {
    GatedTree(uint32_t serial, const std::shared_ptr<BufferFifoBase>& fifo, uint32_t share, uint32_t window = 64)
        : tree(registry, TreeId::device(serial), test::ScopedTree::buildDemoDeviceDefault(), fifo),
          gate(std::make_shared<RequestGate>(fifo, std::function<void()>(), RequestGateLimits{share, window})) {
        tree.tree()->requestGate = gate;
    }
    PostTargets rate() const {
        NodeSet set;
        DispatcherResolvePathList(registry, set, "",
                                  "/dev" + std::to_string(tree.tree()->id.serial()) + "/demods/0/rate");
        return DispatcherPostTargets(set);
    }
    // The owner's side: takes one record and says so to the gate; the
    // record's session and sequence tags, or 0 and 0 when there was none.
    std::pair<uint16_t, uint16_t> takeOne() {
        FifoReader reader(tree.requests(), 0);
        if (!reader.isValid()) return {0, 0};
        const uint16_t session = le::get16(reader.data() + 2);
        const uint16_t sequence = le::get16(reader.data());
        reader.commitAll();
        gate->taken(session);
        return {session, sequence};
    }

    TreeRegistry registry;
    test::ScopedTree tree;
    std::shared_ptr<RequestGate> gate;
};

SessionClient& sessionWithId(SessionClient& client, uint16_t id) {
    client.sessionId = id;
    return client;
}

TEST(RequestGate, ASessionMayHaveOnlyItsShareWaitingWhileOthersStillGetIn) {
    GatedTree device(4101, std::make_shared<test::SmallFifo>(), 3);
    SessionClient flooder, neighbour;
    sessionWithId(flooder, 7);
    sessionWithId(neighbour, 8);
    const PostTargets rate = device.rate();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0u, DispatcherPostGetRequest(uint16_t(i + 1), flooder, rate, nullptr));
    // Without waiting, the fourth of the same session does not get in ...
    EXPECT_EQ(1u, DispatcherPostGetRequest(4, flooder, rate, nullptr));
    EXPECT_EQ(3u, device.gate->waitingOf(7));
    // ... while another session's does.
    EXPECT_EQ(0u, DispatcherPostGetRequest(1, neighbour, rate, nullptr));

    // A waiting post goes in as soon as the owner takes one of the session's.
    std::atomic<int> steps{0};
    auto waiting = std::async(std::launch::async, [&] {
        return DispatcherPostGetRequest(5, flooder, rate, [&] { return ++steps < 100000; });
    });
    // A step of the wait has passed: the post did not get in.
    ASSERT_TRUE(test::waitUntil([&] { return steps.load() > 0; }, kDeadline));
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(0ms));
    ASSERT_EQ(7, device.takeOne().first);
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(kDeadline));
    EXPECT_EQ(0u, waiting.get());
    EXPECT_EQ(3u, device.gate->waitingOf(7));
    EXPECT_GT(steps.load(), 0);
}

TEST(RequestGate, ARequestThatFindsTheQueueFullWaitsAtTheGateInsteadOfBeingLost) {
    GatedTree device(4102, std::make_shared<BufferFifo<2, 1024>>(), 32);
    SessionClient a, b;
    sessionWithId(a, 21);
    sessionWithId(b, 22);
    const PostTargets rate = device.rate();
    EXPECT_EQ(0u, DispatcherPostSetDouble(1, a, rate, 1.0, nullptr));
    EXPECT_EQ(0u, DispatcherPostSetDouble(2, a, rate, 2.0, nullptr));
    // The queue is full: the request waits at the gate, accepted.
    EXPECT_EQ(0u, DispatcherPostSetDouble(3, b, rate, 3.0, nullptr));
    EXPECT_EQ(2u, device.tree.requests().used());
    EXPECT_EQ(1u, device.gate->waitingOf(22));
    // It goes in as soon as the owner takes one.
    EXPECT_EQ(21, device.takeOne().first);
    const auto records = test::drainRecords(device.tree.requests());
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(3, le::get16(&records[1][0]));
}

TEST(RequestGate, WaitingSessionsGoIntoTheQueueInTurn) {
    // A queue of 4; A sends 10 at once, then B and C one each.
    GatedTree device(4105, std::make_shared<test::SmallFifo>(), 32, 4);
    SessionClient a, b, c;
    sessionWithId(a, 51);
    sessionWithId(b, 52);
    sessionWithId(c, 53);
    const PostTargets rate = device.rate();
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(0u, DispatcherPostGetRequest(uint16_t(i), a, rate, nullptr));
    EXPECT_EQ(0u, DispatcherPostGetRequest(1, b, rate, nullptr));
    EXPECT_EQ(0u, DispatcherPostGetRequest(1, c, rate, nullptr));
    EXPECT_EQ(4u, device.tree.requests().used());
    std::vector<std::pair<uint16_t, uint16_t>> order;
    for (std::pair<uint16_t, uint16_t> taken; (taken = device.takeOne()).first != 0;) order.push_back(taken);
    // Behind the four in the queue, A's next, then B's and C's: the later
    // ones wait at most the queue and one turn of every other session.
    const std::vector<std::pair<uint16_t, uint16_t>> expected{
        {51, 1}, {51, 2}, {51, 3}, {51, 4}, {51, 5}, {52, 1}, {53, 1}, {51, 6}, {51, 7}, {51, 8}, {51, 9}, {51, 10}};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(0u, device.gate->waitingOf(51));
}

TEST(RequestGate, AShareWaitEndsOnlyOnceHalfTheSessionsShareIsFree) {
    GatedTree device(4106, std::make_shared<test::SmallFifo>(), 4);
    SessionClient a, b;
    sessionWithId(a, 61);
    sessionWithId(b, 62);
    const PostTargets rate = device.rate();
    EXPECT_EQ(0u, DispatcherPostGetRequest(1, b, rate, nullptr));
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(0u, DispatcherPostGetRequest(uint16_t(i), a, rate, nullptr));
    std::atomic<bool> woken{false};
    std::atomic<pid_t> waiterId{0};
    std::thread waiter([&] {
        waiterId.store(test::currentThreadId());
        device.gate->waitForShare(61, std::chrono::milliseconds(kDeadline));
        woken.store(true);
    });
    ASSERT_TRUE(test::waitUntil([&] { return waiterId.load() != 0 && test::threadSleeps(waiterId.load()); },
                                kDeadline));
    // B's request taken, then one of A's: A's share is not half free yet.
    EXPECT_EQ(62, device.takeOne().first);
    EXPECT_EQ(61, device.takeOne().first);
    EXPECT_FALSE(woken.load());
    EXPECT_EQ(61, device.takeOne().first);
    EXPECT_TRUE(test::waitUntil([&] { return woken.load(); }, kDeadline));
    waiter.join();
}

// A poster that sleeps on its own, counting its sleeps, wakes and steps.
struct SleepingPoster {
    SleepingPoster() {
        step.sleep = [this](std::chrono::milliseconds limit) {
            std::unique_lock<std::mutex> lock(mutex);
            ++sleeps;
            woken.wait_for(lock, limit, [this] { return pending; });
            pending = false;
        };
        step.wake = [this] {
            std::lock_guard<std::mutex> lock(mutex);
            ++wakes;
            pending = true;
            woken.notify_all();
        };
    }
    int count(const int& counter) {
        std::lock_guard<std::mutex> lock(mutex);
        return counter;
    }

    std::atomic<int> steps{0};
    PostWaitStep step{[this] {
        ++steps;
        return true;
    }};
    std::mutex mutex;
    std::condition_variable woken;
    int sleeps = 0;
    int wakes = 0;
    bool pending = false;
};

TEST(RequestGate, ASleepingPosterIsWokenOnlyOnceHalfItsShareIsFreeOrTheOwnerEnds) {
    GatedTree device(4107, std::make_shared<test::SmallFifo>(), 4);
    SessionClient a;
    sessionWithId(a, 71);
    const PostTargets rate = device.rate();
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(0u, DispatcherPostGetRequest(uint16_t(i), a, rate, nullptr));
    SleepingPoster poster;
    auto posting = std::async(std::launch::async, [&] { return DispatcherPostGetRequest(5, a, rate, poster.step); });
    ASSERT_TRUE(test::waitUntil([&] { return poster.count(poster.sleeps) == 1; }, kDeadline));
    // One request taken: the share is not half free, nobody is woken.
    EXPECT_EQ(71, device.takeOne().first);
    EXPECT_EQ(0, poster.count(poster.wakes));
    EXPECT_EQ(0, poster.steps.load());
    EXPECT_EQ(71, device.takeOne().first);
    ASSERT_EQ(std::future_status::ready, posting.wait_for(kDeadline));
    EXPECT_EQ(0u, posting.get());
    EXPECT_EQ(1, poster.count(poster.wakes));
    EXPECT_EQ(1, poster.steps.load());

    // The owner ends while the poster sleeps: it is woken and gives up.
    EXPECT_EQ(0u, DispatcherPostGetRequest(6, a, rate, nullptr));
    SleepingPoster late;
    auto refused = std::async(std::launch::async, [&] { return DispatcherPostGetRequest(7, a, rate, late.step); });
    ASSERT_TRUE(test::waitUntil([&] { return late.count(late.sleeps) == 1; }, kDeadline));
    DispatcherFailQueuedRequests(device.registry, *device.gate);
    ASSERT_EQ(std::future_status::ready, refused.wait_for(kDeadline));
    EXPECT_EQ(1u, refused.get());
    EXPECT_EQ(1, late.count(late.wakes));
}

TEST(RequestGate, TheOwnersWakeOfASleeperHoldsNobodyUpYetEndsBeforeTheSleeperGoesOn) {
    RequestGate gate(std::make_shared<BufferFifo<8, 1024>>(), {}, RequestGateLimits{2, 64});
    const uint8_t record[kValueRecordHeaderSize] = {};
    ASSERT_EQ(RequestGate::PostResult::Queued, gate.post(5, record, sizeof record));
    ASSERT_EQ(RequestGate::PostResult::Queued, gate.post(5, record, sizeof record));
    std::mutex mutex;
    std::condition_variable changed;
    bool waking = false;
    bool released = false;
    ASSERT_TRUE(gate.awaitShare(5, [&] {
        std::unique_lock<std::mutex> lock(mutex);
        waking = true;
        changed.notify_all();
        changed.wait_for(lock, kDeadline, [&] { return released; });
    }));
    // Half the share free: the owner wakes the sleeper.
    auto owner = std::async(std::launch::async, [&] { gate.taken(5); });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kDeadline, [&] { return waking; }));
    }
    // While the wake runs, the gate is free for other sessions' posts.
    auto other = std::async(std::launch::async, [&] { return gate.post(6, record, sizeof record); });
    const bool otherGotIn = other.wait_for(2s) == std::future_status::ready;
    EXPECT_TRUE(otherGotIn);
    // The sleeper stops awaiting only once the wake has ended.
    auto stopping = std::async(std::launch::async, [&] { gate.stopAwaiting(5); });
    EXPECT_EQ(std::future_status::timeout, stopping.wait_for(50ms));
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
    EXPECT_EQ(std::future_status::ready, stopping.wait_for(kDeadline));
    EXPECT_EQ(std::future_status::ready, owner.wait_for(kDeadline));
    ASSERT_EQ(std::future_status::ready, other.wait_for(kDeadline));
    EXPECT_EQ(RequestGate::PostResult::Queued, other.get());
    EXPECT_EQ(1u, gate.waitingOf(5));
}

TEST(RequestGate, AWaitIsGivenUpWhenTheSessionStopsOrTheOwnerEnds) {
    GatedTree device(4103, std::make_shared<BufferFifo<2, 1024>>(), 3);
    TreeRegistry& registry = device.registry;
    SessionClient a;
    sessionWithId(a, 31);
    const PostTargets rate = device.rate();
    EXPECT_EQ(0u, DispatcherPostGetRequest(1, a, rate, nullptr));
    EXPECT_EQ(0u, DispatcherPostGetRequest(2, a, rate, nullptr));
    // The queue is full: the third waits at the gate.
    EXPECT_EQ(0u, DispatcherPostGetRequest(3, a, rate, nullptr));
    // The session's share is used up and it stops: the post gives up.
    EXPECT_EQ(1u, DispatcherPostGetRequest(4, a, rate, [] { return false; }));

    // The owner ends while a post waits: the post gives up, the queued
    // requests are answered as failed, and later posts are refused.
    std::atomic<int> steps{0};
    auto waiting = std::async(std::launch::async, [&] {
        return DispatcherPostGetRequest(5, a, rate, [&] {
            ++steps;
            return true;
        });
    });
    // A step of the wait has passed: the post did not get in.
    ASSERT_TRUE(test::waitUntil([&] { return steps.load() > 0; }, kDeadline));
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(0ms));
    // What is queued and what waits at the gate is answered as failed, oldest
    // first.
    DispatcherFailQueuedRequests(registry, *device.gate);
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(kDeadline));
    EXPECT_EQ(1u, waiting.get());
    const std::vector<FailedRequest> failed = DispatcherTakeFailedRequests(registry);
    ASSERT_EQ(3u, failed.size());
    EXPECT_EQ(1, failed[0].sequenceTag);
    EXPECT_EQ(2, failed[1].sequenceTag);
    EXPECT_EQ(3, failed[2].sequenceTag);
    EXPECT_EQ(31, failed[2].sessionTag);
    EXPECT_EQ(0u, device.tree.requests().used());
    EXPECT_EQ(1u, DispatcherPostGetRequest(6, a, rate, [] { return true; }));
    EXPECT_TRUE(DispatcherTakeFailedRequests(registry).empty());
}

TEST(RequestGate, ARecordLargerThanTheQueueIsRefusedAtOnce) {
    GatedTree device(4104, std::make_shared<BufferFifo<2, 1024>>(), 32);
    SessionClient a;
    sessionWithId(a, 41);
    const std::vector<uint8_t> bytes(4096, 0x55);
    EXPECT_EQ(1u, DispatcherPostSetBytes(1, a, device.rate(), uint32_t(bytes.size()), bytes.data(),
                                         [] { return true; }));
    EXPECT_EQ(0u, device.tree.requests().used());
}

TEST(RequestGate, ARemovedTreeAnswersWhatItsOutputStillHeldAsFailed) {
    TreeRegistry registry;
    test::ScopedTree tree(registry, TreeId::device(4107));
    QVFifo& output = *tree.tree()->outputFifo;
    // A reply, a change caused by a request, a failure, and a change nobody
    // asked for: the dispatcher has taken none of them.
    ASSERT_EQ(QV_NO_ERROR, ReturnParamValueDouble(output, 5, 71, 0, VALUE_FLAG_REPLY_ONLY, 1.0));
    ASSERT_EQ(QV_NO_ERROR, ReturnParamValueInteger(output, 6, 72, 1, VALUE_FLAG_CHANGED, 2));
    ASSERT_EQ(QV_NO_ERROR, ReturnParamRequestFailed(output, 7, 71, 2, QV_VALUE_NOT_FOUND));
    ASSERT_EQ(QV_NO_ERROR,
              ReturnParamValueDouble(output, kUnsolicitedSequenceTag, kUnsolicitedSessionTag, 0, VALUE_FLAG_CHANGED, 3));
    tree.remove();
    const std::vector<FailedRequest> failed = DispatcherTakeFailedRequests(registry);
    ASSERT_EQ(3u, failed.size());
    const std::pair<uint16_t, uint16_t> expected[] = {{5, 71}, {6, 72}, {7, 71}};
    for (size_t i = 0; i < failed.size(); ++i) {
        EXPECT_EQ(expected[i].first, failed[i].sequenceTag);
        EXPECT_EQ(expected[i].second, failed[i].sessionTag);
    }
    EXPECT_EQ(0u, output.used());
}

TEST(RequestReplyWatch, SeesWhetherARecordOfTheRequestWasWritten) {
    test::SmallFifo fifo;
    {
        RequestReplyWatch watch(5, 9);
        EXPECT_EQ(ReturnParamValueDouble(fifo, 0, kUnsolicitedSessionTag, 1, VALUE_FLAG_CHANGED, 1.0), QV_NO_ERROR);
        EXPECT_FALSE(watch.replied());
        EXPECT_EQ(ReturnParamValueInteger(fifo, 5, 9, 1, VALUE_FLAG_REPLY_ONLY, 3), QV_NO_ERROR);
        EXPECT_TRUE(watch.replied());
    }
    RequestReplyWatch next(6, 9);
    EXPECT_FALSE(next.replied());
    EXPECT_EQ(QV_NO_ERROR, ReturnParamRequestFailed(fifo, 6, 9, 2, QV_VALUE_NOT_FOUND));
    const auto records = test::drainRecords(fifo);
    ASSERT_EQ(3u, records.size());
    const ValueRecordHeader failed = getValueRecordHeader(records[2].data());
    EXPECT_EQ(DATATYPE_REQUEST_FAILED, failed.kind);
    EXPECT_EQ(VALUE_FLAG_REPLY_ONLY, failed.flags);
    EXPECT_EQ(16u, records[2].size());
    EXPECT_EQ(QV_VALUE_NOT_FOUND, le::get32(records[2].data() + 12));
}

}  // namespace
}  // namespace tarnix
