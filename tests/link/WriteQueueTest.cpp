#include "FakeInstrument.h"
#include "link/IOExceptions.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using testing::FakeInstrument;
using Bytes = std::vector<uint8_t>;

class WriteQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        usbImpl = fake.open();
        fake.device->clearRecords();
    }
    // Sends the queue and returns every write since the last call.
    std::vector<Bytes> sent() {
        usbImpl->sendWriteQueue();
        auto writes = fake.device->writes();
        fake.device->clearRecords();
        return writes;
    }

    FakeInstrument fake;
    std::shared_ptr<impl::IOLQ3_USBImpl> usbImpl;
};

TEST_F(WriteQueueTest, WritesAndReadRequestsAreFramedByteForByte) {
    const Bytes payload = {1, 2, 3, 4, 5, 6, 7, 8};
    usbImpl->queueWriteBegin(0x1003, 8);
    usbImpl->queueWriteData(payload.data(), 3);
    usbImpl->queueWriteData(payload.data() + 3, 5);
    usbImpl->queueRequestData(0x08020000, 4);
    const auto writes = sent();
    ASSERT_EQ(writes.size(), 1u);
    const Bytes expected = {0x47, 0x5A, 0, 0, 0x09, 0, 0, 0, 0x00, 0x10, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8,
                            0x47, 0x5A, 0, 0, 0x04, 0, 0, 0, 0x00, 0x00, 0x02, 0x08};
    EXPECT_EQ(writes[0], expected);
    EXPECT_TRUE(sent().empty());  // nothing queued, nothing sent
}

TEST_F(WriteQueueTest, TheWriteStateGuardsTheMessage) {
    const Bytes payload(12, 0xAB);
    usbImpl->queueWriteBegin(0x2000, 8);
    usbImpl->queueWriteData(payload.data(), 12);  // only the announced 8 are taken
    usbImpl->queueWriteBegin(0x2000, 4);
    const auto expectFailure = [](const std::function<void()>& call, const char* text) {
        try {
            call();
            ADD_FAILURE() << "accepted: " << text;
        } catch (const QVIOInternalException& e) {
            EXPECT_STREQ(e.what(), text);
        }
    };
    expectFailure([&] { usbImpl->queueWriteBegin(0x3000, 4); }, "Wrong state of WR state engine during write begin.");
    expectFailure([&] { usbImpl->queueRequestData(0x3000, 4); },
                  "Wrong state of WR state engine during queing data request.");
    expectFailure([&] { usbImpl->queueWriteData(nullptr, 4); }, "Detected a NULL pointer during WR.");
    usbImpl->queueWriteData(payload.data(), 4);
    expectFailure([&] { usbImpl->queueWriteData(payload.data(), 4); },
                  "Wrong state of WR state engine during queing write data.");
    const auto writes = sent();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 12u + 8u + 12u + 4u);
}

TEST_F(WriteQueueTest, BatchingEdges) {
    const Bytes big(40000, 0x5C);
    usbImpl->appendWrite(big.data(), uint32_t(big.size()));
    auto writes = fake.device->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 32768u);
    EXPECT_EQ(usbImpl->bytesSent(), 32768u);
    EXPECT_EQ(usbImpl->usbInterface().currentWrite().size(), 7232u);
    fake.device->clearRecords();
    writes = sent();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 7232u);
    EXPECT_EQ(usbImpl->bytesSent(), 40000u);

    usbImpl->appendWrite(big.data(), 16384);  // a full buffer waits for the next append or flush
    EXPECT_TRUE(fake.device->writes().empty());
    usbImpl->appendWrite(big.data(), 1);
    writes = fake.device->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 16384u);
    EXPECT_EQ(usbImpl->usbInterface().currentWrite().size(), 1u);
    sent();

    usbImpl->appendWrite(big.data(), 16300);
    usbImpl->appendWrite(big.data(), 100);
    writes = fake.device->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 16384u);
    EXPECT_EQ(usbImpl->usbInterface().currentWrite().size(), 16u);
    // Every completed write counts: the full buffers and the single byte sent in between.
    EXPECT_EQ(usbImpl->bytesSent(), 40000u + 16384u + 1u + 16384u);
}

TEST_F(WriteQueueTest, AWriteTimeOutWhilePayloadIsQueuedIsReportedAndTheQueueStartsAfresh) {
    const Bytes filler(16370, 0);
    usbImpl->appendWrite(filler.data(), uint32_t(filler.size()));
    usbImpl->queueWriteBegin(0x4000, 8);
    fake.device->pushWrite({121, platform::usb::FakeDevice::Completion::immediate, {}});
    const Bytes payload(8, 1);
    EXPECT_THROW(usbImpl->queueWriteData(payload.data(), 8), QVIOTimeoutException);
    EXPECT_TRUE(usbImpl->writeQueueEmpty());
    EXPECT_NO_THROW(usbImpl->queueWriteBegin(0x4000, 4));
}

TEST_F(WriteQueueTest, FlushTimeOutsPassThrough) {
    usbImpl->queueRequestData(0x1000, 4);
    fake.device->pushWrite({121, platform::usb::FakeDevice::Completion::pending, {}});
    try {
        usbImpl->sendWriteQueue();
        FAIL();
    } catch (const QVIOTimeoutException& e) {
        EXPECT_STREQ(e.what(), "Write timeout during waitAsync().");
    }
}

}  // namespace
}  // namespace tarnix
