// The link against an instrument simulated in this process, where the test can
// look inside the instrument.
#include "SimHarness.h"
#include "SimOptions.h"
#include "platform/endian/ByteOrder.h"
#include "link/EmbeddedResource.h"
#include "link/FpgaConfiguration.h"
#include "link/IOExceptions.h"
#include "platform/usb/DeviceInfoSet.h"
#include "platform/usb/InstrumentDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnix {
namespace {

using namespace tarnix::testing;
using Bytes = std::vector<uint8_t>;

class SimLinkTest : public ::testing::Test {
protected:
    sim::InstrumentConfig config(bool running = false) {
        sim::InstrumentConfig settings;
        settings.serial = 4711;
        settings.fpgaRunning = running;
        settings.designDigest = sim::builtInDesignDigest();
        return settings;
    }

    struct Message {
        uint32_t address = 0;
        Bytes payload;
    };
    Message poll(impl::IOLQ3_USBImpl& usbImpl, uint32_t timeoutMs = 500) {
        Message message;
        uint32_t length = 0;
        usbImpl.poll(&message.address, &length, buffer.data(), uint32_t(buffer.size()), timeoutMs,
                     impl::IOLQ3_USBImpl::timeOfDayMicros());
        message.payload.assign(buffer.begin(), buffer.begin() + length);
        return message;
    }
    // Polls until a message comes or `attempts` polls came back empty.
    Message awaitMessage(impl::IOLQ3_USBImpl& usbImpl, int attempts = 3) {
        Message message;
        for (int i = 0; i < attempts && message.payload.empty(); ++i) message = poll(usbImpl);
        return message;
    }

    InstrumentDir dir;
    std::shared_ptr<platform::usb::Backend> backend = std::make_shared<platform::usb::SocketBackend>(dir.path());
    Bytes buffer = Bytes(512 * 1024);
};

TEST_F(SimLinkTest, EachControlRequestAgainstTheSimulator) {
    InProcessSim sim(dir, config());
    auto usbImpl = openInstrument(sim.path());
    EXPECT_EQ(usbImpl->versionInfo().serialNumber, 4711u);
    EXPECT_EQ(usbImpl->versionInfo().productNumber, 3u);
    EXPECT_EQ(usbImpl->getQVValue(), 4711u);  // big-endian in the answer, little-endian in the registers
    const impl::Version version = usbImpl->getVersions();
    EXPECT_EQ(version.firmwareMajor, 2u);
    EXPECT_EQ(version.firmwareMinor, 5u);
    EXPECT_EQ(version.picMajor, 1u);
    EXPECT_EQ(version.picMinor, 3u);
    EXPECT_EQ(usbImpl->driverVersion().version, 7437);

    std::vector<uint16_t> supplies(6);
    usbImpl->readRegister(16, supplies);
    EXPECT_EQ(supplies, (std::vector<uint16_t>{1200, 1800, 2500, 3300, 5000, 45}));
    EXPECT_EQ(usbImpl->getStats().packetsWaiting, 0);

    impl::ConfigStatus status = usbImpl->getConfigStatus();  // after the blank configuration
    EXPECT_EQ(status.picFlags, 0x08u);
    EXPECT_EQ(status.configFlags, 0u);
    usbImpl->startProgram(100, 0);
    status = usbImpl->getConfigStatus();
    EXPECT_EQ(status.configFlags, 0x02u);
    EXPECT_EQ(status.bytesWanted, 116u);  // the image and the clock bytes after it
    usbImpl->reset();
    EXPECT_EQ(usbImpl->getConfigStatus().configFlags, 0u);

    EXPECT_NO_THROW(usbImpl->dummyRead());
    EXPECT_NO_THROW(usbImpl->lockIn(1));
    EXPECT_NO_THROW(usbImpl->lockIn(0));
    EXPECT_NO_THROW(usbImpl->clearPipe(0));
    EXPECT_NO_THROW(usbImpl->clearPipe(1));
    std::vector<uint8_t> beyond(4);
    EXPECT_THROW(usbImpl->readRegister(254, beyond), QVIOInternalException);
}

TEST_F(SimLinkTest, EnumerationListsListeningSocketsInPathOrder) {
    InProcessSim second(dir, config(), "lq3-b.sock");
    InProcessSim first(dir, config(), "lq3-a.sock");
    {
        // A socket file nobody listens on any more is an unplugged instrument.
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string stale = dir.socket("lq3-0.sock");
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stale.c_str());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    const auto listed = [this] {
        std::vector<std::string> paths;
        uint32_t error = 0;
        auto set = platform::usb::DeviceInfoSet::create(backend, platform::usb::kInstrumentClassGuid, error);
        char path[256];
        uint32_t required = 0;
        for (uint32_t i = 0; set && set->enumInterface(i) == 0; ++i) {
            set->interfaceDetail(i, path, sizeof path, required);
            paths.push_back(path);
        }
        return paths;
    };
    EXPECT_EQ(listed(), (std::vector<std::string>{first.path(), second.path()}));
    second.server().stop();
    EXPECT_EQ(listed(), (std::vector<std::string>{first.path()}));
}

TEST_F(SimLinkTest, TheEmbeddedBitstreamConfiguresTheFpgaWithItsDigest) {
    InProcessSim sim(dir, config());
    auto usbImpl = openInstrument(sim.path());
    EXPECT_FALSE(isBitstreamRunning(*usbImpl));
    EXPECT_TRUE(programBitstream(*usbImpl));
    EXPECT_EQ(sim.instrument().fpgaState(), sim::SimInstrument::FpgaState::running);
    const EmbeddedResource* bitstream = findEmbeddedResource(bitstreamResourceName());
    ASSERT_NE(bitstream, nullptr);
    EXPECT_EQ(sim.instrument().designDigest(), bitstream->expectedDigest);
    EXPECT_TRUE(isBitstreamRunning(*usbImpl));

    // A new connection's blank configuration leaves the design running.
    usbImpl.reset();
    auto reopened = openInstrument(sim.path());
    EXPECT_EQ(sim.instrument().fpgaState(), sim::SimInstrument::FpgaState::running);
    EXPECT_TRUE(isBitstreamRunning(*reopened));
}

TEST_F(SimLinkTest, RegistersAreWrittenAndReadBackThroughFrames) {
    InProcessSim sim(dir, config(true));
    auto usbImpl = openInstrument(sim.path());
    Bytes value = {1, 2, 3, 4, 5, 6, 7, 8};
    usbImpl->queueWriteBegin(0x1000, 8);
    usbImpl->queueWriteData(value.data(), 8);
    usbImpl->queueRequestData(0x1000, 8);
    usbImpl->queueRequestData(0x7000, 4);  // never written: zeros
    usbImpl->sendWriteQueue();
    Message message = awaitMessage(*usbImpl);
    EXPECT_EQ(message.address, 0x1000u);
    EXPECT_EQ(message.payload, value);
    message = awaitMessage(*usbImpl);
    EXPECT_EQ(message.address, 0x7000u);
    EXPECT_EQ(message.payload, Bytes(4, 0));

    // A read longer than one message comes back as a chain, delivered whole.
    Bytes block(6000);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 13);
    sim.instrument().writeRegisters(0x20000, block.data(), uint32_t(block.size()));
    usbImpl->queueRequestData(0x20000, uint32_t(block.size()));
    usbImpl->sendWriteQueue();
    message = awaitMessage(*usbImpl);
    EXPECT_EQ(message.address, 0x20000u);
    EXPECT_EQ(message.payload, block);
    EXPECT_EQ(usbImpl->readEngine().messagesSkipped(), 0u);
}

