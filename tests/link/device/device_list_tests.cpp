#include "DeviceTestSupport.h"
#include "link/DeviceList.h"
#include "link/IOExceptions.h"
#include "link/IOLQ3_USBImpl.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using namespace tarnix::testing;
using platform::usb::FakeDevice;

class DeviceListTest : public ::testing::Test {
protected:
    void update() { list->usb().update(); }
    const detail::DeviceID_USB& usbId(uint32_t index) {
        held = list->getId(index);
        return dynamic_cast<const detail::DeviceID_USB&>(*held);
    }

    FakeBus bus;
    std::shared_ptr<impl::DeviceListImpl> list = impl::DeviceListImpl::create(bus.backend);
    std::shared_ptr<DeviceID> held;
};

TEST_F(DeviceListTest, AnEmptyBusListsNothingAndEveryIndexIsOutOfRange) {
    update();
    EXPECT_EQ(list->count(), 0u);
    try {
        list->getId(0);
        FAIL() << "no exception";
    } catch (const QVIOException& e) {
        EXPECT_STREQ(e.what(), "Index out of range.");
    }
}

TEST_F(DeviceListTest, ProbesNewInstrumentsForTheirIdentityInPathOrder) {
    FakeInstrument& second = bus.plug("/fake/b", 22, 5);
    second.registers[40] = 0xA1;
    second.registers[43] = 0x5E;
    bus.plug("/fake/a", 0x01020304, 7);
    test::LogCapture log;
    update();
    ASSERT_EQ(list->count(), 2u);
    EXPECT_EQ(usbId(0).devicePath(), "/fake/a");
    EXPECT_EQ(usbId(0).serialNumber(), 0x01020304u);
    EXPECT_EQ(usbId(1).serialNumber(), 22u);
    EXPECT_EQ(usbId(1).productNumber(), 5u);
    // Firmware 2.5, PIC 1.3 (the fake's version answer), then register 40.
    const std::array<uint8_t, 8> versions{{2, 5, 1, 3, 0xA1, 0, 0, 0x5E}};
    EXPECT_EQ(usbId(1).versionBytes(), versions);
    EXPECT_TRUE(log.contains("Device was just plugged in."));
    EXPECT_TRUE(log.contains("Device list change ..."));
    EXPECT_TRUE(log.contains("Device P/N 5, S/N 22"));
}

TEST_F(DeviceListTest, AnIdentityInUseIsKeptUntouchedAndProbedAgainOnceReleased) {
    FakeInstrument& instrument = bus.plug("/fake/a", 9);
    update();
    std::shared_ptr<DeviceID> inUse = list->getId(0);
    instrument.device->clearRecords();
    update();
    EXPECT_EQ(list->getId(0), inUse);
    EXPECT_TRUE(instrument.device->controlCalls().empty()) << "a device in use must not be opened";

    const DeviceID* before = inUse.get();
    inUse.reset();
    test::LogCapture log;
    update();
    EXPECT_TRUE(log.contains("Device was removed or never used.1"));
    EXPECT_NE(list->getId(0).get(), before);
    EXPECT_EQ(list->getId(0)->serialNumber(), 9u);
}

TEST_F(DeviceListTest, AnotherInstrumentPluggedInAtAPathInUseIsProbedAsANewOne) {
    bus.plug("/fake/a", 9);
    update();
    const std::shared_ptr<DeviceID> inUse = list->getId(0);
    // Pulled out and another one plugged in between two looks.
    bus.unplug("/fake/a");
    bus.plug("/fake/a", 10);
    test::LogCapture log;
    update();
    EXPECT_TRUE(log.contains("Device was just plugged in."));
    ASSERT_EQ(list->count(), 1u);
    EXPECT_NE(list->getId(0), inUse);
    EXPECT_EQ(list->getId(0)->serialNumber(), 10u);
}

TEST_F(DeviceListTest, AnUnpluggedInstrumentLeavesTheList) {
    bus.plug("/fake/a", 1);
    bus.plug("/fake/b", 2);
    update();
    bus.unplug("/fake/a");
    test::LogCapture log;
    update();
    ASSERT_EQ(list->count(), 1u);
    EXPECT_EQ(list->getId(0)->serialNumber(), 2u);
    const auto messages = log.messages();
    const auto updated = std::find(messages.begin(), messages.end(), "... updated to ...");
    ASSERT_NE(updated, messages.end());
    EXPECT_EQ(std::count(messages.begin(), updated, "Device P/N 7, S/N 1"), 1);
    EXPECT_EQ(std::count(updated, messages.end(), "Device P/N 7, S/N 1"), 0);
}

