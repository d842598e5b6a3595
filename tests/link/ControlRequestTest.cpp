#include "FakeInstrument.h"
#include "link/IOExceptions.h"

#include <gtest/gtest.h>

#include <functional>

namespace tarnix {
namespace {

using testing::FakeInstrument;
using Bytes = std::vector<uint8_t>;

class ControlRequestTest : public ::testing::Test {
protected:
    FakeInstrument fake;
};

TEST_F(ControlRequestTest, StartUpOpensChecksTheDriverResetsAndSendsABlankConfiguration) {
    auto usbImpl = fake.open();
    const std::vector<uint32_t> expected = {0x809, 0x80A, 0x80C, 0x80B, 0x801, 0x808, 0x808, 0x808, 0x807,
                                            0x805, 0x806, 0x805, 0x807, 0x80C, 0x803, 0x804};
    EXPECT_EQ(fake.functions(), expected);
    const auto calls = fake.device->controlCalls();
    EXPECT_EQ(calls[0].input, (Bytes{0x00, 0x2D, 0x31, 0x01}));  // 2000 ms in units of 100 ns
    EXPECT_EQ(calls[2].input, Bytes{1});
    EXPECT_EQ(calls[13].input, Bytes{0});
    EXPECT_EQ(calls[14].input, (Bytes{0x00, 0x10, 0x00, 0x01}));  // 4096 bytes, key 1
    EXPECT_EQ(fake.device->written(), Bytes(4096, 0));

    const impl::DeviceVersionInfo& info = usbImpl->versionInfo();
    EXPECT_EQ(info.serialNumber, 0x01020304u);
    EXPECT_EQ(info.productNumber, 7u);
    EXPECT_EQ(info.firmwareMajor, 2);
    EXPECT_EQ(info.firmwareMinor, 5);
    EXPECT_EQ(info.picMajor, 1);
    EXPECT_EQ(info.picMinor, 3);
    EXPECT_EQ(info.register40[0], 0xA1);
    EXPECT_EQ(usbImpl->driverVersion().version, 7437);
}

TEST_F(ControlRequestTest, ADriverOlderThan7437IsRefused) {
    fake.driverVersion = 7436;
    try {
        fake.open();
        FAIL() << "an old driver was accepted";
    } catch (const QVIODriverVersionException& e) {
        EXPECT_STREQ(e.what(),
                     "Illegal hardware driver version 7436. The minimal driver version required is 7437. "
                     "Please update the Veltrane driver by installing the latest qvBase.");
    }
}

TEST_F(ControlRequestTest, EachRequestSendsItsInputAndDecodesItsAnswer) {
    auto usbImpl = fake.open();
    fake.device->clearRecords();
    const auto lastCall = [&] { return fake.device->controlCalls().back(); };

    EXPECT_EQ(usbImpl->getQVValue(), 0x01020304u);
    EXPECT_EQ(lastCall().function, 0x800u);
    EXPECT_EQ(lastCall().input, Bytes{0});

    const impl::Version version = usbImpl->getVersions();
    EXPECT_EQ(version.picMajor, 1u);
    EXPECT_EQ(version.firmwareMinor, 5u);
    EXPECT_EQ(version.build, 0x0102);

    fake.settled = {0xC8, 0x1234, 0x02};
    const impl::ConfigStatus status = usbImpl->getConfigStatus();
    EXPECT_EQ(status.picFlags, 0xC8u);
    EXPECT_EQ(status.bytesWanted, 0x1234u);
    EXPECT_EQ(status.configFlags, 0x02u);

    fake.packetsWaiting = 5;
    const impl::DeviceStats stats = usbImpl->getStats();
    EXPECT_EQ(stats.packetsWaiting, 5);
    EXPECT_EQ(lastCall().input, Bytes{6});

    struct Simple {
        std::function<void()> call;
        uint32_t function;
        Bytes input;
    };
    const Simple simple[] = {
        {[&] { usbImpl->vendorReset(1); }, 0x80C, {1}},
        {[&] { usbImpl->dummyRead(); }, 0x806, {}},
        {[&] { usbImpl->startProgram(0x123456, 0); }, 0x803, {0x56, 0x34, 0x12, 0x00}},
        {[&] { usbImpl->lockIn(0); }, 0x807, {0}},
        {[&] { usbImpl->reset(); }, 0x802, {1}},
        {[&] { usbImpl->clearPipe(1); }, 0x80D, {1}},
        {[&] { usbImpl->usbInterface().setWriteTimeout(100); }, 0x80A, {0x40, 0x42, 0x0F, 0x00}},
    };
    for (const Simple& s : simple) {
        s.call();
        EXPECT_EQ(lastCall().function, s.function);
        EXPECT_EQ(lastCall().input, s.input) << std::hex << s.function;
    }
}

TEST_F(ControlRequestTest, RegisterReadsGoFourBytesOrTwoWordsAtATime) {
    auto usbImpl = fake.open();
    fake.device->clearRecords();
    std::vector<uint8_t> bytes(6);
    usbImpl->readRegister(32, bytes);
    std::vector<uint16_t> words(5);
    usbImpl->readRegister(16, words);
    const auto calls = fake.device->controlCalls(0x808);
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].input, (Bytes{4, 32}));
    EXPECT_EQ(calls[1].input, (Bytes{2, 36}));
    EXPECT_EQ(calls[2].input, (Bytes{4, 16}));
    EXPECT_EQ(calls[3].input, (Bytes{4, 20}));
    EXPECT_EQ(calls[4].input, (Bytes{2, 24}));
    EXPECT_EQ(bytes, (Bytes{0x04, 0x03, 0x02, 0x01, 0x07, 0x00}));
    EXPECT_EQ(words, (std::vector<uint16_t>{1000, 1001, 1002, 1003, 1004}));
}

