// The device group's bookkeeping against scripted instruments. The device
// objects are made but not started; the test holds them as the server's
// child list would.
#include "DeviceTestSupport.h"
#include "core/component/ExceptionCarrier.h"
#include "groups/FeatureInitMapBuild.h"
#include "link/DeviceEncFX2.h"
#include "link/DeviceEncFX2Impl.h"
#include "link/DeviceGroupEncFX2.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace tarnix {
namespace {

using namespace tarnix::testing;
using Devices = std::vector<std::shared_ptr<QVBase>>;

// Serial numbers of the devices of a list; every one must be a device object.
std::vector<uint32_t> serialsOf(const Devices& devices) {
    std::vector<uint32_t> serials;
    for (const auto& device : devices) {
        const auto* object = dynamic_cast<const DeviceEncFX2*>(device.get());
        if (!object) {
            ADD_FAILURE() << "not a device object";
            continue;
        }
        serials.push_back(object->impl().usb().versionInfo().serialNumber);
    }
    return serials;
}

bool progAlwaysOf(const std::shared_ptr<QVBase>& device) {
    return static_cast<const DeviceEncFX2&>(*device).impl().progAlways();
}

class DeviceGroupTest : public ::testing::Test {
protected:
    Devices update() {
        Devices found;
        group.update(found);
        return found;
    }
    void plug(uint32_t serial) { bus.plug("/fake/" + std::to_string(serial), serial); }

