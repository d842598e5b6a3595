// The acceptance path: lq3sim processes started by the test, reached only
// through the instrument directory.
#include "SimHarness.h"
#include "link/FpgaConfiguration.h"
#include "link/IOExceptions.h"
#include "platform/usb/DeviceInfoSet.h"
#include "platform/usb/InstrumentDirectory.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using namespace tarnix::testing;
using Bytes = std::vector<uint8_t>;

class SimProcessTest : public ::testing::Test {
protected:
    InstrumentDir dir;
    std::shared_ptr<platform::usb::Backend> backend = std::make_shared<platform::usb::SocketBackend>(dir.path());
};

TEST_F(SimProcessTest, OpensAndReadsVersionsAndSerial) {
    SimProcess sim(dir, 4242);
    auto usbImpl = openInstrument(sim.path());
    EXPECT_EQ(usbImpl->versionInfo().serialNumber, 4242u);
    EXPECT_EQ(usbImpl->getQVValue(), 4242u);
    EXPECT_EQ(usbImpl->versionInfo().firmwareMajor, 2);
    EXPECT_EQ(usbImpl->versionInfo().picMinor, 3);
}

TEST_F(SimProcessTest, AnOldDriverIsRefused) {
    SimProcess sim(dir, 1, {"--old-driver"});
    EXPECT_THROW(openInstrument(sim.path()), QVIODriverVersionException);
}

TEST_F(SimProcessTest, ConfiguresTheFpgaFromTheEmbeddedBitstream) {
    SimProcess sim(dir, 2);
    auto usbImpl = openInstrument(sim.path());
    ASSERT_FALSE(isBitstreamRunning(*usbImpl));
    EXPECT_TRUE(programBitstream(*usbImpl));
    EXPECT_TRUE(isBitstreamRunning(*openInstrument(sim.path())));
}

TEST_F(SimProcessTest, OneCrcErrorIsRetried) {
    SimProcess sim(dir, 3, {"--crc-failures", "1"});
    auto usbImpl = openInstrument(sim.path());
    EXPECT_TRUE(programBitstream(*usbImpl));
    EXPECT_TRUE(isBitstreamRunning(*usbImpl));
}

TEST_F(SimProcessTest, ADesignThatNeverRaisesDoneFails) {
    SimProcess sim(dir, 4, {"--no-done"});
    auto usbImpl = openInstrument(sim.path());
    EXPECT_THROW(programBitstream(*usbImpl), QVIOProgramFailedException);
}

TEST_F(SimProcessTest, ARunningDesignIsDetectedWithoutProgrammingAndAnswersThroughFrames) {
    SimProcess sim(dir, 5, {"--running"});
    auto usbImpl = openInstrument(sim.path());
    EXPECT_TRUE(isBitstreamRunning(*usbImpl));

    const Bytes value = {0xA, 0xB, 0xC, 0xD};
    usbImpl->queueWriteBegin(0x00401000, 4);
    usbImpl->queueWriteData(value.data(), 4);
    usbImpl->queueRequestData(0x00401000, 4);
    usbImpl->sendWriteQueue();
    Bytes buffer(4096);
    uint32_t address = 0;
    uint32_t length = 0;
    // The probe read at the feature-list aperture starts the design's
    // heartbeat, whose blocks may come first.
    for (int attempt = 0; attempt < 50 && address != 0x00401000u; ++attempt)
        usbImpl->poll(&address, &length, buffer.data(), uint32_t(buffer.size()), 500,
                      impl::IOLQ3_USBImpl::timeOfDayMicros());
    EXPECT_EQ(address, 0x00401000u);
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), value);
}

TEST_F(SimProcessTest, AnEndedProcessIsUnplugged) {
    SimProcess sim(dir, 6, {"--running"});
    auto usbImpl = openInstrument(sim.path());
    sim.kill();
    uint32_t error = 0;
    auto set = platform::usb::DeviceInfoSet::create(backend, platform::usb::kInstrumentClassGuid, error);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->enumInterface(0), platform::usb::kErrorNoMoreItems);
    EXPECT_THROW(usbImpl->getQVValue(), QVIOInternalException);
}

}  // namespace
}  // namespace tarnix
