#include "FakeInstrument.h"
#include "MessageStream.h"
#include "link/IOExceptions.h"
#include "support/ThreadState.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace tarnix {
namespace {

using namespace tarnix::testing;
using Bytes = std::vector<uint8_t>;
using Reply = platform::usb::FakeDevice::Reply;
using Completion = platform::usb::FakeDevice::Completion;

class PollTest : public ::testing::Test {
protected:
    void SetUp() override { usbImpl = fake.open(); }

    void deliver(const Bytes& transfer) { fake.device->pushRead(Reply{0, Completion::pending, transfer}); }

    struct Result {
        uint32_t address = 0;
        uint32_t length = 0;
    };
    Result poll(uint32_t timeoutMs = 200) {
        Result result;
        usbImpl->poll(&result.address, &result.length, destination.data(), uint32_t(destination.size()), timeoutMs,
                      impl::IOLQ3_USBImpl::timeOfDayMicros());
        return result;
    }

    FakeInstrument fake;
    std::shared_ptr<impl::IOLQ3_USBImpl> usbImpl;
    Bytes destination = Bytes(64, 0xEE);
};

TEST_F(PollTest, DeliversEachMessageOfATransferInTurn) {
    Bytes transfer = deviceMessage(0x1000, pattern(8, 1), 1);
    append(transfer, deviceMessage(0x2000, pattern(4, 2), 2));
    append(transfer, {0, 0});
    deliver(transfer);
    Result first = poll();
    EXPECT_EQ(first.address, 0x1000u);
    EXPECT_EQ(first.length, 8u);
    EXPECT_EQ(Bytes(destination.begin(), destination.begin() + 8), pattern(8, 1));
    Result second = poll();
    EXPECT_EQ(second.address, 0x2000u);
    EXPECT_EQ(second.length, 4u);
    EXPECT_EQ(poll().length, 0u);  // the next read times out
}

TEST_F(PollTest, AMessageSplitAcrossReadsArrivesWhole) {
    const Bytes message = deviceMessage(0x3000, pattern(20, 4), 1);
    for (std::size_t cut : {1u, 2u, 5u, 6u, 11u, 13u, 33u, 35u}) {
        Bytes tail(message.begin() + std::ptrdiff_t(cut), message.end());
        append(tail, {0, 0});
        deliver(Bytes(message.begin(), message.begin() + std::ptrdiff_t(cut)));
        deliver(tail);
        // The read that was in flight when the last message arrived found nothing
        // and may end one poll empty.
        Result result = poll();
        if (result.length == 0) result = poll();
        EXPECT_EQ(result.address, 0x3000u) << "cut at " << cut;
        EXPECT_EQ(result.length, 20u) << "cut at " << cut;
        EXPECT_EQ(Bytes(destination.begin(), destination.begin() + 20), pattern(20, 4)) << "cut at " << cut;
        usbImpl->readEngine().resyncPacketCount();
    }
}

TEST_F(PollTest, AChainIsOneMessageAndAHeaderOnlyPartGivesNoAddress) {
    Bytes transfer = deviceMessage(0x9999, pattern(8, 0), 1, 2 | 1);  // header only, continues
    append(transfer, deviceMessage(0x4000, pattern(8, 1), 2, 1));       // first part, continues
    append(transfer, deviceMessage(0x4008, pattern(4, 2), 3));           // last part
    append(transfer, {0, 0});
    deliver(transfer);
    const Result result = poll();
    EXPECT_EQ(result.address, 0x4000u);
    EXPECT_EQ(result.length, 12u);
    Bytes expected = pattern(8, 1);
    append(expected, pattern(4, 2));
    EXPECT_EQ(Bytes(destination.begin(), destination.begin() + 12), expected);
}

TEST_F(PollTest, AChainLongerThanTheDestinationIsSkippedWithoutOverrun) {
    destination.assign(48, 0xEE);  // 40 bytes of room, 8 bytes of guard after it
    Bytes transfer = deviceMessage(0x4000, pattern(32, 1), 1, 1);
    append(transfer, deviceMessage(0x4020, pattern(32, 2), 2));
    append(transfer, deviceMessage(0x5000, pattern(4, 3), 3));
    append(transfer, {0, 0});
    deliver(transfer);
    Result result;
    usbImpl->poll(&result.address, &result.length, destination.data(), 40, 200,
                  impl::IOLQ3_USBImpl::timeOfDayMicros());
    EXPECT_EQ(result.address, 0x5000u);
    EXPECT_EQ(result.length, 4u);
    EXPECT_EQ(usbImpl->readEngine().messagesSkipped(), 1u);
    EXPECT_EQ(Bytes(destination.begin() + 40, destination.end()), Bytes(8, 0xEE));
}

TEST_F(PollTest, AMessageWhosePacketCountEqualsThePreviousOneIsNotLost) {
    Bytes transfer = deviceMessage(0x1000, pattern(4, 1), 5);
    append(transfer, {0, 0});
    deliver(transfer);
    Bytes again = deviceMessage(0x2000, pattern(4, 1), 5);  // counter unchanged, in the next read
    append(again, {0, 0});
    deliver(again);
    EXPECT_EQ(poll().address, 0x1000u);
    const Result result = poll();
    EXPECT_EQ(result.address, 0x2000u);
    EXPECT_EQ(result.length, 4u);
}

TEST_F(PollTest, EndsAfterTheTimeOutWhenOnlyFillBytesArrive) {
    fake.device->setReadDefault(Reply{0, Completion::pending, Bytes(64, 0)});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(poll(100).length, 0u);
    const auto waited = std::chrono::steady_clock::now() - start;
    // The poll counts the time of day, which may run a hair apart from the
    // steady clock measured here.
    EXPECT_GE(waited, std::chrono::milliseconds(99));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
    EXPECT_EQ(usbImpl->usbInterface().readTimeout(), 100u);
}

TEST_F(PollTest, AWakerEndsAWaitToGiveWayAtOnce) {
    fake.device->setReadDefault(Reply{0, Completion::never, {}});
    // Unprompted, the poll would ask again only after a minute.
    usbImpl->setGiveWayCheckInterval(60000);
    std::atomic<bool> requestWaiting{false};
    std::atomic<int> asked{0};
    const std::function<bool()> giveWay = [&] {
        ++asked;
        return requestWaiting.load();
    };
    const std::function<void()> wake = usbImpl->giveWayWaker();
    // The request comes once the poll has asked and begun to wait.
    const pid_t poller = test::currentThreadId();
    std::thread client([&] {
        EXPECT_TRUE(test::waitUntil([&] { return asked.load() > 0 && test::threadSleeps(poller); }))
            << "the poll did not begin to wait";
        requestWaiting.store(true);
        wake();
    });
    const auto start = std::chrono::steady_clock::now();
    uint32_t length = 1;
    usbImpl->poll(nullptr, &length, destination.data(), uint32_t(destination.size()), 0,
                  impl::IOLQ3_USBImpl::timeOfDayMicros(), giveWay);
    const auto waited = std::chrono::steady_clock::now() - start;
    client.join();
    EXPECT_EQ(length, 0u);
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_EQ(asked.load(), 2) << "asked once before waiting and once when woken";
    // A wake while no poll waits is lost harmlessly.
    wake();
}

}  // namespace
}  // namespace tarnix