TEST_F(DeviceListTest, OpenFailuresAreLoggedTheFirstTimeAndEvery256thAndLeaveTheInstrumentOut) {
    bus.backend->add("/fake/unopenable", nullptr);
    test::LogCapture log;
    for (int i = 0; i < 513; ++i) update();
    EXPECT_EQ(list->count(), 0u);
    const auto failures = messagesStartingWith(log, "Could not open the device (Error repetition ");
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].find("(Error repetition 0). "), 26u);
    EXPECT_NE(failures[1].find("(Error repetition 256). "), std::string::npos);
    EXPECT_NE(failures[2].find("(Error repetition 512). "), std::string::npos);
    EXPECT_EQ(list->usb().errorRepetitions(), 513u);
}

TEST_F(DeviceListTest, AFailingVersionRequestDisablesTheInstrumentWithAdvice) {
    FakeInstrument& broken = bus.plug("/fake/a", 1);
    broken.device->pushControl(platform::usb::kFnGetVersions, FakeDevice::Reply{0, FakeDevice::Completion::immediate,
                                                                                 {0, 1, 0, 0, 0, 0, 0, 0}});
    test::LogCapture log;
    update();
    EXPECT_EQ(list->count(), 0u);
    EXPECT_TRUE(log.contains("Could not access control pipe of the device. The device will be disabled. "
                             "Please disconnect the USB cable or powercycle the device (Error repetition 0). "
                             "The IOCTL for reading the version failed."));
    update();  // the next probe works
    EXPECT_EQ(list->count(), 1u);
}

TEST_F(DeviceListTest, AControlPipeThatTimesOutDuringTheOpenDoesNotHideTheOtherInstruments) {
    FakeInstrument& stuck = bus.plug("/fake/a", 1);
    stuck.device->pushControl(platform::usb::kFnSetReadTimeout,
                              FakeDevice::Reply{platform::usb::kErrorSemaphoreTimeout,
                                                FakeDevice::Completion::immediate, {}});
    bus.plug("/fake/b", 2);
    test::LogCapture log;
    ASSERT_NO_THROW(update());
    ASSERT_EQ(list->count(), 1u);
    EXPECT_EQ(list->getId(0)->serialNumber(), 2u);
    EXPECT_EQ(messagesStartingWith(log, "Could not open the device (Error repetition 0). ").size(), 1u);
}

TEST_F(DeviceListTest, AnEnumerationErrorIsLoggedWithItsNumberAndEnumerationGoesOn) {
    for (uint32_t serial = 1; serial <= 4; ++serial) bus.plug("/fake/" + std::to_string(serial), serial);
    bus.backend->addEnumerationError(platform::usb::kErrorGenFailure);
    bus.plug("/fake/6", 6);
    test::LogCapture log;
    update();
    EXPECT_EQ(list->count(), 5u);
    EXPECT_TRUE(log.contains("Could not enumerate a device 5 with correct GUID. This might be the result of a "
                             "device disconnect or a device problem. Please report this problem if the issue "
                             "persists."));
}

TEST_F(DeviceListTest, EnumerationFailuresLeaveTheUpdate) {
    bus.backend->setEnumerationFailure(platform::usb::kErrorGenFailure);
    EXPECT_THROW(update(), QVIOInternalException);
    bus.backend->setEnumerationFailure(0);
    for (int i = 0; i < 1000; ++i) bus.backend->addEnumerationError(platform::usb::kErrorGenFailure);
    try {
        test::LogCapture quiet;
        update();
        FAIL() << "no exception";
    } catch (const QVIOInternalException& e) {
        EXPECT_STREQ(e.what(), "Serious error during device enumeration.");
    }
}

TEST_F(DeviceListTest, AFolderThatCannotBeReadHoldsNoInstrumentsAndIsReportedOncePerSpell) {
    bus.plug("/fake/a", 5);
    test::LogCapture log;
    const auto reported = [&] { return messagesStartingWith(log, "Cannot read the instrument folder").size(); };
    // Also a list made while the folder cannot be read.
    bus.backend->setEnumerationFailure(platform::usb::kErrorAccessDenied);
    list = impl::DeviceListImpl::create(bus.backend);
    for (int i = 0; i < 3; ++i) ASSERT_NO_THROW(update());
    EXPECT_EQ(list->count(), 0u);
    EXPECT_EQ(reported(), 1u);

    bus.backend->setEnumerationFailure(platform::usb::kErrorSuccess);
    update();
    EXPECT_EQ(list->count(), 1u);
    EXPECT_EQ(messagesStartingWith(log, "The instrument folder can be read again.").size(), 1u);

    bus.backend->setEnumerationFailure(platform::usb::kErrorAccessDenied);
    update();
    update();
    EXPECT_EQ(list->count(), 0u);
    EXPECT_EQ(reported(), 2u);
}

}  // namespace
}  // namespace tarnix