    FakeBus bus;
    TreeRegistry registry;
    exception::ExceptionCarrier carrier;
    DeviceGroupEncFX2 group{carrier, registry, bus.backend, FeatureInitMap()};
};

TEST_F(DeviceGroupTest, NoInstrumentNoDevice) {
    EXPECT_TRUE(update().empty());
    EXPECT_EQ(group.deviceCount(), 0u);
}

TEST_F(DeviceGroupTest, ASecondInstrumentPluggedInWhileOneRunsGetsExactlyOneNewDevice) {
    plug(1);
    Devices running = update();
    EXPECT_EQ(serialsOf(running), std::vector<uint32_t>{1});
    plug(2);
    Devices added = update();
    EXPECT_EQ(serialsOf(added), std::vector<uint32_t>{2});
    EXPECT_EQ(group.deviceCount(), 2u);
    EXPECT_TRUE(update().empty());
}

TEST_F(DeviceGroupTest, AReplacementIsStartedOnlyOnceTheEndedDeviceHasBeenDropped) {
    plug(1);
    Devices running = update();
    bus.unplug("/fake/1");
    plug(2);
    EXPECT_TRUE(update().empty()) << "one listed, one held: nothing is looked for";
    running.clear();  // the server lets the ended device go
    Devices added = update();
    EXPECT_EQ(serialsOf(added), std::vector<uint32_t>{2});
    EXPECT_EQ(group.deviceCount(), 1u);
    EXPECT_EQ(group.device(1), nullptr);
}

TEST_F(DeviceGroupTest, DevicesThatFoundAStaleDesignAreMadeAgainWithProgrammingForced) {
    for (uint32_t serial : {1u, 2u, 3u}) plug(serial);
    Devices running = update();
    ASSERT_EQ(running.size(), 3u);
    for (const auto& device : running) EXPECT_FALSE(progAlwaysOf(device));
    for (const auto& device : running) static_cast<DeviceEncFX2&>(*device).impl().setNeedProgram();
    running.clear();
    bus.unplug("/fake/3");

    Devices again = update();
    EXPECT_EQ(serialsOf(again), (std::vector<uint32_t>{1, 2}));
    for (const auto& device : again) EXPECT_TRUE(progAlwaysOf(device));
    EXPECT_EQ(group.reprogramCount(), 1u);

    plug(4);
    Devices later = update();
    ASSERT_EQ(serialsOf(later), std::vector<uint32_t>{4});
    EXPECT_TRUE(progAlwaysOf(later[0]));
    EXPECT_EQ(group.reprogramCount(), 0u);
    plug(5);
    Devices last = update();
    ASSERT_EQ(last.size(), 1u);
    EXPECT_FALSE(progAlwaysOf(last[0]));
}

TEST_F(DeviceGroupTest, ProgAlwaysReachesTheHeldDevicesAndTheLaterOnes) {
    plug(1);
    Devices first = update();
    group.setProgAlways(true);
    EXPECT_TRUE(progAlwaysOf(first[0]));
    plug(2);
    Devices second = update();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(progAlwaysOf(second[0]));
}

TEST_F(DeviceGroupTest, AnInstrumentThatCannotBeOpenedDoesNotKeepTheOthersFromStarting) {
    bus.plug("/fake/1", 1).driverVersion = 7436;
    plug(2);
    test::LogCapture log;
    Devices found = update();
    EXPECT_EQ(serialsOf(found), std::vector<uint32_t>{2});
    bool reported = false;
    for (const std::string& message : log.messages())
        reported = reported || message.find("Illegal hardware driver version 7436.") != std::string::npos;
    EXPECT_TRUE(reported);
    EXPECT_TRUE(update().empty()) << "the refused instrument is not tried again, the running one left alone";
}

std::size_t callsOf(const FakeInstrument& instrument, uint32_t function) {
    std::size_t calls = 0;
    for (const auto& call : instrument.device->controlCalls()) calls += call.function == function;
    return calls;
}

std::size_t messagesWith(const test::LogCapture& log, const std::string& part) {
    std::size_t found = 0;
    for (const std::string& message : log.messages()) found += message.find(part) != std::string::npos;
    return found;
}

TEST_F(DeviceGroupTest, ARefusedInstrumentIsLoggedOnceAndTriedAgainOnlyWhenPluggedInAgain) {
    const std::string refusal = "Illegal hardware driver version 7436.";
    FakeInstrument& old = bus.plug("/fake/1", 1);
    old.driverVersion = 7436;
    test::LogCapture log;
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(update().empty());
    EXPECT_EQ(messagesWith(log, refusal), 1u);
    EXPECT_EQ(messagesWith(log, "The device with S/N 1 is not used until it is plugged in again."), 1u);
    EXPECT_EQ(callsOf(old, platform::usb::kFnGetDriverVersion), 1u);
    // Not listed for a moment (slow to take the enumeration's connection):
    // still the same plug-in.
    bus.backend->setHidden("/fake/1", true);
    EXPECT_TRUE(update().empty());
    bus.backend->setHidden("/fake/1", false);
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(update().empty());
    EXPECT_EQ(messagesWith(log, refusal), 1u);
    EXPECT_EQ(callsOf(old, platform::usb::kFnGetDriverVersion), 1u);

    bus.unplug("/fake/1");
    EXPECT_TRUE(update().empty());
    bus.plug("/fake/1", 1).driverVersion = 7436;
    EXPECT_TRUE(update().empty());
    EXPECT_EQ(messagesWith(log, refusal), 2u) << "a new plug-in is tried and reported again";

    bus.unplug("/fake/1");
    EXPECT_TRUE(update().empty());
    plug(1);
    EXPECT_EQ(serialsOf(update()), std::vector<uint32_t>{1});
}

TEST_F(DeviceGroupTest, AnInstrumentThatFailsToStartIsTriedAtEveryUpdateAndLoggedOnce) {
    FakeInstrument& failing = bus.plug("/fake/1", 1);
    bool fails = true;
    failing.device->setControlHandler([&](uint32_t function, const std::vector<uint8_t>& input) {
        platform::usb::FakeDevice::Reply reply = failing.answer(function, input);
        if (function == platform::usb::kFnVendorReset && fails) reply.data[1] = 1;
        return reply;
    });
    test::LogCapture log;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(update().empty());
    EXPECT_EQ(callsOf(failing, platform::usb::kFnVendorReset), 3u);
    EXPECT_EQ(messagesWith(log, "Error: "), 1u);
    fails = false;
    EXPECT_EQ(serialsOf(update()), std::vector<uint32_t>{1});
}

TEST_F(DeviceGroupTest, UpdatesRacingOnSeveralThreadsMakeEachDeviceOnce) {
    for (uint32_t serial = 1; serial <= 4; ++serial) plug(serial);
    Devices found[4];
    std::vector<std::thread> threads;
    for (auto& list : found) threads.emplace_back([&] { group.update(list); });
    for (auto& thread : threads) thread.join();
    std::multiset<uint32_t> made;
    for (const auto& list : found)
        for (uint32_t serial : serialsOf(list)) made.insert(serial);
    EXPECT_EQ(made, (std::multiset<uint32_t>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace tarnix
