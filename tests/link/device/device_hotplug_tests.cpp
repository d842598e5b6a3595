// Device objects with their own threads against simulated instruments in the
// test process: plugged in, running, pulled out, dropped.
#include "DeviceTestSupport.h"
#include "SimHarness.h"
#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"
#include "groups/FeatureInitMapBuild.h"
#include "link/DeviceEncFX2.h"
#include "link/DeviceGroupEncFX2.h"
#include "platform/usb/SocketBackend.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <unistd.h>

namespace tarnix {
namespace {

using namespace tarnix::testing;
using test::waitUntil;
using Devices = std::vector<std::shared_ptr<QVBase>>;

sim::InstrumentConfig runningInstrument(uint32_t serial) {
    sim::InstrumentConfig config;
    config.serial = serial;
    config.fpgaRunning = true;
    return config;
}

class HotPlugTest : public ::testing::Test {
protected:
    Devices update() {
        Devices found;
        group.update(found);
        for (const auto& device : found) device->start();
        return found;
    }
    // What the server thread does with a device thread's exception.
    void expectDeviceFailure() {
        ASSERT_TRUE(waitUntil([&] { return carrier.isFull(); })) << "the device thread did not end";
        boost::exception_ptr failure;
        ASSERT_TRUE(carrier.take(failure));
        EXPECT_THROW(boost::rethrow_exception(failure), QVDeviceException);
    }

    InstrumentDir dir;
    TreeRegistry registry;
    exception::ExceptionCarrier carrier;
    DeviceGroupEncFX2 group{carrier, registry, std::make_shared<platform::usb::SocketBackend>(dir.path()),
                            FeatureInitMap()};
};

TEST_F(HotPlugTest, APulledInstrumentEndsItsDeviceWhichIsDroppedWithItsTreeAndComesBackWhenReplugged) {
    auto instrument = std::make_unique<InProcessSim>(dir, runningInstrument(4711));
    Devices running = update();
    ASSERT_EQ(running.size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return deviceTreeExists(registry, 4711); }));

    instrument.reset();
    expectDeviceFailure();
    ASSERT_TRUE(waitUntil([&] { return running[0]->isFinished(); }));
    running.clear();
    EXPECT_TRUE(update().empty());
    EXPECT_EQ(group.deviceCount(), 0u);
    EXPECT_FALSE(deviceTreeExists(registry, 4711));

    instrument = std::make_unique<InProcessSim>(dir, runningInstrument(4711));
    running = update();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return deviceTreeExists(registry, 4711); }));
    for (const auto& device : running) device->stop();
    EXPECT_TRUE(waitUntil([&] { return running[0]->isFinished(); }));
}

TEST_F(HotPlugTest, AnInstrumentWhoseSocketIsRemovedIsPulledOutThoughItStillServesItsConnection) {
    InProcessSim instrument(dir, runningInstrument(4712));
    Devices running = update();
    ASSERT_EQ(running.size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return deviceTreeExists(registry, 4712); }));

    ASSERT_EQ(::unlink(instrument.path().c_str()), 0);
    EXPECT_TRUE(update().empty());
    expectDeviceFailure();
    ASSERT_TRUE(waitUntil([&] { return running[0]->isFinished(); }));
    running.clear();
    EXPECT_TRUE(update().empty());
    EXPECT_EQ(group.deviceCount(), 0u);
    EXPECT_FALSE(deviceTreeExists(registry, 4712));

    // Another instrument with that serial number at that place is a new one.
    InProcessSim again(dir, runningInstrument(4712));
    running = update();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return deviceTreeExists(registry, 4712); }));
    for (const auto& device : running) device->stop();
    EXPECT_TRUE(waitUntil([&] { return running[0]->isFinished(); }));
}

TEST_F(HotPlugTest, TwoInstrumentsRunSideBySideAndOneLeavingDoesNotDisturbTheOther) {
    auto first = std::make_unique<InProcessSim>(dir, runningInstrument(21));
    InProcessSim second(dir, runningInstrument(22));
    Devices running = update();
    ASSERT_EQ(running.size(), 2u);
    ASSERT_TRUE(waitUntil([&] { return deviceTreeExists(registry, 21) && deviceTreeExists(registry, 22); }));

    first.reset();
    expectDeviceFailure();
    ASSERT_TRUE(waitUntil([&] { return running[0]->isFinished(); }));
    running.erase(running.begin());
    EXPECT_TRUE(update().empty());
    EXPECT_FALSE(deviceTreeExists(registry, 21));
    EXPECT_TRUE(deviceTreeExists(registry, 22));
    EXPECT_FALSE(running[0]->isFinished());
    EXPECT_FALSE(carrier.isFull());
    running[0]->stop();
    EXPECT_TRUE(waitUntil([&] { return running[0]->isFinished(); }));
}

}  // namespace
}  // namespace tarnix
