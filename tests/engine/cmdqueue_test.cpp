#include "EngineFixture.h"

#include "core/LogCapture.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::DeviceEvent;

constexpr uint32_t kCommandWord = 0x9000;
constexpr uint32_t kDataArea = 0xA000;
constexpr uint32_t kDataSize = 64;

class CmdQueueTest : public test::EngineFixture {
protected:
    void SetUp() override {
        test::EngineFixture::SetUp();
        EXPECT_EQ(locate(), QV_NO_ERROR);
    }
    // The mailbox's feature record: the command block, then the data block.
    QV_STATUS locate() {
        uint8_t blocks[32] = {};
        le::put32(blocks, kCommandWord);
        le::put32(blocks + 8, 8);
        le::put32(blocks + 12, 1);
        le::put32(blocks + 16, kDataArea);
        le::put32(blocks + 24, kDataSize);
        le::put32(blocks + 28, 1);
        return DeviceStateCmdFeatureInit(dev, "MAILBOX ", blocks, sizeof blocks);
    }
    QV_STATUS request(uint32_t code, std::vector<uint8_t> payload = {}) {
        return DeviceStateCmdRequest(
            dev,
            [this, code](DeviceAccess&, const uint8_t* d, uint32_t n, const std::shared_ptr<void>&) {
                log.push_back("complete " + std::to_string(code) + " " + std::to_string(n) + " " +
                              std::to_string(n ? d[0] : 0));
            },
            [this, code](DeviceAccess&, const std::shared_ptr<void>&) {
                log.push_back("timeout " + std::to_string(code));
            },
            nullptr, code, 0x55, payload.data(), uint32_t(payload.size()));
    }
    void reply(uint8_t first) {
        std::vector<uint8_t> data(kDataSize, 0);
        data[0] = first;
        ASSERT_EQ(DeviceStateHandleData(dev, kDataArea, kDataSize, data.data()), QV_NO_ERROR);
    }
    std::vector<uint32_t> sentCommands() const {
        std::vector<uint32_t> codes;
        for (const auto& e : const_cast<test::FakeDevice&>(dev).writes())
            if (e.address == kCommandWord) codes.push_back(e.word());
        return codes;
    }
    std::vector<std::string> log;
};

TEST_F(CmdQueueTest, PayloadThenArgumentThenCommandThenFlush) {
    state().cmd.ready = true;
    dev.clearEvents();
    ASSERT_EQ(request(14, {1, 2, 3, 4, 5, 6, 7, 8}), QV_NO_ERROR);
    const auto& ev = dev.events();
    ASSERT_EQ(ev.size(), 5u);
    EXPECT_EQ(ev[0].address, kDataArea);
    EXPECT_EQ(ev[0].payload, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(ev[1].address, kDataArea + 4);
    EXPECT_EQ(ev[2].address, kCommandWord + 4);
    EXPECT_EQ(ev[2].word(), 0x55u);
    EXPECT_EQ(ev[3].address, kCommandWord);
    EXPECT_EQ(ev[3].word(), 14u);
    EXPECT_EQ(ev[4].kind, DeviceEvent::Flush);
    EXPECT_TRUE(state().cmd.inFlight);
    EXPECT_EQ(state().timers.active.size(), 1u);
}

TEST_F(CmdQueueTest, OneCommandInFlightUntilItsReply) {
    EXPECT_EQ(request(13), QV_NO_ERROR);
    EXPECT_EQ(request(16), QV_NO_ERROR);
    EXPECT_TRUE(sentCommands().empty()) << "the mailbox is not ready yet";
    EXPECT_EQ(DeviceStateCmdSetReady(dev, true), QV_NO_ERROR);
    EXPECT_EQ(sentCommands(), (std::vector<uint32_t>{13}));
    reply(0xAB);
    EXPECT_EQ(log, (std::vector<std::string>{"complete 13 64 171"}));
    EXPECT_EQ(sentCommands(), (std::vector<uint32_t>{13, 16}));
    EXPECT_EQ(state().timers.active.size(), 1u) << "the first timer was cancelled";
    reply(1);
    EXPECT_FALSE(state().cmd.inFlight);
    EXPECT_TRUE(state().cmd.queue.empty());
    reply(2);  // nothing in flight: no completion
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(CmdQueueTest, TimeOutAfterFiveSecondsSendsTheNextAtOnce) {
    state().cmd.ready = true;
    EXPECT_EQ(request(19), QV_NO_ERROR);
    EXPECT_EQ(request(18), QV_NO_ERROR);
    dev.advance(std::chrono::microseconds(4999999));
    EXPECT_TRUE(log.empty());
    dev.advance(std::chrono::microseconds(1));
    EXPECT_EQ(log, (std::vector<std::string>{"timeout 19"}));
    EXPECT_EQ(sentCommands(), (std::vector<uint32_t>{19, 18}));
    EXPECT_TRUE(state().cmd.inFlight);
}

TEST_F(CmdQueueTest, PayloadLimitsAndFullQueue) {
    EXPECT_EQ(request(17, std::vector<uint8_t>(kDataSize, 0)), QV_NO_ERROR);
    EXPECT_EQ(request(17, std::vector<uint8_t>(kDataSize + 1, 0)), QV_BUFFER_TOO_SMALL);
    for (int i = 1; i < 128; ++i) ASSERT_EQ(request(17), QV_NO_ERROR) << i;
    EXPECT_EQ(request(17), QV_OVERFLOW) << "128 entries at most";
}

TEST_F(CmdQueueTest, LocatingAgainReplacesTheMailboxRows) {
    const int rows = map().count;
    EXPECT_EQ(locate(), QV_NO_ERROR) << "no duplicate start address";
    EXPECT_EQ(map().count, rows) << "the cleared rows are taken again";
    EXPECT_EQ(state().cmd.dataSize, kDataSize);
}

TEST_F(CmdQueueTest, CommandsWithoutPayloadQueueBeforeTheMailboxIsLocated) {
    test::FakeDevice other(77);
    ASSERT_EQ(DeviceStateCreate(other), QV_NO_ERROR);
    uint8_t byte = 0;
    EXPECT_EQ(DeviceStateCmdRequest(other, nullptr, nullptr, nullptr, 24, 0, nullptr, 0), QV_NO_ERROR);
    EXPECT_EQ(DeviceStateCmdRequest(other, nullptr, nullptr, nullptr, 21, 0, &byte, 1), QV_BUFFER_TOO_SMALL);
}

}  // namespace
}  // namespace tarnix
