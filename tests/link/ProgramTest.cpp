#include "FakeInstrument.h"
#include "link/Bitstream.h"
#include "link/FpgaConfiguration.h"
#include "link/IOExceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace tarnix {
namespace {

using testing::FakeConfigStatus;
using testing::FakeInstrument;

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        usbImpl = fake.open();
        fake.device->clearRecords();
        image = Bitstream::blank();
    }
    std::size_t count(uint32_t function) const { return fake.device->controlCalls(function).size(); }

    FakeInstrument fake;
    std::shared_ptr<impl::IOLQ3_USBImpl> usbImpl;
    Bitstream image;
};

TEST_F(ProgramTest, ACrcErrorResetsAndProgramsAgain) {
    fake.queueConfigStatus({0x00, 0, 0});  // INIT low: CRC error
    fake.queueConfigStatus({0x88, 0, 0});
    usbImpl->program(image, 0, true);
    EXPECT_EQ(count(0x803), 2u);
    EXPECT_EQ(count(0x802), 1u);
}

TEST_F(ProgramTest, InitWithoutDoneProgramsOnceMoreThenGivesUpUnlessBlank) {
    fake.settled = {0x08, 0, 0};
    EXPECT_THROW(usbImpl->program(image, 0, true), QVIOProgramFailedException);
    EXPECT_EQ(count(0x803), 2u);
    EXPECT_EQ(count(0x802), 0u);

    fake.device->clearRecords();
    EXPECT_NO_THROW(usbImpl->program(image, 1, true));
    EXPECT_EQ(count(0x803), 2u);
}

TEST_F(ProgramTest, RepeatedCrcErrorsEndAfterThreeRetries) {
    fake.settled = {0x00, 0, 0};
    EXPECT_THROW(usbImpl->program(image, 0, true), QVIOProgramFailedException);
    EXPECT_EQ(count(0x803), 1u + impl::IOLQ3_USBImpl::kMaxProgramRepeats);
}

TEST_F(ProgramTest, PadsWithZeroBytesWhileTheControllerWantsMore) {
    fake.queueConfigStatus({0x08, 1500, 0x02});
    fake.queueConfigStatus({0x08, 200, 0x02});
    fake.queueConfigStatus({0x88, 0, 0x00});
    usbImpl->program(image, 0, false);
    const auto writes = fake.device->writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].size(), 4096u);
    EXPECT_EQ(writes[1], std::vector<uint8_t>(1024, 0));
    EXPECT_EQ(writes[2], std::vector<uint8_t>(200, 0));
}

TEST_F(ProgramTest, AControllerThatStaysBusyIsGivenUpAfterTwoSeconds) {
    fake.settled = {0x08, 0, 0x02};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(usbImpl->program(image, 1, false), QVIOProgramFailedException);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(impl::IOLQ3_USBImpl::kProgramBusyLimitMs));
    EXPECT_LT(waited, std::chrono::milliseconds(impl::IOLQ3_USBImpl::kProgramBusyLimitMs + 1500));
}

TEST_F(ProgramTest, DoneWithoutInitAfterProgrammingFailsTheConfiguration) {
    fake.settled = {0x80, 0, 0};
    try {
        programBitstream(*usbImpl);
        FAIL();
    } catch (const QVDeviceException& e) {
        EXPECT_STREQ(e.what(), "Device bitstream programming was not successful. Will restart the device ...");
    }
    EXPECT_EQ(count(0x802), 1u);
    EXPECT_EQ(count(0x80D), 2u);
    EXPECT_EQ(count(0x808), 3u);  // the supplies and the temperature are logged
}

TEST_F(ProgramTest, DoneWithInitConfiguresTheEmbeddedBitstream) {
    fake.settled = {0xC8, 0, 0};
    EXPECT_TRUE(programBitstream(*usbImpl));
    // Blank image, then the embedded one, bit-reversed as parsed.
    const auto writes = fake.device->writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], std::vector<uint8_t>(4096, 0));
    EXPECT_GT(writes[1].size(), 64u * 1024u);
    const auto starts = fake.device->controlCalls(0x803);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].input[3], 0);  // key 0
}

}  // namespace
}  // namespace tarnix