TEST_F(SimLinkTest, StreamedMessagesArriveInOrderAndWhole) {
    InProcessSim sim(dir, config(true));
    auto usbImpl = openInstrument(sim.path());
    const uint32_t count = 3000;
    sim.instrument().startStream(0x3000, 64, count);
    for (uint32_t expected = 0; expected < count; ++expected) {
        const Message message = awaitMessage(*usbImpl);
        ASSERT_EQ(message.payload.size(), 64u) << "message " << expected;
        ASSERT_EQ(le::get32(message.payload.data()), expected);
        ASSERT_EQ(message.address, 0x3000u);
    }
    EXPECT_EQ(usbImpl->readEngine().messagesSkipped(), 0u);
}

TEST_F(SimLinkTest, AnInstrumentThatStopsTakingDataEndsTheWriteAfterTheTimeOut) {
    sim::InstrumentConfig settings = config(true);
    settings.faults.stallOutAfter = 0;
    InProcessSim sim(dir, settings);
    auto usbImpl = openInstrument(sim.path());  // configuration bytes still go through
    usbImpl->queueRequestData(0x1000, 4);
    const auto start = std::chrono::steady_clock::now();
    try {
        usbImpl->sendWriteQueue();
        FAIL();
    } catch (const QVIOTimeoutException& e) {
        EXPECT_STREQ(e.what(), "Write timeout during waitAsync().");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}

TEST_F(SimLinkTest, ASilentInstrumentLooksUnconfigured) {
    sim::InstrumentConfig settings = config(true);
    settings.faults.silent = true;
    InProcessSim sim(dir, settings);
    auto usbImpl = openInstrument(sim.path());
    EXPECT_FALSE(isBitstreamRunning(*usbImpl));
}

TEST_F(SimLinkTest, AMessageAtAnInvalidAddressReachesTheReader) {
    sim::InstrumentConfig settings = config(true);
    settings.faults.invalidAddressMessage = true;
    InProcessSim sim(dir, settings);
    auto usbImpl = openInstrument(sim.path());
    usbImpl->queueRequestData(0x1000, 4);
    usbImpl->sendWriteQueue();
    EXPECT_EQ(awaitMessage(*usbImpl).address, 0x14000000u);
    EXPECT_EQ(awaitMessage(*usbImpl).address, 0x1000u);
}

TEST_F(SimLinkTest, UnpluggingEndsEveryTransfer) {
    auto sim = std::make_unique<InProcessSim>(dir, config(true));
    auto usbImpl = openInstrument(sim->path());
    sim.reset();
    try {
        usbImpl->getQVValue();
        FAIL();
    } catch (const QVIOInternalException& e) {
        EXPECT_STREQ(e.what(), "QVIOException with status code: 1167");
    }
    EXPECT_THROW(poll(*usbImpl), QVIOInternalException);
}

}  // namespace
}  // namespace tarnix
