#include "platform/net/Socket.h"
#include "platform/net/SocketWaiter.h"
#include "platform/net/WakeEvent.h"
#include "support/ThreadState.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace tarnix {
namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

TEST(WakeEvent, EndsAPollEarlyWithoutCountingAsSocketReadiness) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    Socket mine(pair[0]), theirs(pair[1]);
    WakeEvent wake;
    ASSERT_GE(wake.fd(), 0);

    PollResult idle = pollSocket(mine.get(), false, 20, wake.fd());
    EXPECT_EQ(idle.count, 0);
    EXPECT_FALSE(idle.woken);

    // The notice comes once the poll below has begun to wait.
    const pid_t poller = tarnix::test::currentThreadId();
    std::thread notifier([&wake, poller] {
        EXPECT_TRUE(tarnix::test::waitUntil([&] { return tarnix::test::threadSleeps(poller); }))
            << "the poll did not begin to wait";
        wake.notify();
    });
    const auto start = Clock::now();
    PollResult woken = pollSocket(mine.get(), false, 5000, wake.fd());
    notifier.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(woken.woken);
    EXPECT_EQ(woken.count, 0);
    EXPECT_FALSE(woken.readable);

    // Notifications add up until drained; then the wait runs its time again.
    wake.notify();
    wake.notify();
    EXPECT_TRUE(pollSocket(mine.get(), false, 0, wake.fd()).woken);
    wake.drain();
    EXPECT_FALSE(pollSocket(mine.get(), false, 0, wake.fd()).woken);

    ASSERT_EQ(sendSome(theirs.get(), "x", 1), 1);
    wake.notify();
    PollResult both = pollSocket(mine.get(), false, 1000, wake.fd());
    EXPECT_TRUE(both.woken);
    EXPECT_TRUE(both.readable);
    EXPECT_EQ(both.count, 1);
}

TEST(SocketWaiter, ReportsWhatPollSocketReportsInEveryState) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    Socket mine(pair[0]), theirs(pair[1]);
    WakeEvent wake;
    SocketWaiter waiter(mine.get(), wake.fd());
    // Each step changes the state and leaves it for the next one.
    struct Step {
        std::string state;
        std::function<void()> make;
    };
    char byte = 0;
    const std::vector<Step> steps{
        {"idle", [] {}},
        {"woken", [&] { wake.notify(); }},
        {"input and woken", [&] { ASSERT_EQ(sendSome(theirs.get(), "x", 1), 1); }},
        {"input", [&] { wake.drain(); }},
        {"nothing again", [&] { ASSERT_EQ(receiveSome(mine.get(), &byte, 1), 1); }},
        {"peer stopped sending", [&] { ASSERT_EQ(::shutdown(theirs.get(), SHUT_WR), 0); }},
        {"peer gone", [&] { theirs.close(); }},
    };
    for (const Step& step : steps) {
        step.make();
        for (bool wantWrite : {false, true}) {
            const PollResult expected = pollSocket(mine.get(), wantWrite, 0, wake.fd());
            const PollResult got = waiter.wait(wantWrite, 0);
            SCOPED_TRACE(step.state + (wantWrite ? ", asking for room" : ""));
            EXPECT_EQ(got.count, expected.count);
            EXPECT_EQ(got.readable, expected.readable);
            EXPECT_EQ(got.writable, expected.writable);
            EXPECT_EQ(got.failed, expected.failed);
            EXPECT_EQ(got.woken, expected.woken);
        }
    }
}

TEST(SocketWaiter, SleepsUntilInputOrAWakeComes) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    Socket mine(pair[0]), theirs(pair[1]);
    WakeEvent wake;
    SocketWaiter waiter(mine.get(), wake.fd());
    const pid_t waiting = tarnix::test::currentThreadId();
    for (const bool byInput : {true, false}) {
        std::thread peer([&] {
            EXPECT_TRUE(tarnix::test::waitUntil([&] { return tarnix::test::threadSleeps(waiting); }))
                << "the wait did not begin to sleep";
            if (byInput) {
                EXPECT_EQ(sendSome(theirs.get(), "x", 1), 1);
            } else {
                wake.notify();
            }
        });
        const auto start = Clock::now();
        const PollResult ready = waiter.wait(false, 5000);
        peer.join();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(ready.readable, byInput);
        EXPECT_EQ(ready.woken, !byInput);
        char byte = 0;
        if (byInput) {
            EXPECT_EQ(receiveSome(mine.get(), &byte, 1), 1);
        }
        wake.drain();
    }
}

}  // namespace
}  // namespace platform
}  // namespace tarnix
