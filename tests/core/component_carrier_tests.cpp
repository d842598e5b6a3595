#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"

#include "ComponentProbe.h"
#include "support/ThreadState.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarnix {
namespace {

using exception::ExceptionCarrier;
using test::threadSleeps;
using test::waitUntil;

boost::exception_ptr captured(const std::string& message) {
    try {
        QV_THROW(QVException(message));
    } catch (...) {
        return boost::current_exception();
    }
}

std::string messageOf(const boost::exception_ptr& p) {
    try {
        boost::rethrow_exception(p);
    } catch (const std::exception& e) {
        return e.what();
    }
    return std::string();
}

TEST(ExceptionCarrierTest, TakeNeverWaitsAndHandsOverOnce) {
    ExceptionCarrier carrier;
    boost::exception_ptr out;
    EXPECT_FALSE(carrier.take(out));
    carrier.store(captured("first"));
    ASSERT_TRUE(carrier.take(out));
    EXPECT_EQ("first", messageOf(out));
    EXPECT_FALSE(carrier.take(out));
}

TEST(ExceptionCarrierTest, SecondStoreWaitsWhileFullAndLandsAfterTake) {
    ExceptionCarrier carrier;
    carrier.store(captured("first"));
    std::atomic<bool> secondStored{false};
    std::atomic<pid_t> storing{0};
    boost::exception_ptr secondFailure = captured("second");
    std::thread second([&] {
        storing = test::currentThreadId();
        carrier.store(secondFailure);
        secondStored = true;
    });
    ASSERT_TRUE(waitUntil([&] { return storing.load() != 0 && threadSleeps(storing.load()); }))
        << "the second store did not wait";
    EXPECT_FALSE(secondStored.load());

    boost::exception_ptr out;
    ASSERT_TRUE(carrier.take(out));
    EXPECT_EQ("first", messageOf(out));
    ASSERT_TRUE(waitUntil([&] { return secondStored.load(); }));
    ASSERT_TRUE(carrier.take(out));
    EXPECT_EQ("second", messageOf(out));
    second.join();
}

TEST(ExceptionCarrierTest, ClosedCarrierDropsAndReleasesWaiters) {
    ExceptionCarrier carrier;
    carrier.store(captured("kept"));
    std::atomic<bool> waiterDone{false};
    std::atomic<pid_t> storing{0};
    boost::exception_ptr dropped = captured("dropped while waiting");
    std::thread waiter([&] {
        storing = test::currentThreadId();
        carrier.store(dropped);
        waiterDone = true;
    });
    ASSERT_TRUE(waitUntil([&] { return storing.load() != 0 && threadSleeps(storing.load()); }))
        << "the store did not wait";
    carrier.close();
    ASSERT_TRUE(waitUntil([&] { return waiterDone.load(); }));
    waiter.join();

    // What was stored before closing can still be taken; nothing after.
    boost::exception_ptr out;
    ASSERT_TRUE(carrier.take(out));
    EXPECT_EQ("kept", messageOf(out));
    carrier.store(captured("after close"));
    EXPECT_FALSE(carrier.take(out));
}

TEST(ExceptionCarrierTest, ExceptionOfWorkerArrivesWithFunctionFileAndLine) {
    ExceptionCarrier carrier;
    std::atomic<int> throwLine{0};
    test::Probe probe("Thrower", carrier, [&](test::ProbeImpl&) {
        throwLine = __LINE__ + 1;
        QV_THROW(QVDeviceException("device lost"));
    });
    probe.start();

    boost::exception_ptr out;
    ASSERT_TRUE(waitUntil([&] { return carrier.take(out); }));
    ASSERT_TRUE(waitUntil([&] { return probe.isFinished(); }));
    EXPECT_TRUE(probe.isIllegal());

    const std::string info = describeException(out);
    EXPECT_NE(std::string::npos, info.find("component_carrier_tests.cpp(" + std::to_string(throwLine) + ")"))
        << info;
    EXPECT_NE(std::string::npos, info.find("ExceptionOfWorkerArrivesWithFunctionFileAndLine")) << info;  // signature
    EXPECT_NE(std::string::npos, info.find("device lost")) << info;
    try {
        boost::rethrow_exception(out);
    } catch (const QVDeviceException&) {
        SUCCEED();
    } catch (...) {
        ADD_FAILURE() << "the dynamic type was lost";
    }
}

TEST(ExceptionCarrierTest, SecondFailingComponentWaitsUntilFirstIsTaken) {
    ExceptionCarrier carrier;
    std::atomic<pid_t> failing{0};
    auto fail = [&](test::ProbeImpl& self) {
        failing = test::currentThreadId();
        QV_THROW(QVException(self.name()));
    };
    test::Probe first("First", carrier, fail);
    first.start();
    ASSERT_TRUE(waitUntil([&] { return carrier.isFull(); }));
    failing = 0;
    test::Probe second("Second", carrier, fail);
    second.start();
    // Marked failed, its thread comes to wait for the slot.
    ASSERT_TRUE(waitUntil([&] { return second.isIllegal() && failing.load() != 0 && threadSleeps(failing.load()); }))
        << "the second component's thread did not wait";
    EXPECT_FALSE(second.isFinished());  // still waiting for the slot

    boost::exception_ptr out;
    ASSERT_TRUE(carrier.take(out));
    EXPECT_EQ("First", messageOf(out));
    ASSERT_TRUE(waitUntil([&] { return second.isFinished(); }));
    ASSERT_TRUE(carrier.take(out));
    EXPECT_EQ("Second", messageOf(out));
}

}  // namespace
}  // namespace tarnix
