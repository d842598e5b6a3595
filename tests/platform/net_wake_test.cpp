#include "platform/net/Socket.h"
#include "platform/net/WakeEvent.h"
#include "support/ThreadState.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/socket.h>
#include <thread>

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

}  // namespace
}  // namespace platform
}  // namespace tarnix
