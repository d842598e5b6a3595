// A tree's owner waits for requests on the tree's wake signal.
#include "TreeTestSupport.h"
#include "core/tree/RequestPosting.h"
#include "core/tree/WakeSignal.h"
#include "support/ThreadState.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace tarnix {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Runs `notify` on a thread of its own once the calling thread sleeps.
template <class Notify>
std::thread onceThisThreadWaits(Notify notify) {
    const pid_t waiter = test::currentThreadId();
    return std::thread([notify, waiter] {
        EXPECT_TRUE(test::waitUntil([&] { return test::threadSleeps(waiter); })) << "the wait did not begin";
        notify();
    });
}

TEST(WakeSignal, AWaitRunsItsTimeOrEndsAtANotify) {
    WakeSignal signal;
    auto start = Clock::now();
    EXPECT_FALSE(signal.waitFor(20ms));
    EXPECT_GE(Clock::now() - start, 20ms);

    // A notify before the wait is kept for it, once.
    signal.notify();
    signal.notify();
    EXPECT_TRUE(signal.waitFor(5s));
    EXPECT_FALSE(signal.waitFor(1ms));

    // The notice comes once the wait below has begun.
    std::thread producer = onceThisThreadWaits([&signal] { signal.notify(); });
    start = Clock::now();
    EXPECT_TRUE(signal.waitFor(10s));
    EXPECT_LT(Clock::now() - start, 5s);
    producer.join();
}

TEST(WakeSignal, StreamDataEndsAWaitButNotAWaitForOthers) {
    WakeSignal signal;
    signal.notifyStreamData();
    const auto start = Clock::now();
    EXPECT_FALSE(signal.waitForOthers(20ms));
    EXPECT_GE(Clock::now() - start, 20ms);
    // Kept for the next plain wait, once.
    EXPECT_TRUE(signal.waitFor(5s));
    EXPECT_FALSE(signal.waitFor(1ms));

    // Any other notice ends a wait for others at once.
    std::thread producer = onceThisThreadWaits([&signal] {
        signal.notifyStreamData();
        signal.notify();
    });
    EXPECT_TRUE(signal.waitForOthers(10s));
    producer.join();
}

TEST(WakeSignal, RequestsWrittenIntoATreeWakeItsOwner) {
    TreeRegistry registry;
    const auto fifo = std::make_shared<test::SmallFifo>();
    test::ScopedTree tree(registry, TreeId::device(8642), test::ScopedTree::buildDemoDeviceDefault(), fifo);
    auto gate = std::make_shared<RequestGate>(fifo);
    tree.tree()->requestGate = gate;
    const uint8_t record[12] = {};
    EXPECT_FALSE(gate->waitForRequests(1ms));
    ASSERT_EQ(TreeWrite(*tree.tree(), record, sizeof record), QV_NO_ERROR);
    EXPECT_TRUE(gate->waitForRequests(5s));
    EXPECT_EQ(test::drainRecords(tree.requests()).size(), 1u);
}

}  // namespace
}  // namespace tarnix