TEST_F(ControlRequestTest, AFailureStatusThrowsTheRequestsText) {
    auto usbImpl = fake.open();
    struct Case {
        uint32_t function;
        std::function<void()> call;
        const char* text;
    };
    std::vector<uint8_t> bytes(1);
    const Case cases[] = {
        {0x800, [&] { usbImpl->getQVValue(); }, "QVIOInternalException"},
        {0x80C, [&] { usbImpl->vendorReset(0); }, "QVIOInternalException"},
        {0x804, [&] { usbImpl->getConfigStatus(); }, "QVIOInternalException"},
        {0x808, [&] { usbImpl->readRegister(40, bytes); }, "The IOCTL for reading device registers failed."},
        {0x805, [&] { usbImpl->getStats(); }, "The IOCTL for getting the device statistic failed."},
        {0x802, [&] { usbImpl->reset(); }, "The IOCTL reset failed."},
        {0x80D, [&] { usbImpl->clearPipe(0); }, "The IOCTL for clearing the USB bulk pipes failed."},
        {0x801, [&] { usbImpl->getVersions(); }, "The IOCTL for getting the version data failed."},
    };
    for (const Case& c : cases) {
        platform::usb::FakeDevice::Reply failed;
        failed.data = {0, 1, 0, 0, 0, 0, 0, 0};
        fake.device->pushControl(c.function, failed);
        try {
            c.call();
            ADD_FAILURE() << "no failure for " << std::hex << c.function;
        } catch (const QVIOInternalException& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
    }
    // The driver version's byte 1 is data, not a status.
    platform::usb::FakeDevice::Reply version;
    version.data = {1, 1, 0, 0, 0x0D, 0x1D, 0, 0};
    fake.device->pushControl(0x80B, version);
    EXPECT_EQ(usbImpl->getDriverVersion().version, 0x1D0D);
}

TEST_F(ControlRequestTest, TransportFailuresOfARequest) {
    auto usbImpl = fake.open();
    using Reply = platform::usb::FakeDevice::Reply;
    using Completion = platform::usb::FakeDevice::Completion;

    fake.device->pushControl(0x806, Reply{0, Completion::immediate, Bytes(4, 0)});
    EXPECT_THROW(usbImpl->dummyRead(), QVIOSizeException);
    fake.device->pushControl(0x806, Reply{0, Completion::pending, Bytes(4, 0)});
    EXPECT_NO_THROW(usbImpl->dummyRead());

    fake.device->pushControl(0x806, Reply{121, Completion::pending, {}});
    try {
        usbImpl->dummyRead();
        ADD_FAILURE();
    } catch (const QVIOTimeoutException& e) {
        EXPECT_STREQ(e.what(), "QVIOException with status code: 121");
    }
    fake.device->pushControl(0x806, Reply{31, Completion::immediate, {}});
    try {
        usbImpl->dummyRead();
        ADD_FAILURE();
    } catch (const QVIOInternalException& e) {
        EXPECT_STREQ(e.what(), "QVIOException with status code: 31");
    }
}

TEST_F(ControlRequestTest, DrainReadsOnePacketPerWaitingPacket) {
    auto usbImpl = fake.open();
    fake.packetsWaiting = 3;
    fake.device->clearRecords();
    platform::usb::FakeDevice::Reply packet;
    packet.data.assign(512, 0x11);
    for (int i = 0; i < 3; ++i) fake.device->pushRead(packet);
    usbImpl->drainPending();
    EXPECT_EQ(fake.device->readSizes(), (std::vector<uint32_t>{512, 512, 512}));
    EXPECT_EQ(usbImpl->usbInterface().currentRead().valid(), 512u);  // the last packet stays for the poll
}

TEST_F(ControlRequestTest, OpeningAPathThatIsNotPresent) {
    fake.backend->addEnumerationError(13);   // logged, the search goes on
    fake.backend->add("/fake/unopenable", nullptr);  // invalid handle, the search goes on
    detail::Interface usbInterface(fake.backend);
    detail::DeviceID_USB absent("/fake/absent");
    try {
        usbInterface.openDevice(absent);
        FAIL();
    } catch (const QVIOInternalException& e) {
        EXPECT_STREQ(e.what(), "The specified device could not be found. Was it disconnected meanwhile?");
    }
    detail::DeviceID_USB unopenable("/fake/unopenable");
    EXPECT_THROW(usbInterface.openDevice(unopenable), QVIOInternalException);
    usbInterface.openDevice(*fake.id);
    EXPECT_TRUE(usbInterface.isOpen());
}

TEST(InterfaceTest, ADeviceInformationSetThatCannotBeMadeThrows) {
    auto backend = std::make_shared<platform::usb::FakeBackend>();
    backend->setEnumerationFailure(31);
    try {
        detail::Interface usbInterface(backend);
        FAIL();
    } catch (const QVIOInternalException& e) {
        EXPECT_STREQ(e.what(), "QVIOInternalException");
    }
}

}  // namespace
}  // namespace tarnix
